// Bootloader image view (header, checksum, flash and EEPROM lines) and the updater's package checks.
#include <gtest/gtest.h>

#include "base/error.h"
#include "package/bootimage.h"
#include "package/validate.h"
#include "tests/failure_text.h"

namespace {

ABytes Container(const ADataBlocks& blocks, const ABytes& data)
{
    ABytes c = BytesFromU16s({static_cast<std::uint16_t>(blocks.size())});
    for (const TDataBlock& b : blocks)
        c = BytesConcat(c, BytesFromU32s({b.A, b.I, b.L}));
    return BytesConcat(c, data);
}

TZorelBootLoaderHexDataFile Image(const ADataBlocks& blocks, const ABytes& data)
{
    TZorelBootLoaderHexDataFile f;
    f.SetInfo(kFlashLimit, kEepromLimit);
    f.BytesFrom(Container(blocks, data));
    return f;
}

// A 32-byte header with the given fields and name bytes at the low bytes of the name words.
ABytes Header(std::uint16_t ep, std::uint16_t cs, const std::string& name)
{
    ABytes h = BytesConcat(BytesFromU16s({ep, cs, 0x0105, 0x0203}), {0x07, 0x09});
    h = BytesConcat(h, BytesFromU16s({0x0624}));
    for (std::size_t k = 0; k < 10; ++k)
        h = BytesConcat(h, {k < name.size() ? static_cast<std::uint8_t>(name[k]) : std::uint8_t(0), 0x5A});
    return h;
}

TEST(BootLoaderInfo, ReadsEveryHeaderField)
{
    const auto f = Image({{0x400, 0, 32}}, Header(0x1234, 0x2345, "NAME"));
    const TZorelBootLoaderInfo b = f.BootLoaderInfo();
    EXPECT_EQ(b.EP, 0x1234);
    EXPECT_EQ(b.CS, 0x2345);
    EXPECT_EQ(b.VP, 0x0105);
    EXPECT_EQ(b.TD, 0x0203);
    EXPECT_EQ(b.IZ, 0x07); // offset 8
    EXPECT_EQ(b.IP, 0x09); // offset 9
    EXPECT_EQ(b.DT, 0x0624);
    EXPECT_EQ(b.TX, "NAME"); // high bytes of the name words are ignored
    EXPECT_EQ(b.BL, 0);
    EXPECT_EQ(b.ID, 0u);
}

TEST(BootLoaderInfo, ZeroBytesInTheNameAreSkipped)
{
    EXPECT_EQ(Image({{0, 0, 32}}, Header(0, 0, std::string("A\0B", 3))).BootLoaderInfo().TX, "AB");
    EXPECT_EQ(Image({{0, 0, 32}}, Header(0, 0, "\xD2\xE5\xF1\xF2")).BootLoaderInfo().TX, "\xD2\xE5\xF1\xF2");
    EXPECT_EQ(Image({{0, 0, 32}}, Header(0, 0, "")).BootLoaderInfo().TX, "");
}

TEST(BootLoaderInfo, HeaderFromTheFirstBlockBelowTheFlashLimit)
{
    ABytes data = ABytes(32, 0xEE);
    data = BytesConcat(data, Header(5, 6, "SECOND"));
    const auto f = Image({{0x10000, 0, 32}, {0x20000, 0, 32}, {0x400, 32, 32}}, data);
    EXPECT_EQ(f.BootLoaderInfo().BL, 2);
    EXPECT_EQ(f.BootLoaderInfo().TX, "SECOND");
}

struct NoHeaderCase {
    const char* What;
    ADataBlocks Blocks;
    ABytes Data;
};

void PrintTo(const NoHeaderCase& c, std::ostream* os) { *os << c.What; }

class NoHeader : public ::testing::TestWithParam<NoHeaderCase> {};

TEST_P(NoHeader, Raises0306)
{
    const auto f = Image(GetParam().Blocks, GetParam().Data);
    EXPECT_EQ(FailureOf([&] { f.BootLoaderInfo(); }), "0x0306") << GetParam().What;
    EXPECT_EQ(FailureOf([&] { f.CheckSumm(); }), "0x0306") << GetParam().What;
}

INSTANTIATE_TEST_SUITE_P(Cases, NoHeader,
                         ::testing::Values(NoHeaderCase{"no blocks", {}, ABytes(64, 1)},
                                           NoHeaderCase{"only EEPROM", {{0x1E000, 0, 64}}, ABytes(64, 1)},
                                           NoHeaderCase{"at the limit", {{0x10000, 0, 64}}, ABytes(64, 1)},
                                           NoHeaderCase{"31 bytes left", {{0x400, 1, 64}}, ABytes(32, 1)},
                                           NoHeaderCase{"offset past the data", {{0x400, 0xFFFFFFF0, 64}},
                                                        ABytes(64, 1)}));

// The checksum rule written out once more: minus the wrapped 16-bit sum of words 2..n, 14 bits.
std::uint16_t ExpectedSum(const ABytes& data, int n)
{
    std::uint32_t s = 0;
    for (int i = 2; i <= n; ++i)
        s += data[2 * i] | data[2 * i + 1] << 8;
    return static_cast<std::uint16_t>((0x10000 - (s & 0xFFFF)) & 0x3FFF);
}

TEST(CheckSumm, SumsWordsTwoToEndOfProgram)
{
    ABytes data = Header(0x200 + 20, 0, "X");
    for (int i = 0; i < 32; ++i)
        data.push_back(static_cast<std::uint8_t>(0xF0 + i)); // large words so the sum wraps
    const auto f = Image({{0x400, 0, static_cast<std::uint32_t>(data.size())}}, data);
    EXPECT_EQ(f.CheckSumm(), ExpectedSum(data, 20));
    EXPECT_NE(f.CheckSumm(), ExpectedSum(data, 19)); // the last program word counts
    // EP = base + 1 sums nothing
    EXPECT_EQ(Image({{0x400, 0, 32}}, Header(0x201, 0, "X")).CheckSumm(), 0);
    EXPECT_EQ(Image({{0x400, 0, 32}}, Header(0x100, 0, "X")).CheckSumm(), 0);
}

TEST(CheckSumm, NeverReadsOutsideTheDataArea)
{
    // EP far past the 32 bytes of data, and a block address above EP: the sum stays inside the data.
    const ABytes h = Header(0xFFFF, 0, "X");
    EXPECT_EQ(Image({{0x0, 0, 32}}, h).CheckSumm(), ExpectedSum(h, 15));
    EXPECT_EQ(Image({{0xFFFE, 0, 32}}, h).CheckSumm(), ExpectedSum(h, 15));
    ABytes odd = BytesConcat(h, {0x77}); // an odd byte at the end is no word
    EXPECT_EQ(Image({{0x0, 0, 33}}, odd).CheckSumm(), ExpectedSum(h, 15));
}

ABytes Pattern(std::size_t n)
{
    ABytes d(n);
    for (std::size_t i = 0; i < n; ++i)
        d[i] = static_cast<std::uint8_t>(i);
    return d;
}

TEST(GetFlash, SixtyFourByteLinesAtBlockAddresses)
{
    const auto f = Image({{0x400, 0, 0x7C00}}, Pattern(0x7C00));
    const AZorelBootLoaderDataLines l = f.GetFlash();
    ASSERT_EQ(l.size(), 496u);
    EXPECT_EQ(l.front().A, 0x400);
    EXPECT_EQ(l.back().A, 0x7FC0);
    EXPECT_EQ(l[1].D, BytesCopy(Pattern(0x7C00), 64, 64));
    for (const auto& line : l)
        ASSERT_EQ(line.D.size(), 64u);
    EXPECT_TRUE(Image({{0x1E000, 0, 64}}, Pattern(64)).GetFlash().empty());
}

TEST(GetFlash, TailShorterThanALineIsPaddedWithErasedBytes)
{
    const auto f = Image({{0x400, 0, 130}}, Pattern(130));
    const AZorelBootLoaderDataLines l = f.GetFlash();
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[2].A, 0x480);
    ABytes want = {128, 129};
    want.resize(64, 0xFF);
    EXPECT_EQ(l[2].D, want);
}

struct FlashRangeCase {
    std::uint32_t A, L;
    std::string Failure;
};

void PrintTo(const FlashRangeCase& c, std::ostream* os) { *os << std::hex << c.A << "+" << c.L; }

class FlashRange : public ::testing::TestWithParam<FlashRangeCase> {};

TEST_P(FlashRange, RefusesBytesAboveTheSixteenBitRangeAndOddStarts)
{
    const auto f = Image({{GetParam().A, 0, GetParam().L}}, Pattern(0x2000));
    EXPECT_EQ(FailureOf([&] { f.GetFlash(); }), GetParam().Failure) << std::hex << GetParam().A;
}

INSTANTIATE_TEST_SUITE_P(Cases, FlashRange,
                         ::testing::Values(FlashRangeCase{0xFFC0, 64, ""}, FlashRangeCase{0xFFC0, 65, "0x0311"},
                                           FlashRangeCase{0xF000, 0x1000, ""},
                                           FlashRangeCase{0xF000, 0x1001, "0x0311"},
                                           FlashRangeCase{0xFFFE, 2, ""}, FlashRangeCase{0xFFFE, 3, "0x0311"},
                                           // word addresses: an odd start would shift every byte
                                           FlashRangeCase{0x401, 64, "0x0314"}, FlashRangeCase{0xFFFF, 1, "0x0314"}));

TEST(GetEEPROM, LowBytesOfWordsInThirtyTwoByteLines)
{
    const auto f = Image({{0x400, 0, 32}, {0x1E000, 32, 66}}, BytesConcat(ABytes(32, 0), Pattern(66)));
    const AZorelBootLoaderDataLines l = f.GetEEPROM();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].A, 0);
    ASSERT_EQ(l[0].D.size(), 32u);
    EXPECT_EQ(l[0].D[1], 2);
    EXPECT_EQ(l[0].D[31], 62);
    EXPECT_EQ(l[1].A, 32);
    EXPECT_EQ(l[1].D, (ABytes{64}));
}

struct EepromCase {
    std::uint32_t A, L;
    std::string Failure;
    std::size_t Lines;
};

void PrintTo(const EepromCase& c, std::ostream* os) { *os << std::hex << c.A << "+" << c.L; }

class EepromTable : public ::testing::TestWithParam<EepromCase> {};

TEST_P(EepromTable, LinesOrRefusal)
{
    const auto f = Image({{GetParam().A, 0, GetParam().L}}, Pattern(0x400));
    AZorelBootLoaderDataLines l;
    EXPECT_EQ(FailureOf([&] { l = f.GetEEPROM(); }), GetParam().Failure);
    EXPECT_EQ(l.size(), GetParam().Lines);
    if (!l.empty()) {
        EXPECT_EQ(l.back().A, 32 * (GetParam().Lines - 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, EepromTable,
                         ::testing::Values(EepromCase{0x1E000, 0x200, "", 8}, EepromCase{0x1E000, 65, "0x0307", 0},
                                           EepromCase{0x1E000, 0, "", 0}, EepromCase{0x10000, 0x200, "", 0},
                                           EepromCase{0x10001, 2, "", 1}, EepromCase{0x1E000, 0x202, "0x0312", 0},
                                           EepromCase{0x1E000, 0x400, "0x0312", 0},
                                           EepromCase{0x400, 0x200, "", 0}));

TEST(DataLine, ToString)
{
    EXPECT_EQ((TZorelBootLoaderDataLine{0x0400, {0x0A, 0xFF, 0x00}}.ToString()), "0400:0AFF00");
    EXPECT_EQ((TZorelBootLoaderDataLine{0x00E0, {}}.ToString()), "00E0:");
}

// A valid package: flash block at 0x400 with a matching checksum, EEPROM block at 0x1E000.
ABytes ValidPackage(std::size_t eepromLength = 0x40)
{
    ABytes flash = BytesConcat(Header(0x200 + 63, 0, "OK"), Pattern(96));
    auto f = Image({{0x400, 0, 128}}, flash);
    flash[2] = static_cast<std::uint8_t>(f.CheckSumm());
    flash[3] = static_cast<std::uint8_t>(f.CheckSumm() >> 8);
    return Container({{0x400, 0, 128}, {0x1E000, 128, static_cast<std::uint32_t>(eepromLength)}},
                     BytesConcat(flash, Pattern(eepromLength)));
}

struct CheckCase {
    const char* What;
    ABytes Package;
    std::string Failure;
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.What; }

class CheckPackageTable : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckPackageTable, FailsWithTheUpdatersCode)
{
    TZorelBootLoaderHexDataFile FH;
    TPackageContents c;
    EXPECT_EQ(FailureOf([&] { c = CheckPackage(FH, GetParam().Package); }), GetParam().Failure) << GetParam().What;
    if (GetParam().Failure.empty()) {
        EXPECT_EQ(c.B.TX, "OK");
        EXPECT_EQ(c.FL.size(), 2u);
        EXPECT_EQ(c.EE.size(), 1u);
        EXPECT_EQ(FH.Flash(), 0x10000u);
        EXPECT_EQ(FH.EEPROM(), 0x20000u);
    }
}

ABytes Changed(ABytes d, std::size_t at, std::uint8_t v)
{
    d[at] = v;
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckPackageTable,
    ::testing::Values(CheckCase{"valid", ValidPackage(), ""}, CheckCase{"missing", {}, "0x0301"},
                      CheckCase{"short table", {3, 0, 1}, "0x0302"}, CheckCase{"no data", {0, 0}, "0x0303"},
                      CheckCase{"no flash", Container({{0x1E000, 0, 4}}, {1, 2, 3, 4}), "0x0306"},
                      CheckCase{"program byte changed", Changed(ValidPackage(), 26 + 100, 0x55), "0x0304"},
                      CheckCase{"checksum field changed", Changed(ValidPackage(), 26 + 2, 0x55), "0x0304"},
                      CheckCase{"odd EEPROM", ValidPackage(0x41), "0x0307"},
                      CheckCase{"EEPROM too large", ValidPackage(0x202), "0x0312"},
                      CheckCase{"flash past 16 bits",
                                Container({{0xFFC0, 0, 128}}, BytesConcat(Header(0x7FE0 + 63, 0, "X"), Pattern(96))),
                                "0x0304"}));

// Packages that pass every start-up check (their checksum is right) but whose flash lines would be written to the
// wrong place.
TEST(CheckPackage, MisplacedFlashWithGoodChecksumIsRefused)
{
    const struct {
        std::uint32_t A;
        const char* Failure;
    } cases[] = {{0xFFC0, "0x0311"}, {0x401, "0x0314"}};
    for (const auto& c : cases) {
        ABytes flash = BytesConcat(Header(0x7FE0 + 63, 0, "X"), Pattern(96));
        auto f = Image({{c.A, 0, 128}}, flash);
        flash[2] = static_cast<std::uint8_t>(f.CheckSumm());
        flash[3] = static_cast<std::uint8_t>(f.CheckSumm() >> 8);
        TZorelBootLoaderHexDataFile FH;
        EXPECT_EQ(FailureOf([&] { CheckPackage(FH, Container({{c.A, 0, 128}}, flash)); }), c.Failure)
            << std::hex << c.A;
    }
}

} // namespace
