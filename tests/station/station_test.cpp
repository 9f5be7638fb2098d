// The production station (`nerid flash --watch`) end to end: `nerid sim --replug` plays fixtures fed board after
// board, the station is a process of the build folder, its records are read as JSON lines. Every test has its own
// virtual-port folder, so discovery sees only the test's own fixtures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/format.h"
#include "cli/firmware.h"
#include "cli/memory_map.h"
#include "dev/child/child_process.h"
#include "tests/e2e/sim_tool_fixture.h"
#include "package/validate.h"
#include "serial/comport.h"
#include "serial/virtual_ports.h"
#include "tests/package/test_files.h"
#include "timing/timing.h"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

// Every line of a records file or of the station's output, each parsed as one JSON object; a line that is not one
// fails the test.
std::vector<json> JsonLines(const std::string& text)
{
    std::vector<json> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        try {
            out.push_back(json::parse(line));
        } catch (const std::exception& e) {
            ADD_FAILURE() << "not a JSON line: \"" << line << "\": " << e.what();
        }
    }
    return out;
}

#define SKIP_IF_THE_MACHINE_HAS_PORTS()                                                                                \
    if (const std::string own = ForeignPort(); !own.empty())                                                           \
    GTEST_SKIP() << "discovery lists " << own << ", a port of this machine: a test writes only to its own ports"

class StationTest : public SimToolTest {
protected:
    void SetUp() override
    {
        SimToolTest::SetUp();
        if (HasFatalFailure())
            return;
        Out = PathOf("station.out");
        Err = PathOf("station.err");
        Pkg = PathOf("pkg.hex");
        TChild gen(Argv("nerid-sample-firmware", {"-o", Pkg, "--flash-bytes", "256", "--eeprom-bytes", "128"}), "",
                   PathOf("gen.err"));
        ASSERT_EQ(gen.Wait().Rc, 0);
        TZorelBootLoaderHexDataFile FH;
        Lines = CheckPackage(FH, FirmwareContainer(Pkg));
    }
    // Ends a simulator as Ctrl-C would; every board it has had, in line order.
    static json StopSimBoards(TSim& s) { return StopSim(s)["devices"]; }

    // The station as a process, its stdout into Out and its stderr into Err.
    std::unique_ptr<TChild> Station(const std::vector<std::string>& args)
    {
        std::vector<std::string> a = {"flash", Pkg, "--watch"};
        a.insert(a.end(), args.begin(), args.end());
        return std::make_unique<TChild>(Argv("nerid", a), Out, Err);
    }
    // Waits for the station's end; a station still running after limitMs is killed and the test fails.
    int WaitStation(TChild& c, double limitMs)
    {
        std::atomic<bool> ended{false};
        std::thread watchdog([&] {
            const double end = NowMs() + limitMs;
            while (!ended && NowMs() < end)
                ::usleep(20 * 1000);
            if (!ended) {
                ADD_FAILURE() << "the station is still running after " << limitMs << " ms";
                c.Signal(SIGKILL);
            }
        });
        const int rc = c.Wait().Rc;
        ended = true;
        watchdog.join();
        return rc;
    }
    // Waits until the records file holds at least n lines for which pick is true (at most limitMs).
    bool WaitForRecords(const std::string& path, std::size_t n, const std::function<bool(const json&)>& pick,
                        double limitMs)
    {
        const double end = NowMs() + limitMs;
        while (NowMs() < end) {
            std::size_t got = 0;
            const std::string text = ReadText(path);
            std::istringstream in(text);
            std::string line;
            while (std::getline(in, line))
                got += json::accept(line) && pick(json::parse(line));
            if (got >= n)
                return true;
            ::usleep(50 * 1000);
        }
        return false;
    }

    // The boards of a dump that were programmed: each holds the package and was reset once.
    void ExpectProgrammed(const json& board)
    {
        EXPECT_EQ(DumpMemory(board["flash"], "address"), LinesMemory(Lines.FL)) << board["identity"]["id"];
        EXPECT_EQ(DumpMemory(board["eeprom"], "offset"), LinesMemory(Lines.EE)) << board["identity"]["id"];
        EXPECT_EQ(board["resets"], 1) << board["identity"]["id"];
    }

    std::string Pkg;
    TPackageContents Lines;
    std::string Out, Err; // the station's stdout and stderr, in the test's folder
};

// Three fixtures fed board after board: with --count 9 every board answering is programmed exactly once, each record
// is written to the output and to the records file, and each board that got a record holds the package.
TEST_F(StationTest, ProgramsEveryBoardExactlyOnceAcrossFixtures)
{
    TSim& sim = StartSim(3, {"--replug", "0.5"});
    const std::string log = PathOf("records.jsonl");
    auto args = PortArgs(sim.Ports);
    args.insert(args.end(), {"--json", "--count", "9", "--log", log});
    const double t0 = NowMs();
    auto station = Station(args);
    ASSERT_EQ(WaitStation(*station, 60000), 0) << ReadText(Err);
    const double took = NowMs() - t0;

    const std::string out = ReadText(Out);
    EXPECT_EQ(ReadText(log), out); // the same lines, in the same order
    const std::vector<json> records = JsonLines(out);
    ASSERT_EQ(records.size(), 9u) << out;
    std::set<std::int64_t> ids;
    const std::regex iso("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z");
    for (const json& r : records) {
        EXPECT_EQ(r["result"], "programmed") << r;
        EXPECT_EQ(r["state"], "needed");
        EXPECT_EQ(r["words"], "programmed");
        EXPECT_EQ(r["version_before"], "1.00");
        EXPECT_GT(r["duration_ms"].get<int>(), 0);
        EXPECT_TRUE(std::regex_match(r["finished"].get<std::string>(), iso)) << r["finished"];
        const std::int64_t id = r["id"];
        EXPECT_TRUE(ids.insert(id).second) << "board " << id << " has two records";
        // Line k plugs in boards k+1, k+1+3, k+1+6, ...
        EXPECT_EQ(r["port"], sim.Ports[static_cast<std::size_t>((id - 1) % 3)]) << r;
    }
    // The fixtures worked side by side: nine boards in well under nine times one fixture's cycle.
    EXPECT_LT(took, 30000.0);
    EXPECT_NE(ReadText(Err).find("programmed 9, failed 0, skipped 0"), std::string::npos) << ReadText(Err);

    const json boards = StopSimBoards(sim);
    std::set<std::int64_t> reset;
    for (const json& b : boards) {
        if (b["resets"] == 0) {
            EXPECT_EQ(b["lines_written"], 0) << b["identity"]["id"]; // the next boards, never touched
            continue;
        }
        ExpectProgrammed(b);
        reset.insert(b["identity"]["id"].get<std::int64_t>());
        // Each line written once: a board is programmed once per placement.
        EXPECT_EQ(b["lines_written"], static_cast<int>(Lines.FL.size() + Lines.EE.size()));
    }
    EXPECT_EQ(reset, ids);
}

// Discovery as a production line meets it, all at once: a clean fixture; a fixture whose boards all stop answering at
// line 2 (each reported failed once, then the next board is taken); a fixture unplugged mid-board (its simulator
// stopped), recorded failed while the others go on; and an adapter plugged in after the station started.
TEST_F(StationTest, FailuresAreReportedOncePerBoardAndTheOthersGoOn)
{
    SKIP_IF_THE_MACHINE_HAS_PORTS();
    TSim& clean = StartSim(1, {"--replug", "0.3"});
    TSim& failing = StartSim(1, {"--replug", "0.3", "--fault", "stop=2", "--id", "100"});
    TSim& unplugged = StartSim(1, {"--write-ms", "500", "--id", "200"});
    const std::string log = PathOf("records.jsonl");
    auto station = Station({"--json", "--log", log});

    // The slow fixture is programming its board (six lines of 0.5 s): unplug it half-way.
    ::usleep(1500 * 1000);
    StopSimBoards(unplugged);
    TSim& late = StartSim(1, {"--replug", "0.3", "--id", "300"});

    const auto failed = [](const json& r) { return r["result"] == "failed" && r["id"] >= 100 && r["id"] < 200; };
    EXPECT_TRUE(WaitForRecords(log, 2, failed, 60000)) << ReadText(log);
    station->Signal(SIGINT);
    EXPECT_EQ(WaitStation(*station, 30000), 1) << ReadText(Err); // boards failed
    const std::string out = ReadText(Out);
    EXPECT_EQ(ReadText(log), out);

    std::map<std::int64_t, std::vector<json>> byId;
    for (const json& r : JsonLines(out))
        byId[r["id"].get<std::int64_t>()].push_back(r);
    int programmed = 0, failedBoards = 0, lateBoards = 0, failedRecords = 0, interrupted = 0;
    for (const auto& [id, rs] : byId) {
        ASSERT_EQ(rs.size(), 1u) << "board " << id << " has " << rs.size() << " records";
        const json& r = rs[0];
        // A board under way at the Ctrl-C ends with its line, unreset: "interrupted" (at most one a fixture).
        if (r["result"] == "interrupted" && (id < 100 || id >= 300)) {
            ++interrupted;
            ++failedRecords;
            continue;
        }
        if (id < 100) {
            EXPECT_EQ(r["port"], clean.Ports[0]);
            EXPECT_EQ(r["result"], "programmed");
            ++programmed;
        } else if (id < 200) {
            EXPECT_EQ(r["port"], failing.Ports[0]);
            EXPECT_EQ(r["result"], "failed");
            EXPECT_EQ(r["words"], "failed at flash line 2 (address 0x0480)");
            EXPECT_EQ(r["code"], "0xF002");
            ++failedBoards;
        } else if (id < 300) {
            EXPECT_EQ(id, 200);
            EXPECT_EQ(r["port"], unplugged.Ports[0]);
            EXPECT_EQ(r["result"], "failed");
            EXPECT_NE(r["words"], "");
        } else {
            EXPECT_EQ(r["port"], late.Ports[0]);
            EXPECT_EQ(r["result"], "programmed");
            ++lateBoards;
        }
        failedRecords += r["result"] == "failed";
    }
    EXPECT_LE(interrupted, 2);
    EXPECT_TRUE(byId.count(200)) << out;
    EXPECT_GE(failedBoards, 2);
    EXPECT_GE(programmed, 3);
    EXPECT_GE(lateBoards, 1);
    EXPECT_NE(ReadText(Err).find(Format("programmed %d, failed %d, skipped 0", programmed + lateBoards,
                                        failedRecords)),
              std::string::npos)
        << ReadText(Err);

    // The failing fixture: the boards with a record were each tried once (line 2 three times), and never reset.
    for (const json& b : StopSimBoards(failing)) {
        const std::int64_t id = b["identity"]["id"];
        if (!byId.count(id))
            continue;
        EXPECT_EQ(b["resets"], 0);
        EXPECT_EQ(b["lines_written"], 2);
        int line2 = 0;
        for (const json& f : b["frames"])
            line2 += f["cmd"] == 2 && f["address"] == Lines.FL[2].A;
        EXPECT_EQ(line2, 6) << id; // three attempts of a frame and its re-send
    }
    for (const json& b : StopSimBoards(clean))
        if (const auto r = byId.find(b["identity"]["id"].get<std::int64_t>());
            r != byId.end() && r->second[0]["result"] == "programmed")
            ExpectProgrammed(b);
}

// The records file after the station is killed outright: whole JSON lines only, and a later station appends to it.
TEST_F(StationTest, RecordsFileHoldsWholeLinesAfterAKill)
{
    TSim& sim = StartSim(4, {"--replug", "0.1"});
    const std::string log = PathOf("records.jsonl");
    auto args = PortArgs(sim.Ports);
    args.insert(args.end(), {"--json", "--log", log});
    auto station = Station(args);
    EXPECT_TRUE(WaitForRecords(log, 6, [](const json&) { return true; }, 30000));
    station->Signal(SIGKILL);
    station->Wait();
    const std::string killed = ReadText(log);
    ASSERT_FALSE(killed.empty());
    EXPECT_EQ(killed.back(), '\n');
    const std::size_t before = JsonLines(killed).size();
    EXPECT_GE(before, 6u);

    args = PortArgs(sim.Ports);
    args.insert(args.end(), {"--json", "--log", log, "--count", "2"});
    auto again = Station(args);
    EXPECT_EQ(WaitStation(*again, 30000), 0) << ReadText(Err);
    const std::string after = ReadText(log);
    EXPECT_EQ(after.substr(0, killed.size()), killed);
    EXPECT_EQ(JsonLines(after).size(), before + 2);
}

// Ctrl-C: the summary, and the exit code by what happened. A board on a dead line keeps its worker busy for seconds:
// a second Ctrl-C stops waiting for it, records it as interrupted and exits 130.
TEST_F(StationTest, CtrlCEndsWithASummaryAndTheExitCode)
{
    struct TCase {
        const char* name;
        std::vector<std::string> sim; // empty: the named fixture's adapter is not plugged in
        int interrupts;
        int rc;
        const char* summary;
        const char* record; // the words of the one record expected; null: none
    };
    const std::vector<TCase> cases = {
        {"nothing plugged in", {}, 1, 0, "programmed 0, failed 0, skipped 0", nullptr},
        {"a second Ctrl-C during a dead line", {"--fault", "stop=0"}, 2, 130, "programmed 0, failed 1, skipped 0",
         "interrupted before it started"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"--json"};
        const auto p =
            PortArgs(c.sim.empty() ? std::vector<std::string>{PathOf("unplugged")} : StartSim(1, c.sim).Ports);
        args.insert(args.end(), p.begin(), p.end());
        auto station = Station(args);
        // Long enough for the search to find the board and its programming to begin.
        ::usleep(800 * 1000);
        for (int k = 0; k < c.interrupts; ++k) {
            station->Signal(SIGINT);
            ::usleep(300 * 1000);
        }
        const double t0 = NowMs();
        EXPECT_EQ(WaitStation(*station, 5000), c.rc) << ReadText(Err);
        EXPECT_LT(NowMs() - t0, 3000.0); // not the dead line's ten seconds
        EXPECT_NE(ReadText(Err).find(c.summary), std::string::npos) << ReadText(Err);
        const std::vector<json> records = JsonLines(ReadText(Out));
        if (!c.record) {
            EXPECT_TRUE(records.empty()) << ReadText(Out);
            continue;
        }
        ASSERT_EQ(records.size(), 1u) << ReadText(Out);
        EXPECT_EQ(records[0]["result"], "interrupted");
        EXPECT_EQ(records[0]["words"], c.record);
    }
}

// On a terminal: one live status line, rewritten in place, and each record on a line of its own above it.
TEST_F(StationTest, OnATerminalALiveStatusLine)
{
    TSim& sim = StartSim(2, {"--replug", "0.3"});
    auto a = PortArgs(sim.Ports);
    a.insert(a.begin(), {"flash", Pkg, "--watch", "--count", "4"});
    int rc = -1;
    const std::string text = RunOnTerminal(Argv("nerid", a), 30000, rc);
    EXPECT_EQ(rc, 0);
    const std::regex status("\\rprogramming ([0-9]+)(?::((?: [^ |]+ [0-9]+%)+))? \\| done ([0-9]+) "
                            "\\| failed 0 "
                            "\\| skipped 0 \\| absent ([0-9]+)");
    int shown = 0, busy = 0, lastDone = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), status); it != std::sregex_iterator(); ++it) {
        ++shown;
        busy = std::max(busy, std::stoi((*it)[1]));
        const int done = std::stoi((*it)[3]);
        EXPECT_GE(done, lastDone) << text;
        lastDone = done;
    }
    EXPECT_GT(shown, 3) << text;
    EXPECT_GE(busy, 1) << text;
    // Every record stands on its own line: the status line is cleared before it.
    const std::size_t record = text.find("Z " + sim.Ports[0] + ": programmed (needed, ID 000000");
    ASSERT_NE(record, std::string::npos) << text;
    const std::size_t stamp = std::string("2026-01-01T00:00:00.000").size();
    ASSERT_GT(record, stamp + 1);
    const std::size_t cleared = text.rfind('\r', record);
    EXPECT_EQ(cleared, record - stamp - 1) << text; // the record starts its line
    const std::size_t rubbed = text.rfind('\r', cleared - 1);
    ASSERT_NE(rubbed, std::string::npos) << text;
    EXPECT_EQ(text.substr(rubbed + 1, cleared - rubbed - 1).find_first_not_of(' '), std::string::npos)
        << "the status line is rubbed out before the record: " << text;
    EXPECT_NE(text.find("programmed 4, failed 0, skipped 0"), std::string::npos) << text;
}

} // namespace
