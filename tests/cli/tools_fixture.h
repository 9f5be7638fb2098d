// The fixture of the tool tests: runs nerid and the sample generator of the build folder as processes, in a
// temporary folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "base/utf8_path.h"
#include "package/embedded.h"
#include "tests/package/test_files.h"
#include "tests/cli/process.h"

inline std::string ReadText(const std::filesystem::path& p)
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
        Tools = std::filesystem::path(tools);
        ASSERT_TRUE(std::filesystem::exists(Tools / ToolName("nerid")));
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
        namespace fs = std::filesystem;
        fs::copy_file(Utf8Path(OwnExecutablePath()).parent_path() / ToolName("test_tools_base"), p,
                      fs::copy_options::overwrite_existing);
        fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
        return p;
    }

    // `command input -o out` for pack or container; pack gets the small base.
    std::vector<std::string> WriteArgs(const std::string& command, const std::string& input, const std::string& out)
    {
        std::vector<std::string> args = {command, input, "-o", out};
        if (command == "pack")
            args.insert(args.end(), {"--base", Base()});
        return args;
    }

    nlohmann::json InfoJson(const std::string& file)
    {
        const TRun r = Nerid({"info", file, "--json"});
        EXPECT_EQ(r.Rc, 0) << r.Err;
        return nlohmann::json::parse(r.Out);
    }

    std::filesystem::path Tools;
};
