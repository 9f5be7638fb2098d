// Byte-array functions and the frame CRC-8.
#include <gtest/gtest.h>

#include "package/bytes.h"

namespace {

const ABytes kFive = {1, 2, 3, 4, 5};

TEST(BytesBuild, FromValuesLittleEndian)
{
    EXPECT_TRUE(BytesFromU8s({}).empty());
    EXPECT_EQ(BytesFromU8s({7, 0, 255}), (ABytes{7, 0, 255}));
    EXPECT_EQ(BytesFromU16s({0x1234}), (ABytes{0x34, 0x12}));
    EXPECT_EQ(BytesFromU16s({0x0001, 0xFF00}), (ABytes{0x01, 0x00, 0x00, 0xFF}));
    EXPECT_EQ(BytesFromU32s({0x04030201, 0xAAAAAAAA}), (ABytes{1, 2, 3, 4, 0xAA, 0xAA, 0xAA, 0xAA}));
}

struct CopyCase {
    std::int64_t Start, Count;
    ABytes Want;
};

void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.Start << "," << c.Count; }

class BytesCopyTable : public ::testing::TestWithParam<CopyCase> {};

TEST_P(BytesCopyTable, Copies)
{
    EXPECT_EQ(BytesCopy(kFive, GetParam().Start, GetParam().Count), GetParam().Want);
}

INSTANTIATE_TEST_SUITE_P(Cases, BytesCopyTable,
                         ::testing::Values(CopyCase{2, -1, {3, 4, 5}}, CopyCase{7, 3, {}}, CopyCase{3, 10, {4, 5}},
                                           CopyCase{0, 0, {}}, CopyCase{0, 2, {1, 2}}, CopyCase{5, -1, {}},
                                           CopyCase{4, 1, {5}}, CopyCase{-3, 2, {1, 2}},
                                           CopyCase{1, INT64_MAX, {2, 3, 4, 5}}));

TEST(BytesEmpty, BothPredicates)
{
    EXPECT_TRUE(BytesIsEmpty({}));
    EXPECT_FALSE(BytesNotEmpty({}));
    EXPECT_FALSE(BytesIsEmpty({0}));
    EXPECT_TRUE(BytesNotEmpty({0}));
}

struct InsertCase {
    ABytes Src;
    std::int64_t Pos;
    ABytes Want;
};

void PrintTo(const InsertCase& c, std::ostream* os) { *os << c.Src.size() << " at " << c.Pos; }

class BytesInsertTable : public ::testing::TestWithParam<InsertCase> {};

TEST_P(BytesInsertTable, Inserts)
{
    ABytes d = kFive;
    BytesInsert(d, GetParam().Src, GetParam().Pos);
    EXPECT_EQ(d, GetParam().Want);
}

INSTANTIATE_TEST_SUITE_P(Cases, BytesInsertTable,
                         ::testing::Values(InsertCase{{8, 9}, 0, {8, 9, 1, 2, 3, 4, 5}},
                                           InsertCase{{8, 9}, 2, {1, 2, 8, 9, 3, 4, 5}},
                                           InsertCase{{8, 9}, 5, {1, 2, 3, 4, 5, 8, 9}},
                                           InsertCase{{8, 9}, -1, {1, 2, 3, 4, 5, 8, 9}},
                                           InsertCase{{}, 2, {1, 2, 3, 4, 5}}));

TEST(BytesInsertByte, AppendsAndPrepends)
{
    ABytes d = {1, 2};
    BytesInsertByte(d, 9, -1);
    EXPECT_EQ(d, (ABytes{1, 2, 9}));
    BytesInsertByte(d, 7, 0);
    EXPECT_EQ(d, (ABytes{7, 1, 2, 9}));
    ABytes e;
    BytesInsertByte(e, 5, 0);
    EXPECT_EQ(e, (ABytes{5}));
}

struct DeleteCase {
    std::int64_t Start, Count;
    ABytes Want;
};

void PrintTo(const DeleteCase& c, std::ostream* os) { *os << c.Start << "," << c.Count; }

class BytesDeleteTable : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(BytesDeleteTable, Deletes)
{
    ABytes d = kFive;
    BytesDelete(d, GetParam().Start, GetParam().Count);
    EXPECT_EQ(d, GetParam().Want);
}

INSTANTIATE_TEST_SUITE_P(Cases, BytesDeleteTable,
                         ::testing::Values(DeleteCase{1, -1, {1}}, DeleteCase{1, 2, {1, 4, 5}},
                                           DeleteCase{0, 5, {}}, DeleteCase{3, 10, {1, 2, 3}},
                                           DeleteCase{5, 1, {1, 2, 3, 4, 5}}, DeleteCase{9, 1, {1, 2, 3, 4, 5}},
                                           DeleteCase{2, 0, {1, 2, 3, 4, 5}},
                                           DeleteCase{2, INT64_MAX, {1, 2}}));

TEST(BytesConcatSum, JoinAndAdd)
{
    EXPECT_EQ(BytesConcat({1, 2}, {3}), (ABytes{1, 2, 3}));
    EXPECT_EQ(BytesConcat({}, {}), ABytes{});
    EXPECT_EQ(BytesSum({}), 0u);
    EXPECT_EQ(BytesSum(ABytes(1000, 0xFF)), 255000u); // no 8- or 16-bit wrap
}

struct ReadCase {
    ABytes Data;
    std::int64_t Index;
    std::uint16_t Want16;
    std::uint32_t Want32;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.Data.size() << " bytes at " << c.Index; }

class BytesReadTable : public ::testing::TestWithParam<ReadCase> {};

TEST_P(BytesReadTable, ReadsLittleEndianWithMissingBytesZero)
{
    EXPECT_EQ(BytesToU16(GetParam().Data, GetParam().Index), GetParam().Want16);
    EXPECT_EQ(BytesToU32(GetParam().Data, GetParam().Index), GetParam().Want32);
}

INSTANTIATE_TEST_SUITE_P(Cases, BytesReadTable,
                         ::testing::Values(ReadCase{{1, 2, 3, 4}, 0, 0x0201, 0x04030201},
                                           ReadCase{{1, 2, 3, 4}, 3, 0x0004, 0x00000004},
                                           ReadCase{{1, 2, 3, 4}, 2, 0x0403, 0x00000403},
                                           ReadCase{{1, 2, 3, 4}, 4, 0, 0}, ReadCase{{}, 0, 0, 0},
                                           ReadCase{{1, 2, 3, 4}, -1, 0, 0},
                                           ReadCase{{1, 2, 3, 4}, INT64_MAX, 0, 0},
                                           ReadCase{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1, 0xFFFF, 0xFFFFFFFF}));

TEST(BytesText, HexAndDecimalWithSeparator)
{
    EXPECT_EQ(BytesToText({0x0A, 0xFF}, " ", true), "0A FF");
    EXPECT_EQ(BytesToText({0x0A, 0xFF}, "", true), "0AFF");
    EXPECT_EQ(BytesToText({0x0A, 0xFF, 0}, ", ", false), "10, 255, 0");
    EXPECT_EQ(BytesToText({}, " ", true), "");
    EXPECT_EQ(BytesToText({0xab}, "-", true), "AB");
}

TEST(BytesAnsi, OneCharacterPerByte)
{
    const std::string s = BytesToAnsi({'A', 0, 0xD0, 'z'});
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0], 'A');
    EXPECT_EQ(s[1], '\0');
    EXPECT_EQ(static_cast<unsigned char>(s[2]), 0xD0);
}

// Bitwise CRC-8/MAXIM, to compare the table-free byte method against.
std::uint8_t BitwiseCrc8(const ABytes& d)
{
    std::uint8_t c = 0;
    for (std::uint8_t b : d) {
        c ^= b;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? static_cast<std::uint8_t>((c >> 1) ^ 0x8C) : static_cast<std::uint8_t>(c >> 1);
    }
    return c;
}

TEST(BytesCrc8, CheckValues)
{
    EXPECT_EQ(BytesCrc8({'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xA1);
    EXPECT_EQ(BytesCrc8({'a', 'b', 'c'}), 0x42);
    EXPECT_EQ(BytesCrc8({0xF0, 0x00}), 0x99);
    EXPECT_EQ(BytesCrc8({0xF3, 0x00}), 0xCC);
    EXPECT_EQ(BytesCrc8({}), 0);
}

TEST(BytesCrc8, EqualsBitwiseFormForEveryByteAndPair)
{
    for (int a = 0; a < 256; ++a) {
        ASSERT_EQ(BytesCrc8({static_cast<std::uint8_t>(a)}), BitwiseCrc8({static_cast<std::uint8_t>(a)})) << a;
        for (int b = 0; b < 256; b += 17) {
            const ABytes d = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)};
            ASSERT_EQ(BytesCrc8(d), BitwiseCrc8(d)) << a << "," << b;
        }
    }
}

} // namespace
