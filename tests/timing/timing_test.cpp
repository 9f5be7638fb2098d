// The shared clock: conversion without overflow, SleepMs rounding and its minimum.
#include "timing/timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

TEST(Timing, SleepRoundsHalvesToEvenWithOneMillisecondMinimum)
{
    struct Case {
        double x;
        std::int64_t ms;
    } cases[] = {
        {0.0, 1}, {-5.0, 1}, {0.4, 1}, {0.5, 1}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {0.41667, 1},
        {28.667, 29}, {100.0, 100}, {std::numeric_limits<double>::quiet_NaN(), 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SleepRoundMs(c.x), c.ms) << c.x;
}

TEST(Timing, TicksToMsStaysExactForLongUptimes)
{
    ASSERT_GT(CounterFrequency, 0);
    EXPECT_DOUBLE_EQ(TicksToMs(CounterFrequency), 1000.0);
    EXPECT_DOUBLE_EQ(TicksToMs(CounterFrequency / 2), 500.0);
    // 200 days of ticks: a plain ticks * 1000 would have overflowed 64 bits.
    const std::int64_t days200 = CounterFrequency * 86400 * 200;
    EXPECT_DOUBLE_EQ(TicksToMs(days200), 86400.0 * 200 * 1000);
}

TEST(Timing, SleepMsSleepsAtLeastTheRoundedTime)
{
    const double t0 = NowMs();
    SleepMs(0.2); // still one millisecond
    const double t1 = NowMs();
    SleepMs(20);
    const double t2 = NowMs();
    EXPECT_GE(t1 - t0, 0.99);
    EXPECT_GE(t2 - t1, 19.9);
    EXPECT_LT(t2 - t1, 500.0); // loose: the machine may be busy
}

TEST(Timing, ClockIsMonotonic)
{
    double last = NowMs();
    for (int i = 0; i < 1000; ++i) {
        const double now = NowMs();
        ASSERT_GE(now, last);
        last = now;
    }
}

} // namespace

// The exchange engine polls with 1 ms sleeps: a sleep that lasts a default system tick (about 15.6 ms on Windows
// without the raised timer resolution) would slow every exchange tenfold. The median hides a busy machine's outliers.
TEST(Timing, OneMillisecondSleepLastsAboutOneMillisecond)
{
    std::vector<double> took;
    for (int i = 0; i < 21; ++i) {
        const double t0 = NowMs();
        SleepMs(1);
        took.push_back(NowMs() - t0);
    }
    std::sort(took.begin(), took.end());
    EXPECT_GE(took[10], 0.99);
    EXPECT_LT(took[10], 5.0);
}
