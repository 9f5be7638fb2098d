// The nerid tool and the sample firmware generator, run as processes from the build folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "base/error.h"
#include "package/datafile.h"
#include "package/embedded.h"
#include "package/validate.h"
#include "tests/package/test_files.h"
#include "tests/cli/process.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class ToolsTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        const std::string tools = ToolsFolder();
        ASSERT_FALSE(tools.empty()) << "no tools folder (NERID_BUILD_DIR is not set)";
        Tools = fs::path(tools);
        ASSERT_TRUE(fs::exists(Tools / ToolName("nerid")));
    }

    // Runs a tool of the build folder with the arguments; captures its exit code and output.
    TRun Run(const std::string& tool, const std::vector<std::string>& args)
    {
        return RunProgram((Tools / ToolName(tool)).string(), args, PathOf("out.txt"), PathOf("err.txt"));
    }

    TRun Nerid(const std::vector<std::string>& args) { return Run("nerid", args); }

    std::string Sample(const std::string& name, const std::vector<std::string>& args = {})
    {
        std::vector<std::string> a = {"-o", PathOf(name)};
        a.insert(a.end(), args.begin(), args.end());
        const TRun r = Run("nerid-sample-firmware", a);
        EXPECT_EQ(r.Rc, 0) << r.Err;
        return PathOf(name);
    }

    std::string Container(const std::string& hex, const std::string& name)
    {
        const TRun r = Nerid({"container", hex, "-o", PathOf(name)});
        EXPECT_EQ(r.Rc, 0) << r.Err;
        return PathOf(name);
    }

    // A small executable to put a package behind: it ends with status 0.
    std::string Base()
    {
        const std::string p = PathOf(ToolName("base"));
        fs::copy_file(fs::path(OwnExecutablePath()).parent_path() / ToolName("test_tools_base"), p,
                      fs::copy_options::overwrite_existing);
        fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
        return p;
    }

    nlohmann::json InfoJson(const std::string& file)
    {
        const TRun r = Nerid({"info", file, "--json"});
        EXPECT_EQ(r.Rc, 0) << r.Err;
        return nlohmann::json::parse(r.Out);
    }

    fs::path Tools;
};

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
    EXPECT_EQ(j["date"], 0x0624);
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
    EXPECT_NE(r.Rc, 0);
    EXPECT_EQ(r.Err, "0x0304\n");
    EXPECT_EQ(ReadBytes(updater), (ABytes{1, 2, 3}));

    WriteBytes(PathOf("empty.bin"), {0, 0});
    const TRun e = Nerid({"pack", PathOf("empty.bin"), "-o", PathOf("u2"), "--base", Base()});
    EXPECT_NE(e.Rc, 0);
    EXPECT_EQ(e.Err, "0x0303\n");
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
    EXPECT_EQ(r.Err, "0x0304\n");
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
    ::testing::Values(BadCase{"empty", {}, "0x0301"}, BadCase{"one byte", {7}, "0x0301"},
                      BadCase{"short table", {2, 0, 0, 0}, "0x0302"}, BadCase{"no data", {0, 0}, "0x0303"},
                      BadCase{"updater without payload", BytesConcat(ABytes(50, 0x90), PackageTrailer(0)), "0x0301"},
                      BadCase{"trailer longer than the file", BytesConcat(ABytes(50, 0x90), PackageTrailer(51)),
                              "0x0301"},
                      BadCase{"HEX without data", {':', '0', '0', '0', '0', '0', '0', '0', '1', 'F', 'F'}, "0x0303"},
                      BadCase{"no flash block", BytesConcat(BytesFromU16s({1}), BytesFromU32s({0x1E000, 0, 4, 0})),
                              "0x0306"}));

TEST_F(ToolsTest, MissingFileAndHelp)
{
    const TRun m = Nerid({"info", PathOf("missing")});
    EXPECT_EQ(m.Rc, 1);
    EXPECT_EQ(m.Err, "0x0310\n");
    EXPECT_EQ(Nerid({"container", PathOf("missing"), "-o", PathOf("x")}).Err, "0x0310\n");
    for (const char* sub : {"container", "pack", "info"}) {
        const TRun h = Nerid({sub, "--help"});
        EXPECT_EQ(h.Rc, 0) << sub;
        EXPECT_NE(h.Out.find("Usage"), std::string::npos) << sub;
    }
    const TRun h = Nerid({"--help"});
    EXPECT_EQ(h.Rc, 0);
    for (const char* sub : {"container", "pack", "info"})
        EXPECT_NE(h.Out.find(sub), std::string::npos);
    EXPECT_NE(Nerid({}).Rc, 0);
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
