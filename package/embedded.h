// The firmware package appended to an updater executable: payload (a block container), then the trailer
// AA AA AA AA and the payload length (unsigned 32-bit little-endian). A Windows updater signed after packing carries
// the signer's certificate table behind the trailer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "package/bytes.h"
#include "package/pe.h"

constexpr std::uint32_t kPackageMagic = 0xAAAAAAAA;
constexpr std::size_t kTrailerSize = 8;

// Platform members (posix/, win32/): the name under which the running executable's own file can be opened
// (/proc/self/exe, which survives a rename; the wide-character GetModuleFileNameW path, whatever its characters),
// and its real path for finding files beside it, as UTF-8 text (base/utf8_path.h turns it back into a path).
// Both are empty when the system cannot tell.
std::filesystem::path OwnExecutableFile();
std::string OwnExecutablePath();

// Fills P with the package of the running executable, or empties it. Raises UI text 1 when the file cannot be opened.
// Returns whether P is not empty.
bool ReadEmbeddedPackage(ABytes& P);
// The same for any updater file.
bool ReadEmbeddedPackage(const std::filesystem::path& Path, ABytes& P);

// Where the payload of a file of FileSize bytes lies: in front of the trailer at the end of the file, or, when the
// file is a PE image whose certificate table ends it, in front of a trailer that ends where the zero padding (0 to 7
// bytes) in front of that table starts. Nothing when no trailer with a length that fits is found.
struct TPackageTail {
    std::uint64_t Offset = 0;
    std::uint32_t Length = 0;
};
std::optional<TPackageTail> FindPackageTail(const TReadAt& Read, std::uint64_t FileSize);

// The trailer for a payload of Length bytes.
ABytes PackageTrailer(std::uint32_t Length);
