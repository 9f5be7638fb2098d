// The firmware package appended to an updater executable: payload (a block container), then the trailer
// AA AA AA AA and the payload length (unsigned 32-bit little-endian).
#pragma once

#include <cstdint>
#include <string>

#include "package/bytes.h"

constexpr std::uint32_t kPackageMagic = 0xAAAAAAAA;
constexpr std::size_t kTrailerSize = 8;

// Platform members (posix/, win32/): the name under which the running executable's own file can be opened
// (/proc/self/exe, which survives a rename; GetModuleFileNameW), and its real path for finding files beside it.
// Both are empty when the system cannot tell.
std::string OwnExecutableFile();
std::string OwnExecutablePath();

// Fills P with the package of the running executable, or empties it. Raises UI text 1 when the file cannot be opened.
// Returns whether P is not empty.
bool ReadEmbeddedPackage(ABytes& P);
// The same for any updater file.
bool ReadEmbeddedPackage(const std::string& Path, ABytes& P);

// The trailer for a payload of Length bytes.
ABytes PackageTrailer(std::uint32_t Length);
