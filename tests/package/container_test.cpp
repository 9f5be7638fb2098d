// Block container, data-file frame and the package at an updater's tail.
#include <gtest/gtest.h>

#include <cstdlib>

#include "base/error.h"
#include "base/texts.h"
#include "package/datafile.h"
#include "package/embedded.h"
#include "tests/failure_text.h"
#include "test_files.h"

namespace {

struct FromCase {
    const char* What;
    ABytes Container;
    std::string Failure;
    ADataBlocks Blocks;
    ABytes Data;
};

void PrintTo(const FromCase& c, std::ostream* os) { *os << c.What; }

class BytesFromTable : public ::testing::TestWithParam<FromCase> {};

TEST_P(BytesFromTable, ReadsOrRejectsLeavingOldContents)
{
    const FromCase& c = GetParam();
    THexDataFile f;
    f.BytesFrom(BytesConcat(BytesFromU16s({1}), BytesFromU32s({9, 0, 1, 0x77}))); // previous contents: 1 block, 1 byte
    const ADataBlocks oldBlocks = f.Blocks();
    const ABytes oldData = f.Data();
    EXPECT_EQ(FailureOf([&] { f.BytesFrom(c.Container); }), c.Failure) << c.What;
    if (c.Failure.empty()) {
        EXPECT_EQ(f.Blocks(), c.Blocks) << c.What;
        EXPECT_EQ(f.Data(), c.Data) << c.What;
    } else {
        EXPECT_EQ(f.Blocks(), oldBlocks) << c.What;
        EXPECT_EQ(f.Data(), oldData) << c.What;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BytesFromTable,
    ::testing::Values(
        FromCase{"empty", {}, "0x0301", {}, {}}, FromCase{"one byte", {0}, "0x0301", {}, {}},
        FromCase{"no blocks, no data", {0, 0}, "", {}, {}},
        FromCase{"no blocks, data", {0, 0, 5, 6}, "", {}, {5, 6}},
        FromCase{"N=1, 13 bytes", BytesConcat(BytesFromU16s({1}), ABytes(11, 0)), "0x0302", {}, {}},
        FromCase{"N=1, 14 bytes", BytesConcat(BytesFromU16s({1}), BytesFromU32s({1, 2, 3})), "", {{1, 2, 3}}, {}},
        FromCase{"N=0xFFFF, short", BytesConcat(BytesFromU16s({0xFFFF}), ABytes(1000, 0)), "0x0302", {}, {}},
        FromCase{"block beyond the data is kept",
                 BytesConcat(BytesFromU16s({1}), BytesConcat(BytesFromU32s({0x400, 5, 0xFFFFFFFF}), {1, 2})), "",
                 {{0x400, 5, 0xFFFFFFFF}}, {1, 2}},
        FromCase{"two blocks", BytesConcat(BytesFromU16s({2}), BytesFromU32s({0x400, 0, 2, 0x1E000, 2, 2, 0xDDCCBBAA})),
                 "", {{0x400, 0, 2}, {0x1E000, 2, 2}}, {0xAA, 0xBB, 0xCC, 0xDD}}));

TEST(BytesTo, NewObjectIsTwoZeroBytes) { EXPECT_EQ(THexDataFile().BytesTo(), (ABytes{0, 0})); }

TEST(BytesTo, WorkedExampleShapeAndRoundTrip)
{
    ABytes container = BytesConcat(BytesFromU16s({2}), BytesFromU32s({0x400, 0, 0x7C00, 0x1E000, 0x7C00, 0x200}));
    for (int i = 0; i < 0x7E00; ++i)
        container.push_back(static_cast<std::uint8_t>(i * 31));
    THexDataFile f;
    f.BytesFrom(container);
    const ABytes again = f.BytesTo();
    ASSERT_EQ(again.size(), 32282u);
    const ABytes head = {0x02, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7C, 0x00,
                         0x00, 0x00, 0xE0, 0x01, 0x00, 0x00, 0x7C, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00};
    EXPECT_EQ(ABytes(again.begin(), again.begin() + 26), head);
    EXPECT_EQ(again, container);
    EXPECT_EQ(f.Size(), 0x7E00);
}

class DataFileTest : public TempDirTest {};

TEST_F(DataFileTest, LoadOfMissingFileRaises0310AndChangesNothing)
{
    THexDataFile f;
    f.BytesFrom({0, 0, 1, 2, 3});
    EXPECT_EQ(FailureOf([&] { f.Load(PathOf("missing.hex")); }), "0x0310");
    EXPECT_EQ(FailureOf([&] { f.Load(Dir.string()); }), "0x0310"); // a folder is no file
    EXPECT_EQ(f.Data(), (ABytes{1, 2, 3}));
    EXPECT_TRUE(f.Name().empty());
}

TEST_F(DataFileTest, SaveAsTruncatesAnExistingFile)
{
    const std::string p = PathOf("out.hex");
    WriteBytes(p, ABytes(5000, 'x'));
    THexDataFile f; // no blocks: the writer writes the end-of-file record only
    f.SaveAs(p);
    EXPECT_EQ(ReadBytes(p), (ABytes{':', '0', '0', '0', '0', '0', '0', '0', '1', 'F', 'F', '\r', '\n'}));
    EXPECT_TRUE(f.Name().empty());
}

TEST_F(DataFileTest, SaveUsesTheNameAndFailsWithoutOne)
{
    THexDataFile f;
    EXPECT_EQ(FailureOf([&] { f.Save(); }), "0x0313");
    EXPECT_EQ(FailureOf([&] { f.SaveAs(PathOf("no/such/folder.hex")); }), "0x0313");
    f.SetName(PathOf("named.hex"));
    f.Save();
    EXPECT_FALSE(ReadBytes(PathOf("named.hex")).empty());
}

class EmbeddedTest : public TempDirTest {
protected:
    // Reads a file made of Bytes; returns the payload.
    ABytes Payload(const ABytes& bytes, bool* result = nullptr)
    {
        const std::string p = PathOf("updater");
        WriteBytes(p, bytes);
        ABytes P = {0xEE}; // must be replaced
        const bool r = ReadEmbeddedPackage(p, P);
        EXPECT_EQ(r, !P.empty());
        if (result)
            *result = r;
        return P;
    }
};

TEST_F(EmbeddedTest, ReadsThePayloadInFrontOfTheTrailer)
{
    const ABytes exe(1000, 0x90);
    const ABytes payload = {0, 0, 1, 2, 3};
    bool r = false;
    EXPECT_EQ(Payload(BytesConcat(BytesConcat(exe, payload), PackageTrailer(5)), &r), payload);
    EXPECT_TRUE(r);
    // the whole file in front of the trailer is the payload
    EXPECT_EQ(Payload(BytesConcat(payload, PackageTrailer(5))), payload);
}

struct TrailerCase {
    const char* What;
    ABytes File;
};

void PrintTo(const TrailerCase& c, std::ostream* os) { *os << c.What; }

class EmptyPayloadTable : public EmbeddedTest, public ::testing::WithParamInterface<TrailerCase> {};

TEST_P(EmptyPayloadTable, GivesAnEmptyPayloadWithoutException)
{
    bool r = true;
    EXPECT_TRUE(Payload(GetParam().File, &r).empty()) << GetParam().What;
    EXPECT_FALSE(r);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EmptyPayloadTable,
    ::testing::Values(TrailerCase{"empty file", {}}, TrailerCase{"7 bytes", ABytes(7, 0xAA)},
                      TrailerCase{"no magic", BytesConcat(ABytes(100, 1), BytesFromU32s({0xAAAAAAAB, 4}))},
                      TrailerCase{"length 0", BytesConcat(ABytes(100, 1), PackageTrailer(0))},
                      TrailerCase{"length beyond the file", BytesConcat(ABytes(100, 1), PackageTrailer(101))},
                      TrailerCase{"length 4 GiB - 1", BytesConcat(ABytes(100, 1), PackageTrailer(0xFFFFFFFF))},
                      TrailerCase{"trailer alone", PackageTrailer(8)}));

TEST_F(EmbeddedTest, LengthUpToTheStartOfTheFileIsRead)
{
    const ABytes body = {1, 2, 3, 4};
    EXPECT_EQ(Payload(BytesConcat(body, PackageTrailer(4))), body);
    EXPECT_EQ(Payload(BytesConcat(body, PackageTrailer(3))), (ABytes{2, 3, 4}));
}

TEST_F(EmbeddedTest, UnreadableFileRaisesUiText1)
{
    ABytes P = {1};
    EXPECT_EQ(FailureOf([&] { ReadEmbeddedPackage(PathOf("missing"), P); }), LangText(1));
    EXPECT_EQ(FailureOf([&] { ReadEmbeddedPackage(std::string(), P); }), LangText(1));
}

TEST(EmbeddedOwn, RunningExecutableHasNoPackage)
{
    // This test program carries no package: the payload is empty, the own file is readable.
    ABytes P = {1};
    EXPECT_FALSE(ReadEmbeddedPackage(P));
    EXPECT_TRUE(P.empty());
    EXPECT_FALSE(OwnExecutablePath().empty());
}

} // namespace
