// The station's records file on POSIX: names are bytes, passed as they are; a record is on the disk once fdatasync
// returns.
#include "cli/station.h"

#include <unistd.h>

std::FILE* OpenForAppending(const std::string& Utf8) { return std::fopen(Utf8.c_str(), "ab"); }

void SyncFileToDisk(std::FILE* f) { ::fdatasync(fileno(f)); }
