// The package in an updater signed after packing: the certificate table behind the trailer, the zero padding in
// front of it, tables that lie, and the removal of a signed base's table.
#include <gtest/gtest.h>

#include "package/embedded.h"
#include "package/pe.h"
#include "test_files.h"

namespace {

constexpr std::size_t kOpt = 0x58;                  // optional header: after "PE\0\0" at 0x40 and the COFF header
constexpr std::size_t kEntry64 = kOpt + 112 + 4 * 8; // PE32+: the security directory entry
constexpr std::size_t kEntry32 = kOpt + 96 + 4 * 8;  // PE32

void PutU32(ABytes& b, std::size_t at, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// The headers of a PE image with 16 data directories, then code bytes up to 0x200.
ABytes Image(bool pe32Plus = true)
{
    ABytes b(0x200, 0xCC);
    std::fill(b.begin(), b.begin() + 0x1F0, 0);
    b[0] = 'M';
    b[1] = 'Z';
    PutU32(b, 0x3C, 0x40);
    b[0x40] = 'P';
    b[0x41] = 'E';
    b[0x54] = pe32Plus ? 240 : 224; // size of the optional header
    b[kOpt] = 0x0B;
    b[kOpt + 1] = pe32Plus ? 0x02 : 0x01;
    PutU32(b, kOpt + (pe32Plus ? 108 : 92), 16);
    return b;
}

// Unsigned updater: Image + payload + trailer.
ABytes Updater(const ABytes& payload, bool pe32Plus = true)
{
    ABytes b = BytesConcat(Image(pe32Plus), payload);
    return BytesConcat(b, PackageTrailer(static_cast<std::uint32_t>(payload.size())));
}

// What a signer does: zeros up to a multiple of 8, then the table, named in the directory entry.
ABytes Signed(ABytes b, bool pe32Plus = true, std::size_t tableSize = 0x5A0)
{
    b.resize((b.size() + 7) / 8 * 8, 0);
    const std::size_t offset = b.size();
    ABytes table(tableSize, 0x30);
    PutU32(table, 0, static_cast<std::uint32_t>(tableSize));
    b = BytesConcat(b, table);
    PutU32(b, pe32Plus ? kEntry64 : kEntry32, static_cast<std::uint32_t>(offset));
    PutU32(b, (pe32Plus ? kEntry64 : kEntry32) + 4, static_cast<std::uint32_t>(tableSize));
    return b;
}

std::optional<ABytes> PayloadOf(const ABytes& file)
{
    const auto tail = FindPackageTail(BytesReader(file), file.size());
    if (!tail)
        return std::nullopt;
    return BytesCopy(file, static_cast<std::int64_t>(tail->Offset), tail->Length);
}

TEST(SignedUpdater, PayloadIsFoundPastEveryPaddingWidth)
{
    // Payload lengths 1 … 8 put the trailer's end at every remainder modulo 8: the signer pads 7 … 0 zeros.
    for (bool pe32Plus : {true, false})
        for (std::size_t n = 1; n <= 8; ++n) {
            const ABytes payload(n, static_cast<std::uint8_t>(0x40 + n));
            EXPECT_EQ(PayloadOf(Signed(Updater(payload, pe32Plus), pe32Plus)), payload) << n << " " << pe32Plus;
        }
}

TEST(SignedUpdater, ZerosAndAaBytesAroundTheTrailerDoNotShiftIt)
{
    // A length whose high bytes are zero looks like padding; a payload ending in AA bytes looks like magic.
    for (std::size_t n : {0xAAu, 0x1AAu, 0x2A9u, 0x2ABu, 0xAAACu}) {
        ABytes payload(n, 0xAA);
        payload[0] = 1;
        EXPECT_EQ(PayloadOf(Signed(Updater(payload))), payload) << n;
    }
}

class SignedUpdaterFile : public TempDirTest {};

TEST_F(SignedUpdaterFile, ReadEmbeddedPackageReadsIt)
{
    const ABytes payload = {0, 0, 5, 6, 7};
    const std::string p = PathOf("signed.exe");
    WriteBytes(p, Signed(Updater(payload)));
    ABytes P;
    EXPECT_TRUE(ReadEmbeddedPackage(p, P));
    EXPECT_EQ(P, payload);
}

struct LieCase {
    const char* What;
    std::uint32_t Offset; // relative to the end of the unsigned updater (signed: past the padding); 0xFFFFFFFF as is
    std::uint32_t Size;
    bool TrailerAtEnd;    // the file still ends with the trailer (the table lies about an unsigned updater)
};

void PrintTo(const LieCase& c, std::ostream* os) { *os << c.What; }

class LyingTable : public ::testing::TestWithParam<LieCase> {};

// Every lie leaves the file read as an unsigned one: the trailer at the very end, or none.
TEST_P(LyingTable, IsReadAsAnUnsignedFile)
{
    const LieCase& c = GetParam();
    const ABytes payload = {9, 8, 7, 6, 5};
    ABytes file = c.TrailerAtEnd ? Updater(payload) : Signed(Updater(payload));
    const std::uint32_t base = static_cast<std::uint32_t>(Updater(payload).size());
    PutU32(file, kEntry64, c.Offset == 0xFFFFFFFF ? c.Offset : base + c.Offset);
    PutU32(file, kEntry64 + 4, c.Size);
    const auto got = PayloadOf(file);
    if (c.TrailerAtEnd)
        EXPECT_EQ(got, payload) << c.What;
    else
        EXPECT_FALSE(got) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LyingTable,
    ::testing::Values(
        // signed files whose entry does not name the table at their end
        LieCase{"offset beyond the file", 0xFFFFFFFF, 0x5A0, false},
        LieCase{"size 0", 3, 0, false}, LieCase{"size beyond the file", 3, 0x5A1, false},
        LieCase{"table ends before the file", 3, 0x59F, false},
        // unsigned updaters whose entry claims a table
        LieCase{"table over the trailer", static_cast<std::uint32_t>(-8), 8, true},
        LieCase{"table over the payload and trailer", static_cast<std::uint32_t>(-12), 12, true},
        LieCase{"table over the whole file", static_cast<std::uint32_t>(-0x20D), 0x20D, true},
        LieCase{"table past the end", 0, 8, true}));

TEST(SignedUpdater, NotAPeImageIsReadAsToday)
{
    ABytes file = Signed(Updater({1, 2, 3}));
    file[0] = 'X';
    EXPECT_FALSE(PayloadOf(file));
    file = Signed(Updater({1, 2, 3}));
    PutU32(file, kOpt + 108, 4); // four directories: none for certificates
    EXPECT_FALSE(PayloadOf(file));
    file = Signed(Updater({1, 2, 3}));
    PutU32(file, 0x3C, 0xFFFFFFF0); // PE header beyond the file
    EXPECT_FALSE(PayloadOf(file));
}

TEST(StripCertificateTable, LeavesTheUnsignedImageWithAClearedEntry)
{
    const ABytes unsignedBase = Image();
    ABytes b = Signed(unsignedBase);
    ASSERT_TRUE(StripPeCertificateTable(b));
    EXPECT_EQ(b, unsignedBase); // 0x200 bytes: no padding was needed
    EXPECT_FALSE(StripPeCertificateTable(b));
    EXPECT_EQ(b, unsignedBase);
    ABytes odd = BytesConcat(Image(), {1, 2, 3});
    b = Signed(odd);
    ASSERT_TRUE(StripPeCertificateTable(b));
    EXPECT_EQ(b, BytesConcat(odd, ABytes(5, 0))); // the signer's padding stays: zeros behind the image
}

} // namespace
