// The process-wide clock shared by the worker framework and the serial exchange engine.
// CounterFrequency is read once at program start (static initialisation) and only read afterwards, from any thread.
#pragma once

#include <cstdint>

// Ticks per second of PerformanceCounter(); set once at start.
extern const std::int64_t CounterFrequency;

// Current value of the monotonic high-resolution counter, in ticks.
std::int64_t PerformanceCounter();

// Current time in milliseconds (counter value converted with CounterFrequency, without 64-bit overflow).
double NowMs();

// Counter ticks converted to milliseconds, exact for any uptime.
double TicksToMs(std::int64_t ticks);

// Sleeps x milliseconds rounded to the nearest integer (halves to even); never less than 1 ms.
void SleepMs(double x);

// The whole milliseconds SleepMs(x) sleeps for.
std::int64_t SleepRoundMs(double x);

// Observation seam for tests: while set, every SleepMs on the calling thread first reports the milliseconds asked
// for (as given) and the whole milliseconds it is about to sleep. Per thread, so that other threads' sleeps never
// reach it; nullptr switches it off.
using TSleepObserver = void (*)(double askedMs, std::int64_t sleptMs, void* context);
void SetSleepObserver(TSleepObserver observer, void* context);

// Platform part: raises the system timer resolution where the platform has one and returns the counter frequency.
std::int64_t TimingStartup();

// Platform part: sleeps ms whole milliseconds (ms >= 1).
void PlatformSleep(std::int64_t ms);
