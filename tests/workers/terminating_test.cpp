// The application's terminating flag: running loops end, a waiting report is let go, later reports never reach the
// main thread, and a worker that is still running when the process exits does no harm.
#include "probe_worker.h"

#include "timing/timing.h"
#include "workers/main_thread.h"

#include <gtest/gtest.h>

namespace {

using Log = std::vector<std::string>;

// Waits without pumping any main loop.
bool WaitUntil(const std::function<bool()>& done, double ms)
{
    const double t0 = NowMs();
    while (!done()) {
        if (NowMs() - t0 > ms)
            return false;
        SleepMs(1);
    }
    return true;
}

TEST(ApplicationTerminating, EndsLoopsReleasesReportsAndNothingWaitsForTheMainThreadAnyMore)
{
    auto main = std::make_shared<TPumpedDispatcher>();
    SetMainThreadDispatcher(main);
    std::atomic<int> handled{0};
    const auto handler = [&handled](TCustomThreadCtrl*, std::uint32_t, std::uint32_t, std::uint32_t& res) {
        ++handled;
        res = 0;
    };

    // Looper: passes until the flag ends its loop.
    auto looperLog = std::make_shared<TProbe>();
    auto looper = std::make_unique<TProbeWorker>(looperLog);
    looper->Repeat = [](TProbeWorker&) { SleepMs(1); };
    // Reporter: waits in its report, and nobody pumps the main loop.
    auto reporterLog = std::make_shared<TProbe>();
    auto reporter = std::make_unique<TProbeWorker>(reporterLog);
    reporter->SetSEvent(handler);
    reporter->Repeat = [](TProbeWorker& self) { self.Report(1, 0); };
    // Lingerer: in a step that never ends, as a worker in the middle of a long exchange; it is still running when
    // the process exits, and keeps looking at the flag and reporting meanwhile.
    auto lingererLog = std::make_shared<TProbe>();
    auto lingerer = std::make_unique<TProbeWorker>(lingererLog);
    lingerer->SetSEvent(handler);
    lingerer->Repeat = [](TProbeWorker& self) {
        for (;;) {
            SleepMs(2);
            if (self.Stoped()) {
                try {
                    self.CallSEvent(9, 9);
                } catch (const Exception&) {
                }
            }
        }
    };
    for (auto* w : {&looper, &reporter, &lingerer}) {
        (*w)->ThreadBegin();
        w->release();
    }
    // Every worker is in its step (a busy machine may start the threads in any order and late).
    ASSERT_TRUE(WaitUntil(
        [&] { return main->Waiting() == 1 && looperLog->Log().size() > 3 && lingererLog->Contains("repeat"); },
        20000));

    SetApplicationTerminating();
    EXPECT_TRUE(ApplicationTerminating());
    EXPECT_TRUE(WaitUntil([&] { return looperLog->Destroyed() == 1 && reporterLog->Destroyed() == 1; }, 20000));
    EXPECT_EQ(looperLog->Log().back(), "after");
    EXPECT_EQ(reporterLog->Log(), (Log{"before", "repeat", "raised _____BREAK__0_", "after"}));

    // A worker started now: stopped from the start, and its report does not even reach a working main loop.
    auto fresh = std::make_shared<TPumpedDispatcher>();
    SetMainThreadDispatcher(fresh);
    auto lateLog = std::make_shared<TProbe>();
    auto late = std::make_unique<TProbeWorker>(lateLog);
    EXPECT_TRUE(late->Stoped());
    late->SetSEvent(handler);
    late->Before = [](TProbeWorker& self) {
        try {
            self.Report(1, 0);
        } catch (const Exception&) {
        }
    };
    late->ThreadBegin();
    late.release();
    EXPECT_TRUE(WaitUntil([&] { return lateLog->Destroyed() == 1; }, 20000));
    EXPECT_EQ(lateLog->Log(), (Log{"before", "raised _____BREAK__0_", "after"}));
    EXPECT_EQ(fresh->Waiting(), 0u);
    EXPECT_EQ(fresh->Pump(), 0u);
    EXPECT_EQ(handled.load(), 0);

    // The lingerer is still at work; the process ends around it.
    EXPECT_EQ(TProbeWorker::Live.load(), 1);
    EXPECT_EQ(lingererLog->Destroyed(), 0);
}

} // namespace
