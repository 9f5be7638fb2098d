// POSIX clock: CLOCK_MONOTONIC in nanoseconds as the counter, nanosleep for sleeping.
#include "timing/timing.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

std::int64_t TimingStartup()
{
    // Linux's counterpart of a raised timer resolution is the timer slack: by default the kernel may let any sleep run
    // 50 us late so that it can batch wake-ups, once per poll of the exchange engine. The slack is per thread and
    // inherited, and this runs during static initialisation on the main thread, before any worker thread exists, so
    // every thread of the program sleeps to the microsecond. A refusal only leaves the default.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    return 1000000000;
}

std::int64_t PerformanceCounter()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void PlatformSleep(std::int64_t ms)
{
    timespec req{};
    req.tv_sec = static_cast<time_t>(ms / 1000);
    req.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR)
        req = rem;
}
