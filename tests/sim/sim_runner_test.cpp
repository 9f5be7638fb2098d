// The simulator on real pseudo-terminals: a host opens the device's port, asks and gets answers at line rate.
#include "sim/sim_runner.h"

#include "bootloader/devid.h"
#include "timing/timing.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The host side of one port: raw, non-blocking.
class HostPort {
public:
    explicit HostPort(const std::string& path)
    {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios t{};
        if (fd >= 0 && tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd, TCSANOW, &t);
        }
    }
    ~HostPort()
    {
        if (fd >= 0)
            ::close(fd);
    }
    void Write(const ABytes& b) { ASSERT_EQ(::write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
    // Reads until `want` bytes arrived or `timeoutMs` passed; `hup` tells whether the line died.
    ABytes Read(std::size_t want, double timeoutMs, bool* hup = nullptr)
    {
        ABytes got;
        const double end = NowMs() + timeoutMs;
        while (got.size() < want && NowMs() < end) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5) > 0) {
                if (p.revents & (POLLHUP | POLLERR)) {
                    if (hup)
                        *hup = true;
                    break;
                }
                std::uint8_t buf[256];
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0)
                    got.insert(got.end(), buf, buf + n);
            }
        }
        return got;
    }
    int fd = -1;
};

TEST(SimRunner, AnswersAtLineRateAndDumpsWhatItReceived)
{
    const std::string dump = testing::TempDir() + "sim_runner_dump.json";
    SimConfig cfg;
    cfg.count = 2;
    cfg.baud = 19200;
    cfg.identity.id = 100;
    cfg.dumpPath = dump;
    SimRunner sim(cfg);
    const std::vector<std::string> paths = sim.Open();
    ASSERT_EQ(paths.size(), 2u);
    sim.Start();

    HostPort host(paths[1]);
    ASSERT_GE(host.fd, 0);
    const double t0 = NowMs();
    host.Write(BootLoaderFrame(0, {}));
    const ABytes reply = host.Read(59, 2000);
    const double took = NowMs() - t0;
    ASSERT_EQ(reply.size(), 59u);
    EXPECT_EQ(DecodeDeviceID(reply).dID, 101); // device 1 gets id + 1
    // 62 bytes at 10 bits each cross a 19200-baud line in 32.3 ms.
    EXPECT_GE(took, 31.0);
    EXPECT_LT(took, 500.0);

    ABytes line = BytesFromU16s({0x0200});
    line.resize(66, 0xAB);
    host.Write(BootLoaderFrame(2, line));
    EXPECT_EQ(host.Read(3, 2000), BootLoaderFrame(2, {}));
    host.Write(BootLoaderFrame(3, {}));
    EXPECT_EQ(host.Read(3, 2000), BootLoaderFrame(3, {}));
    sim.Stop();

    std::ifstream f(dump);
    const nlohmann::json j = nlohmann::json::parse(f);
    const auto& dev = j["devices"][1];
    ASSERT_EQ(dev["frames"].size(), 3u);
    EXPECT_EQ(dev["frames"][1]["cmd"], 2);
    EXPECT_EQ(dev["frames"][1]["address"], 0x400);
    EXPECT_TRUE(dev["frames"][1]["crc_ok"].get<bool>());
    EXPECT_EQ(dev["resets"], 1);
    ASSERT_EQ(dev["flash"].size(), 1u);
    EXPECT_EQ(dev["flash"][0]["address"], 0x400);
    std::string expected;
    for (int k = 0; k < 64; ++k)
        expected += "AB";
    EXPECT_EQ(dev["flash"][0]["data"], expected);
    EXPECT_TRUE(j["devices"][0]["frames"].empty());
    std::remove(dump.c_str());
}

TEST(SimRunner, HangUpKillsTheLine)
{
    SimConfig cfg;
    SimFaults f;
    f.hangupAfter = 0;
    cfg.faults[0] = f;
    SimRunner sim(cfg);
    const auto paths = sim.Open();
    sim.Start();
    HostPort host(paths[0]);
    host.Write(BootLoaderFrame(0, {}));
    EXPECT_EQ(host.Read(59, 2000).size(), 59u);
    ABytes line = BytesFromU16s({0x0200});
    line.resize(66, 0);
    host.Write(BootLoaderFrame(2, line));
    bool hup = false;
    EXPECT_TRUE(host.Read(3, 2000, &hup).empty());
    EXPECT_TRUE(hup);
    sim.Stop();
    EXPECT_TRUE(sim.Device(0).HungUp());
}

// deaf=MS: a request that starts arriving within MS ms of the device's last answer is lost whole; after that the
// device listens again, and nothing of the lost frame reaches its memory.
TEST(SimRunner, DeafDeviceLosesARequestRightAfterItsAnswer)
{
    SimConfig cfg;
    SimFaults f;
    f.deafMs = 60;
    cfg.faults[0] = f;
    SimRunner sim(cfg);
    const auto paths = sim.Open();
    sim.Start();
    HostPort host(paths[0]);
    host.Write(BootLoaderFrame(0, {}));
    ASSERT_EQ(host.Read(59, 2000).size(), 59u);
    ABytes line = BytesFromU16s({0x0200});
    line.resize(66, 0x5A);
    host.Write(BootLoaderFrame(2, line)); // at once: lost
    EXPECT_TRUE(host.Read(3, 40).empty());
    SleepMs(40);                          // 80 ms after the answer: heard
    host.Write(BootLoaderFrame(2, line));
    EXPECT_EQ(host.Read(3, 2000), BootLoaderFrame(2, {}));
    host.Write(BootLoaderFrame(3, {}));   // right after that answer: lost again
    EXPECT_TRUE(host.Read(3, 40).empty());
    sim.Stop();
    const SimDevice d = sim.Device(0);
    EXPECT_EQ(d.Frames().size(), 2u);
    EXPECT_EQ(d.LinesWritten(), 1);
    EXPECT_EQ(d.Resets(), 0);
    EXPECT_EQ(d.Flash().size(), 64u);
}

// --latency MS: what the device sends reaches the host only on the port's grid of MS ms, so a short answer waits
// for the next tick; bursts are never closer than MS apart. The host sees each burst when its read wakes, up to some
// 30 ms late on a loaded machine (two sanitized tests at once), hence the slack around the grid; answers passed on
// as they leave the line would come 10 to 40 ms apart here, far below the timer.
TEST(SimRunner, AdapterLatencyHoldsAnswersForItsTimer)
{
    constexpr double kTimer = 200, kSlack = 45;
    SimConfig cfg;
    cfg.baud = 19200;
    cfg.latencyMs = kTimer;
    SimRunner sim(cfg);
    const auto paths = sim.Open();
    sim.Start();
    HostPort host(paths[0]);
    std::vector<double> arrivals;
    for (int k = 0; k < 4; ++k) {
        host.Write(BootLoaderFrame(3, {}));
        const double t0 = NowMs();
        ASSERT_EQ(host.Read(3, 2000), BootLoaderFrame(3, {})) << k;
        arrivals.push_back(NowMs());
        EXPECT_LE(arrivals.back() - t0, kTimer + 3.2 + kSlack) << k; // at most one tick behind the line
        SleepMs(7 + 11 * k);                                       // requests at different phases of the grid
    }
    sim.Stop();
    for (std::size_t k = 1; k < arrivals.size(); ++k) {
        EXPECT_GE(arrivals[k] - arrivals[k - 1], kTimer - kSlack) << k;
        EXPECT_NEAR(std::remainder(arrivals[k] - arrivals[k - 1], kTimer), 0.0, kSlack) << k; // on the grid
    }
}

// A fixture fed board after board: after its reset a board leaves, the line is silent for the replug time, then the
// next board answers with the next ID. A line's fault holds for each of its boards; a board's own fault for that
// board only.
TEST(SimRunner, ReplugFeedsTheNextBoardAfterAReset)
{
    SimConfig cfg;
    cfg.count = 2;
    cfg.identity.id = 100;
    cfg.replugMs = 300;
    cfg.faults[1].garbage = true;            // every board of line 1: three stray bytes before each reply
    cfg.boardFaults[{0, 1}].shortIdentity = true; // the second board of line 0 only
    SimRunner sim(cfg);
    const auto paths = sim.Open();
    sim.Start();
    HostPort line0(paths[0]), line1(paths[1]);
    ASSERT_GE(line0.fd, 0);
    ASSERT_GE(line1.fd, 0);
    // What a line answers to an identity request within 200 ms.
    const auto ask = [](HostPort& host) {
        host.Write(BootLoaderFrame(0, {}));
        return host.Read(62, 200);
    };
    // The host's reset: the board answers it, then leaves.
    const auto swap = [](HostPort& host, std::size_t replyBytes) {
        host.Write(BootLoaderFrame(3, {}));
        EXPECT_EQ(host.Read(replyBytes, 2000).size(), replyBytes);
    };

    const ABytes first = ask(line0);
    ASSERT_EQ(first.size(), 59u);
    EXPECT_EQ(DecodeDeviceID(first).dID, 100);
    swap(line0, 3);
    const double left = NowMs();
    EXPECT_TRUE(ask(line0).empty()); // between boards nothing answers
    ABytes second;
    while (second.empty() && NowMs() - left < 2000)
        second = ask(line0);
    EXPECT_GE(NowMs() - left, 300.0);
    EXPECT_EQ(second.size(), 49u); // its own fault
    EXPECT_EQ(sim.Device(0).Identity().id, 102u); // the next ID: id + line + count * boards before
    swap(line0, 3);
    ::usleep(400 * 1000);
    const ABytes third = ask(line0);
    ASSERT_EQ(third.size(), 59u); // the second board's fault left with it
    EXPECT_EQ(DecodeDeviceID(third).dID, 104);

    EXPECT_EQ(ask(line1).size(), 62u);
    swap(line1, 6);
    ::usleep(400 * 1000);
    EXPECT_EQ(ask(line1).size(), 62u); // the line's fault holds for its next board
    EXPECT_EQ(sim.Device(1).Identity().id, 103u);
    sim.Stop();
}

} // namespace
