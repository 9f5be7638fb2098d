// POSIX clock: CLOCK_MONOTONIC in nanoseconds as the counter, nanosleep for sleeping.
#include "timing/timing.h"

#include <cerrno>
#include <ctime>

std::int64_t TimingStartup()
{
    // Linux has no global timer resolution to raise: nanosleep is already fine-grained.
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
