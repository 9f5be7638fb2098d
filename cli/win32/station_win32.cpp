// The station's records file on Windows: _commit flushes the file's buffers to the disk (FlushFileBuffers).
#include "cli/station.h"

#include <io.h>

void SyncFileToDisk(std::FILE* f) { _commit(_fileno(f)); }
