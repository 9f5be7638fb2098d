// Intel HEX: digit routines, record conversions, the reader's block building and the writer.
#include <gtest/gtest.h>

#include <sstream>

#include "base/error.h"
#include "package/datafile.h"
#include "package/hex.h"
#include "tests/failure_text.h"

namespace {

TEST(HexNibble, DigitsBothHalvesAndNonDigits)
{
    const std::pair<char, int> digits[] = {{'0', 0}, {'9', 9}, {'A', 10}, {'F', 15}, {'a', 10}, {'f', 15}, {'c', 12}};
    for (auto [c, v] : digits) {
        EXPECT_EQ(HexNibble(c, true), v) << c;
        EXPECT_EQ(HexNibble(c, false), v << 4) << c;
    }
    for (char c : {'G', 'g', ' ', ':', '/', '@', '\0', 'x'})
        EXPECT_EQ(FailureOf([c] { HexNibble(c, true); }), "0x0401") << int(c);
}

TEST(HexToBytes, PairsAndUnpairedTail)
{
    EXPECT_EQ(HexToBytes(""), ABytes{});
    EXPECT_EQ(HexToBytes("0aFf"), (ABytes{0x0A, 0xFF}));
    EXPECT_EQ(HexToBytes("0aF"), (ABytes{0x0A}));
    EXPECT_EQ(FailureOf([] { HexToBytes("0aFz"); }), "0x0401");
    EXPECT_EQ(HexToBytes("0aZ"), (ABytes{0x0A})); // the unpaired character is not converted
}

struct ParseCase {
    std::string Line;
    std::string Failure;
    std::uint8_t L = 0, T = 0, S = 0;
    std::uint16_t A = 0;
    ABytes D = {};
};
void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.Line << '"'; }

class HexRecFromText : public ::testing::TestWithParam<ParseCase> {};

TEST_P(HexRecFromText, ParsesOrRaises)
{
    const ParseCase& c = GetParam();
    THexRec r;
    EXPECT_EQ(FailureOf([&] { r = THexRec::FromText(c.Line); }), c.Failure) << c.Line;
    if (c.Failure.empty()) {
        EXPECT_EQ(r.L, c.L);
        EXPECT_EQ(r.T, c.T);
        EXPECT_EQ(r.S, c.S);
        EXPECT_EQ(r.A, c.A);
        EXPECT_EQ(r.D, c.D);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HexRecFromText,
    ::testing::Values(ParseCase{":00000001FF", "", 0, 1, 0xFF, 0, {}},
                      ParseCase{"X00000001FF", "", 0, 1, 0xFF, 0, {}}, // the record mark is not examined
                      ParseCase{":021000000102EB", "", 2, 0, 0xEB, 0x1000, {1, 2}},
                      ParseCase{":021000000102eb", "", 2, 0, 0xEB, 0x1000, {1, 2}},
                      ParseCase{":00000001FF0000", "", 0, 1, 0xFF, 0, {}}, // bytes after the checksum are ignored
                      ParseCase{":00000001FF0", "", 0, 1, 0xFF, 0, {}},    // an unpaired last digit too
                      ParseCase{":0000001FF", "0x030A"}, ParseCase{"", "0x030A"},
                      ParseCase{":00000001FG", "0x0401"}, ParseCase{":00000001FFZZ", "0x0401"},
                      ParseCase{":00000001 FF", "0x0401"}, ParseCase{":0500000001FF", "0x0309"},
                      ParseCase{":FF0000000102", "0x0309"}, ParseCase{":00000001FE", "0x0308"},
                      ParseCase{":021000000102EA", "0x0308"}));

TEST(HexRecToText, EncodesWithComputedChecksum)
{
    EXPECT_EQ((THexRec{2, 0, 0x55, 0x1000, {1, 2}}.ToText()), ":021000000102EB");
    EXPECT_EQ((THexRec{0, 1, 0, 0, {}}.ToText()), ":00000001FF");
    EXPECT_EQ((THexRec{1, 0, 0, 0x00FF, {0x00}}.ToText()), ":0100FF000000"); // sum 0x100: checksum 00
    EXPECT_EQ((THexRec{2, 4, 0, 0, {0x00, 0x01}}.ToText()), ":020000040001F9");
    // L is written as stored, not recounted
    EXPECT_EQ((THexRec{3, 0, 0, 0, {0xAB}}.ToText()).substr(0, 3), ":03");
    const THexRec r{4, 0, 0, 0xBEEF, {0xDE, 0xAD, 0xBE, 0xEF}};
    const THexRec back = THexRec::FromText(r.ToText());
    EXPECT_EQ(back.D, r.D);
    EXPECT_EQ(back.A, r.A);
}

// Reads Text with the given EEPROM limit.
THexDataFile Read(const std::string& text, std::uint32_t eeprom = 0x20000)
{
    THexDataFile f;
    f.SetInfo(0x10000, eeprom);
    std::istringstream s(text);
    ABytes d = {0x99}; // replaced by the reader
    f.ReadStream(s, d);
    f.SetData(d);
    return f;
}

std::string Data16(std::uint16_t address, std::uint8_t first)
{
    THexRec r{16, 0, 0, address, {}};
    for (int i = 0; i < 16; ++i)
        r.D.push_back(static_cast<std::uint8_t>(first + i));
    return r.ToText();
}

const std::string kEof = ":00000001FF";

TEST(HexRead, EndOfFileStopsTheReading)
{
    const THexDataFile f = Read(Data16(0x100, 1) + "\n" + kEof + "\n" + Data16(0x110, 50) + "\n");
    ASSERT_EQ(f.Blocks().size(), 1u);
    EXPECT_EQ(f.Blocks()[0], (TDataBlock{0x100, 0, 16}));
    EXPECT_EQ(f.Data().size(), 16u);
    // the same with another record mark, CR LF endings and blanks around the lines
    const THexDataFile g = Read("  " + Data16(0x100, 1) + " \r\n\tX00000001FF\r\n" + Data16(0x110, 50));
    EXPECT_EQ(g.Blocks(), f.Blocks());
    EXPECT_EQ(g.Data(), f.Data());
}

TEST(HexRead, BadLinesAreSkippedSilently)
{
    std::string bad = Data16(0x110, 7);
    bad[bad.size() - 1] ^= 1; // wrong checksum
    std::string nonhex = Data16(0x120, 9) + "Z0";
    const THexDataFile f =
        Read(Data16(0x100, 1) + "\n" + bad + "\n" + nonhex + "\n:0000\n\n" + Data16(0x110, 100) + "\n" + kEof);
    ASSERT_EQ(f.Blocks().size(), 1u);
    EXPECT_EQ(f.Blocks()[0], (TDataBlock{0x100, 0, 32}));
    EXPECT_EQ(f.Data()[16], 100);
    EXPECT_TRUE(f.Errors().empty());
}

TEST(HexRead, GapsAreZeroFilled)
{
    const THexDataFile f = Read(Data16(0x0000, 1) + "\n" + Data16(0x0020, 200) + "\n" + kEof);
    ASSERT_EQ(f.Data().size(), 48u);
    for (int i = 16; i < 32; ++i)
        EXPECT_EQ(f.Data()[i], 0) << i;
    EXPECT_EQ(f.Data()[32], 200);
    EXPECT_EQ(f.Blocks()[0].L, 48u);
}

TEST(HexRead, WithoutEndOfFileTheLastBlockKeepsLengthZero)
{
    const THexDataFile f = Read(Data16(0x0400, 1) + "\n" + Data16(0x0410, 17));
    ASSERT_EQ(f.Blocks().size(), 1u);
    EXPECT_EQ(f.Blocks()[0], (TDataBlock{0x400, 0, 0}));
    EXPECT_EQ(f.Data().size(), 32u);
}

TEST(HexRead, ExtendedAddressesOpenBlocksAndHonourTheLimit)
{
    const std::string ela0 = THexRec{2, 4, 0, 0, {0, 0}}.ToText();
    const std::string ela1 = THexRec{2, 4, 0, 0, {0, 1}}.ToText();   // 0x10000
    const std::string seg1 = THexRec{2, 2, 0, 0, {0x10, 0}}.ToText(); // 0x10000 as well
    const std::string ela3 = THexRec{2, 4, 0, 0, {0, 3}}.ToText();   // 0x30000: above the limit
    const std::string ela2 = THexRec{2, 4, 0, 0, {0, 2}}.ToText();   // 0x20000
    const std::string text = ela0 + "\n" + Data16(0x400, 1) + "\n" + ela1 + "\n" + Data16(0xE000, 30) + "\n" + seg1 +
                             "\n" + Data16(0xE010, 60) + "\n" + ela3 + "\n" + Data16(0, 90) + "\n" + ela2 + "\n" +
                             Data16(0x0000, 120) + "\n" + Data16(0x0001, 140) + "\n" + kEof;
    const THexDataFile f = Read(text);
    ASSERT_EQ(f.Blocks().size(), 4u);
    EXPECT_EQ(f.Blocks()[0], (TDataBlock{0x400, 0, 16}));
    EXPECT_EQ(f.Blocks()[1], (TDataBlock{0x1E000, 16, 16}));
    EXPECT_EQ(f.Blocks()[2], (TDataBlock{0x1E010, 32, 16}));
    // 0x20000 is the limit itself and is taken; 0x20001 lies above it and is dropped
    EXPECT_EQ(f.Blocks()[3], (TDataBlock{0x20000, 48, 16}));
    EXPECT_EQ(f.Data()[48], 120);
    EXPECT_EQ(f.Data().size(), 64u);
}

TEST(HexRead, LimitZeroTakesOnlyAddressZero)
{
    const THexDataFile f = Read(Data16(0x0000, 1) + "\n" + Data16(0x0010, 17) + "\n" + kEof, 0);
    ASSERT_EQ(f.Blocks().size(), 1u);
    EXPECT_EQ(f.Blocks()[0], (TDataBlock{0, 0, 16}));
}

TEST(HexRead, BlockWithoutDataKeepsNoAddress)
{
    const std::string ela1 = THexRec{2, 4, 0, 0, {0, 1}}.ToText();
    const THexDataFile f = Read(Data16(0x400, 1) + "\n" + ela1 + "\n" + kEof);
    ASSERT_EQ(f.Blocks().size(), 2u);
    EXPECT_EQ(f.Blocks()[0], (TDataBlock{0x400, 0, 16}));
    EXPECT_EQ(f.Blocks()[1], (TDataBlock{0xFFFFFFFF, 16, 0}));
}

TEST(HexRead, ImplementerChoicesOnOddInput)
{
    // a record below the block's first address is dropped; one below data already placed keeps the data's length
    const THexDataFile f =
        Read(Data16(0x400, 1) + "\n" + Data16(0x3F0, 50) + "\n" + Data16(0x420, 70) + "\n" + Data16(0x408, 90) +
             "\n" + kEof);
    ASSERT_EQ(f.Blocks().size(), 1u);
    EXPECT_EQ(f.Blocks()[0], (TDataBlock{0x400, 0, 48}));
    EXPECT_EQ(f.Data()[7], 8);
    EXPECT_EQ(f.Data()[8], 90);
    EXPECT_EQ(f.Data()[32], 70);
    // an end-of-file record before any block ends the reading with nothing read
    const THexDataFile g = Read(kEof + "\n" + Data16(0x400, 1));
    EXPECT_TRUE(g.Blocks().empty());
    EXPECT_TRUE(g.Data().empty());
    // an extended address record with one data byte is skipped: the offset stays as it was
    const THexDataFile h = Read(THexRec{1, 4, 0, 0, {1}}.ToText() + "\n" + Data16(0x400, 1) + "\n" + kEof);
    ASSERT_EQ(h.Blocks().size(), 1u);
    EXPECT_EQ(h.Blocks()[0].A, 0x400u);
}

// Writes F as Intel HEX and reads it back with the same limits.
THexDataFile WriteAndRead(const THexDataFile& f, std::string* text = nullptr)
{
    THexDataFile w = f;
    std::ostringstream o;
    w.WriteStream(o, f.Data());
    if (text)
        *text = o.str();
    return Read(o.str(), f.EEPROM());
}

TEST(HexWrite, ReadsBackToTheSameBlocksAndData)
{
    THexDataFile f;
    f.SetInfo(0x10000, 0x20000);
    ABytes c = BytesConcat(BytesFromU16s({2}), BytesFromU32s({0x400, 0, 0x7C00, 0x1E000, 0x7C00, 0x201}));
    for (int i = 0; i < 0x7E01; ++i)
        c.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    f.BytesFrom(c);
    std::string text;
    const THexDataFile g = WriteAndRead(f, &text);
    EXPECT_EQ(g.Blocks(), f.Blocks());
    EXPECT_EQ(g.Data(), f.Data());
    EXPECT_EQ(g.BytesTo(), c);
    EXPECT_EQ(text.substr(0, 17), ":020000040000FA\r\n");
    EXPECT_EQ(text.substr(text.size() - 13), ":00000001FF\r\n");
    EXPECT_NE(text.find(":020000040001F9\r\n"), std::string::npos);
}

TEST(HexWrite, BlockAcrossA64KPageIsWrittenAtTheRightAddresses)
{
    THexDataFile f;
    f.SetInfo(0x10000, 0x20000);
    ABytes c = BytesConcat(BytesFromU16s({1}), BytesFromU32s({0xFFF8, 0, 24}));
    for (int i = 0; i < 24; ++i)
        c.push_back(static_cast<std::uint8_t>(i));
    f.BytesFrom(c);
    const THexDataFile g = WriteAndRead(f);
    // the reader opens a block at each extended address record: the same bytes, split at 0x10000
    ASSERT_EQ(g.Blocks().size(), 2u);
    EXPECT_EQ(g.Blocks()[0], (TDataBlock{0xFFF8, 0, 8}));
    EXPECT_EQ(g.Blocks()[1], (TDataBlock{0x10000, 8, 16}));
    EXPECT_EQ(g.Data(), f.Data());
}

TEST(HexWrite, EmptyAndOverlongBlocksWriteOnlyWhatExists)
{
    THexDataFile f;
    f.SetInfo(0x10000, 0x20000);
    f.BytesFrom(BytesConcat(BytesFromU16s({2}), BytesConcat(BytesFromU32s({0x100, 0, 0, 0x200, 0, 100}), {1, 2, 3})));
    const THexDataFile g = WriteAndRead(f);
    ASSERT_EQ(g.Blocks().size(), 1u);
    EXPECT_EQ(g.Blocks()[0], (TDataBlock{0x200, 0, 3}));
    EXPECT_EQ(g.Data(), (ABytes{1, 2, 3}));
}

} // namespace
