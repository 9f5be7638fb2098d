// The action queue: insertion indices, due times on the counter, insertion order among due actions, both Clear forms.
#include "workers/thread_actions.h"

#include "base/error.h"
#include "timing/timing.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

// Every due action's code, taken until Get reports nothing due.
std::vector<std::uint32_t> DrainDue(TThreadCtrlActions& q)
{
    std::vector<std::uint32_t> codes;
    for (;;) {
        try {
            codes.push_back(q.Get().Code);
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "_____BREAK__0_");
            return codes;
        }
    }
}

std::int64_t Ticks(double ms) { return static_cast<std::int64_t>(static_cast<double>(CounterFrequency) * ms / 1000.0); }

TEST(ThreadCtrlActions, GetOnEmptyQueueRaisesBreakAndLeavesItEmpty)
{
    TThreadCtrlActions q;
    try {
        q.Get();
        FAIL() << "Get on an empty queue returned";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "_____BREAK__0_");
    }
    EXPECT_EQ(q.Count(), 0u);
}

TEST(ThreadCtrlActions, InsertReturnsTheIndexAtThatMoment)
{
    TThreadCtrlActions q;
    EXPECT_EQ(q.Insert(0, 1, 10), 0);
    EXPECT_EQ(q.Insert(0, 2, 20), 1);
    EXPECT_EQ(q.Insert(0, 3, 30), 2);
    const TThreadCtrlAction a = q.Get();
    EXPECT_EQ(a.Code, 1u);
    EXPECT_EQ(a.Data, 10);
    EXPECT_EQ(q.Insert(0, 4, 40), 2);
}

TEST(ThreadCtrlActions, DueTimeIsNowPlusTheTruncatedDelay)
{
    struct Case {
        double delay;
    } cases[] = {{0}, {50}, {0.0004}, {-5}, {150.75}};
    for (const Case& c : cases) {
        TThreadCtrlActions q;
        const std::int64_t t0 = PerformanceCounter();
        q.Insert(c.delay, 1, 0);
        const std::int64_t t1 = PerformanceCounter();
        // Take it at its due time at the latest: When is now + trunc(frequency * delay / 1000).
        while (PerformanceCounter() < t1 + Ticks(c.delay))
            SleepMs(1);
        const TThreadCtrlAction a = q.Get();
        EXPECT_GE(a.When, t0 + Ticks(c.delay)) << c.delay;
        EXPECT_LE(a.When, t1 + Ticks(c.delay)) << c.delay;
    }
}

TEST(ThreadCtrlActions, LaterActionThatIsDueComesFirstAndTheOtherOnlyWhenDue)
{
    TThreadCtrlActions q;
    q.Insert(300, 0xA, 0); // A, not due for 300 ms
    q.Insert(0, 0xB, 0);   // B, due at once
    const double t0 = NowMs();
    EXPECT_EQ(DrainDue(q), std::vector<std::uint32_t>{0xB});
    if (NowMs() - t0 < 250) { // only meaningful while A is surely not due yet
        EXPECT_EQ(q.Count(), 1u);
    }
    SleepMs(310);
    EXPECT_EQ(DrainDue(q), std::vector<std::uint32_t>{0xA});
}

TEST(ThreadCtrlActions, DueActionsComeInInsertionOrderNotByDueTime)
{
    TThreadCtrlActions q;
    q.Insert(0, 1, 0);
    q.Insert(-1000, 2, 0); // earlier When, but inserted later
    q.Insert(0, 3, 0);
    q.Insert(-std::numeric_limits<double>::infinity(), 4, 0);
    q.Insert(std::numeric_limits<double>::quiet_NaN(), 5, 0); // nonsense delay: due at once
    q.Insert(1e300, 6, 0);                                     // never due, and no overflow
    EXPECT_EQ(DrainDue(q), (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(q.Count(), 1u);
}

TEST(ThreadCtrlActions, ClearByCode)
{
    struct Case {
        std::uint32_t code;
        bool isMask;
        std::vector<std::uint32_t> kept;
    } cases[] = {
        {0x01, false, {0x03, 0x04}},
        {0x01, true, {0x04}},
        {0x00, true, {}},
        {0x00, false, {0x01, 0x03, 0x04, 0x01}},
        {0x03, true, {0x01, 0x04, 0x01}},
        {0xFFFFFFFF, false, {}},
        {0xFFFFFFFF, true, {}},
        {0x08, true, {0x01, 0x03, 0x04, 0x01}},
    };
    for (const Case& c : cases) {
        TThreadCtrlActions q;
        for (std::uint32_t code : {0x01u, 0x03u, 0x04u})
            q.Insert(0, code, 0);
        q.Insert(0, 0x01, 0);
        q.Clear(c.code, c.isMask);
        EXPECT_EQ(DrainDue(q), c.kept) << std::hex << c.code << " mask " << c.isMask;
    }
}

TEST(ThreadCtrlActions, ClearByCodeAndDueTime)
{
    // Codes 0x01 (due now), 0x03 (due now), 0x01 (due in 10 s).
    const auto fill = [](TThreadCtrlActions& q) {
        q.Insert(-10, 0x01, 0);
        q.Insert(-10, 0x03, 0);
        q.Insert(10000, 0x01, 0);
    };
    const std::int64_t now = PerformanceCounter();
    struct Case {
        std::int64_t when;
        std::uint32_t code;
        bool isMask;
        std::size_t kept;
        std::vector<std::uint32_t> keptDue;
    } cases[] = {
        {now - Ticks(60000), 0x01, true, 3, {0x01, 0x03}}, // earlier than every When: nothing goes
        {now - Ticks(60000), 0x00, true, 3, {0x01, 0x03}},
        {now - Ticks(60000), 0xFFFFFFFF, false, 0, {}},     // all go, whatever pWhen
        {now + Ticks(1000), 0x01, false, 2, {0x03}},        // the late 0x01 is not due by pWhen
        {now + Ticks(1000), 0x01, true, 1, {}},
        {now + Ticks(60000), 0x01, false, 1, {0x03}},
        {now + Ticks(60000), 0x02, true, 2, {0x01}},
    };
    for (const Case& c : cases) {
        TThreadCtrlActions q;
        fill(q);
        q.Clear(c.when, c.code, c.isMask);
        EXPECT_EQ(q.Count(), c.kept) << std::hex << c.code << " mask " << c.isMask;
        EXPECT_EQ(DrainDue(q), c.keptDue) << std::hex << c.code << " mask " << c.isMask;
    }
}

TEST(ThreadCtrlActions, ConcurrentInsertsAndGetsLoseNothing)
{
    TThreadCtrlActions q;
    constexpr int kPerThread = 2000;
    std::vector<std::thread> producers;
    for (int t = 0; t < 3; ++t)
        producers.emplace_back([&q, t] {
            for (int i = 0; i < kPerThread; ++i)
                q.Insert(0, static_cast<std::uint32_t>(t), i);
        });
    std::vector<int> last(3, -1);
    int taken = 0;
    while (taken < 3 * kPerThread) {
        try {
            const TThreadCtrlAction a = q.Get();
            // Each producer's actions come out in the order it put them in.
            ASSERT_GT(a.Data, last[a.Code]);
            last[a.Code] = static_cast<int>(a.Data);
            ++taken;
        } catch (const Exception&) {
            std::this_thread::yield();
        }
    }
    for (std::thread& t : producers)
        t.join();
    EXPECT_EQ(q.Count(), 0u);
}

} // namespace
