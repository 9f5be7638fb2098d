// The process-wide application state of the worker framework: the dispatcher to the main thread and the flags.
#include "workers/main_thread.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace {

struct TAppState {
    std::mutex lock; // guards dispatcher
    std::shared_ptr<TMainThreadDispatcher> dispatcher;
    std::atomic<bool> terminating{false};
    std::atomic<std::uintptr_t> mainWindow{0};
};

// Never destroyed: detached workers may still use it while static destructors run at process exit.
TAppState& State()
{
    union TImmortal {
        TAppState state;
        TImmortal() : state() {}
        ~TImmortal() {} // deliberately leaves state alive
    };
    static TImmortal holder;
    return holder.state;
}

std::shared_ptr<TMainThreadDispatcher> CurrentDispatcher()
{
    TAppState& s = State();
    std::lock_guard guard(s.lock);
    return s.dispatcher;
}

} // namespace

void SetMainThreadDispatcher(std::shared_ptr<TMainThreadDispatcher> dispatcher)
{
    TAppState& s = State();
    std::shared_ptr<TMainThreadDispatcher> old;
    {
        std::lock_guard guard(s.lock);
        old = std::exchange(s.dispatcher, std::move(dispatcher));
    }
    // old is released outside the lock: its destructor may be the last reference and must not run under it.
}

bool RunOnMainThread(const std::function<void()>& fn)
{
    if (ApplicationTerminating())
        return false;
    const std::shared_ptr<TMainThreadDispatcher> d = CurrentDispatcher();
    return d && d->Run(fn);
}

void SetApplicationTerminating()
{
    if (State().terminating.exchange(true))
        return;
    if (const std::shared_ptr<TMainThreadDispatcher> d = CurrentDispatcher())
        d->OnApplicationTerminating();
}

bool ApplicationTerminating() { return State().terminating.load(); }

void SetApplicationMainWindow(std::uintptr_t handle) { State().mainWindow.store(handle); }

std::uintptr_t ApplicationMainWindow() { return State().mainWindow.load(); }
