// nerid sim: simulated device bootloaders on pseudo-terminals, registered as virtual ports until SIGINT/SIGTERM.
#include "cli/commands.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <pthread.h>
#include <unistd.h>

#include "base/cp1251.h"
#include "base/error.h"
#include "base/utf8_path.h"
#include "base/format.h"
#include "cli/files.h"
#include "serial/virtual_ports.h"
#include "sim/sim_runner.h"

namespace {

constexpr const char* kFaultHelp =
    "fault of one device, repeatable: [DEV[.BOARD]:]KIND[=ARG], DEV the device number 1..N as printed (omitted: every "
    "device); with --replug a fault holds for every board of that line, or only for board BOARD (1, 2, ... in the "
    "order they are plugged in), which then has the line's faults and this one. KIND: silent (never answers); "
    "drop=L[xK] (flash line L, counted from 0, is ignored K times, default 1, then taken); stop=L (answers nothing "
    "more from the line command after L written lines on); hangup=L (closes its line, as if unplugged, when the "
    "line command after L written lines arrives); short-id (identity reply of 49 bytes); "
    "garbage (three stray bytes before every reply); wrong-first (replies start with 0xE0|command); deaf=MS (after "
    "each reply, a request that starts arriving within MS milliseconds is lost, as with a device that answers a line "
    "before it writes it). "
    "Example: --fault 2:drop=5x2 --fault 3:hangup=100";

[[noreturn]] void BadFault(const std::string& given, const std::string& why)
{
    throw Exception("bad --fault " + given + ": " + why);
}

int ParseCount(const std::string& given, const std::string& text)
{
    std::size_t used = 0;
    int v = -1;
    try {
        v = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size() || v < 0)
        BadFault(given, "\"" + text + "\" is not a count");
    return v;
}

// One --fault as given: where it applies and what it does.
struct TFault {
    std::string given;
    int device = -1; // from 0; -1: every device
    int board = -1;  // from 0; -1: every board of the line
    std::string kind, arg;
};

void ApplyFault(const TFault& given, SimFaults& f)
{
    const std::string& kind = given.kind;
    if (kind == "silent")
        f.silent = true;
    else if (kind == "short-id")
        f.shortIdentity = true;
    else if (kind == "garbage")
        f.garbage = true;
    else if (kind == "wrong-first")
        f.wrongFirst = true;
    else if (kind == "stop")
        f.stopAfter = ParseCount(given.given, given.arg);
    else if (kind == "hangup")
        f.hangupAfter = ParseCount(given.given, given.arg);
    else if (kind == "deaf")
        f.deafMs = ParseCount(given.given, given.arg);
    else if (kind == "drop") {
        const auto x = given.arg.find('x');
        f.dropLine = ParseCount(given.given, given.arg.substr(0, x));
        f.dropTimes = x == std::string::npos ? 1 : ParseCount(given.given, given.arg.substr(x + 1));
    } else
        BadFault(given.given, "unknown fault \"" + kind + "\"");
}

TFault ParseFault(const std::string& given, int count)
{
    TFault f;
    f.given = given;
    std::string rest = given;
    if (const auto colon = rest.find(':'); colon != std::string::npos) {
        const std::string where = rest.substr(0, colon);
        const auto dot = where.find('.');
        const int dev = ParseCount(given, where.substr(0, dot));
        if (dev < 1 || dev > count)
            BadFault(given, Format("no device %d (devices are 1..%d)", dev, count));
        f.device = dev - 1;
        if (dot != std::string::npos) {
            const int board = ParseCount(given, where.substr(dot + 1));
            if (board < 1)
                BadFault(given, "boards are counted from 1");
            f.board = board - 1;
        }
        rest = rest.substr(colon + 1);
    }
    f.kind = rest;
    const auto eq = rest.find('=');
    if (eq != std::string::npos) {
        f.kind = rest.substr(0, eq);
        f.arg = rest.substr(eq + 1);
    }
    const bool takesArg = f.kind == "drop" || f.kind == "stop" || f.kind == "hangup" || f.kind == "deaf";
    if (takesArg == (eq == std::string::npos))
        BadFault(given, takesArg ? f.kind + " needs =L" : f.kind + " takes no value");
    SimFaults probe;
    ApplyFault(f, probe); // refuses an unknown kind or a bad count now, before any device exists
    return f;
}

std::uint16_t ParseVersion(const std::string& text)
{
    unsigned major = 0, minor = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%x.%x%c", &major, &minor, &rest) != 2 || major > 0xFF || minor > 0xFF)
        throw Exception("bad --version " + text + " (expected MAJOR.MINOR in hex digits, e.g. 1.04)");
    return static_cast<std::uint16_t>(major << 8 | minor);
}

struct TSimOptions {
    int count = 1;
    std::string name = "SAMPLE";
    std::string version = "1.00";
    unsigned type = 3, variant = 2, revision = 0;
    std::uint32_t id = 1;
    std::uint32_t baud = 0;
    double writeMs = 0;
    double latencyMs = 0;
    double replug = 0; // seconds
    std::vector<std::string> faults;
    std::string dump;
};

// Registered links, removed on every way out of the command.
class TRegistrations {
public:
    std::string Add(const std::string& name, const std::string& pts)
    {
        const std::string link = RegisterVirtualPort(name, pts);
        FNames.push_back(name);
        return link;
    }
    void Remove(std::size_t k)
    {
        if (k < FNames.size() && !FNames[k].empty()) {
            UnregisterVirtualPort(FNames[k]);
            FNames[k].clear();
        }
    }
    ~TRegistrations()
    {
        for (std::size_t k = 0; k < FNames.size(); ++k) {
            try {
                Remove(k);
            } catch (const std::exception& e) {
                std::cerr << e.what() << "\n";
            }
        }
    }

private:
    std::vector<std::string> FNames;
};

void RunSim(const TSimOptions& o)
{
    SimConfig c;
    c.count = o.count;
    c.identity.name = Utf8ToCp1251(o.name);
    if (c.identity.name.size() > 10)
        throw Exception("bad --name: at most 10 characters");
    c.identity.version = ParseVersion(o.version);
    c.identity.type = static_cast<std::uint16_t>(o.type);
    c.identity.variant = static_cast<std::uint8_t>(o.variant);
    c.identity.revision = static_cast<std::uint8_t>(o.revision);
    c.identity.id = o.id;
    c.baud = o.baud;
    c.writeMs = o.writeMs;
    c.latencyMs = o.latencyMs;
    c.dumpPath = o.dump;
    c.replugMs = o.replug * 1000.0;
    std::vector<TFault> faults;
    for (const std::string& f : o.faults)
        faults.push_back(ParseFault(f, o.count));
    // The line's faults first: a board's own faults add to them.
    for (const TFault& f : faults)
        if (f.board < 0)
            for (int k = 0; k < o.count; ++k)
                if (f.device < 0 || f.device == k)
                    ApplyFault(f, c.faults[k]);
    for (const TFault& f : faults) {
        if (f.board < 0)
            continue;
        if (f.board > 0 && o.replug <= 0)
            BadFault(f.given, "without --replug a line holds only board 1");
        const auto [own, fresh] = c.boardFaults.try_emplace({f.device, f.board}, c.faults[f.device]);
        ApplyFault(f, own->second);
    }

    // The device threads must not take the signals: the main thread waits for them below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // A dump that cannot be written is said at once, not found missing after a run.
    if (!c.dumpPath.empty())
        c.dumpPath = PathUtf8(CheckOutput(Utf8Path(c.dumpPath), {}));
    SimRunner runner(c);
    const std::vector<std::string> pts = runner.Open();
    if (!runner.Dump())
        throw Exception("cannot write the dump " + o.dump + ": check that its folder is writable");
    TRegistrations links;
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < pts.size(); ++k)
        paths.push_back(links.Add(Format("sim%d-%zu", static_cast<int>(getpid()), k + 1), pts[k]));
    runner.Start();
    for (const std::string& p : paths)
        std::cout << p << "\n";
    std::cout.flush();

    std::vector<bool> gone(pts.size(), false);
    bool dumpFailing = false; // said once per run of failed writes
    auto dumped = [&](bool ok) {
        if (!ok && !dumpFailing)
            std::cerr << "nerid sim: cannot write the dump " << o.dump << " (the disk full, or the folder gone?)"
                      << std::endl;
        dumpFailing = !ok;
    };
    for (;;) {
        const timespec tick{0, 100 * 1000 * 1000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if (sig > 0)
            break;
        dumped(runner.DumpIfDue());
        // A device that hung up is unplugged: its pty number may soon belong to someone else.
        for (std::size_t k = 0; k < pts.size(); ++k)
            if (!gone[k] && runner.HungUp(static_cast<int>(k))) {
                gone[k] = true;
                links.Remove(k);
            }
    }
    runner.Stop();
    // The last state is what a test verifies: without it the run has failed.
    if (!runner.Dump())
        throw Exception("cannot write the dump " + o.dump + " at the end of the run (the disk full, or the folder "
                        "gone?): the devices' last state is lost");
}

} // namespace

void AddSimCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand(
        "sim", "Simulates device bootloaders on pseudo-terminals: registers each as a virtual port, prints one port "
               "path per line, answers until SIGINT/SIGTERM, then removes the registrations. Defaults match the "
               "sample firmware's type, variant and revision at version 1.00, so it needs the update.");
    auto o = std::make_shared<TSimOptions>();
    cmd->add_option("--count", o->count, "number of devices")->check(CLI::Range(1, 64));
    cmd->add_option("--name", o->name, "installed firmware name, UTF-8 (stored in code page 1251, at most 10 characters)");
    cmd->add_option("--version", o->version, "installed firmware version MAJOR.MINOR in hex digits (e.g. 1.04)");
    cmd->add_option("--type", o->type, "installed firmware device type")->check(CLI::Range(0, 0xFFFF));
    cmd->add_option("--variant", o->variant, "installed firmware variant")->check(CLI::Range(0, 255));
    cmd->add_option("--revision", o->revision, "installed firmware board modification")->check(CLI::Range(0, 255));
    cmd->add_option("--id", o->id, "identification number of device 1; device k has ID + k - 1");
    cmd->add_option("--baud", o->baud, "pace both directions at this line rate (10 bits a byte); 0: answer at once");
    cmd->add_option("--write-ms", o->writeMs, "device write time per flash or EEPROM line, milliseconds")
        ->check(CLI::Range(0.0, 10000.0));
    cmd->add_option("--latency", o->latencyMs,
                    "play a USB serial adapter's latency timer: what the devices send reaches the host in bursts, at "
                    "most every MS milliseconds (0: as it leaves the line)")
        ->check(CLI::Range(0.0, 1000.0));
    cmd->add_option("--replug", o->replug,
                    "play a production fixture: after its reset (or once the host has given up programming it) a "
                    "device leaves its line for SECONDS, the port silent, then the next board answers there with the "
                    "next ID (ID + device - 1 + count * boards before it) and the configured firmware")
        ->check(CLI::Range(0.0, 3600.0));
    cmd->add_option("--fault", o->faults, kFaultHelp);
    cmd->add_option("--dump", o->dump,
                    "JSON file with each device's identity, the frames received and the memory programmed; "
                    "rewritten within 0.1 s of a reset or hang-up, and at exit");
    cmd->callback([o] { RunSim(*o); });
}
