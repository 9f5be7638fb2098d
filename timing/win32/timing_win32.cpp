// Windows clock: QueryPerformanceCounter as the counter, Sleep for sleeping, and the system timer resolution raised
// at start so that a 1 ms sleep lasts about 1 ms instead of a whole default tick (about 15.6 ms).
#include "timing/timing.h"

#include <windows.h>

namespace {

// ntdll entry points without an import library; resolutions are in 100-nanosecond units.
using NtQueryTimerResolutionFn = LONG(NTAPI*)(PULONG minimum, PULONG maximum, PULONG current);
using NtSetTimerResolutionFn = LONG(NTAPI*)(ULONG desired, BOOLEAN set, PULONG current);

template <typename Fn>
Fn Entry(HMODULE module, const char* name)
{
    // Through void(*)(): GetProcAddress's generic type would otherwise trip -Wcast-function-type.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Asks for the finest timer period the system offers. Best effort: every failure leaves the default resolution.
void RaiseTimerResolution()
{
    HMODULE ntdll = LoadLibraryW(L"C:\\Windows\\System32\\ntdll.dll");
    if (ntdll == nullptr)
        return;
    const auto query = Entry<NtQueryTimerResolutionFn>(ntdll, "NtQueryTimerResolution");
    const auto set = Entry<NtSetTimerResolutionFn>(ntdll, "NtSetTimerResolution");
    if (query != nullptr && set != nullptr) {
        ULONG minimum = 0, maximum = 0, current = 0;
        // NTSTATUS: negative is an error. "Maximum" resolution is the smallest period.
        if (query(&minimum, &maximum, &current) >= 0 && maximum != 0)
            set(maximum, TRUE, &current);
    }
    FreeLibrary(ntdll);
}

} // namespace

std::int64_t TimingStartup()
{
    RaiseTimerResolution();
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f); // cannot fail since Windows XP
    return f.QuadPart;
}

std::int64_t PerformanceCounter()
{
    LARGE_INTEGER c{};
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

void PlatformSleep(std::int64_t ms)
{
    // SleepRoundMs caps requests at a day, well inside DWORD.
    Sleep(static_cast<DWORD>(ms));
}
