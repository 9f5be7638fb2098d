// Closing the window in the middle of a search and of a programming run: the terminating flag is process-wide and
// one-way, so these cases live in their own program (CTest runs each case in a process of its own).
#include "tests/window/window_fixture.h"

namespace {

TSampleFirmware Small()
{
    TSampleFirmware fw;
    fw.FlashLength = 0x1000;
    return fw;
}

TEST_F(WindowTest, ClosingMidRunStopsTheWorkersWithoutResettingTheDevice)
{
    const TSampleFirmware fw = Small();
    package = SamplePackage(fw);
    SimRunner& sim = AddDevice(DeviceLike(fw, 0x0100, fw.Type));
    Start();
    ASSERT_TRUE(RunUntil([this] { return Listed(); }, 10000));
    fc.btnProg.Click();
    ASSERT_TRUE(RunUntil([&] { return sim.Device(0).LinesWritten() >= 5; }, 10000));
    const double t0 = NowMs();
    window->FormClose();
    window.reset();
    EXPECT_LT(NowMs() - t0, 50.0); // the main thread does not wait for anyone
    // Nobody pumps any more: the worker must neither hang in its report nor go on writing.
    SleepMs(500);
    const int written = sim.Device(0).LinesWritten();
    SleepMs(500);
    EXPECT_EQ(sim.Device(0).LinesWritten(), written);
    EXPECT_LT(written, 64 + 8);
    EXPECT_EQ(sim.Device(0).Resets(), 0);
    EXPECT_EQ(dispatcher->Waiting(), 0u);
}

TEST_F(WindowTest, ClosingMidSearchEndsThePassWithoutWaiting)
{
    SimFaults silent;
    silent.silent = true;
    SimRunner& sim = AddDevice(SimIdentity{}, silent);
    Start();
    ASSERT_TRUE(RunUntil([&] { return !sim.Device(0).Frames().empty(); }, 5000));
    window->FormClose();
    window.reset();
    // The search worker finishes its exchange and its report goes nowhere; nothing waits on the main thread.
    SleepMs(2500);
    EXPECT_EQ(dispatcher->Waiting(), 0u);
    EXPECT_LE(sim.Device(0).Frames().size(), 3u);
}

} // namespace
