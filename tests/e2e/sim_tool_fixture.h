// The fixture of the tests that run the build's tools as processes against `nerid sim` on real pseudo-terminals:
// the tools folder, a virtual-port folder of the test's own (so discovery sees only the test's simulators), and
// simulators started and stopped. Used by the end-to-end tests and the station tests (POSIX).
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "dev/child/child_process.h"
#include "serial/comport.h"
#include "serial/virtual_ports.h"
#include "tests/package/test_files.h"
#include "timing/timing.h"

inline std::string ReadText(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A port discovery lists that is not one of the simulators' virtual ports (empty: none). A test that lets the tool
// search by discovery must not run where one exists: it would write to a device it did not create.
inline std::string ForeignPort()
{
    for (const std::string& p : TBasicComPortCtrl::ListPorts())
        if (std::filesystem::path(p).parent_path() != std::filesystem::path(VirtualPortsFolder()))
            return p;
    return "";
}

// One `nerid sim`: its ports, its dump file.
struct TSim {
    std::unique_ptr<TChild> Proc;
    std::vector<std::string> Ports;
    std::string DumpPath;
};

class SimToolTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        const char* b = std::getenv("NERID_BUILD_DIR");
        ASSERT_NE(b, nullptr) << "NERID_BUILD_DIR is not set";
        Tools = std::filesystem::path(b) / "bin";
        ASSERT_TRUE(std::filesystem::exists(Tools / "nerid"));
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        OldRuntime = old ? std::optional<std::string>(old) : std::nullopt;
        const std::string runtime = PathOf("run");
        ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    void TearDown() override
    {
        Sims.clear();
        if (OldRuntime)
            ::setenv("XDG_RUNTIME_DIR", OldRuntime->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        TempDirTest::TearDown();
    }

    // The command line of a tool of the build folder.
    std::vector<std::string> Argv(const std::string& tool, const std::vector<std::string>& args)
    {
        std::vector<std::string> a = {(Tools / tool).string()};
        a.insert(a.end(), args.begin(), args.end());
        return a;
    }

    // Starts `nerid sim` with count devices and a dump; returns once it has printed its ports. The reference stays
    // valid as more simulators start.
    TSim& StartSim(int count, const std::vector<std::string>& extra = {})
    {
        TSim s;
        s.DumpPath = PathOf("dump-" + std::to_string(++Runs) + ".json");
        std::vector<std::string> args = {"sim", "--count", std::to_string(count), "--dump", s.DumpPath};
        args.insert(args.end(), extra.begin(), extra.end());
        s.Proc = std::make_unique<TChild>(Argv("nerid", args), "", PathOf("sim-" + std::to_string(Runs) + ".err"));
        s.Ports = s.Proc->ReadLines(static_cast<std::size_t>(count), 5000);
        EXPECT_EQ(s.Ports.size(), static_cast<std::size_t>(count));
        Sims.push_back(std::move(s));
        return Sims.back();
    }
    // Ends a simulator as Ctrl-C would and returns its final dump.
    static nlohmann::json StopSim(TSim& s)
    {
        s.Proc->Signal(SIGTERM);
        EXPECT_EQ(s.Proc->Wait().Rc, 0);
        std::ifstream f(s.DumpPath);
        return nlohmann::json::parse(f);
    }

    // Runs a tool of the build folder with its stdout on a pseudo-terminal of the test's own and collects all it
    // writes there until it closes the terminal (at most limitMs: then the test fails). Sets Rc to its exit code.
    std::string RunOnTerminal(const std::vector<std::string>& argv, double limitMs, int& Rc)
    {
        Rc = -1;
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master, 0);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return "";
        }
        std::string text;
        {
            TChild tool(argv, ptsname(master), PathOf("tty.err"));
            const double end = NowMs() + limitMs;
            while (NowMs() < end) {
                pollfd p{master, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0) {
                    char buf[512];
                    const ssize_t n = ::read(master, buf, sizeof buf);
                    if (n <= 0)
                        break; // the tool has closed the terminal
                    text.append(buf, static_cast<std::size_t>(n));
                }
            }
            EXPECT_LT(NowMs(), end) << "still writing to its terminal after " << limitMs << " ms: " << text;
            Rc = tool.Wait().Rc;
        }
        ::close(master);
        return text;
    }

    static std::vector<std::string> PortArgs(const std::vector<std::string>& ports)
    {
        std::vector<std::string> a;
        for (const std::string& p : ports) {
            a.push_back("--port");
            a.push_back(p);
        }
        return a;
    }

    std::filesystem::path Tools;
    std::optional<std::string> OldRuntime;
    std::deque<TSim> Sims;
    int Runs = 0; // numbers the files of simulators and runs
};
