// The simulator's pty plumbing: raw pseudo-terminals, a serving thread per device, pacing and the JSON dump.
#include "sim/sim_runner.h"

#include "base/error.h"
#include "base/format.h"
#include "timing/timing.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::string SysText(const char* what) { return Format("%s: %s", what, std::strerror(errno)); }

// Sleeps until the counter reaches `deadline` (milliseconds of NowMs, the monotonic clock): one absolute sleep, so that
// 64 devices pacing their lines do not wake the machine every 100 us (the timer slack of the program is 1 us).
void WaitUntil(double deadline)
{
    const double ns = deadline * 1e6;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1e9);
    ts.tv_nsec = static_cast<long>(ns - static_cast<double>(ts.tv_sec) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

} // namespace

SimRunner::SimRunner(SimConfig config) : FConfig(std::move(config)) {}

SimRunner::~SimRunner()
{
    Stop();
    for (auto& p : FPorts) {
        if (p->master >= 0)
            ::close(p->master);
        if (p->slave >= 0)
            ::close(p->slave);
    }
}

std::vector<std::string> SimRunner::Open()
{
    for (int k = 0; k < FConfig.count; ++k) {
        auto port = std::make_unique<Port>();
        port->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (port->master < 0)
            throw Exception(SysText("posix_openpt"));
        if (grantpt(port->master) != 0 || unlockpt(port->master) != 0)
            throw Exception(SysText("unlockpt"));
        char name[128] = {};
        if (ptsname_r(port->master, name, sizeof name) != 0)
            throw Exception(SysText("ptsname"));
        port->path = name;
        port->slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (port->slave < 0)
            throw Exception(SysText(name));
        termios tio{};
        if (tcgetattr(port->slave, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(port->slave, TCSANOW, &tio);
        }
        const int fl = fcntl(port->master, F_GETFL);
        fcntl(port->master, F_SETFL, fl | O_NONBLOCK);
        port->index = k;
        port->device = NewBoard(k, 0);
        port->burstZero = NowMs();
        FPaths.push_back(port->path);
        FPorts.push_back(std::move(port));
    }
    return FPaths;
}

std::unique_ptr<SimDevice> SimRunner::NewBoard(int index, int board) const
{
    SimIdentity id = FConfig.identity;
    id.id += static_cast<std::uint32_t>(index + FConfig.count * board);
    SimFaults faults;
    if (const auto b = FConfig.boardFaults.find({index, board}); b != FConfig.boardFaults.end())
        faults = b->second;
    else if (const auto f = FConfig.faults.find(index); f != FConfig.faults.end())
        faults = f->second;
    return std::make_unique<SimDevice>(id, faults, FConfig.writeMs);
}

void SimRunner::Leave(Port& port)
{
    {
        std::lock_guard<std::mutex> g(port.lock);
        port.gone.push_back(std::move(*port.device));
        port.device.reset();
    }
    port.backAtMs = NowMs() + FConfig.replugMs;
    port.lineCommands = 0;
    FDumpDue = true;
}

void SimRunner::ReplugIfDue(Port& port)
{
    if (!port.device) {
        if (NowMs() >= port.backAtMs) {
            auto next = NewBoard(port.index, static_cast<int>(port.gone.size()));
            std::lock_guard<std::mutex> g(port.lock);
            port.device = std::move(next);
        }
        return;
    }
    // A board whose programming began and then stopped: the host has given up on it, and so does the operator.
    if (port.lineCommands > 0 && NowMs() - port.lastLineMs > kStallMs)
        Leave(port);
}

void SimRunner::Start()
{
    for (auto& p : FPorts) {
        Port* port = p.get();
        port->thread = std::thread([this, port] { Serve(*port); });
    }
}

void SimRunner::Stop()
{
    if (FStop.exchange(true))
        return;
    for (auto& p : FPorts)
        if (p->thread.joinable())
            p->thread.join();
    Dump();
}

SimDevice SimRunner::Device(int index)
{
    Port& p = *FPorts.at(static_cast<std::size_t>(index));
    std::lock_guard<std::mutex> g(p.lock);
    return p.device ? *p.device : p.gone.back();
}

bool SimRunner::HungUp(int index)
{
    Port& p = *FPorts.at(static_cast<std::size_t>(index));
    std::lock_guard<std::mutex> g(p.lock);
    return p.device && p.device->HungUp();
}

double SimRunner::NextBurst(const Port& port, double t) const
{
    const double L = FConfig.latencyMs;
    return port.burstZero + std::ceil((t - port.burstZero) / L) * L;
}

void SimRunner::SendPaced(Port& port, const ABytes& bytes)
{
    const double byteMs = FConfig.baud ? 10000.0 / FConfig.baud : 0.0;
    const double t0 = NowMs();
    std::size_t sent = 0;
    if (FConfig.latencyMs > 0) {
        // An adapter with a latency timer: each byte, once off the line, waits for the next tick of the port's
        // grid, and every byte off the line by then goes to the host in that one burst.
        while (sent < bytes.size() && !FStop) {
            const double tick = NextBurst(port, t0 + byteMs * static_cast<double>(sent + 1));
            WaitUntil(tick);
            std::size_t due = bytes.size();
            if (byteMs > 0)
                due = std::min(bytes.size(), std::max(sent + 1, static_cast<std::size_t>((tick - t0) / byteMs + 1e-9)));
            while (sent < due && !FStop) {
                const ssize_t n = ::write(port.master, bytes.data() + sent, due - sent);
                if (n < 0 && errno != EAGAIN && errno != EINTR)
                    return;
                if (n > 0)
                    sent += static_cast<std::size_t>(n);
                else
                    WaitUntil(NowMs() + 0.2);
            }
        }
        return;
    }
    while (sent < bytes.size() && !FStop) {
        // Everything whose time on the line has come goes out in one write.
        std::size_t due = bytes.size();
        if (byteMs > 0) {
            due = static_cast<std::size_t>((NowMs() - t0) / byteMs) + 1;
            if (due > bytes.size())
                due = bytes.size();
        }
        if (due > sent) {
            const ssize_t n = ::write(port.master, bytes.data() + sent, due - sent);
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
            if (n > 0)
                sent += static_cast<std::size_t>(n);
        }
        if (sent < bytes.size())
            WaitUntil(t0 + byteMs * static_cast<double>(sent));
        if (byteMs == 0 && sent < bytes.size())
            WaitUntil(NowMs() + 0.2); // the pty buffer is full: let the reader catch up
    }
}

void SimRunner::HangUp(Port& port)
{
    // As if unplugged: the master goes away, the host's next I/O on the slave fails.
    if (port.master >= 0)
        ::close(port.master);
    if (port.slave >= 0)
        ::close(port.slave);
    port.master = -1;
    port.slave = -1;
}

void SimRunner::Serve(Port& port)
{
    const double byteMs = FConfig.baud ? 10000.0 / FConfig.baud : 0.0;
    double frameStart = -1; // arrival of the first byte not yet answered, for inbound pacing
    std::size_t inFrame = 0;
    double deafUntil = -1;  // a frame that starts arriving before this is lost (the deaf fault)
    while (!FStop && port.master >= 0) {
        if (FConfig.replugMs > 0)
            ReplugIfDue(port);
        pollfd pfd{port.master, POLLIN, 0};
        const int r = ::poll(&pfd, 1, 20);
        if (r <= 0)
            continue;
        std::uint8_t buf[4096];
        const ssize_t n = ::read(port.master, buf, sizeof buf);
        if (n <= 0) {
            // EIO while no host holds the slave cannot happen (the simulator keeps it open); anything else: retry.
            WaitUntil(NowMs() + 1);
            continue;
        }
        if (!port.device) { // between boards: nothing on the line hears the host
            frameStart = -1;
            inFrame = 0;
            continue;
        }
        if (frameStart < 0 && NowMs() < deafUntil)
            continue; // busy after its reply: the device never sees this frame
        if (frameStart < 0)
            frameStart = NowMs();
        inFrame += static_cast<std::size_t>(n);
        std::vector<SimOutput> outs;
        bool partial = false;
        {
            std::lock_guard<std::mutex> g(port.lock);
            outs = port.device->Feed(ABytes(buf, buf + n));
            partial = port.device->HasPartial();
            if (port.device->LineCommands() != port.lineCommands) {
                port.lineCommands = port.device->LineCommands();
                port.lastLineMs = NowMs();
            }
        }
        if (outs.empty()) {
            if (!partial) { // an ignored frame: the next one starts its own timing
                frameStart = -1;
                inFrame = 0;
            }
            continue;
        }
        // The request's last byte reaches the device only after all of its bytes have crossed the line.
        if (byteMs > 0)
            WaitUntil(frameStart + byteMs * static_cast<double>(inFrame));
        frameStart = -1;
        inFrame = 0;
        for (const SimOutput& o : outs) {
            if (o.delayMs > 0)
                WaitUntil(NowMs() + o.delayMs);
            if (!o.reply.empty()) {
                const double replyEnd = NowMs() + byteMs * static_cast<double>(o.reply.size());
                SendPaced(port, o.reply);
                if (port.device->DeafMs() > 0) // this thread alone replaces the board: no lock to read it
                    deafUntil = replyEnd + port.device->DeafMs();
            }
            // The dump holds every device: written here it would cost each reset the work of all devices (64 resets
            // at the end of a run of 64 took seconds of CPU). The owner writes it when it next looks (DumpIfDue).
            if (o.reset)
                FDumpDue = true;
            if (o.hangup) {
                HangUp(port);
                FDumpDue = true;
                break;
            }
            if (o.reset && FConfig.replugMs > 0) {
                Leave(port); // the operator takes the programmed board off the fixture
                break;
            }
        }
    }
}

std::string SimRunner::DumpText()
{
    nlohmann::json devices = nlohmann::json::array();
    for (std::size_t k = 0; k < FPorts.size(); ++k) {
        std::vector<SimDevice> boards;
        {
            Port& p = *FPorts[k];
            std::lock_guard<std::mutex> g(p.lock);
            boards = p.gone;
            if (p.device)
                boards.push_back(*p.device);
        }
        for (std::size_t b = 0; b < boards.size(); ++b) {
            const SimDevice& d = boards[b];
            const SimIdentity& id = d.Identity();
            nlohmann::json frames = nlohmann::json::array();
            for (const SimFrame& f : d.Frames())
                frames.push_back({{"cmd", f.cmd}, {"length", f.length}, {"crc_ok", f.crcOk}, {"address", f.address}});
            auto runs = [](const std::map<std::uint32_t, std::uint8_t>& mem, const char* key) {
                // Contiguous runs of programmed bytes, each as its start and its bytes in hex.
                nlohmann::json out = nlohmann::json::array();
                std::uint32_t start = 0;
                std::string hex;
                std::uint32_t next = 0;
                for (const auto& [addr, byte] : mem) {
                    if (!hex.empty() && addr != next) {
                        out.push_back({{key, start}, {"data", hex}});
                        hex.clear();
                    }
                    if (hex.empty())
                        start = addr;
                    hex += Format("%.2X", byte);
                    next = addr + 1;
                }
                if (!hex.empty())
                    out.push_back({{key, start}, {"data", hex}});
                return out;
            };
            devices.push_back({
                {"index", k},
                {"board", b + 1},
                {"path", FPorts[k]->path},
                {"identity",
                 {{"name_hex", BytesToText(ABytes(id.name.begin(), id.name.end()), "", true)},
                  {"version", Format("%x.%.2x", id.version >> 8, id.version & 0xFF)},
                  {"type", id.type},
                  {"variant", id.variant},
                  {"revision", id.revision},
                  {"id", id.id}}},
                {"resets", d.Resets()},
                {"lines_written", d.LinesWritten()},
                {"hung_up", d.HungUp()},
                {"frames", frames},
                {"flash", runs(d.Flash(), "address")},
                {"eeprom", runs(d.Eeprom(), "offset")},
            });
        }
    }
    return nlohmann::json{{"devices", devices}}.dump(1);
}

bool SimRunner::DumpIfDue()
{
    return !FDumpDue.exchange(false) || Dump();
}

bool SimRunner::Dump()
{
    if (FConfig.dumpPath.empty())
        return true;
    std::lock_guard<std::mutex> g(FDumpLock);
    const std::string text = DumpText();
    // Written aside and renamed, so that a reader never sees half a file.
    const std::string tmp = FConfig.dumpPath + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f << text;
        f.flush();
        if (!f) {
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), FConfig.dumpPath.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}
