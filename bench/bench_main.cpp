// nerid-bench: measures the updater against the limits the line and the exchange engine set, each figure a ratio of
// two things measured (or computed) in the same run, and writes them as JSON and a chart. Never fails on a number:
// the exit code is non-zero only when a measurement could not be made at all.
//   nerid-bench --out DIR        the whole benchmark (DIR/bench.json, DIR/bench.png, window screenshots)
//   nerid-bench --window ...     the window harness (run by the benchmark itself)
#include "bench/bench.h"

#include "package/validate.h"
#include "timing/timing.h"
#include "dev/child/child_process.h"
#include "dev/child/virtual_display.h"
#include "cli/firmware.h"
#include "cli/memory_map.h"


#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

constexpr double kBaud = 19200;

fs::path gTools, gOut;

struct TProc {
    int Rc = -1;
    double WallMs = 0;
    double CpuMs = 0;  // user + system of the child
    long MaxRssKb = 0; // its peak resident set
    std::string Out;
};

std::string ReadText(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

int gRuns = 0;

TProc Ended(const TChildEnd& e)
{
    TProc r;
    r.Rc = e.Rc;
    r.WallMs = e.WallMs;
    r.CpuMs = e.CpuMs;
    r.MaxRssKb = e.MaxRssKb;
    return r;
}

TProc Run(const std::vector<std::string>& argv)
{
    const fs::path out = gOut / "work" / ("out-" + std::to_string(++gRuns));
    TChild c(argv, out.string(), out.string() + ".err");
    TProc r = Ended(c.Wait(true));
    r.Out = ReadText(out);
    return r;
}

std::string Tool(const char* name) { return (gTools / name).string(); }

// A running `nerid sim`.
struct TSim {
    std::unique_ptr<TChild> Proc;
    std::vector<std::string> Ports;
    fs::path Dump;
    TProc Stop()
    {
        Proc->Signal(SIGTERM);
        return Ended(Proc->Wait(true));
    }
};

TSim StartSim(int count, const std::vector<std::string>& extra)
{
    TSim s;
    s.Dump = gOut / "work" / ("dump-" + std::to_string(++gRuns) + ".json");
    std::vector<std::string> a = {Tool("nerid"), "sim", "--count", std::to_string(count), "--dump", s.Dump.string()};
    a.insert(a.end(), extra.begin(), extra.end());
    s.Proc = std::make_unique<TChild>(a, "", (gOut / "work" / ("sim-" + std::to_string(gRuns) + ".err")).string());
    s.Ports = s.Proc->ReadLines(static_cast<std::size_t>(count), 10000);
    if (s.Ports.size() != static_cast<std::size_t>(count))
        throw std::runtime_error("nerid sim did not start");
    return s;
}

std::vector<std::string> PortArgs(const std::vector<std::string>& ports)
{
    std::vector<std::string> a;
    for (const std::string& p : ports) {
        a.push_back("--port");
        a.push_back(p);
    }
    return a;
}

// ---- the floors, from the exchange engine's own rules ------------------------------------------------------------

// Bytes on the line at 10 bits a byte.
double LineMs(std::size_t bytes) { return static_cast<double>(bytes) * 10000.0 / kBaud; }

// The engine's byte time and its poll period (the byte time as its sleep rounds it, at least 1 ms).
constexpr double kByteTimeMs = 8000.0 / kBaud;
double PollMs() { return static_cast<double>(SleepRoundMs(kByteTimeMs)); }

// The wait after sending: 2 byte times per request byte beyond the second (one when fewer), rounded as it sleeps.
double SendWaitMs(std::size_t request)
{
    const std::int64_t n = static_cast<std::int64_t>(request) - 2 < 2 ? 1 : static_cast<std::int64_t>(request) - 2;
    return static_cast<double>(SleepRoundMs(2 * kByteTimeMs * static_cast<double>(n)));
}

// One exchange on a line-paced device: the send wait, then polls until the reply has crossed the line.
double ExchangeFloorMs(std::size_t request, std::size_t reply)
{
    const double poll = PollMs();
    double t = SendWaitMs(request) + poll;
    const double line = LineMs(request + reply);
    while (t < line)
        t += poll;
    return t;
}

constexpr std::size_t kIdentityReply = 59, kAck = 3, kIdentityRequest = 3, kResetRequest = 3;
constexpr std::size_t kFlashRequest = 64 + 5; // command, length, two address bytes, 64 data bytes, check byte

struct TFloor {
    double EngineMs = 0; // what the engine's waits add up to
    double LineMs = 0;   // the bytes alone at line rate
};

// A programming worker's pass: identity, every flash line, every EEPROM line, the 200 ms pause, the reset.
TFloor UpdateFloor(const TPackageContents& pkg)
{
    TFloor f;
    auto add = [&](std::size_t req, std::size_t rep) {
        f.EngineMs += ExchangeFloorMs(req, rep);
        f.LineMs += LineMs(req + rep);
    };
    add(kIdentityRequest, kIdentityReply);
    for (const auto& l : pkg.FL)
        add(l.D.size() + 5, kAck); // command, length, two address bytes, data, check byte
    for (const auto& l : pkg.EE)
        add(l.D.size() + 4, kAck); // command, length, address byte, data, check byte
    f.EngineMs += 200;
    f.LineMs += 200;
    add(kResetRequest, kAck);
    return f;
}

TPackageContents Contents(const fs::path& hex)
{
    TZorelBootLoaderHexDataFile fh;
    return CheckPackage(fh, FirmwareContainer(hex.string()));
}

// Every device of a dump holds the package and was reset once.
bool DumpHoldsPackage(const fs::path& dump, const TPackageContents& pkg, int devices)
{
    const TMemory flash = LinesMemory(pkg.FL), eeprom = LinesMemory(pkg.EE);
    try {
        const nlohmann::json d = nlohmann::json::parse(ReadText(dump));
        if (static_cast<int>(d["devices"].size()) != devices)
            return false;
        for (const auto& dev : d["devices"])
            if (dev["resets"] != 1 || DumpMemory(dev["flash"], "address") != flash ||
                DumpMemory(dev["eeprom"], "offset") != eeprom)
                return false;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

json gFigures = json::array();
json gDetails = json::object();

void Figure(const std::string& name, double value, double goal, const std::string& label)
{
    const bool met = value <= goal;
    gFigures.push_back({{"name", name}, {"value", value}, {"goal", goal}, {"met", met}, {"label", label}});
    std::printf("%-52s %10.4f  goal <= %-8g %s\n", name.c_str(), value, goal, met ? "met" : "MISSED");
    std::fflush(stdout);
}

std::string Fmt(const char* f, double a, double b = 0)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, f, a, b);
    return buf;
}

// The machine's own share of an exchange's overhead: a thread of the benchmark that sleeps what an exchange of a
// flash line sleeps (its send wait, then one poll) for as long as it lives, beside the program measured. What its
// sleeps run over their whole milliseconds is wake-up latency that no code of the updater can take back.
class TSleepProbe {
public:
    TSleepProbe()
        : FThread([this] {
              const double send = SendWaitMs(kFlashRequest), poll = PollMs();
              while (!FStop) {
                  const double t0 = NowMs();
                  SleepMs(send);
                  const double t1 = NowMs();
                  SleepMs(poll);
                  const double t2 = NowMs();
                  FOver += (t1 - t0 - send) + (t2 - t1 - poll);
                  ++FCount;
              }
          })
    {
    }
    ~TSleepProbe() { Stop(); }
    // Ends the probe; the mean overshoot of one exchange's sleeps, in milliseconds.
    double Stop()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        return FCount ? FOver / static_cast<double>(FCount) : 0;
    }

private:
    std::atomic<bool> FStop{false};
    double FOver = 0;
    long FCount = 0;
    std::thread FThread; // last: it starts once the counters exist
};

// `nerid flash` of one package onto `count` line-paced devices.
struct TFlashRun {
    TProc Proc;
    TProc Sim; // the simulator, for its share of the machine
    double UpdateMs = 0; // the slowest device, from its worker's start to its end
    double SleepOverMs = 0; // TSleepProbe beside the run
    int Programmed = 0;
    bool Holds = false;
    long Resends = 0; // over every device of the run
};

TFlashRun FlashRun(const fs::path& hex, const TPackageContents& pkg, int count,
                   const std::vector<std::string>& simExtra = {}, const std::vector<std::string>& flashExtra = {})
{
    std::vector<std::string> simArgs = {"--baud", "19200"};
    simArgs.insert(simArgs.end(), simExtra.begin(), simExtra.end());
    TSim sim = StartSim(count, simArgs);
    std::vector<std::string> a = {Tool("nerid"), "flash", hex.string(), "--json"};
    a.insert(a.end(), flashExtra.begin(), flashExtra.end());
    const auto p = PortArgs(sim.Ports);
    a.insert(a.end(), p.begin(), p.end());
    TFlashRun r;
    TSleepProbe probe;
    r.Proc = Run(a);
    r.SleepOverMs = probe.Stop();
    r.Sim = sim.Stop();
    try {
        for (const auto& d : nlohmann::json::parse(r.Proc.Out)) {
            r.UpdateMs = std::max(r.UpdateMs, d["duration_ms"].get<double>());
            r.Programmed += d["result"] == "programmed";
            r.Resends += d.value("resends", 0L);
        }
    } catch (const std::exception&) {
    }
    r.Holds = DumpHoldsPackage(sim.Dump, pkg, count);
    return r;
}

// Exchanges of one programming pass: identity, the lines, the reset.
double Exchanges(const TPackageContents& pkg) { return static_cast<double>(pkg.FL.size() + pkg.EE.size() + 2); }

double OverPerExchange(const TFlashRun& r, const TFloor& floor, const TPackageContents& pkg)
{
    return (r.UpdateMs - floor.EngineMs) / Exchanges(pkg);
}

// The run's time less what the machine's own sleeps overshot beside it, one exchange's worth per exchange: an
// estimate of what the updater would take where a sleep ends on time, shown next to the measured figure.
double NetMs(const TFlashRun& r, const TPackageContents& pkg) { return r.UpdateMs - r.SleepOverMs * Exchanges(pkg); }

// against: the net time the figure divides by (the floor, or the net time of one device).
void PrintOverhead(const TFlashRun& r, const TFloor& floor, const TPackageContents& pkg, double against)
{
    std::printf("    (over the floor: %.3f ms an exchange; the machine's own sleeps beside it overshot %.3f ms;\n"
                "     net of that overshoot the figure would be %.4f)\n",
                OverPerExchange(r, floor, pkg), r.SleepOverMs, NetMs(r, pkg) / against);
}

void WholeUpdate(const fs::path& fullHex)
{
    const TPackageContents pkg = Contents(fullHex);
    const TFloor floor = UpdateFloor(pkg);
    const TFlashRun r = FlashRun(fullHex, pkg, 1);
    gDetails["whole_update"] = {{"package", "sample firmware, full size"},
                                {"flash_lines", pkg.FL.size()},
                                {"eeprom_lines", pkg.EE.size()},
                                {"update_ms", r.UpdateMs},
                                {"engine_floor_ms", floor.EngineMs},
                                {"line_limit_ms", floor.LineMs},
                                {"process_wall_ms", r.Proc.WallMs},
                                {"process_cpu_ms", r.Proc.CpuMs},
                                {"over_floor_per_exchange_ms", OverPerExchange(r, floor, pkg)},
                                {"sleep_overshoot_per_exchange_ms", r.SleepOverMs},
                                {"net_of_overshoot_ms", NetMs(r, pkg)},
                                {"programmed", r.Programmed},
                                {"memory_equals_package", r.Holds}};
    Figure("whole update at 19200 baud / engine floor", r.UpdateMs / floor.EngineMs, 1.02,
           Fmt("%.2f s / %.2f s", r.UpdateMs / 1000, floor.EngineMs / 1000));
    std::printf("    (the line's own limit: %.2f s, %.3f of the floor)\n", floor.LineMs / 1000,
                floor.LineMs / floor.EngineMs);
    PrintOverhead(r, floor, pkg, floor.EngineMs);
}

void ParallelRuns(const fs::path& smallHex)
{
    const TPackageContents pkg = Contents(smallHex);
    const TFloor floor = UpdateFloor(pkg);
    // The same program with nothing to program: the package checked, one silent port searched and reported absent.
    TSim silent = StartSim(1, {"--fault", "silent"});
    const TProc idle = Run({Tool("nerid"), "flash", smallHex.string(), "--port", silent.Ports[0]});
    silent.Stop();
    json runs = json::array();
    // Three rounds of 1, 8 and 64 devices, interleaved so that a burst of load elsewhere on the machine hits every
    // count alike; each figure takes the round with the median time of its count.
    constexpr int kRounds = 3;
    std::map<int, std::vector<TFlashRun>> all;
    for (int round = 0; round < kRounds; ++round) {
        for (int n : {1, 8, 64}) {
            all[n].push_back(FlashRun(smallHex, pkg, n));
            const TFlashRun& r = all[n].back();
            runs.push_back({{"devices", n},
                            {"round", round},
                            {"update_ms", r.UpdateMs},
                            {"engine_floor_ms", floor.EngineMs},
                            {"process_wall_ms", r.Proc.WallMs},
                            {"process_cpu_ms", r.Proc.CpuMs},
                            {"cpu_per_device_percent", 100.0 * r.Proc.CpuMs / r.Proc.WallMs / n},
                            {"over_floor_per_exchange_ms", OverPerExchange(r, floor, pkg)},
                            {"sleep_overshoot_per_exchange_ms", r.SleepOverMs},
                            {"net_of_overshoot_ms", NetMs(r, pkg)},
                            {"peak_rss_kb", r.Proc.MaxRssKb},
                            {"simulator_cpu_ms", r.Sim.CpuMs},
                            {"programmed", r.Programmed},
                            {"memory_equals_package", r.Holds}});
        }
    }
    std::map<int, TFlashRun> by;
    for (auto& [n, list] : all) {
        std::sort(list.begin(), list.end(),
                  [](const TFlashRun& a, const TFlashRun& b) { return a.UpdateMs < b.UpdateMs; });
        by[n] = list[list.size() / 2];
    }
    gDetails["parallel"] = {{"package", "sample firmware cut to 4096 flash bytes and 256 EEPROM bytes"},
                            {"flash_lines", pkg.FL.size()},
                            {"eeprom_lines", pkg.EE.size()},
                            {"idle_peak_rss_kb", idle.MaxRssKb},
                            {"runs", runs}};
    for (int n : {8, 64}) {
        Figure(Fmt("%g devices at once / 1 device", n), by[n].UpdateMs / by[1].UpdateMs, 1.03,
               Fmt("%.2f s / %.2f s", by[n].UpdateMs / 1000, by[1].UpdateMs / 1000));
        PrintOverhead(by[n], floor, pkg, NetMs(by[1], pkg));
    }
    const TFlashRun& r64 = by[64];
    Figure("updater CPU per device, 64 devices (% of a core)", 100.0 * r64.Proc.CpuMs / r64.Proc.WallMs / 64, 2.0,
           Fmt("%.3f %% (%.0f ms CPU)", 100.0 * r64.Proc.CpuMs / r64.Proc.WallMs / 64, r64.Proc.CpuMs));
    Figure("nerid flash peak RSS, 64 devices - idle (MB)", (r64.Proc.MaxRssKb - idle.MaxRssKb) / 1024.0, 16.0,
           Fmt("%.1f MB vs %.1f MB", r64.Proc.MaxRssKb / 1024.0, idle.MaxRssKb / 1024.0));
}

// The line-rate exchange (`nerid flash --fast`) beside the engine's own, in the same run, against devices that take
// 5 ms to write a line as a real flash does, and then behind an adapter with a 16 ms latency timer.
void LineRate(const fs::path& fullHex, const fs::path& smallHex)
{
    constexpr double kWriteMs = 5;
    const std::vector<std::string> writes = {"--write-ms", "5"};
    const TPackageContents pkg = Contents(fullHex);
    const TFloor floor = UpdateFloor(pkg);
    // The line's own limit: every frame's bytes at 10 bits each, the device's write of each line, the 200 ms pause.
    const double limit = floor.LineMs + kWriteMs * static_cast<double>(pkg.FL.size() + pkg.EE.size());
    json modes = json::object();
    std::map<std::string, TFlashRun> whole;
    for (const bool fast : {false, true}) {
        const std::string mode = fast ? "fast" : "default";
        const std::vector<std::string> flag = fast ? std::vector<std::string>{"--fast"} : std::vector<std::string>{};
        whole[mode] = FlashRun(fullHex, pkg, 1, writes, flag);
        const TFlashRun latency = FlashRun(fullHex, pkg, 1, {"--write-ms", "5", "--latency", "16"}, flag);
        const TFlashRun& r = whole[mode];
        modes[mode] = {{"update_ms", r.UpdateMs},
                       {"line_limit_ms", limit},
                       {"over_limit_per_exchange_ms", (r.UpdateMs - limit) / Exchanges(pkg)},
                       {"sleep_overshoot_per_exchange_ms", r.SleepOverMs},
                       {"resends", r.Resends},
                       {"programmed", r.Programmed},
                       {"memory_equals_package", r.Holds},
                       {"latency_16ms_update_ms", latency.UpdateMs},
                       {"latency_16ms_resends", latency.Resends},
                       {"latency_16ms_memory_equals_package", latency.Holds}};
        std::printf("    %-7s whole update, --write-ms 5: %.2f s (%.3f of the line's limit %.2f s), %ld resends, "
                    "memory %s; behind a 16 ms latency timer: %.2f s\n",
                    mode.c_str(), r.UpdateMs / 1000, r.UpdateMs / limit, limit / 1000, r.Resends,
                    r.Holds ? "equals the package" : "DIFFERS", latency.UpdateMs / 1000);
    }
    Figure("--fast whole update, --write-ms 5 / line's limit", whole["fast"].UpdateMs / limit, 1.10,
           Fmt("%.2f s / %.2f s", whole["fast"].UpdateMs / 1000, limit / 1000));
    std::printf("    (--fast over the line's limit: %.3f ms an exchange)\n",
                (whole["fast"].UpdateMs - limit) / Exchanges(pkg));

    // 8 devices against one, three interleaved rounds, the median of each count.
    const TPackageContents small = Contents(smallHex);
    std::map<int, std::vector<TFlashRun>> all;
    for (int round = 0; round < 3; ++round)
        for (int n : {1, 8})
            all[n].push_back(FlashRun(smallHex, small, n, writes, {"--fast"}));
    std::map<int, TFlashRun> by;
    for (auto& [n, list] : all) {
        std::sort(list.begin(), list.end(),
                  [](const TFlashRun& a, const TFlashRun& b) { return a.UpdateMs < b.UpdateMs; });
        by[n] = list[list.size() / 2];
    }
    modes["parallel_fast"] = {{"one_device_ms", by[1].UpdateMs}, {"eight_devices_ms", by[8].UpdateMs},
                              {"eight_resends", by[8].Resends}, {"eight_memory_equals_package", by[8].Holds}};
    gDetails["line_rate"] = modes;
    Figure("--fast 8 devices at once / 1 device", by[8].UpdateMs / by[1].UpdateMs, 1.03,
           Fmt("%.2f s / %.2f s", by[8].UpdateMs / 1000, by[1].UpdateMs / 1000));
}

void SilentSearch()
{
    TSim sim = StartSim(64, {"--fault", "silent"});
    std::vector<std::string> a = {Tool("nerid"), "search"};
    const auto p = PortArgs(sim.Ports);
    a.insert(a.end(), p.begin(), p.end());
    const TProc r = Run(a);
    sim.Stop();
    // Three tries, each the send wait of a 3-byte request, 300 ms of reading and a 400 ms pause.
    const double floor = 3 * (SendWaitMs(kIdentityRequest) + 300 + 400);
    gDetails["search"] = {{"ports", 64}, {"wall_ms", r.WallMs}, {"floor_ms", floor}, {"cpu_ms", r.CpuMs},
                          {"exit_code", r.Rc}};
    Figure("search pass over 64 silent ports / floor", r.WallMs / floor, 1.07,
           Fmt("%.0f ms / %.0f ms", r.WallMs, floor));
}

// A record's finished time (ISO 8601 UTC with milliseconds) in milliseconds of the system clock.
double FinishedMs(const std::string& iso)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, ms = 0;
    if (std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &y, &mo, &d, &h, &mi, &sec, &ms) != 7)
        throw std::runtime_error("not a finished time: " + iso);
    using namespace std::chrono;
    const sys_days day{year{y} / month{static_cast<unsigned>(mo)} / static_cast<unsigned>(d)};
    return static_cast<double>(duration_cast<milliseconds>(day.time_since_epoch()).count()) +
           ((h * 60.0 + mi) * 60.0 + sec) * 1000.0 + ms;
}

// A production station of 8 fixtures fed board after board (small firmware at 19200 baud, 2 s from a board's reset
// to the next board answering): boards per hour in its steady state against 8 x 3600 / (one board's update + replug).
void Station(const fs::path& smallHex)
{
    constexpr int kFixtures = 8, kBoardsEach = 4;
    constexpr double kReplugMs = 2000;
    TSim sim = StartSim(kFixtures, {"--baud", "19200", "--replug", Fmt("%g", kReplugMs / 1000)});
    std::vector<std::string> a = {Tool("nerid"), "flash", smallHex.string(), "--watch", "--json", "--count",
                                  std::to_string(kFixtures * kBoardsEach)};
    const auto p = PortArgs(sim.Ports);
    a.insert(a.end(), p.begin(), p.end());
    const TProc r = Run(a);
    sim.Stop();
    // Each fixture's cycle: from its first board's finish to its last one's, over the boards between.
    std::map<std::string, std::vector<double>> finished;
    double updateMs = 0;
    int programmed = 0;
    std::istringstream lines(r.Out);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json j = nlohmann::json::parse(line);
        if (j["result"] != "programmed")
            continue;
        ++programmed;
        updateMs += j["duration_ms"].get<double>();
        finished[j["port"].get<std::string>()].push_back(FinishedMs(j["finished"]));
    }
    if (r.Rc != 0 || programmed != kFixtures * kBoardsEach)
        throw std::runtime_error(Fmt("the station programmed %g of %g boards", programmed, kFixtures * kBoardsEach));
    updateMs /= programmed;
    double perHour = 0, cycles = 0;
    for (auto& [port, times] : finished) {
        std::sort(times.begin(), times.end());
        const double cycleMs = (times.back() - times.front()) / static_cast<double>(times.size() - 1);
        perHour += 3600000.0 / cycleMs;
        cycles += cycleMs;
    }
    const double ideal = kFixtures * 3600000.0 / (updateMs + kReplugMs);
    gDetails["station"] = {{"fixtures", kFixtures},
                           {"boards", programmed},
                           {"replug_ms", kReplugMs},
                           {"update_ms", updateMs},
                           {"cycle_ms", cycles / static_cast<double>(finished.size())},
                           {"boards_per_hour", perHour},
                           {"ideal_boards_per_hour", ideal},
                           {"share_of_ideal", perHour / ideal},
                           {"process_wall_ms", r.WallMs},
                           {"process_cpu_ms", r.CpuMs}};
    // Drawn like the other figures (lower is better): the ideal over the station's rate; goal 1/0.97.
    Figure("station of 8: ideal boards per hour / measured", ideal / perHour, 1 / 0.97,
           Fmt("%.0f / %.0f boards an hour", ideal, perHour));
    std::printf("    (share of the ideal: %.4f, goal >= 0.97; one board's update %.2f s + replug 2 s, cycle %.2f s)\n",
                perHour / ideal, updateMs / 1000, cycles / static_cast<double>(finished.size()) / 1000);
}

json Harness(const fs::path& exe, const std::string& mode, const std::vector<std::string>& ports)
{
    const fs::path portsFile = gOut / "work" / ("ports-" + mode);
    {
        std::ofstream f(portsFile);
        for (const std::string& p : ports)
            f << p << "\n";
    }
    const fs::path report = gOut / "work" / ("window-" + mode + ".json");
    ::setenv("NERID_BENCH_T0", Fmt("%.3f", NowMs()).c_str(), 1);
    const TProc r = Run({exe.string(), "--window", mode, "--ports", portsFile.string(), "--report", report.string(),
                         "--shots", gOut.string()});
    json j = json::parse(ReadText(report));
    j["process_max_rss_kb"] = r.MaxRssKb;
    j["process_wall_ms"] = r.WallMs;
    return j;
}

// The same figures of the Qt 6 window this one replaced, from this benchmark on the project's 2-core virtual machine
// (the chart in README.md): the GTK window is measured against them.
constexpr double kQtShownMs = 356;
constexpr double kQtIdleRssMb = 26.9, kQtRunRssMb = 30.0;

void Window(const fs::path& smallHex)
{
    // The harness with the package at its tail, so that it reads it exactly as the updater does.
    const fs::path exe = gOut / "work" / "nerid-bench-window";
    const TProc pack = Run({Tool("nerid"), "pack", smallHex.string(), "-o", exe.string(), "--base",
                            fs::read_symlink("/proc/self/exe").string()});
    if (pack.Rc != 0)
        throw std::runtime_error("nerid pack failed");
    // The window on a display of its own, the same on every machine the bench runs on.
    const TVirtualDisplay display((gOut / "work" / "xvfb.log").string());
    const json idle = Harness(exe, "idle", {});
    TSim sim = StartSim(64, {"--baud", "19200"});
    const json run = Harness(exe, "run", sim.Ports);
    sim.Stop();
    const bool holds = DumpHoldsPackage(sim.Dump, Contents(smallHex), 64);
    gDetails["window"] = {{"idle", idle}, {"run", run}, {"memory_equals_package", holds},
                          {"screenshots", {(gOut / "window_64_listed.png").string(),
                                           (gOut / "window_64_programmed.png").string()}}};
    const double shown = idle.value("shown_after_ms", -1.0);
    gDetails["window"]["qt6_before"] = {{"shown_after_ms", kQtShownMs}, {"idle_rss_mb", kQtIdleRssMb},
                                        {"run_rss_mb", kQtRunRssMb}};
    Figure("start to window shown / 300 ms design wait", shown / 300.0, 1.2,
           Fmt("%.0f ms / 300 ms (Qt 6: %.0f ms)", shown, kQtShownMs));
    const double runMb = run.value("rss_peak_kb", 0L) / 1024.0, idleMb = idle.value("rss_peak_kb", 0L) / 1024.0;
    Figure("window peak RSS, 64 devices - idle (MB)", runMb - idleMb, 16.0,
           Fmt("%.1f MB vs %.1f MB", runMb, idleMb) + Fmt(" (Qt 6: %.1f vs %.1f)", kQtRunRssMb, kQtIdleRssMb));
    Figure("window peak RSS, 64 devices / the Qt 6 window's", runMb / kQtRunRssMb, 1.0,
           Fmt("%.1f MB / %.1f MB", runMb, kQtRunRssMb));
    const double cpu = run.value("cpu_ms_run", 0.0), ms = run.value("run_ms", 1.0);
    Figure("window CPU per device, 64 devices (% of a core)", 100.0 * cpu / ms / 64, 2.0,
           Fmt("%.3f %%", 100.0 * cpu / ms / 64));
    std::printf("    window: %d of 64 programmed, scroll bar %s, bar reached %d, memory %s\n",
                run.value("programmed", 0), run.value("scroll_bar", false) ? "shown" : "NOT shown",
                run.value("bar_max", 0), holds ? "equals the package" : "DIFFERS");
}

int Bench(const fs::path& out, const std::string& part)
{
    gOut = fs::absolute(out);
    gTools = fs::read_symlink("/proc/self/exe").parent_path();
    fs::create_directories(gOut / "work");
    // Private virtual ports: the simulators register there, and nothing else is ever searched.
    const fs::path runtime = gOut / "work" / "run";
    fs::remove_all(runtime);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

    const fs::path full = gOut / "work" / "full.hex", small = gOut / "work" / "small.hex";
    if (Run({Tool("nerid-sample-firmware"), "-o", full.string()}).Rc != 0 ||
        Run({Tool("nerid-sample-firmware"), "-o", small.string(), "--flash-bytes", "4096", "--eeprom-bytes", "256"})
                .Rc != 0)
        throw std::runtime_error("nerid-sample-firmware failed");

    // In the order of a whole run; --part runs one of them (a figure under work, without the rest's half hour).
    const std::vector<std::pair<std::string, std::function<void()>>> parts = {
        {"whole-update", [&] { WholeUpdate(full); }},
        {"parallel", [&] { ParallelRuns(small); }},
        {"line-rate", [&] { LineRate(full, small); }},
        {"silent-search", [] { SilentSearch(); }},
        {"station", [&] { Station(small); }},
        {"window", [&] { Window(small); }},
    };
    std::string names;
    for (const auto& p : parts)
        names += " " + p.first;
    if (!part.empty() && std::none_of(parts.begin(), parts.end(), [&](const auto& p) { return p.first == part; }))
        throw std::runtime_error("no part \"" + part + "\"; the parts are:" + names);
    const double t0 = NowMs();
    for (const auto& [name, run] : parts)
        if (part.empty() || part == name)
            run();

    json all = {{"baud", kBaud}, {"figures", gFigures}, {"details", gDetails}, {"bench_seconds", (NowMs() - t0) / 1000}};
    std::ofstream(gOut / "bench.json") << all.dump(2) << "\n";
    const bool chart = DrawChart(gFigures, (gOut / "bench.png").string());
    std::printf("figures: %s\nchart:   %s%s\n", (gOut / "bench.json").c_str(), (gOut / "bench.png").c_str(),
                chart ? "" : " (could not be written)");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::map<std::string, std::string> opt;
    for (int k = 1; k + 1 < argc; k += 2)
        opt[argv[k]] = argv[k + 1];
    try {
        if (opt.count("--window"))
            return WindowHarness(argc, argv, opt["--window"], opt["--ports"], opt["--report"], opt["--shots"]);
        if (opt.count("--out"))
            return Bench(opt["--out"], opt["--part"]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nerid-bench: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: nerid-bench --out DIR [--part NAME]\n");
    return 2;
}
