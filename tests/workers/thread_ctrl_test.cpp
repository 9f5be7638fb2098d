// The controlled worker thread on real threads, reporting to a main loop that the test pumps: the run skeleton, the
// control texts, failure texts per stage, the report replies, ThreadEnd, actions, and self-freeing at scale.
#include "probe_worker.h"

#include "timing/timing.h"
#include "workers/main_thread.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace {

using Log = std::vector<std::string>;

const std::string kCrLf = "\r\n";

class ThreadCtrl : public ::testing::Test {
protected:
    void SetUp() override { SetMainThreadDispatcher(FMain); }
    void TearDown() override { SetMainThreadDispatcher(nullptr); }

    // A new suspended worker with its own log.
    std::unique_ptr<TProbeWorker> NewWorker()
    {
        FProbe = std::make_shared<TProbe>();
        return std::make_unique<TProbeWorker>(FProbe);
    }

    // Starts the worker and pumps the main loop until it has freed itself; returns its log.
    Log RunToEnd(std::unique_ptr<TProbeWorker> w)
    {
        w->ThreadBegin();
        w.release();
        WaitFreed();
        return FProbe->Log();
    }

    void WaitFreed()
    {
        EXPECT_TRUE(FMain->PumpUntil([this] { return FProbe->Destroyed() == 1; }, 20000)) << "worker did not end";
    }

    std::shared_ptr<TPumpedDispatcher> FMain = std::make_shared<TPumpedDispatcher>();
    std::shared_ptr<TProbe> FProbe;
    const std::thread::id FMainId = std::this_thread::get_id();
};

TEST_F(ThreadCtrl, WorkerThatOverridesNothingRunsOncePassAndFreesItself)
{
    auto w = NewWorker();
    EXPECT_EQ(RunToEnd(std::move(w)), (Log{"before", "repeat", "after"}));
    EXPECT_EQ(TProbeWorker::Live.load(), 0);
}

TEST_F(ThreadCtrl, NeverStartedWorkerKeepsItsDefaultsAndReleasesItsQueue)
{
    auto w = NewWorker();
    EXPECT_EQ(w->MsgEvent(), 0xFFFFFFFFu);
    EXPECT_EQ(w->MsgForm(), 0u);
    EXPECT_FALSE(w->Stoped());
    w->Actions().Insert(0, 1, 0);
    w->Actions().Insert(60000, 2, 0);

    w->SetAEvent(0x0400, 0x1234);
    EXPECT_EQ(w->MsgEvent(), 0x0400u);
    EXPECT_EQ(w->MsgForm(), 0x1234u);
    SetApplicationMainWindow(0xABCD);
    w->SetAEvent(0x0401, 0);
    SetApplicationMainWindow(0);
    EXPECT_EQ(w->MsgEvent(), 0x0401u);
    EXPECT_EQ(w->MsgForm(), 0xABCDu);

    w->ThreadEnd();
    EXPECT_TRUE(w->Stoped());
    w.reset(); // the queue and its two actions go with it (the leak checker would say otherwise)
    EXPECT_EQ(FProbe->Destroyed(), 1);
    EXPECT_TRUE(FProbe->Log().empty());
}

TEST_F(ThreadCtrl, WorkerWithoutHandlerIsToldToStopAtItsFirstReport)
{
    auto w = NewWorker();
    w->Repeat = [](TProbeWorker& self) {
        self.Report(1, 2);
        self.Probe().Add("after the report");
    };
    EXPECT_EQ(RunToEnd(std::move(w)), (Log{"before", "repeat", "raised _____BREAK__0_", "after"}));
}

TEST_F(ThreadCtrl, HandlerThatLeavesResAloneStopsTheWorker)
{
    auto w = NewWorker();
    TProbeWorker* worker = w.get();
    std::vector<std::string> seen;
    w->SetSEvent([&](TCustomThreadCtrl* sender, std::uint32_t wp, std::uint32_t lp, std::uint32_t& res) {
        // On the main thread, while the worker waits: its fields are there to read.
        seen.push_back(std::this_thread::get_id() == FMainId ? "main" : "other thread");
        seen.push_back(sender == worker ? "sender" : "other sender");
        seen.push_back(std::to_string(static_cast<TProbeWorker*>(sender)->Passes) + " " + std::to_string(wp) + " " +
                       std::to_string(lp) + " " + std::to_string(res));
    });
    w->Repeat = [](TProbeWorker& self) { self.Report(2, 77); };
    EXPECT_EQ(RunToEnd(std::move(w)), (Log{"before", "repeat", "raised _____BREAK__0_", "after"}));
    EXPECT_EQ(seen, (Log{"main", "sender", "1 2 77 2147483648"}));
}

TEST_F(ThreadCtrl, RepliesContinueThenAValueThatIsReturned)
{
    auto w = NewWorker();
    int calls = 0;
    w->SetSEvent([&calls](TCustomThreadCtrl*, std::uint32_t, std::uint32_t, std::uint32_t& res) {
        res = calls++ == 0 ? 0x40000000u : 5u;
    });
    w->Repeat = [](TProbeWorker& self) {
        if (self.Report(3, 0) == 5)
            throw Exception("_____BREAK__0_");
    };
    EXPECT_EQ(RunToEnd(std::move(w)),
              (Log{"before", "repeat", "raised __CONTINUE__1_", "repeat", "reply 5", "after"}));
    EXPECT_EQ(calls, 2);
}

TEST_F(ThreadCtrl, HandlerFailureStaysOnTheMainThreadAndResIsWhatItHeld)
{
    struct Case {
        bool setsRes;
        Log log;
    } cases[] = {
        {true, {"before", "repeat", "reply 7", "repeat", "after"}},
        {false, {"before", "repeat", "raised _____BREAK__0_", "after"}},
    };
    for (const Case& c : cases) {
        auto w = NewWorker();
        w->SetSEvent([&c](TCustomThreadCtrl*, std::uint32_t, std::uint32_t, std::uint32_t& res) {
            if (c.setsRes)
                res = 7;
            throw Exception("handler failed");
        });
        w->Repeat = [](TProbeWorker& self) {
            if (self.Passes == 1)
                self.Report(0, 0);
            else
                throw Exception("_____BREAK__0_");
        };
        EXPECT_EQ(RunToEnd(std::move(w)), c.log) << c.setsRes;
    }
}

TEST_F(ThreadCtrl, ControlTextsAreComparedExactly)
{
    struct Case {
        std::string text;
        bool isContinue;
    } cases[] = {
        {"__CONTINUE__1_", true},   {"_____break__0_", false}, {"_____BREAK__0_ ", false},
        {" _____BREAK__0_", false}, {"_____BREAK__0", false},  {"__continue__1_", false},
        {"__CONTINUE__1_\r\n", false},
    };
    for (const Case& c : cases) {
        auto w = NewWorker();
        w->Repeat = [&c](TProbeWorker& self) {
            if (self.Passes == 1)
                throw Exception(c.text);
            throw Exception("_____BREAK__0_");
        };
        const Log expected = c.isContinue
                                 ? Log{"before", "repeat", "repeat", "after"}
                                 : Log{"before", "repeat", "error 2: " + c.text + kCrLf + "    TCustomThreadCtrl.ExecRepeat",
                                       "repeat", "after"};
        EXPECT_EQ(RunToEnd(std::move(w)), expected) << c.text;
    }
}

TEST_F(ThreadCtrl, EachStageFailureGivesOneErrorAndTheRunGoesOnAsItShould)
{
    const auto raise = [](const std::string& text) { return [text](TProbeWorker&) { throw Exception(text); }; };
    const std::string before = kCrLf + "    TCustomThreadCtrl.ExecBefore";
    const std::string after = kCrLf + "    TCustomThreadCtrl.ExecAfter";
    const std::string repeat = kCrLf + "    TCustomThreadCtrl.ExecRepeat";
    const std::string action = kCrLf + "    TCustomThreadCtrl.ExecAction";
    const std::string execute = kCrLf + "    TCustomThreadCtrl.Execute";
    struct Case {
        const char* name;
        std::function<void(TProbeWorker&)> setup;
        Log log;
    } cases[] = {
        {"before fails: no loop, no after",
         [&](TProbeWorker& w) { w.Before = raise("T0"); },
         {"before", "error 1: T0" + before + execute}},
        {"break text from before is an ordinary failure",
         [&](TProbeWorker& w) { w.Before = raise("_____BREAK__0_"); },
         {"before", "error 1: _____BREAK__0_" + before + execute}},
        {"after fails",
         [&](TProbeWorker& w) { w.After = raise("F1"); },
         {"before", "repeat", "after", "error 3: F1" + after + execute}},
        {"continue text from after is an ordinary failure",
         [&](TProbeWorker& w) { w.After = raise("__CONTINUE__1_"); },
         {"before", "repeat", "after", "error 3: __CONTINUE__1_" + after + execute}},
        {"action fails: the next due action is still taken in the same pass",
         [&](TProbeWorker& w) {
             w.Actions().Insert(0, 1, 0);
             w.Actions().Insert(0, 2, 0);
             w.Action = [](TProbeWorker&, const TThreadCtrlAction& a) {
                 if (a.Code == 1)
                     throw Exception("A1");
             };
         },
         {"before", "action 1", "error 4: A1" + action, "action 2", "repeat", "after"}},
        {"break text from an action is an ordinary failure",
         [&](TProbeWorker& w) {
             w.Actions().Insert(0, 1, 0);
             w.Action = [](TProbeWorker&, const TThreadCtrlAction&) { throw Exception("_____BREAK__0_"); };
         },
         {"before", "action 1", "error 4: _____BREAK__0_" + action, "repeat", "after"}},
        {"repeat fails: the loop goes on",
         [&](TProbeWorker& w) {
             w.Repeat = [](TProbeWorker& self) { throw Exception(self.Passes == 1 ? "R1" : "_____BREAK__0_"); };
         },
         {"before", "repeat", "error 2: R1" + repeat, "repeat", "after"}},
        {"a failure that is no std::exception",
         [&](TProbeWorker& w) {
             w.Repeat = [](TProbeWorker& self) {
                 if (self.Passes == 1)
                     throw 42;
                 throw Exception("_____BREAK__0_");
             };
         },
         {"before", "repeat", "error 2: Unknown exception" + repeat, "repeat", "after"}},
        {"error handler failing on a repeat failure ends the run with code 0, without after",
         [&](TProbeWorker& w) {
             w.Repeat = raise("R1");
             w.Error = [](TProbeWorker&, std::uint8_t stage, const std::string&) {
                 if (stage == 2)
                     throw Exception("E2");
             };
         },
         {"before", "repeat", "error 2: R1" + repeat, "error 0: E2" + execute}},
        {"error handler failing on an action failure ends the run with code 0",
         [&](TProbeWorker& w) {
             w.Actions().Insert(0, 1, 0);
             w.Actions().Insert(0, 2, 0);
             w.Action = [](TProbeWorker&, const TThreadCtrlAction&) { throw Exception("A1"); };
             w.Error = [](TProbeWorker&, std::uint8_t stage, const std::string&) {
                 if (stage == 4)
                     throw Exception("E4");
             };
         },
         {"before", "action 1", "error 4: A1" + action, "error 0: E4" + execute}},
        {"error handler failing on the run's failure is dropped and the worker still ends",
         [&](TProbeWorker& w) {
             w.Before = raise("T0");
             w.Error = [](TProbeWorker&, std::uint8_t, const std::string&) { throw Exception("E1"); };
         },
         {"before", "error 1: T0" + before + execute}},
    };
    for (const Case& c : cases) {
        auto w = NewWorker();
        c.setup(*w);
        EXPECT_EQ(RunToEnd(std::move(w)), c.log) << c.name;
    }
    EXPECT_EQ(TProbeWorker::Live.load(), 0);
}

TEST_F(ThreadCtrl, ThreadEndDuringAStepLetsThePassFinishThenEndsTheLoop)
{
    auto w = NewWorker();
    TProbeWorker* worker = w.get();
    auto gate = std::make_shared<TGate>();
    w->Repeat = [gate](TProbeWorker& self) {
        gate->Wait();
        self.Probe().Add(self.Stoped() ? "pass done, stop requested" : "pass done");
    };
    w->ThreadBegin();
    w.release();
    ASSERT_TRUE(FMain->PumpUntil([this] { return FProbe->Contains("repeat"); }, 20000));
    worker->ThreadEnd(); // alive: it waits at the gate
    gate->Open();
    WaitFreed();
    EXPECT_EQ(FProbe->Log(), (Log{"before", "repeat", "pass done, stop requested", "after"}));
}

TEST_F(ThreadCtrl, DueActionsRunBeforeTheFirstRepeatAndLaterOnesWait)
{
    auto w = NewWorker();
    w->Actions().Insert(0, 1, 0);
    w->Actions().Insert(60000, 9, 0); // not due while the worker lives
    w->Actions().Insert(-5, 2, 0);
    EXPECT_EQ(RunToEnd(std::move(w)), (Log{"before", "action 1", "action 2", "repeat", "after"}));
}

TEST_F(ThreadCtrl, ReplacedQueueIsTheOneTheLoopTakesFrom)
{
    auto w = NewWorker();
    w->Actions().Insert(0, 1, 0);
    auto q = std::make_unique<TThreadCtrlActions>();
    q->Insert(0, 3, 0);
    w->SetActions(std::move(q));
    EXPECT_EQ(RunToEnd(std::move(w)), (Log{"before", "action 3", "repeat", "after"}));
}

TEST_F(ThreadCtrl, ActionQueuedFromAnotherThreadIsTakenWhenDue)
{
    auto w = NewWorker();
    TProbeWorker* worker = w.get();
    auto queuedAt = std::make_shared<std::atomic<double>>(0.0);
    w->Repeat = [](TProbeWorker&) { SleepMs(1); }; // keeps passing until told to end
    w->Action = [queuedAt](TProbeWorker& self, const TThreadCtrlAction& a) {
        self.Probe().Add(NowMs() - queuedAt->load() >= 29.9 ? "on time" : "early");
        self.Probe().Add("data " + std::to_string(a.Data));
        self.ThreadEnd();
    };
    w->ThreadBegin();
    w.release();
    ASSERT_TRUE(FMain->PumpUntil([this] { return FProbe->Contains("repeat"); }, 20000));
    queuedAt->store(NowMs());
    worker->Actions().Insert(30, 7, -12); // alive until it has taken this action
    WaitFreed();
    Log log = FProbe->Log();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(Log(log.end() - 4, log.end()), (Log{"action 7", "on time", "data -12", "after"}));
    EXPECT_EQ(std::count(log.begin(), log.end(), "action 7"), 1);
}

TEST_F(ThreadCtrl, ReportWithoutDispatcherIsTheStopReply)
{
    SetMainThreadDispatcher(nullptr);
    auto w = NewWorker();
    bool called = false;
    w->SetSEvent([&called](TCustomThreadCtrl*, std::uint32_t, std::uint32_t, std::uint32_t& res) {
        called = true;
        res = 0;
    });
    w->Repeat = [](TProbeWorker& self) { self.Report(1, 1); };
    EXPECT_EQ(RunToEnd(std::move(w)), (Log{"before", "repeat", "raised _____BREAK__0_", "after"}));
    EXPECT_FALSE(called);
}

TEST_F(ThreadCtrl, ManyWorkersStartedAtOnceAllReportAndFreeThemselves)
{
    constexpr int kWorkers = 256;
    FProbe = std::make_shared<TProbe>();
    std::vector<int> reports(kWorkers, 0);
    int offMain = 0;
    for (int i = 0; i < kWorkers; ++i) {
        auto w = std::make_unique<TProbeWorker>(FProbe);
        w->Index = i;
        w->SetSEvent([&](TCustomThreadCtrl* sender, std::uint32_t wp, std::uint32_t lp, std::uint32_t& res) {
            offMain += std::this_thread::get_id() != FMainId;
            if (static_cast<TProbeWorker*>(sender)->Index == static_cast<int>(lp) && wp == 2)
                ++reports[lp];
            res = 0;
        });
        w->Repeat = [](TProbeWorker& self) {
            self.CallSEvent(2, static_cast<std::uint32_t>(self.Index));
            throw Exception("_____BREAK__0_");
        };
        w->ThreadBegin();
        w.release();
    }
    // Nobody pumps yet: every worker gets to its report on its own and waits there.
    const double t0 = NowMs();
    while (FMain->Waiting() < kWorkers && NowMs() - t0 < 60000)
        SleepMs(5);
    EXPECT_EQ(FMain->Waiting(), static_cast<std::size_t>(kWorkers));
    EXPECT_TRUE(FMain->PumpUntil([this] { return FProbe->Destroyed() == kWorkers; }, 60000));
    EXPECT_EQ(offMain, 0);
    EXPECT_EQ(std::count(reports.begin(), reports.end(), 1), kWorkers);
    EXPECT_EQ(TProbeWorker::Live.load(), 0);
}

TEST(AddTraceLine, IndentsTheContextAfterEveryCrLf)
{
    struct Case {
        std::string message, context, indent, result;
    } cases[] = {
        {"T0", "TCustomThreadCtrl.ExecBefore", "    ", "T0\r\n    TCustomThreadCtrl.ExecBefore"},
        {"M", "A\r\nB\r\nC", "  ", "M\r\n  A\r\n  B\r\n  C"},
        {"M\r\nX", "A\r\n", ">", "M\r\nX\r\n>A\r\n>"}, // the message is left as it is
        {"M", "A\nB\rC\n\rD", "  ", "M\r\n  A\nB\rC\n\rD"}, // only CR LF pairs count
        {"", "\r\nA", "-", "\r\n-\r\n-A"},
        {"M", "A\r\nB", "", "M\r\nA\r\nB"},
        {"M", "", "    ", "M\r\n    "},
        {"M", "A", "\r\n", "M\r\n\r\n\r\nA"}, // the indent's own CR LF is part of what is walked
    };
    for (const Case& c : cases)
        EXPECT_EQ(AddTraceLine(c.message, c.context, c.indent), c.result) << c.context;
}

TEST(PumpedDispatcher, StopLetsWaitingCallsGoAndRefusesLaterOnes)
{
    TPumpedDispatcher d;
    std::atomic<int> ran{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i)
        callers.emplace_back([&] {
            if (!d.Run([&ran] { ++ran; }))
                ++refused;
        });
    const double t0 = NowMs();
    while (d.Waiting() < 3 && NowMs() - t0 < 20000)
        SleepMs(1);
    ASSERT_EQ(d.Waiting(), 3u);
    d.Stop();
    for (std::thread& t : callers)
        t.join();
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(refused.load(), 3);
    EXPECT_FALSE(d.Run([&ran] { ++ran; }));
    EXPECT_EQ(d.Pump(), 0u);
    EXPECT_EQ(ran.load(), 0);
}

TEST(PumpedDispatcher, PumpRunsCallsOnThePumpingThreadInArrivalOrder)
{
    TPumpedDispatcher d;
    std::vector<int> order;
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i) {
        callers.emplace_back([&d, &order, i] { EXPECT_TRUE(d.Run([&order, i] { order.push_back(i); })); });
        const double t0 = NowMs();
        while (d.Waiting() < static_cast<std::size_t>(i + 1) && NowMs() - t0 < 20000)
            SleepMs(1);
    }
    EXPECT_EQ(d.Pump(), 3u);
    for (std::thread& t : callers)
        t.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

} // namespace
