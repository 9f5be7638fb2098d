// The station's records file on POSIX: a record is on the disk once fdatasync returns.
#include "cli/station.h"

#include <unistd.h>

void SyncFileToDisk(std::FILE* f) { ::fdatasync(fileno(f)); }
