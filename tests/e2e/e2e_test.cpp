// The whole update without a window: `nerid sim` as the devices on real pseudo-terminals, `nerid search` and
// `nerid flash` as the host, each a process of the build folder. Every test has its own virtual-port folder and
// names its ports, so it never sees another program's ports.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/file.h>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/format.h"
#include "package/validate.h"
#include "serial/comport.h"
#include "serial/virtual_ports.h"
#include "tests/package/test_files.h"
#include "timing/timing.h"
#include "dev/child/child_process.h"
#include "tests/e2e/sim_tool_fixture.h"
#include "cli/firmware.h"
#include "cli/memory_map.h"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

struct TRun {
    int Rc = -1;
    std::string Out, Err;
};

class E2ETest : public SimToolTest {
protected:
    TRun Run(const std::string& tool, const std::vector<std::string>& args)
    {
        const std::string out = PathOf("out-" + std::to_string(++Runs));
        const std::string err = out + ".err";
        TChild c(Argv(tool, args), out, err);
        TRun r;
        r.Rc = c.Wait().Rc;
        r.Out = ReadText(out);
        r.Err = ReadText(err);
        return r;
    }
    TRun Nerid(const std::vector<std::string>& args) { return Run("nerid", args); }

    // A sample firmware of 4 flash and 2 EEPROM lines (quick to program), or of other sizes.
    std::string Package(const std::vector<std::string>& args = {"--flash-bytes", "256", "--eeprom-bytes", "128"})
    {
        const std::string path = PathOf("pkg-" + std::to_string(++Runs) + ".hex");
        std::vector<std::string> a = {"-o", path};
        a.insert(a.end(), args.begin(), args.end());
        EXPECT_EQ(Run("nerid-sample-firmware", a).Rc, 0);
        return path;
    }
    static TPackageContents Lines(const std::string& hex)
    {
        TZorelBootLoaderHexDataFile FH;
        return CheckPackage(FH, FirmwareContainer(hex));
    }

    TRun Flash(const std::string& pkg, const std::vector<std::string>& ports, const std::vector<std::string>& flags = {})
    {
        std::vector<std::string> a = {"flash", pkg, "--json"};
        a.insert(a.end(), flags.begin(), flags.end());
        const auto p = PortArgs(ports);
        a.insert(a.end(), p.begin(), p.end());
        return Nerid(a);
    }

    static int Sends(const json& device, int cmd, std::uint32_t address)
    {
        int n = 0;
        for (const json& f : device["frames"])
            n += f["cmd"] == cmd && f["address"] == address;
        return n;
    }

};

TEST_F(E2ETest, SimRegistersItsPortsForDiscoveryAndRemovesThemOnExit)
{
    TSim& sim = StartSim(2);
    const std::vector<std::string> listed = TBasicComPortCtrl::ListPorts();
    for (const std::string& p : sim.Ports) {
        EXPECT_EQ(fs::path(p).parent_path(), fs::path(VirtualPortsFolder()));
        EXPECT_NE(std::find(listed.begin(), listed.end(), p), listed.end()) << p;
    }
    StopSim(sim);
    for (const std::string& p : sim.Ports)
        EXPECT_FALSE(fs::exists(fs::symlink_status(p))) << p;
}

TEST_F(E2ETest, SearchOfSeveralPortsFindsTheDevicesOnSome)
{
    TSim& sim = StartSim(3, {"--fault", "2:silent", "--id", "256", "--name", "E2E", "--version", "1.04"});
    const std::string missing = PathOf("no-such-port");
    const TRun r = Nerid({"search", "--json", "--port", sim.Ports[0], "--port", sim.Ports[1], "--port", sim.Ports[2],
                          "--port", missing});
    ASSERT_EQ(r.Rc, 0) << r.Err;
    const json j = json::parse(r.Out);
    ASSERT_EQ(j.size(), 4u);
    const std::vector<std::tuple<std::string, bool, std::string>> expected = {
        {sim.Ports[0], true, ""},
        {sim.Ports[1], false, "device is not responding"},
        {sim.Ports[2], true, ""},
        {missing, false, "absent (no such port)"}};
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(j[k]["port"], std::get<0>(expected[k]));
        EXPECT_EQ(j[k]["ok"], std::get<1>(expected[k]));
        EXPECT_EQ(j[k]["error"], std::get<2>(expected[k]));
    }
    EXPECT_EQ(j[0]["id"], 256);
    EXPECT_EQ(j[2]["id"], 258);
    EXPECT_EQ(j[2]["name"], "E2E");
    EXPECT_EQ(j[2]["version"], "1.04");
    EXPECT_EQ(j[2]["type"], 3);
    EXPECT_EQ(j[2]["variant"], 2);
    EXPECT_EQ(j[2]["revision"], 0);
    EXPECT_EQ(j[2]["date"], "2024-01-01");
    for (const char* key : {"boot_version", "boot_type", "checksum"})
        EXPECT_TRUE(j[2].contains(key)) << key;

    const TRun none = Nerid({"search", "--port", sim.Ports[1], "--port", missing});
    EXPECT_EQ(none.Rc, 1);
    EXPECT_EQ(none.Err, "no device answered\n");
}

TEST_F(E2ETest, ProgramsTwoDevicesAtOnceWithEveryLineInOrder)
{
    TSim& sim = StartSim(2);
    const std::string pkg = Package();
    const TPackageContents lines = Lines(pkg);
    ASSERT_EQ(lines.FL.size(), 4u);
    ASSERT_EQ(lines.EE.size(), 2u);

    const TRun r = Flash(pkg, sim.Ports);
    ASSERT_EQ(r.Rc, 0) << r.Out << r.Err;
    const json j = json::parse(r.Out);
    ASSERT_EQ(j.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(j[k]["port"], sim.Ports[k]);
        EXPECT_EQ(j[k]["state"], "needed");
        EXPECT_EQ(j[k]["result"], "programmed");
        EXPECT_EQ(j[k]["words"], "programmed");
        EXPECT_EQ(j[k]["code"], "");
        EXPECT_EQ(j[k]["id"], k + 1);
        EXPECT_EQ(j[k]["version_before"], "1.00");
        EXPECT_GT(j[k]["duration_ms"].get<int>(), 0);
        EXPECT_EQ(j[k]["resends"], 0);
        EXPECT_TRUE(j[k]["latency_ms"].is_null()); // a pseudo-terminal has no latency timer
    }

    const json dump = StopSim(sim);
    for (const json& dev : dump["devices"]) {
        EXPECT_EQ(DumpMemory(dev["flash"], "address"), LinesMemory(lines.FL));
        EXPECT_EQ(DumpMemory(dev["eeprom"], "offset"), LinesMemory(lines.EE));
        EXPECT_EQ(dev["resets"], 1);
        EXPECT_EQ(dev["identity"]["version"], "1.05"); // the header it now holds
        // The search's identity request, the worker's, the flash lines, the EEPROM lines, the reset.
        std::vector<std::pair<int, std::uint32_t>> frames, expected = {{0, 0}, {0, 0}};
        for (const auto& l : lines.FL)
            expected.push_back({2, l.A});
        for (const auto& l : lines.EE)
            expected.push_back({1, l.A});
        expected.push_back({3, 0});
        for (const json& f : dev["frames"]) {
            EXPECT_TRUE(f["crc_ok"].get<bool>());
            frames.push_back({f["cmd"], f["address"]});
        }
        EXPECT_EQ(frames, expected);
    }
}

// Four devices at once: a clean one, one that ignores line 1 four times (two attempts), one that stops answering
// at line 2 and one that is unplugged at line 2. Only the last two fail, each in its own words, and neither is
// reset.
TEST_F(E2ETest, LineFaultsFailOnlyTheirDevice)
{
    TSim& sim = StartSim(4, {"--fault", "2:drop=1x4", "--fault", "3:stop=2", "--fault", "4:hangup=2"});
    const std::string pkg = Package();
    const TRun r = Flash(pkg, sim.Ports);
    EXPECT_EQ(r.Rc, 1);
    const json j = json::parse(r.Out);
    ASSERT_EQ(j.size(), 4u);
    const std::vector<std::vector<std::string>> expected = {
        {"programmed", "programmed", ""},
        {"programmed", "programmed, after 4 re-sends, the last at flash line 1 (address 0x0440)", "0xF001"},
        {"not answering", "the device stopped answering at flash line 2 (address 0x0480)", "0xF002"},
        {"port gone", "the port went away at flash line 2 (address 0x0480) (unplugged?)", "0xF002"}};
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(j[k]["result"], expected[k][0]) << k;
        EXPECT_EQ(j[k]["words"], expected[k][1]) << k;
        EXPECT_EQ(j[k]["code"], expected[k][2]) << k;
    }

    const json dump = StopSim(sim);
    const json& d = dump["devices"];
    const TPackageContents lines = Lines(pkg);
    EXPECT_EQ(DumpMemory(d[1]["flash"], "address"), LinesMemory(lines.FL));
    EXPECT_EQ(Sends(d[1], 2, lines.FL[1].A), 5);
    EXPECT_EQ(d[1]["resets"], 1);
    EXPECT_EQ(Sends(d[2], 2, lines.FL[2].A), 6); // three attempts of a frame and its re-send
    EXPECT_EQ(Sends(d[2], 2, lines.FL[3].A), 0);
    EXPECT_EQ(d[2]["resets"], 0);
    EXPECT_TRUE(d[3]["hung_up"].get<bool>());
    EXPECT_EQ(d[3]["resets"], 0);
    EXPECT_EQ(d[3]["lines_written"], 2);
    EXPECT_EQ(d[0]["resets"], 1);
}

TEST_F(E2ETest, ClassificationDecidesWhichDevicesAreProgrammed)
{
    struct TCase {
        std::vector<std::string> flags;
        std::vector<std::string> results; // needed, not required, not supported
        int rc;
    };
    const std::vector<TCase> cases = {{{}, {"programmed", "skipped", "skipped"}, 0},
                                      {{"--all"}, {"programmed", "programmed", "skipped"}, 0},
                                      {{"--force"}, {"programmed", "skipped", "programmed"}, 0}};
    const std::string pkg = Package();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.flags.empty() ? "no flag" : c.flags[0]);
        Sims.clear();
        const std::vector<std::string> ports = {StartSim(1).Ports.at(0), StartSim(1, {"--version", "1.05"}).Ports.at(0),
                                                StartSim(1, {"--variant", "7"}).Ports.at(0)};
        const TRun r = Flash(pkg, ports, c.flags);
        EXPECT_EQ(r.Rc, c.rc) << r.Err;
        const json j = json::parse(r.Out);
        ASSERT_EQ(j.size(), 3u);
        const std::vector<std::string> states = {"needed", "not required", "not supported"};
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(j[k]["state"], states[k]);
            EXPECT_EQ(j[k]["result"], c.results[k]);
            if (c.results[k] == "skipped") {
                EXPECT_EQ(j[k]["duration_ms"], 0);
            }
        }
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_EQ(StopSim(Sims[k])["devices"][0]["resets"], c.results[k] == "programmed" ? 1 : 0) << k;
    }
}

// Every port the user names gets one result, in the order named; a port where nothing answered is "absent" with the
// search's text and fails the run. Discovery lists only what answered.
TEST_F(E2ETest, EveryNamedPortGetsAResult)
{
    TSim& sim = StartSim(2, {"--fault", "2:silent"});
    const std::string pkg = Package();
    const std::string missing = PathOf("no-such-port");
    const TRun r = Flash(pkg, {sim.Ports[0], sim.Ports[1], missing});
    EXPECT_EQ(r.Rc, 1) << r.Err;
    const json j = json::parse(r.Out);
    ASSERT_EQ(j.size(), 3u) << r.Out;
    const std::vector<std::tuple<std::string, std::string, std::string>> expected = {
        {sim.Ports[0], "programmed", "programmed"},
        {sim.Ports[1], "absent", "device is not responding"},
        {missing, "absent", "absent (no such port)"}};
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(j[k]["port"], std::get<0>(expected[k]));
        EXPECT_EQ(j[k]["result"], std::get<1>(expected[k]));
        EXPECT_EQ(j[k]["words"], std::get<2>(expected[k]));
    }
    EXPECT_EQ(j[1]["state"], "absent");

    const TRun text = Nerid({"flash", pkg, "--port", sim.Ports[1], "--port", missing});
    EXPECT_EQ(text.Rc, 1);
    EXPECT_EQ(text.Out, sim.Ports[1] + ": absent: device is not responding\n" + missing +
                            ": absent: absent (no such port)\n");

    // Discovery (this test's own port folder): the silent device is not listed, and the run succeeds.
    if (const std::string own = ForeignPort(); !own.empty())
        GTEST_SKIP() << "discovery lists " << own << ", a port of this machine: a test writes only to its own ports";
    const TRun found = Nerid({"flash", pkg, "--json", "--all"});
    EXPECT_EQ(found.Rc, 0) << found.Err;
    const json d = json::parse(found.Out);
    ASSERT_EQ(d.size(), 1u) << found.Out;
    EXPECT_EQ(d[0]["port"], sim.Ports[0]);
}

TEST_F(E2ETest, ABadPackageOrNoDeviceIsAFailure)
{
    TSim& sim = StartSim(2, {"--fault", "2:silent"});
    const std::string bad = PathOf("bad.bin");
    WriteBytes(bad, ABytes(10, 0xFF));
    const TRun refused = Flash(bad, {sim.Ports[0]});
    EXPECT_EQ(refused.Rc, 1);
    const std::string refusal =
        "0x0302: the container is shorter than its block table (a cut-off file, or not a firmware package)";
    EXPECT_EQ(refused.Err, refusal + "\n");
    EXPECT_EQ(json::parse(refused.Out), (json{{"error", {{"code", "0x0302"}, {"message", refusal.substr(8)}}}}));

    const TRun none = Flash(Package(), {sim.Ports[1]});
    EXPECT_EQ(none.Rc, 1);
    EXPECT_EQ(json::parse(none.Out)[0]["result"], "absent");
    EXPECT_EQ(json::parse(none.Out)[0]["words"], "device is not responding");

    const json dump = StopSim(sim);
    EXPECT_TRUE(dump["devices"][0]["frames"].empty()); // the refused package touched no port
}

// Ctrl-C, SIGTERM and SIGHUP (a closed terminal or SSH session) all end a run the same way: the line under way ends,
// the device is not reset, the result is printed, and the exit code tells which signal it was.
TEST_F(E2ETest, ASignalEndsTheLineUnderWayAndLeavesTheDeviceUnreset)
{
    const std::string pkg = Package({}); // the full sample: about 30 s of lines at the updater's timing
    for (const auto& [sig, rc] : std::vector<std::pair<int, int>>{{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
        SCOPED_TRACE(rc);
        Sims.clear();
        TSim& sim = StartSim(1);
        const std::string out = PathOf("flash-" + std::to_string(rc) + ".json");
        TChild flash(Argv("nerid", {"flash", pkg, "--json", "--port", sim.Ports[0]}), out, PathOf("flash.err"));
        ::usleep(1500 * 1000);
        flash.Signal(sig);
        const double t0 = NowMs();
        EXPECT_EQ(flash.Wait().Rc, rc);
        EXPECT_LT(NowMs() - t0, 5000.0); // one line to finish (about 60 ms), not the other 25 s of lines
        const json j = json::parse(ReadText(out));
        ASSERT_EQ(j.size(), 1u);
        EXPECT_EQ(j[0]["result"], "interrupted");

        const json dev = StopSim(sim)["devices"][0];
        const int written = dev["lines_written"];
        EXPECT_GT(written, 0);
        EXPECT_LT(written, 100);
        EXPECT_EQ(dev["resets"], 0);
        // The worker stops before the line after the last one it wrote.
        EXPECT_EQ(j[0]["code"], Format("0xF%.3X", written));
        EXPECT_EQ(j[0]["words"], Format("interrupted before flash line %d (address 0x%.4X); the device is not reset: "
                                        "program it again",
                                        written, 0x400 + 64 * written));
    }
}

TEST_F(E2ETest, OnATerminalOneProgressBarThenAResultLinePerDevice)
{
    TSim& sim = StartSim(2);
    int rc = -1;
    const std::string text = RunOnTerminal(
        Argv("nerid", {"flash", Package(), "--port", sim.Ports[0], "--port", sim.Ports[1]}), 20000, rc);
    EXPECT_EQ(rc, 0);
    // Each device reports 0, 20, ... 100: the bar shows their mean, never going back, ending at 100 %.
    std::vector<double> shown;
    const std::regex bar("\\r\\[[#-]{40}\\] +([0-9.]+)%");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), bar); it != std::sregex_iterator(); ++it)
        shown.push_back(std::stod((*it)[1]));
    ASSERT_FALSE(shown.empty()) << text;
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << text;
    EXPECT_EQ(shown.back(), 100.0);
    for (double v : shown)
        EXPECT_EQ(static_cast<int>(v * 10) % 100, 0) << v; // (sum of two multiples of 20) * 10 / 2
    const std::string tail = text.substr(text.rfind('%') + 1);
    EXPECT_NE(tail.find(sim.Ports[0] + ": programmed (needed, ID 00000001, v.1.00"), std::string::npos) << tail;
    EXPECT_NE(tail.find(sim.Ports[1] + ": programmed (needed, ID 00000002, v.1.00"), std::string::npos) << tail;
    EXPECT_TRUE(std::regex_search(tail, std::regex(sim.Ports[0] + R"(: programmed \(.*, \d+\.\d s, 0 re-sends\))")))
        << tail;
}

TEST_F(E2ETest, SimRefusesABadFault)
{
    for (const std::vector<std::string>& fault :
         {std::vector<std::string>{"--count", "2", "--fault", "3:silent"}, {"--fault", "drop"},
          {"--fault", "1:bogus"}, {"--fault", "silent=2"}, {"--fault", "1:stop=x"}}) {
        std::vector<std::string> a = {"sim"};
        a.insert(a.end(), fault.begin(), fault.end());
        const TRun r = Nerid(a);
        EXPECT_EQ(r.Rc, 1) << fault.back();
        EXPECT_NE(r.Err.find("bad --fault"), std::string::npos) << r.Err;
        EXPECT_EQ(r.Out, "");
    }
}

// A dump that cannot be written is said at the start; one that fails later (its folder gone) is said, and the run
// fails, since a test verifies the devices from it.
TEST_F(E2ETest, SimSaysWhenItsDumpCannotBeWritten)
{
    const TRun r = Nerid({"sim", "--dump", PathOf("no-such-folder/d.json")});
    EXPECT_EQ(r.Rc, 1);
    EXPECT_EQ(r.Err, "cannot write " + PathOf("no-such-folder/d.json") + ": no such folder " +
                         PathOf("no-such-folder") + "\n");
    EXPECT_EQ(r.Out, "");

    fs::create_directories(PathOf("gone"));
    const std::string dump = PathOf("gone/d.json");
    TChild sim(Argv("nerid", {"sim", "--dump", dump}), "", PathOf("sim.err"));
    ASSERT_EQ(sim.ReadLines(1, 5000).size(), 1u);
    EXPECT_TRUE(fs::exists(dump)); // written at the start
    fs::remove_all(PathOf("gone"));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait().Rc, 1);
    EXPECT_EQ(ReadText(PathOf("sim.err")), "cannot write the dump " + dump +
                                               " at the end of the run (the disk full, or the folder gone?): the "
                                               "devices' last state is lost\n");
}

// Every fault a user can meet with `nerid flash`, each row with the result it must give and a bound on its time, with
// the updater's exchange and with the line-rate one (--fast). All rows of both run at once, each with its own
// simulator and its own tool process, so the table costs its slowest row (a device deaf after each answer, met with
// --fast: every line lost once and sent again, about 13 s). After a failure no device is reset; after a success the
// device holds the package. The window's own faults (a port that vanishes after the
// search, closing mid-search and mid-run) are in tests/window.
TEST_F(E2ETest, FaultMatrix)
{
    const std::string good = Package();
    const TPackageContents lines = Lines(good);
    const ABytes container = FirmwareContainer(good);
    auto badPackage = [&](const std::string& name, const ABytes& bytes) {
        const std::string path = PathOf(name + ".bin");
        WriteBytes(path, bytes);
        return path;
    };
    ABytes checksum = container;
    checksum[2 + 24 + 0x80] ^= 0x01; // a program word past the header, inside the summed range of the 256 bytes
    TZorelBootLoaderHexDataFile checksumFile;
    checksumFile.SetInfo(kFlashLimit, kEepromLimit);
    checksumFile.BytesFrom(checksum);
    const unsigned checksumComputed = checksumFile.CheckSumm();
    ABytes oddEeprom = container;     // the EEPROM block (the second, stored last) one byte short
    ASSERT_EQ(BytesToU16(container, 0), 2);
    const std::uint32_t eeLen = BytesToU32(container, 2 + 12 + 8);
    const ABytes eeLenBytes = BytesFromU32s({eeLen - 1});
    std::copy(eeLenBytes.begin(), eeLenBytes.end(), oddEeprom.begin() + 2 + 12 + 8);
    oddEeprom.pop_back();
    const ABytes onlyEeprom =
        BytesConcat(BytesFromU16s({1}), BytesConcat(BytesFromU32s({0x1E000, 0, 4}), ABytes{1, 0, 2, 0}));

    struct TCase {
        std::string name;
        std::vector<std::string> sim; // simulator flags
        std::string package;          // empty: the good package
        bool holdPort = false;        // another program holds the port exclusively
        int rc;
        std::string result;           // the device's result; empty: no device row (the tool's message instead)
        std::string words;            // the device's words, or the tool's message on stderr ({port}: the port)
        std::string code;             // the device's line code
        double boundMs;               // the tool's whole run
        int sendsOfLine = -1;         // frames of flash line `line` the device received (-1: not checked)
        int line = 0;
        std::pair<int, int> resends{0, 0};     // the least and the most re-sends the result may report
        std::pair<int, int> fastResends{-1, 0}; // the same with --fast; -1: as without
    };
    const std::string notFound = "device is not responding"; // a named port where nothing answered: an absent row
    const std::vector<TCase> cases = {
        {"clean", {}, "", false, 0, "programmed", "programmed", "", 6000},
        {"silent device", {"--fault", "silent"}, "", false, 1, "absent", notFound, "", 8000},
        {"reply dropped once", {"--fault", "drop=1x1"}, "", false, 0, "programmed", "programmed, after 1 re-send", "",
         9000, 2, 1, {1, 1}},
        {"reply dropped twice", {"--fault", "drop=1x2"}, "", false, 0, "programmed",
         "programmed, after 2 re-sends, the last at flash line 1 (address 0x0440)", "0xF001", 12000, 3, 1, {2, 2}},
        {"line ignored every time", {"--fault", "drop=1x9"}, "", false, 1, "refused",
         "refused by the device at flash line 1 (address 0x0440): it still answers, but did not take the line",
         "0xF001", 20000, 6, 1, {5, 5}},
        {"dead line", {"--fault", "stop=0"}, "", false, 1, "not answering",
         "the device stopped answering at flash line 0 (address 0x0400)", "0xF000", 20000, 6, 0, {5, 5}},
        {"stops mid-flash", {"--fault", "stop=2"}, "", false, 1, "not answering",
         "the device stopped answering at flash line 2 (address 0x0480)", "0xF002", 20000, 6, 2, {5, 5}},
        {"hangs up mid-flash", {"--fault", "hangup=2"}, "", false, 1, "port gone",
         "the port went away at flash line 2 (address 0x0480) (unplugged?)", "0xF002", 8000, 1, 2, {3, 3}},
        // The updater's pace leaves such a device its time for nearly every line (the identity, asked right after
        // the search's, can be lost, and on a loaded machine a line or two more); --fast loses each of the 6 lines
        // once (a slow host, as under a sanitizer, now and then comes late enough to be heard) and gets them through
        // re-sends, never a corrupted line. How many re-sends it took is in the words: only their start is compared.
        {"deaf 10 ms after each answer", {"--fault", "deaf=10"}, "", false, 0, "programmed", "programmed*", "", 25000,
         -1, 0, {0, 3}, {4, 7}},
        {"short identity", {"--fault", "short-id"}, "", false, 1, "absent", notFound, "", 8000},
        {"garbage before a reply", {"--fault", "garbage"}, "", false, 1, "absent", notFound, "", 8000},
        {"wrong first byte", {"--fault", "wrong-first"}, "", false, 1, "absent", notFound, "", 8000},
        {"port held by another program", {}, "", true, 1, "absent", "busy (held by another program)", "", 8000},
        {"no package file", {}, PathOf("missing.hex"), false, 1, "", "0x0310: " + PathOf("missing.hex") + " does not exist\n",
         "", 5000},
        {"package without a table", {}, badPackage("one-byte", {0x01}), false, 1, "",
         "0x0301: the container is shorter than its 2-byte block count (an empty or cut-off file?)\n", "", 5000},
        {"package with a short table", {}, badPackage("short", {0x02, 0x00, 0x00}), false, 1, "",
         "0x0302: the container is shorter than its block table (a cut-off file, or not a firmware package)\n", "",
         5000},
        {"empty package", {}, badPackage("empty", {0x00, 0x00}), false, 1, "",
         "0x0303: the container holds no data (a file without firmware?)\n", "", 5000},
        {"package without flash", {}, badPackage("no-flash", onlyEeprom), false, 1, "",
         "0x0306: the container has no flash block with a 32-byte firmware header (a file without flash data?)\n",
         "", 5000},
        {"package checksum", {}, badPackage("checksum", checksum), false, 1, "",
         Format("0x0304: the program's checksum is 0x%.4X, its header says 0x%.4X (damaged firmware, or a header not "
                "updated after a change)\n",
                checksumComputed, lines.B.CS),
         "", 5000},
        {"odd EEPROM block", {}, badPackage("odd-eeprom", oddEeprom), false, 1, "",
         "0x0307: the container has an EEPROM block of odd length (each EEPROM byte takes two bytes)\n", "", 5000},
    };

    struct TOutcome {
        TRun run;
        double ms = 0;
    };
    std::vector<std::vector<std::string>> argv;
    std::vector<std::string> outs;
    std::vector<int> held;
    std::vector<std::pair<const TCase*, bool>> rows; // each case without and with --fast
    for (const bool fast : {false, true})
        for (const TCase& c : cases)
            rows.push_back({&c, fast});
    for (const auto& [cp, fast] : rows) {
        const TCase& c = *cp;
        const TSim& sim = StartSim(1, c.sim); // also Sims[k]
        int fd = -1;
        if (c.holdPort) {
            fd = ::open(sim.Ports[0].c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        }
        held.push_back(fd);
        argv.push_back(Argv("nerid", {"flash", c.package.empty() ? good : c.package, "--json", "--port", sim.Ports[0]}));
        if (fast)
            argv.back().push_back("--fast");
        outs.push_back(PathOf("matrix-" + std::to_string(argv.size())));
    }
    std::vector<TOutcome> got(rows.size());
    {
        std::vector<std::thread> threads;
        for (std::size_t k = 0; k < rows.size(); ++k)
            threads.emplace_back([&, k] {
                const double t0 = NowMs();
                TChild child(argv[k], outs[k], outs[k] + ".err");
                got[k].run.Rc = child.Wait().Rc;
                got[k].ms = NowMs() - t0;
                got[k].run.Out = ReadText(outs[k]);
                got[k].run.Err = ReadText(outs[k] + ".err");
            });
        for (std::thread& t : threads)
            t.join();
    }
    for (int fd : held)
        if (fd >= 0)
            ::close(fd);

    for (std::size_t k = 0; k < rows.size(); ++k) {
        const TCase& c = *rows[k].first;
        const bool fast = rows[k].second;
        const TRun& r = got[k].run;
        SCOPED_TRACE(c.name + (fast ? " (--fast)" : ""));
        EXPECT_EQ(r.Rc, c.rc) << r.Err; // -1 would be a crash
        EXPECT_LT(got[k].ms, c.boundMs);
        const json dev = StopSim(Sims[k])["devices"][0];
        const json j = json::parse(r.Out); // one document in every outcome
        if (c.result.empty()) {
            std::string words = c.words;
            if (const std::size_t at = words.find("{port}"); at != std::string::npos)
                words.replace(at, 6, Sims[k].Ports[0]);
            EXPECT_EQ(r.Err, words);
            EXPECT_EQ(Sends(dev, 2, lines.FL[0].A), 0); // no line was sent
            if (words.rfind("0x", 0) == 0)
                EXPECT_EQ(j["error"]["code"], words.substr(0, 6));
            else
                EXPECT_EQ(j, json::array());
        } else {
            ASSERT_EQ(j.size(), 1u);
            EXPECT_EQ(j[0]["result"], c.result);
            const std::string words = j[0]["words"];
            if (c.words.back() == '*') {
                EXPECT_EQ(words.substr(0, c.words.size() - 1), c.words.substr(0, c.words.size() - 1));
            } else {
                EXPECT_EQ(words, c.words);
                EXPECT_EQ(j[0]["code"], c.code);
            }
            const std::pair<int, int> resends = fast && c.fastResends.first >= 0 ? c.fastResends : c.resends;
            EXPECT_GE(j[0]["resends"].get<int>(), resends.first);
            EXPECT_LE(j[0]["resends"].get<int>(), resends.second);
            EXPECT_TRUE(j[0]["latency_ms"].is_null()); // a pseudo-terminal has no latency timer
        }
        if (c.result == "absent") {
            EXPECT_EQ(Sends(dev, 2, lines.FL[0].A), 0);
        }
        if (c.result == "programmed") {
            EXPECT_EQ(DumpMemory(dev["flash"], "address"), LinesMemory(lines.FL));
            EXPECT_EQ(DumpMemory(dev["eeprom"], "offset"), LinesMemory(lines.EE));
            EXPECT_EQ(dev["resets"], 1);
        } else {
            EXPECT_EQ(dev["resets"], 0);
        }
        if (c.sendsOfLine >= 0) {
            EXPECT_EQ(Sends(dev, 2, lines.FL[static_cast<std::size_t>(c.line)].A), c.sendsOfLine);
        }
        if (!c.package.empty()) {
            EXPECT_TRUE(dev["frames"].empty()); // a refused package touches no port
        }
    }
}

} // namespace
