// The certificate table of a signed PE image (Windows executable): a signer appends it at the end of the file and
// names it in the image's security data directory. Offsets and sizes are in bytes from the start of the file.
// Pure functions over a file's bytes; none throws.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "package/bytes.h"

// Reads Count bytes at Offset of a file; fewer (or none) where the file ends first.
using TReadAt = std::function<ABytes(std::uint64_t Offset, std::size_t Count)>;

// A view of a whole file held in memory, for the functions below. Bytes must outlive the reader.
TReadAt BytesReader(const ABytes& Bytes);

struct TPeCertificateTable {
    std::uint64_t EntryOffset = 0; // the security directory entry: table offset, then size (unsigned 32-bit each)
    std::uint64_t Offset = 0;      // the table
    std::uint64_t Size = 0;
};

// The certificate table of a PE image of FileSize bytes when the image names one that ends the file exactly and lies
// behind the image's headers; nothing for any other file (not a PE image, no table, a table that is empty, outside
// the file or not at its end).
std::optional<TPeCertificateTable> FindPeCertificateTable(const TReadAt& Read, std::uint64_t FileSize);

// Cuts such a table off Exe and clears its directory entry, so that the image reads as unsigned. Returns whether
// there was one.
bool StripPeCertificateTable(ABytes& Exe);
