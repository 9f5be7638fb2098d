// The bootloader link and both workers against simulated devices on real pseudo-terminals, reports recorded on a
// pumped main loop as the window would receive them.
#include "bootloader/link.h"
#include "bootloader/workers.h"

#include "base/error.h"
#include "base/texts.h"
#include "timing/timing.h"
#include "sim/sim_runner.h"
#include "workers/pumped_dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

// A running simulator with its ports.
struct TSim {
    explicit TSim(SimConfig c) : runner(std::move(c))
    {
        paths = runner.Open();
        runner.Start();
    }
    SimRunner runner;
    std::vector<std::string> paths;
};

SimConfig Config(int count = 1, std::map<int, SimFaults> faults = {})
{
    SimConfig c;
    c.count = count;
    c.faults = std::move(faults);
    c.identity.name = "LINKTEST";
    c.identity.version = 0x0203;
    c.identity.id = 0x12345678;
    return c;
}

// The link as the workers set it up, with the search worker's short timing.
class LinkTest : public ::testing::Test {
protected:
    void Connect(const std::string& path)
    {
        link.SessionParam().Init(300, 64, 100, 0, 0);
        link.Open(path, GENERIC_READ_WRITE, false);
        TCPCSetup setup;
        setup.Default(19200, 1);
        link.SetSetup(setup);
    }
    void TearDown() override { link.Close(); }
    std::string Failure(const std::function<void()>& fn)
    {
        try {
            fn();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }
    TZorelBootLoader link;
};

TEST_F(LinkTest, CommandsReachTheDeviceAsFramesWithRightCheckBytes)
{
    TSim sim(Config());
    Connect(sim.paths[0]);
    const TZorelBootLoaderDevID d = link.DeviceID();
    EXPECT_EQ(d.dID, 0x12345678);
    EXPECT_EQ(d.dVerProg, 0x0203);
    EXPECT_EQ(d.dName, std::string("LINKTEST\0\0", 10));
    EXPECT_EQ(d.dDateProg, (TDateTime{2024, 1, 1, 0, 0, 0}));

    link.Flash(0x7FC0, ABytes(64, 0x5A));
    link.EEPROM(224, ABytes(32, 0x11));
    link.Reset();
    const SimDevice dev = sim.runner.Device(0);
    ASSERT_EQ(dev.Frames().size(), 4u);
    const std::vector<std::tuple<int, int, std::uint32_t>> expected = {{0, 0, 0}, {2, 66, 0x7FC0}, {1, 33, 224},
                                                                       {3, 0, 0}};
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const SimFrame& f = dev.Frames()[k];
        EXPECT_EQ(f.cmd, std::get<0>(expected[k])) << k;
        EXPECT_EQ(f.length, std::get<1>(expected[k])) << k;
        EXPECT_EQ(f.address, std::get<2>(expected[k])) << k;
        EXPECT_TRUE(f.crcOk) << k;
    }
    EXPECT_EQ(dev.Flash().at(0x7FC0), 0x5A);
    EXPECT_EQ(dev.Flash().at(0x7FFF), 0x5A);
    EXPECT_EQ(dev.Eeprom().at(224), 0x11);
    EXPECT_EQ(dev.Eeprom().at(255), 0x11);
    EXPECT_EQ(dev.Resets(), 1);
}

TEST_F(LinkTest, BadAnswersFailWithTheirCodes)
{
    struct TCase {
        const char* name;
        SimFaults fault;
        const char* text;
    };
    SimFaults silent, shortId, garbage, wrongFirst;
    silent.silent = true;
    shortId.shortIdentity = true;
    garbage.garbage = true;
    wrongFirst.wrongFirst = true;
    const std::vector<TCase> cases = {{"silent", silent, "0x0100"},
                                      {"short identity", shortId, "0x0104"},
                                      {"garbage first", garbage, "0x0102"},
                                      {"wrong first byte", wrongFirst, "0x0102"}};
    TSim sim(Config(4, {{0, silent}, {1, shortId}, {2, garbage}, {3, wrongFirst}}));
    for (std::size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE(cases[k].name);
        Connect(sim.paths[k]);
        EXPECT_EQ(Failure([&] { link.DeviceID(); }), cases[k].text);
        link.Close();
    }
}

TEST_F(LinkTest, ALineTheDeviceIgnoresFailsAndTheNextCommandWorks)
{
    SimFaults drop;
    drop.dropLine = 0;
    drop.dropTimes = 1;
    TSim sim(Config(1, {{0, drop}}));
    Connect(sim.paths[0]);
    EXPECT_EQ(Failure([&] { link.Flash(0x400, ABytes(64, 1)); }), "0x0100");
    EXPECT_EQ(Failure([&] { link.Flash(0x400, ABytes(64, 1)); }), "");
    EXPECT_EQ(sim.runner.Device(0).Flash().size(), 64u);
}

// ---- workers ----

struct TReport {
    std::uint32_t w, l;
    bool operator==(const TReport&) const = default;
};

// The window's side: a pumped main loop and a handler that records every report and what it may read then.
class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Lang = 1;
        dispatcher = std::make_shared<TPumpedDispatcher>();
        SetMainThreadDispatcher(dispatcher);
    }
    void TearDown() override { SetMainThreadDispatcher(nullptr); }

    TOnThreadCtrlEvent Handler()
    {
        return [this](TCustomThreadCtrl* s, std::uint32_t w, std::uint32_t l, std::uint32_t& res) {
            res = 0;
            reports.push_back({w, l});
            if (auto* sw = dynamic_cast<TZorelSearchBootLoaderThreadCtrl*>(s)) {
                if (l == kSearchFound || l == kSearchFailed)
                    finals[static_cast<std::uint16_t>(w)] = {sw->Error(), sw->Port(), sw->DevID()};
            } else if (auto* pw = dynamic_cast<TZorelProgBootLoaderThreadCtrl*>(s)) {
                const std::uint16_t code = w & 0xFFFF;
                if (code == kProgDone || code == kProgFailed)
                    finals[pw->Index()] = {pw->Error(), pw->Port(), pw->DevID()};
                if (code == kProgProgress && stopAfterProgress >= 0 && static_cast<int>(l) >= stopAfterProgress)
                    pw->ThreadEnd();
            }
        };
    }

    void Search(const std::string& path, std::uint16_t index)
    {
        auto w = std::make_unique<TZorelSearchBootLoaderThreadCtrl>();
        w->SetSEvent(Handler());
        w->SetParams(index, path);
        w->ThreadBegin();
        w.release();
        Wait(1);
    }

    // Starts a programming worker; Wait for its end.
    void Prog(const std::string& path, std::uint16_t index, AZorelBootLoaderDataLines fl, AZorelBootLoaderDataLines ee)
    {
        auto w = std::make_unique<TZorelProgBootLoaderThreadCtrl>();
        w->SetSEvent(Handler());
        w->SetParams(index, path);
        w->SetData(std::make_shared<const AZorelBootLoaderDataLines>(std::move(fl)),
                   std::make_shared<const AZorelBootLoaderDataLines>(std::move(ee)));
        w->ThreadBegin();
        w.release();
    }

    // Runs the main loop until n workers have sent their last report.
    void Wait(std::size_t n)
    {
        ASSERT_TRUE(dispatcher->PumpUntil([&] { return finals.size() == n; }, 60000));
    }

    // The progress values reported, in order.
    std::vector<std::uint32_t> Progress(std::uint16_t index) const
    {
        std::vector<std::uint32_t> p;
        for (const TReport& r : reports)
            if (r.w == ((static_cast<std::uint32_t>(index) << 16) | kProgProgress))
                p.push_back(r.l);
        return p;
    }
    std::uint32_t Code(std::uint16_t index, std::uint16_t code) const { return (std::uint32_t{index} << 16) | code; }

    static AZorelBootLoaderDataLines FlashLines(int n)
    {
        AZorelBootLoaderDataLines lines;
        for (int k = 0; k < n; ++k)
            lines.push_back({static_cast<std::uint16_t>(0x400 + 64 * k), ABytes(64, static_cast<std::uint8_t>(k + 1))});
        return lines;
    }
    static AZorelBootLoaderDataLines EepromLines(std::vector<std::uint16_t> offsets)
    {
        AZorelBootLoaderDataLines lines;
        for (std::uint16_t a : offsets)
            lines.push_back({a, ABytes(32, static_cast<std::uint8_t>(0x80 + a / 32))});
        return lines;
    }
    // How often the device received a flash frame for this byte address.
    static int Sends(const SimDevice& d, std::uint32_t address)
    {
        return static_cast<int>(std::count_if(d.Frames().begin(), d.Frames().end(), [&](const SimFrame& f) {
            return f.cmd == 2 && f.address == address;
        }));
    }

    std::shared_ptr<TPumpedDispatcher> dispatcher;
    struct TFinal {
        std::string error, port; // what the handler could read during the last report
        TZorelBootLoaderDevID devID;
    };
    std::vector<TReport> reports;
    std::map<std::uint16_t, TFinal> finals; // by worker index
    int stopAfterProgress = -1;
};

TEST_F(WorkerTest, SearchFindsTheDeviceAndReportsItsIdentity)
{
    TSim sim(Config());
    Search(sim.paths[0], 7);
    EXPECT_EQ(reports, (std::vector<TReport>{{7, kSearchStarted}, {7, kSearchFound}}));
    EXPECT_EQ(finals[7].devID.dID, 0x12345678);
    EXPECT_EQ(finals[7].port, sim.paths[0]);
    EXPECT_EQ(finals[7].error, "");
}

TEST_F(WorkerTest, SearchOfAPortThatCannotBeOpenedFailsWithText12)
{
    Search("/dev/nerid-no-such-port", 3);
    EXPECT_EQ(reports, (std::vector<TReport>{{3, kSearchStarted}, {3, kSearchFailed}}));
    EXPECT_EQ(finals[3].error, LangText(12));
}

TEST_F(WorkerTest, SearchOfASilentDeviceAsksThreeTimesAndFailsWithoutText)
{
    SimFaults silent;
    silent.silent = true;
    TSim sim(Config(1, {{0, silent}}));
    const double t0 = NowMs();
    Search(sim.paths[0], 0);
    EXPECT_EQ(reports, (std::vector<TReport>{{0, kSearchStarted}, {0, kSearchFailed}}));
    EXPECT_EQ(finals[0].error, "");
    EXPECT_EQ(sim.runner.Device(0).Frames().size(), 3u); // the request and two re-sends
    EXPECT_GE(NowMs() - t0, 3 * 300.0 + 2 * 400.0);
}

TEST_F(WorkerTest, ProgrammingWritesEveryLineInOrderReportsProgressAndResets)
{
    TSim sim(Config());
    // 4 flash and 2 EEPROM lines: D = 5, so the progress goes in steps of 20.
    const auto fl = FlashLines(4);
    const auto ee = EepromLines({0, 224});
    Prog(sim.paths[0], 2, fl, ee);
    Wait(1);
    EXPECT_EQ(reports.front(), (TReport{Code(2, kProgStarted), 0}));
    EXPECT_EQ(Progress(2), (std::vector<std::uint32_t>{0, 20, 40, 60, 80, 100}));
    EXPECT_EQ(reports.back(), (TReport{Code(2, kProgDone), 0}));
    EXPECT_EQ(finals[2].error, "");
    EXPECT_EQ(finals[2].devID.dID, 0x12345678);

    const SimDevice d = sim.runner.Device(0);
    std::vector<std::pair<int, std::uint32_t>> frames;
    for (const SimFrame& f : d.Frames()) {
        EXPECT_TRUE(f.crcOk);
        frames.push_back({f.cmd, f.address});
    }
    EXPECT_EQ(frames, (std::vector<std::pair<int, std::uint32_t>>{
                          {0, 0}, {2, 0x400}, {2, 0x440}, {2, 0x480}, {2, 0x4C0}, {1, 0}, {1, 224}, {3, 0}}));
    for (const auto& line : fl)
        for (std::size_t k = 0; k < line.D.size(); ++k)
            EXPECT_EQ(d.Flash().at(line.A + k), line.D[k]);
    for (const auto& line : ee)
        for (std::size_t k = 0; k < line.D.size(); ++k)
            EXPECT_EQ(d.Eeprom().at(line.A + k), line.D[k]);
    EXPECT_EQ(d.Resets(), 1);
}

TEST_F(WorkerTest, ProgressOfEdgeSizes)
{
    struct TCase {
        const char* name;
        int flash;
        std::vector<std::uint16_t> eeprom;
        std::vector<std::uint32_t> progress;
    };
    // 8 lines: D = 7, 100/7 = 14.29 per line; 3 lines: D = 2, 50 each.
    const std::vector<TCase> cases = {
        {"one line in all", 1, {}, {100}},
        {"no EEPROM lines", 3, {}, {0, 50, 100}},
        {"only EEPROM lines", 0, {0, 32, 64}, {0, 50, 100}},
        {"nothing to write", 0, {}, {}},
        {"thirds round to the nearest", 8, {}, {0, 14, 29, 43, 57, 71, 86, 100}},
    };
    TSim sim(Config(static_cast<int>(cases.size())));
    for (std::size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE(cases[k].name);
        reports.clear();
        finals.clear();
        Prog(sim.paths[k], static_cast<std::uint16_t>(k), FlashLines(cases[k].flash), EepromLines(cases[k].eeprom));
        Wait(1);
        EXPECT_EQ(Progress(static_cast<std::uint16_t>(k)), cases[k].progress);
        EXPECT_EQ(reports.back().w, Code(static_cast<std::uint16_t>(k), kProgDone));
        EXPECT_EQ(sim.runner.Device(static_cast<int>(k)).Resets(), 1);
    }
}

TEST(ProgPercent, HalvesGoToEven)
{
    // D = 8: line 1 is 12.5 -> 12, line 3 is 37.5 -> 38, line 5 is 62.5 -> 62.
    EXPECT_EQ(ProgPercent(1, 8), 12u);
    EXPECT_EQ(ProgPercent(3, 8), 38u);
    EXPECT_EQ(ProgPercent(5, 8), 62u);
    EXPECT_EQ(ProgPercent(503, 503), 100u);
    EXPECT_EQ(ProgPercent(0, 0), 100u);
}

// Two devices programmed at once, as the window runs them: one ignores line 1 four times (two attempts of a frame
// and its re-send) and takes it at the third attempt; the other stops answering at line 2 and is given up after six
// sends without a reset.
TEST_F(WorkerTest, ThreeAttemptsPerLine)
{
    SimFaults drop, stop;
    drop.dropLine = 1;
    drop.dropTimes = 4;
    stop.stopAfter = 2;
    TSim sim(Config(2, {{0, drop}, {1, stop}}));
    Prog(sim.paths[0], 0, FlashLines(3), {});
    Prog(sim.paths[1], 1, FlashLines(4), EepromLines({0}));
    Wait(2);

    EXPECT_EQ(Progress(0), (std::vector<std::uint32_t>{0, 50, 100}));
    EXPECT_EQ(reports.back().w & 0xFFFF, kProgFailed); // the dead line takes longest
    const SimDevice d0 = sim.runner.Device(0);
    EXPECT_EQ(Sends(d0, 0x440), 5);
    EXPECT_EQ(Sends(d0, 0x480), 1);
    EXPECT_EQ(d0.Resets(), 1);
    // The failure text of the line that was retried stays, although the pass succeeded.
    EXPECT_EQ(finals[0].error, "update error 0xF001");
    EXPECT_TRUE(std::count(reports.begin(), reports.end(), TReport{Code(0, kProgDone), 0}) == 1);

    EXPECT_EQ(Progress(1), (std::vector<std::uint32_t>{0, 25}));
    EXPECT_TRUE(std::count(reports.begin(), reports.end(), TReport{Code(1, kProgFailed), 0}) == 1);
    EXPECT_EQ(finals[1].error, "update error 0xF002");
    const SimDevice d1 = sim.runner.Device(1);
    EXPECT_EQ(Sends(d1, 0x480), 6);
    EXPECT_EQ(Sends(d1, 0x4C0), 0);
    EXPECT_EQ(d1.Resets(), 0);
}

TEST_F(WorkerTest, ADeviceWithoutIdentityFailsWithText13)
{
    SimFaults shortId;
    shortId.shortIdentity = true;
    TSim sim(Config(1, {{0, shortId}}));
    Prog(sim.paths[0], 0, FlashLines(2), {});
    Wait(1);
    EXPECT_EQ(reports.back().w, Code(0, kProgFailed));
    EXPECT_EQ(finals[0].error, LangText(13));
    EXPECT_TRUE(Progress(0).empty());
    EXPECT_EQ(sim.runner.Device(0).Frames().size(), 1u);
}

TEST_F(WorkerTest, APortThatCannotBeOpenedFailsWithText12)
{
    Prog("/dev/nerid-no-such-port", 0, FlashLines(2), {});
    Wait(1);
    EXPECT_EQ(reports, (std::vector<TReport>{{Code(0, kProgStarted), 0}, {Code(0, kProgFailed), 0}}));
    EXPECT_EQ(finals[0].error, LangText(12));
}

TEST_F(WorkerTest, StoppedMidRunTheDeviceIsNotResetAndThePassFails)
{
    TSim sim(Config());
    stopAfterProgress = 25; // after the second of five lines
    Prog(sim.paths[0], 0, FlashLines(5), {});
    Wait(1);
    EXPECT_EQ(Progress(0), (std::vector<std::uint32_t>{0, 25}));
    EXPECT_EQ(reports.back().w, Code(0, kProgFailed));
    EXPECT_EQ(finals[0].error, "update error 0xF002");
    const SimDevice d = sim.runner.Device(0);
    EXPECT_EQ(d.LinesWritten(), 2);
    EXPECT_EQ(d.Resets(), 0);
}

TEST_F(WorkerTest, AHangUpMidRunFailsThatDevice)
{
    SimFaults hang;
    hang.hangupAfter = 1;
    TSim sim(Config(1, {{0, hang}}));
    Prog(sim.paths[0], 0, FlashLines(3), {});
    Wait(1);
    EXPECT_EQ(reports.back().w, Code(0, kProgFailed));
    EXPECT_EQ(Progress(0), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(finals[0].error, "update error 0xF001");
    EXPECT_EQ(sim.runner.Device(0).Resets(), 0);
}

} // namespace
