// The nerid tool and the sample firmware generator, run as processes from the build folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "base/error.h"
#include "package/datafile.h"
#include "package/embedded.h"
#include "package/hex.h"
#include "package/validate.h"
#include "tests/package/test_files.h"
#include "tests/cli/tools_fixture.h"

namespace fs = std::filesystem;

namespace {

TEST_F(ToolsTest, SampleContainerHasTheWorkedExampleShape)
{
    const ABytes c = ReadBytes(Container(Sample("a.hex"), "a.bin"));
    ASSERT_EQ(c.size(), 32282u);
    const ABytes head = {0x02, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7C, 0x00,
                         0x00, 0x00, 0xE0, 0x01, 0x00, 0x00, 0x7C, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00};
    EXPECT_EQ(ABytes(c.begin(), c.begin() + 26), head);
}

TEST_F(ToolsTest, HexToContainerToHexRoundTrip)
{
    const std::string hex = Sample("a.hex", {"--seed", "7"});
    const ABytes c1 = ReadBytes(Container(hex, "a.bin"));
    THexDataFile f;
    f.BytesFrom(c1);
    f.SaveAs(PathOf("again.hex"));
    const ABytes c2 = ReadBytes(Container(PathOf("again.hex"), "again.bin"));
    EXPECT_EQ(c2, c1);
    // the writer's text is the generator's text: same records, same order
    EXPECT_EQ(ReadText(PathOf("again.hex")), ReadText(hex));
}

struct PackCase {
    const char* What;
    std::vector<std::string> SampleArgs;
    std::string Name, Version;
    int Type, Variant, Revision;
};

void PrintTo(const PackCase& c, std::ostream* os) { *os << c.What; }

class PackInfo : public ToolsTest, public ::testing::WithParamInterface<PackCase> {};

TEST_P(PackInfo, InfoShowsWhatWasPacked)
{
    const PackCase& c = GetParam();
    const std::string hex = Sample("fw.hex", c.SampleArgs);
    const std::string base = Base();
    const std::string updater = PathOf(ToolName("updater"));
    const TRun r = Nerid({"pack", hex, "-o", updater, "--base", base});
    ASSERT_EQ(r.Rc, 0) << r.Err;

    // base, then the container, then the trailer; the run bit is kept
    const ABytes exe = ReadBytes(updater);
    const ABytes baseBytes = ReadBytes(base);
    ASSERT_GT(exe.size(), baseBytes.size());
    EXPECT_TRUE(std::equal(baseBytes.begin(), baseBytes.end(), exe.begin()));
    ABytes payload;
    ASSERT_TRUE(ReadEmbeddedPackage(updater, payload));
    EXPECT_EQ(payload, ReadBytes(Container(hex, "fw.bin")));
    EXPECT_EQ(exe.size(), baseBytes.size() + payload.size() + 8);
    EXPECT_EQ(fs::status(updater).permissions(), fs::status(base).permissions());
    // still runs, and finds the package behind its own file
    const TRun run = RunProgram(updater, {}, PathOf("o"), PathOf("e"));
    EXPECT_EQ(run.Rc, 0) << run.Err;
    EXPECT_EQ(run.Out, std::to_string(payload.size()) + "\n");

    const nlohmann::json j = InfoJson(updater);
    EXPECT_EQ(j["name"], c.Name);
    EXPECT_EQ(j["version"], c.Version);
    EXPECT_EQ(j["type"], c.Type);
    EXPECT_EQ(j["variant"], c.Variant);
    EXPECT_EQ(j["revision"], c.Revision);
    EXPECT_EQ(j["date"], "2024-06");
    EXPECT_EQ(j["date_word"], 0x0624);
    EXPECT_EQ(j["end"], 0x3FFF);
    EXPECT_EQ(j["checksum"], j["checksum_computed"]);
    EXPECT_EQ(j["checksum_ok"], true);
    EXPECT_EQ(j["flash_lines"], 496);
    EXPECT_EQ(j["eeprom_lines"], 8);
    ASSERT_EQ(j["blocks"].size(), 2u);
    EXPECT_EQ(j["blocks"][0], (nlohmann::json{{"address", 0x400}, {"offset", 0}, {"length", 0x7C00}}));
    EXPECT_EQ(j["blocks"][1], (nlohmann::json{{"address", 0x1E000}, {"offset", 0x7C00}, {"length", 0x200}}));
    // the same from the HEX and from the container
    EXPECT_EQ(InfoJson(hex), j);
    EXPECT_EQ(InfoJson(PathOf("fw.bin")), j);

    const TRun text = Nerid({"info", updater});
    EXPECT_EQ(text.Rc, 0);
    EXPECT_NE(text.Out.find(c.Name), std::string::npos);
    EXPECT_NE(text.Out.find("flash lines:   496"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackInfo,
    ::testing::Values(PackCase{"default", {}, "SAMPLE", "1.05", 3, 2, 0},
                      PackCase{"cyrillic", {"--cyrillic"}, "Тестер-1", "1.05", 3, 2, 0},
                      PackCase{"other type",
                               {"--name", "Прибор", "--version", "2.1a", "--type", "7", "--variant", "3",
                                "--revision", "1"},
                               "Прибор", "2.1a", 7, 3, 1}));

TEST_F(ToolsTest, PackRefusesWhatTheUpdaterRefusesAndLeavesNoFile)
{
    ABytes c = ReadBytes(Container(Sample("a.hex"), "a.bin"));
    c[26 + 0x100] ^= 0x01; // a program byte
    WriteBytes(PathOf("bad.bin"), c);
    const std::string updater = PathOf("updater");
    WriteBytes(updater, {1, 2, 3});
    const TRun r = Nerid({"pack", PathOf("bad.bin"), "-o", updater, "--base", Base()});
    EXPECT_EQ(r.Rc, 1);
    EXPECT_EQ(r.Err, "0x0304: the program's checksum is 0x0F2E, its header says 0x0F2F (damaged firmware, or a "
                     "header not updated after a change)\n");
    EXPECT_EQ(ReadBytes(updater), (ABytes{1, 2, 3}));

    WriteBytes(PathOf("empty.bin"), {0, 0});
    const TRun e = Nerid({"pack", PathOf("empty.bin"), "-o", PathOf("u2"), "--base", Base()});
    EXPECT_EQ(e.Rc, 1);
    EXPECT_EQ(e.Err, "0x0303: the container holds no data (a file without firmware?)\n");
    EXPECT_FALSE(fs::exists(PathOf("u2")));

    // an unwritable output leaves no temporary file behind
    const TRun w = Nerid({"pack", PathOf("a.hex"), "-o", PathOf("missing-folder/u3"), "--base", Base()});
    EXPECT_NE(w.Rc, 0);
    const TRun d = Nerid({"pack", PathOf("a.hex"), "-o", Dir.string(), "--base", Base()}); // a folder
    EXPECT_NE(d.Rc, 0);
    for (const auto& entry : fs::directory_iterator(Dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(ToolsTest, PackWithoutBaseAsksForIt)
{
    // A copy of the tool in a folder of its own, so that no updater executable lies beside it.
    fs::create_directories(PathOf("alone"));
    const fs::path lone = fs::path(PathOf("alone")) / ToolName("nerid");
    fs::copy_file(Tools / ToolName("nerid"), lone);
    const TRun r = RunProgram(lone.string(), {"pack", Sample("a.hex"), "-o", PathOf("u")}, PathOf("out.txt"),
                              PathOf("err.txt"));
    EXPECT_NE(r.Rc, 0);
    EXPECT_NE(r.Err.find("--base"), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(PathOf("u")));
}

TEST_F(ToolsTest, InfoOfABadChecksumShowsBothAndFails)
{
    ABytes c = ReadBytes(Container(Sample("a.hex"), "a.bin"));
    c[26 + 0x100] ^= 0x01;
    WriteBytes(PathOf("bad.bin"), c);
    const TRun r = Nerid({"info", PathOf("bad.bin"), "--json"});
    EXPECT_EQ(r.Rc, 1);
    EXPECT_EQ(r.Err.rfind("0x0304: the program's checksum is 0x", 0), 0u) << r.Err;
    const nlohmann::json j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j["checksum_ok"], false);
    EXPECT_NE(j["checksum"], j["checksum_computed"]);
}

struct BadCase {
    const char* What;
    ABytes File;
    std::string Failure;
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.What; }

class InfoBad : public ToolsTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(InfoBad, PrintsTheCodeAndFails)
{
    WriteBytes(PathOf("f"), GetParam().File);
    const TRun r = Nerid({"info", PathOf("f")});
    EXPECT_EQ(r.Rc, 1);
    EXPECT_EQ(r.Err, GetParam().Failure + "\n");
    EXPECT_TRUE(r.Out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InfoBad,
    ::testing::Values(
        BadCase{"empty", {}, "0x0301: the container is shorter than its 2-byte block count (an empty or cut-off file?)"},
        BadCase{"one byte", {7}, "0x0301: the container is shorter than its 2-byte block count (an empty or cut-off file?)"},
        BadCase{"short table", {2, 0, 0, 0},
                "0x0302: the container is shorter than its block table (a cut-off file, or not a firmware package)"},
        BadCase{"no data", {0, 0}, "0x0303: the container holds no data (a file without firmware?)"},
        BadCase{"updater without payload", BytesConcat(ABytes(50, 0x90), PackageTrailer(0)),
                "0x0301: the updater's package is empty or its trailer is damaged (a cut-off copy?)"},
        BadCase{"trailer longer than the file", BytesConcat(ABytes(50, 0x90), PackageTrailer(51)),
                "0x0301: the updater's package is empty or its trailer is damaged (a cut-off copy?)"},
        BadCase{"HEX without data", {':', '0', '0', '0', '0', '0', '0', '0', '1', 'F', 'F'},
                "0x0303: the HEX file holds no data (a file without firmware?)"},
        BadCase{"no flash block", BytesConcat(BytesFromU16s({1}), BytesFromU32s({0x1E000, 0, 4, 0})),
                "0x0306: the container has no flash block with a 32-byte firmware header (a file without flash "
                "data?)"}));

TEST_F(ToolsTest, MissingFileAndHelp)
{
    const TRun m = Nerid({"info", PathOf("missing")});
    EXPECT_EQ(m.Rc, 1);
    EXPECT_EQ(m.Err, "0x0310: " + PathOf("missing") + " does not exist\n");
    EXPECT_EQ(Nerid({"container", PathOf("missing"), "-o", PathOf("x")}).Err,
              "0x0310: " + PathOf("missing") + " does not exist\n");
    for (const char* sub : {"container", "pack", "info"}) {
        const TRun h = Nerid({sub, "--help"});
        EXPECT_EQ(h.Rc, 0) << sub;
        EXPECT_NE(h.Out.find("Usage"), std::string::npos) << sub;
    }
    const TRun h = Nerid({"--help"});
    EXPECT_EQ(h.Rc, 0);
    for (const char* sub : {"container", "pack", "info"})
        EXPECT_NE(h.Out.find(sub), std::string::npos);
    EXPECT_EQ(Nerid({}).Rc, 2);
}

// The sample HEX as its lines (line ends dropped), and lines back to a file with CR LF ends.
std::vector<std::string> HexLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream f(path, std::ios::binary);
    for (std::string l; std::getline(f, l);) {
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        lines.push_back(l);
    }
    return lines;
}

std::string HexText(const std::vector<std::string>& lines)
{
    std::string t;
    for (const std::string& l : lines)
        t += l + "\r\n";
    return t;
}

// A damage done to the sample's lines (1-based line numbers as an editor shows them).
using TDamage = std::function<std::string(std::vector<std::string>)>;

struct HexCase {
    const char* What;
    TDamage Damage;
    std::string Refusal; // the whole of stderr but its line end ({file}: the damaged file's path); empty: the file
                         // is read as the sample itself
};

void PrintTo(const HexCase& c, std::ostream* os) { *os << c.What; }

class DamagedHex : public ToolsTest, public ::testing::WithParamInterface<HexCase> {};

// The sample: line 1 the flash block's extended address, 2..1985 flash data, 1986 the EEPROM's extended address
// (":020000040001F9"), 1987..2018 EEPROM data, 2019 the end-of-file record.
TEST_P(DamagedHex, IsRefusedWithItsLineOrReadAsTheSample)
{
    const std::string sample = Sample("s.hex");
    const std::vector<std::string> lines = HexLines(sample);
    ASSERT_EQ(lines.size(), 2019u);
    ASSERT_EQ(lines[1985], ":020000040001F9");
    std::ofstream(PathOf("d.hex"), std::ios::binary) << GetParam().Damage(lines);
    std::string refusal = GetParam().Refusal;
    if (const std::size_t at = refusal.find("{file}"); at != std::string::npos)
        refusal.replace(at, 6, PathOf("d.hex"));

    for (const char* command : {"pack", "container"}) {
        SCOPED_TRACE(command);
        const TRun r = Nerid(WriteArgs(command, PathOf("d.hex"), PathOf("out")));
        if (refusal.empty()) {
            EXPECT_EQ(r.Rc, 0) << r.Err;
            EXPECT_EQ(r.Err, "");
            continue;
        }
        EXPECT_EQ(r.Rc, 1);
        EXPECT_EQ(r.Err, refusal + "\n");
        EXPECT_FALSE(fs::exists(PathOf("out")));
        for (const auto& entry : fs::directory_iterator(Dir))
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }

    const TRun info = Nerid({"info", PathOf("d.hex"), "--json"});
    const nlohmann::json j = nlohmann::json::parse(info.Out); // one document whatever the outcome
    if (refusal.empty()) {
        EXPECT_EQ(info.Rc, 0);
        // the same firmware as the sample: same blocks, same container
        EXPECT_EQ(j, InfoJson(sample));
        EXPECT_EQ(ReadBytes(Container(PathOf("d.hex"), "d.bin")), ReadBytes(Container(sample, "s.bin")));
    } else {
        EXPECT_EQ(info.Rc, 1);
        EXPECT_EQ(j["error"]["code"], refusal.substr(0, 6));
        EXPECT_EQ(j["error"]["message"], refusal.substr(8));
    }
}

// Replaces line n (1-based) by text.
TDamage Replace(std::size_t n, std::string text)
{
    return [n, text](std::vector<std::string> l) {
        l.at(n - 1) = text;
        return HexText(l);
    };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedHex,
    ::testing::Values(
        HexCase{"one wrong digit in the EEPROM's extended address", Replace(1986, ":020000040001F8"),
                "0x0308: line 1986 has the checksum 0xF8, its bytes need 0xF9 (a changed or damaged byte; get the "
                "file again)"},
        HexCase{"a wrong checksum on an EEPROM data record",
                [](std::vector<std::string> l) {
                    l[1989].back() = l[1989].back() == '0' ? '1' : '0';
                    return HexText(l);
                },
                "0x0308: line 1990 has the checksum 0xD0, its bytes need 0xD4 (a changed or damaged byte; get the "
                "file again)"},
        HexCase{"no end-of-file record",
                [](std::vector<std::string> l) {
                    l.pop_back();
                    return HexText(l);
                },
                "0x0321: the file has no end-of-file record after its last line (2018): it was cut off; get the "
                "whole file again"},
        HexCase{"a line cut in the middle",
                [](std::vector<std::string> l) {
                    l[299].resize(20);
                    return HexText(l);
                },
                "0x0309: line 300 is cut short: 20 of its 43 characters (a download cut off? get the file again)"},
        HexCase{"a character that is not a hexadecimal digit",
                [](std::vector<std::string> l) {
                    l[49][12] = 'G';
                    return HexText(l);
                },
                "0x0401: line 50 has a character that is not a hexadecimal digit at column 13 (the file is "
                "damaged)"},
        HexCase{"a line too short for a record", Replace(60, ":0000"),
                "0x030A: line 60 is too short for a record (5 characters, a record has at least 11; the file is "
                "damaged)"},
        HexCase{"an extended address of one byte", Replace(1986, ":0100000401FA"),
                "0x0322: line 1986 is an extended-address record with 1 data byte instead of two (the file is "
                "damaged)"},
        HexCase{"two records at one address",
                [](std::vector<std::string> l) {
                    l.insert(l.begin() + 11, l[9]);
                    return HexText(l);
                },
                "0x0323: line 12 overlaps line 10 at 0x00000480 (two images merged? the file is damaged)"},
        HexCase{"no flash data",
                [](std::vector<std::string> l) { return HexText(std::vector<std::string>(l.begin() + 1985, l.end())); },
                "0x0306: the HEX file has no flash block with a 32-byte firmware header (a file without flash "
                "data?)"},
        HexCase{"text that is not Intel HEX", [](std::vector<std::string>) { return std::string("root:x:0:0::/root:/bin/sh\n"); },
                "0x0326: {file} is text but not Intel HEX (its first line does not start with ':')"},
        HexCase{"EEPROM records before the flash records",
                [](std::vector<std::string> l) {
                    std::vector<std::string> m(l.begin() + 1985, l.end() - 1);
                    m.insert(m.end(), l.begin(), l.begin() + 1985);
                    m.push_back(l.back());
                    return HexText(m);
                },
                ""},
        HexCase{"records in reverse order under their extended addresses",
                [](std::vector<std::string> l) {
                    std::reverse(l.begin() + 1, l.begin() + 1985);
                    std::reverse(l.begin() + 1986, l.end() - 1);
                    return HexText(l);
                },
                ""},
        HexCase{"a byte-order mark", [](std::vector<std::string> l) { return "\xEF\xBB\xBF" + HexText(l); }, ""},
        HexCase{"LF line ends and blank lines",
                [](std::vector<std::string> l) {
                    std::string t;
                    for (const std::string& s : l)
                        t += s + "\n\n";
                    return t;
                },
                ""}));

// A record of 16 data bytes at a 16-bit address, with its checksum.
std::string DataRecord(std::uint16_t address, std::uint8_t fill)
{
    THexRec r{16, 0, 0, address, ABytes(16, fill)};
    return r.ToText();
}

// Flash data past the header's end of program (0x8000 in the sample) do not change the program's checksum: the
// package passes the updater's checks, so reading only warns, naming the addresses; --strict refuses it.
TEST_F(ToolsTest, DataPastTheEndOfProgramWarnsAndStrictRefuses)
{
    std::vector<std::string> lines = HexLines(Sample("s.hex"));
    lines.insert(lines.begin() + 1985, DataRecord(0x9000, 0x5A)); // as a shifted record would land
    std::ofstream(PathOf("w.hex"), std::ios::binary) << HexText(lines);
    const std::string warnings =
        "warning 0x0331: a gap of 4096 bytes between 0x8000 (line 1985) and 0x9000 (line 1986) is filled with zeros "
        "(a shifted record?)\n"
        "warning 0x0330: flash data from line 1986 run to 0x9010, past the end of program 0x8000 the header states "
        "(a shifted record, or a header not updated?)\n";
    for (const char* command : {"container", "pack"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = WriteArgs(command, PathOf("w.hex"), PathOf("out"));
        TRun r = Nerid(args);
        EXPECT_EQ(r.Rc, 0) << r.Err;
        EXPECT_EQ(r.Err, warnings);
        EXPECT_TRUE(fs::exists(PathOf("out")));
        fs::remove(PathOf("out"));
        args.push_back("--strict");
        r = Nerid(args);
        EXPECT_EQ(r.Rc, 1);
        EXPECT_EQ(r.Err, "0x0331: a gap of 4096 bytes between 0x8000 (line 1985) and 0x9000 (line 1986) is filled "
                         "with zeros (a shifted record?) (refused: --strict)\n");
        EXPECT_FALSE(fs::exists(PathOf("out")));
    }
    const TRun info = Nerid({"info", PathOf("w.hex"), "--json"});
    EXPECT_EQ(info.Rc, 0);
    EXPECT_EQ(info.Err, warnings);
    EXPECT_EQ(nlohmann::json::parse(info.Out)["blocks"][0]["length"], 0x9010 - 0x400);
}

// What container and pack take as input and as base, each refusal in words and without an output file.
TEST_F(ToolsTest, InputsOfTheWrongKindAreRefused)
{
    const std::string hex = Sample("s.hex");
    const std::string base = Base();
    WriteBytes(PathOf("random.bin"), {0x9C, 0x41, 0x07, 0xEE, 0x13, 0x80, 0x55, 0x2A, 0xD1});
    std::ofstream(PathOf("passwd")) << "root:x:0:0:root:/root:/bin/bash\n";
    ASSERT_EQ(Nerid({"pack", hex, "-o", PathOf("u1"), "--base", base}).Rc, 0);
    struct TCase {
        std::vector<std::string> Args;
        std::string Err;
    };
    const std::vector<TCase> cases = {
        {{"container", base, "-o", PathOf("out")},
         "0x0301: " + base +
             " is an executable without a firmware package (a cut-off copy of an updater, or a base executable: make "
             "an updater with nerid pack)"},
        {{"container", PathOf("random.bin"), "-o", PathOf("out")},
         "0x0302: the container is shorter than its block table (a cut-off file, or not a firmware package)"},
        {{"container", PathOf("passwd"), "-o", PathOf("out")},
         "0x0326: " + PathOf("passwd") + " is text but not Intel HEX (its first line does not start with ':')"},
        {{"container", PathOf("u1"), "-o", PathOf("out")},
         PathOf("u1") + " is an updater executable, not Intel HEX or a block container: nerid info shows its package"},
        {{"pack", hex, "-o", PathOf("out"), "--base", PathOf("passwd")},
         "--base " + PathOf("passwd") +
             " is not an executable (ELF or PE): pass the updater executable without a package"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Args[0] + " " + c.Args[1] + (c.Args.size() > 4 ? " --base " + c.Args[5] : ""));
        const TRun r = Nerid(c.Args);
        EXPECT_EQ(r.Rc, 1);
        EXPECT_EQ(r.Err, c.Err + "\n");
        EXPECT_FALSE(fs::exists(PathOf("out")));
    }
}

// An updater given as the base is cut back to the executable it was made from: it never carries two packages, and
// packing the same firmware again gives the same bytes.
TEST_F(ToolsTest, RepackingReplacesThePackage)
{
    const std::string hex = Sample("s.hex");
    const std::string other = Sample("o.hex", {"--name", "OTHER"});
    const std::string base = Base();
    ASSERT_EQ(Nerid({"pack", hex, "-o", PathOf("u1"), "--base", base}).Rc, 0);
    ASSERT_EQ(Nerid({"pack", other, "-o", PathOf("o1"), "--base", base}).Rc, 0);

    TRun r = Nerid({"pack", hex, "-o", PathOf("u2"), "--base", PathOf("u1")});
    ASSERT_EQ(r.Rc, 0) << r.Err;
    EXPECT_EQ(r.Out, "replaced the firmware package that " + PathOf("u1") + " carried\n");
    EXPECT_EQ(ReadBytes(PathOf("u2")), ReadBytes(PathOf("u1")));

    // Another firmware over an updater: the same file as that firmware packed on the bare base.
    r = Nerid({"pack", other, "-o", PathOf("o2"), "--base", PathOf("u2")});
    ASSERT_EQ(r.Rc, 0) << r.Err;
    EXPECT_EQ(ReadBytes(PathOf("o2")), ReadBytes(PathOf("o1")));
    EXPECT_EQ(InfoJson(PathOf("o2"))["name"], "OTHER");

    // A trailer whose length does not fit the file: nothing tells where the base ends, so it is refused.
    ABytes broken = ReadBytes(PathOf("u1"));
    broken.back() = 0x7F;
    WriteBytes(PathOf("broken"), broken);
    r = Nerid({"pack", hex, "-o", PathOf("out"), "--base", PathOf("broken")});
    EXPECT_EQ(r.Rc, 1);
    EXPECT_EQ(r.Err, "--base " + PathOf("broken") +
                         " ends with a damaged firmware package (its trailer's length does not fit the file): pass "
                         "the updater executable without a package\n");
    EXPECT_FALSE(fs::exists(PathOf("out")));
}

// --target picks the base of that platform: beside nerid first, then in ../share/nerid (where the Linux package
// installs the Windows base); --base wins but must be of the target's kind. The bases here are the first bytes of
// each kind of executable, which is all pack looks at.
TEST_F(ToolsTest, PackTargetFindsItsBase)
{
    const std::string hex = Sample("s.hex");
    ABytes pe(0x80, 0);
    pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = 0x40, pe[0x40] = 'P', pe[0x41] = 'E';
    const ABytes elf = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const fs::path root = PathOf("inst");
    fs::create_directories(root / "bin");
    fs::create_directories(root / "share" / "nerid");
    const fs::path nerid = root / "bin" / ToolName("nerid");
    fs::copy_file(Tools / ToolName("nerid"), nerid);
    WriteBytes((root / "share" / "nerid" / "nerid-programmer.exe").string(), pe);
    WriteBytes((root / "share" / "nerid" / "nerid-programmer").string(), elf);
    auto pack = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"pack", hex, "-o", PathOf("out")});
        fs::remove(PathOf("out"));
        return RunProgram(nerid.string(), args, PathOf("out.txt"), PathOf("err.txt"));
    };
    auto startsWith = [&](const ABytes& head) {
        const ABytes out = ReadBytes(PathOf("out"));
        return out.size() > head.size() && std::equal(head.begin(), head.end(), out.begin());
    };

    for (const auto& [target, head] : {std::pair{"windows", pe}, std::pair{"linux", elf}}) {
        SCOPED_TRACE(target);
        const TRun r = pack({"--target", target});
        ASSERT_EQ(r.Rc, 0) << r.Err;
        EXPECT_TRUE(startsWith(head));
        EXPECT_EQ(InfoJson(PathOf("out"))["name"], "SAMPLE");
    }

    // A base beside nerid comes before the installed one.
    ABytes besidePe = pe;
    besidePe[0x7F] = 0x42;
    WriteBytes((root / "bin" / "nerid-programmer.exe").string(), besidePe);
    ASSERT_EQ(pack({"--target", "windows"}).Rc, 0);
    EXPECT_TRUE(startsWith(besidePe));

    TRun r = pack({"--target", "linux", "--base", (root / "bin" / "nerid-programmer.exe").string()});
    EXPECT_EQ(r.Rc, 1);
    EXPECT_EQ(r.Err, "--base " + (root / "bin" / "nerid-programmer.exe").string() +
                         " is a Windows executable, not one for linux: pass the matching --base or --target\n");
    EXPECT_FALSE(fs::exists(PathOf("out")));

    fs::remove(root / "bin" / "nerid-programmer.exe");
    fs::remove(root / "share" / "nerid" / "nerid-programmer.exe");
    r = pack({"--target", "windows"});
    EXPECT_EQ(r.Rc, 1);
    EXPECT_NE(r.Err.find("no updater executable for windows (looked for "), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(PathOf("out")));

    r = pack({"--target", "macos"});
    EXPECT_EQ(r.Rc, 2) << r.Err;
}

// A command line the tool cannot read exits 2 and names what was probably meant; no library text reaches the user.
TEST_F(ToolsTest, UsageErrorsNameTheNearestCommand)
{
    TRun r = Nerid({"flsh", "x.hex"});
    EXPECT_EQ(r.Rc, 2);
    EXPECT_EQ(r.Err.rfind("nerid: unknown command 'flsh'; did you mean 'nerid flash'?\n", 0), 0u) << r.Err;
    r = Nerid({"pack", Sample("s.hex"), "-o", PathOf("u"), "--stric"});
    EXPECT_EQ(r.Rc, 2);
    EXPECT_NE(r.Err.find("did you mean --strict?"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.rfind("nerid pack: ", 0), 0u) << r.Err;
    EXPECT_FALSE(fs::exists(PathOf("u")));
}

// --json prints one document on stdout whatever happens: the results, or the refusal as {"error": ...}.
TEST_F(ToolsTest, JsonIsOneDocumentInEveryOutcome)
{
    const std::string hex = Sample("s.hex", {"--flash-bytes", "256"});
    std::ofstream(PathOf("empty.json")) << R"({"devices": []})";
    std::ofstream(PathOf("other.json")) << R"({"nothing": 1})";
    struct TCase {
        std::vector<std::string> Args;
        int Rc;
        std::string Code; // "" : the results; "-": an error without a code
        std::string Message;
    };
    const std::vector<TCase> cases = {
        {{"info", hex, "--json"}, 0, "", ""},
        {{"info", PathOf("missing"), "--json"}, 1, "0x0310", PathOf("missing") + " does not exist"},
        {{"verify", PathOf("empty.json"), hex, "--json"}, 1, "-",
         PathOf("empty.json") + " holds no device: was the simulator started with --count 0, or the dump taken from "
                                "another run?"},
        {{"verify", PathOf("other.json"), hex, "--json"}, 1, "-",
         PathOf("other.json") + " is not a simulator dump (nerid sim --dump writes one)"},
        {{"verify", PathOf("missing.json"), hex, "--json"}, 1, "-",
         "cannot read " + PathOf("missing.json") + ": no such file"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Args[0] + " " + c.Args[1]);
        const TRun r = Nerid(c.Args);
        EXPECT_EQ(r.Rc, c.Rc);
        const nlohmann::json j = nlohmann::json::parse(r.Out);
        if (c.Code.empty()) {
            EXPECT_FALSE(j.contains("error"));
            continue;
        }
        EXPECT_EQ(j["error"]["code"], c.Code == "-" ? nlohmann::json() : nlohmann::json(c.Code));
        EXPECT_EQ(j["error"]["message"], c.Message);
        EXPECT_EQ(r.Err, (c.Code == "-" ? "" : c.Code + ": ") + c.Message + "\n");
    }
}

TEST_F(ToolsTest, SampleGeneratorRefusesWhatItCannotWrite)
{
    struct TCase {
        std::string Name, Err;
    };
    for (const TCase& c :
         {TCase{"ABCDEFGHIJKLMNOP", "bad --name ABCDEFGHIJKLMNOP: 16 characters, the header holds at most 10\n"},
          TCase{"日本", "bad --name 日本: it has characters outside code page 1251 (Latin and Cyrillic letters, digits "
                      "and common signs), which the header cannot hold\n"}}) {
        const TRun r = Run("nerid-sample-firmware", {"-o", PathOf("n.hex"), "--name", c.Name});
        EXPECT_EQ(r.Rc, 2);
        EXPECT_EQ(r.Err, c.Err);
        EXPECT_FALSE(fs::exists(PathOf("n.hex")));
    }
    EXPECT_EQ(Run("nerid-sample-firmware", {"-o", PathOf("n.hex"), "--name", "Прибор-10X"}).Rc, 0); // ten fit
    const TRun w = Run("nerid-sample-firmware", {"-o", PathOf("no/n.hex")});
    EXPECT_EQ(w.Rc, 1);
    EXPECT_EQ(w.Err, "cannot write " + PathOf("no/n.hex") + ": no such folder " + PathOf("no") + "\n");
}

} // namespace

namespace {

// A simulator dump whose one device holds `lines` (flash) and `ee` (EEPROM), as `nerid sim --dump` writes it.
nlohmann::json DumpHolding(const AZorelBootLoaderDataLines& lines, const AZorelBootLoaderDataLines& ee)
{
    auto runs = [](const AZorelBootLoaderDataLines& ls, const char* key) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& l : ls)
            out.push_back({{key, l.A}, {"data", BytesToText(l.D, "", true)}});
        return out;
    };
    return {{"devices",
             {{{"path", "/dev/pts/9"},
               {"resets", 1},
               {"lines_written", lines.size() + ee.size()},
               {"flash", runs(lines, "address")},
               {"eeprom", runs(ee, "offset")}}}}};
}

TEST_F(ToolsTest, VerifyTellsWhetherADeviceHoldsThePackage)
{
    const std::string hex = Sample("v.hex", {"--flash-bytes", "256"});
    TZorelBootLoaderHexDataFile fh;
    const TPackageContents p = CheckPackage(fh, ReadBytes(Container(hex, "v.bin")));
    auto write = [&](const nlohmann::json& j) {
        std::ofstream(PathOf("dump.json")) << j.dump();
        return PathOf("dump.json");
    };
    TRun r = Nerid({"verify", write(DumpHolding(p.FL, p.EE)), hex});
    EXPECT_EQ(r.Rc, 0) << r.Err;
    EXPECT_NE(r.Out.find("/dev/pts/9: holds the firmware"), std::string::npos) << r.Out;

    // One byte off, a line missing, the EEPROM missing: each is "does not hold".
    AZorelBootLoaderDataLines changed = p.FL;
    changed[1].D[5] ^= 0x01;
    AZorelBootLoaderDataLines shorter(p.FL.begin(), p.FL.end() - 1);
    for (const nlohmann::json& j : {DumpHolding(changed, p.EE), DumpHolding(shorter, p.EE), DumpHolding(p.FL, {})}) {
        r = Nerid({"verify", write(j), hex});
        EXPECT_EQ(r.Rc, 1);
        EXPECT_NE(r.Out.find("does not hold the firmware"), std::string::npos) << r.Out;
    }
    r = Nerid({"verify", write(nlohmann::json{{"nothing", 1}}), hex});
    EXPECT_EQ(r.Rc, 1);
    EXPECT_NE(r.Err.find("is not a simulator dump"), std::string::npos) << r.Err;
}

} // namespace
