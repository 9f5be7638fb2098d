// Portable part of the clock: counter to milliseconds and the rounding rule of SleepMs.
#include "timing/timing.h"

#include <cmath>

namespace {

thread_local TSleepObserver tObserver = nullptr;
thread_local void* tObserverContext = nullptr;

// Function-local so that a static initialiser elsewhere that reads the clock still finds the frequency set.
std::int64_t Frequency()
{
    static const std::int64_t f = TimingStartup();
    return f;
}

} // namespace

const std::int64_t CounterFrequency = Frequency();

double TicksToMs(std::int64_t ticks)
{
    // ticks * 1000 overflows 64 bits after a few days of uptime at a 10 MHz counter; split instead.
    const std::int64_t f = Frequency();
    const std::int64_t whole = ticks / f;
    const std::int64_t rest = ticks % f;
    return static_cast<double>(whole) * 1000.0 + static_cast<double>(rest) * 1000.0 / static_cast<double>(f);
}

double NowMs() { return TicksToMs(PerformanceCounter()); }

std::int64_t SleepRoundMs(double x)
{
    if (!(x >= 1.0)) // also NaN
        return 1;
    if (x > 86400000.0) // a day: nothing in the system waits longer, and llrint must not overflow
        x = 86400000.0;
    // nearbyint rounds halves to even in the default rounding mode.
    const std::int64_t ms = static_cast<std::int64_t>(std::nearbyint(x));
    return ms < 1 ? 1 : ms;
}

void SetSleepObserver(TSleepObserver observer, void* context)
{
    tObserver = observer;
    tObserverContext = context;
}

void SleepMs(double x)
{
    const std::int64_t ms = SleepRoundMs(x);
    if (tObserver)
        tObserver(x, ms, tObserverContext);
    PlatformSleep(ms);
}
