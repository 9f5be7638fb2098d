// Detached threads on Windows: straight through the C runtime's _beginthreadex. std::thread goes through winpthreads,
// and under wine its create-then-detach path now and then gave a thread that never ran its function (256 workers
// started at once hung within ten runs: one never started, and the process showed no thread for it); a plain
// C runtime thread needs none of winpthreads' bookkeeping of thread records.
#include "workers/thread_start.h"

#include <windows.h>

#include <process.h>

#include <cerrno>
#include <memory>
#include <system_error>

namespace {

struct TStart {
    void (*fn)(void*);
    void* arg;
};

unsigned __stdcall Trampoline(void* p)
{
    const std::unique_ptr<TStart> start(static_cast<TStart*>(p));
    start->fn(start->arg);
    return 0;
}

} // namespace

void StartDetachedThread(void (*fn)(void*), void* arg)
{
    auto start = std::make_unique<TStart>(TStart{fn, arg});
    const std::uintptr_t h = _beginthreadex(nullptr, 0, Trampoline, start.get(), 0, nullptr);
    if (h == 0)
        throw std::system_error(errno, std::generic_category(), "cannot start a worker thread");
    start.release(); // the new thread frees it
    CloseHandle(reinterpret_cast<HANDLE>(h)); // nobody joins it
}
