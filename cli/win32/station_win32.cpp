// The station's records file on Windows: opened through the wide path (any characters in its name); _commit
// flushes the file's buffers to the disk (FlushFileBuffers).
#include "cli/station.h"

#include <io.h>

#include "base/utf8_path.h"

std::FILE* OpenForAppending(const std::string& Utf8) { return _wfopen(Utf8Path(Utf8).c_str(), L"ab"); }

void SyncFileToDisk(std::FILE* f) { _commit(_fileno(f)); }
