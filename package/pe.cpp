// Finding and removing the certificate table of a PE image (DOS header, "PE\0\0", COFF header, optional header with
// its data directories; the security directory is entry 4 and holds a file offset, not an address).
#include "package/pe.h"

#include <algorithm>

namespace {

constexpr std::uint64_t kLfanewOffset = 0x3C;      // DOS header: file offset of the PE signature
constexpr std::uint64_t kCoffSize = 20;            // COFF header after the 4-byte signature
constexpr std::uint64_t kOptSizeInCoff = 16;       // COFF header: size of the optional header (16-bit)
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::uint64_t kDirectoryEntrySize = 8;
constexpr std::uint64_t kWinCertificateHeader = 8; // dwLength, wRevision, wCertificateType of the first entry

std::optional<std::uint32_t> U32At(const TReadAt& Read, std::uint64_t Offset)
{
    const ABytes b = Read(Offset, 4);
    if (b.size() != 4)
        return std::nullopt;
    return BytesToU32(b, 0);
}

std::optional<std::uint16_t> U16At(const TReadAt& Read, std::uint64_t Offset)
{
    const ABytes b = Read(Offset, 2);
    if (b.size() != 2)
        return std::nullopt;
    return BytesToU16(b, 0);
}

} // namespace

TReadAt BytesReader(const ABytes& Bytes)
{
    return [&Bytes](std::uint64_t Offset, std::size_t Count) {
        if (Offset >= Bytes.size())
            return ABytes();
        const std::uint64_t n = std::min<std::uint64_t>(Count, Bytes.size() - Offset);
        return ABytes(Bytes.begin() + static_cast<std::ptrdiff_t>(Offset),
                      Bytes.begin() + static_cast<std::ptrdiff_t>(Offset + n));
    };
}

std::optional<TPeCertificateTable> FindPeCertificateTable(const TReadAt& Read, std::uint64_t FileSize)
{
    const ABytes mz = Read(0, 2);
    if (mz != ABytes{'M', 'Z'})
        return std::nullopt;
    const auto lfanew = U32At(Read, kLfanewOffset);
    if (!lfanew)
        return std::nullopt;
    const std::uint64_t pe = *lfanew;
    if (Read(pe, 4) != ABytes{'P', 'E', 0, 0})
        return std::nullopt;
    const auto optSize = U16At(Read, pe + 4 + kOptSizeInCoff);
    const std::uint64_t opt = pe + 4 + kCoffSize;
    const auto magic = U16At(Read, opt);
    if (!optSize || !magic || (*magic != kPe32Magic && *magic != kPe32PlusMagic))
        return std::nullopt;
    // PE32 and PE32+ differ in the width of four fields in front of the directory count.
    const std::uint64_t countField = *magic == kPe32Magic ? 92 : 108;
    const std::uint64_t directories = countField + 4;
    const auto count = U32At(Read, opt + countField);
    const std::uint64_t entryEnd = directories + (kSecurityDirectory + 1) * kDirectoryEntrySize;
    if (!count || *count <= kSecurityDirectory || *optSize < entryEnd)
        return std::nullopt;
    TPeCertificateTable t;
    t.EntryOffset = opt + directories + kSecurityDirectory * kDirectoryEntrySize;
    const auto offset = U32At(Read, t.EntryOffset);
    const auto size = U32At(Read, t.EntryOffset + 4);
    if (!offset || !size)
        return std::nullopt;
    t.Offset = *offset;
    t.Size = *size;
    // The table must follow the headers and end the file exactly; a table in the middle of the file, or one whose
    // size runs past its end, is not the tail a signer appended.
    if (t.Size < kWinCertificateHeader || t.Offset < opt + *optSize || t.Offset + t.Size != FileSize)
        return std::nullopt;
    return t;
}

bool StripPeCertificateTable(ABytes& Exe)
{
    const auto t = FindPeCertificateTable(BytesReader(Exe), Exe.size());
    if (!t)
        return false;
    Exe.resize(static_cast<std::size_t>(t->Offset));
    std::fill_n(Exe.begin() + static_cast<std::ptrdiff_t>(t->EntryOffset), kDirectoryEntrySize, 0);
    return true;
}
