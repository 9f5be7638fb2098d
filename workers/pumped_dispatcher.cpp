// The pumped main-thread dispatcher: a queue of waiting calls, run by whoever pumps it.
#include "workers/pumped_dispatcher.h"

#include "timing/timing.h"

#include <algorithm>
#include <chrono>

bool TPumpedDispatcher::Run(const std::function<void()>& fn)
{
    std::unique_lock lock(FLock);
    if (FStopped)
        return false;
    TCall call;
    call.fn = &fn;
    FCalls.push_back(&call);
    FArrived.notify_one();
    // Under the lock: once Stop has returned, no wake-up is being sent to a main loop that may be gone.
    if (FOnQueued)
        FOnQueued();
    call.finished.wait(lock, [&call] { return call.done || call.abandoned; });
    return call.done;
}

void TPumpedDispatcher::OnApplicationTerminating() { Stop(); }

void TPumpedDispatcher::SetOnQueued(std::function<void()> wake)
{
    std::lock_guard lock(FLock);
    FOnQueued = std::move(wake);
}

bool TPumpedDispatcher::RunOne(std::unique_lock<std::mutex>& lock)
{
    if (FCalls.empty())
        return false;
    TCall* call = FCalls.front();
    FCalls.pop_front();
    lock.unlock();
    try {
        (*call->fn)();
    } catch (...) {
        // A call must not throw; if one does, the main loop keeps going and the worker is still released.
    }
    lock.lock();
    call->done = true;
    // Only this call's worker: with many workers waiting, one shared wake-up would rouse them all for every call.
    call->finished.notify_one();
    return true;
}

std::size_t TPumpedDispatcher::Pump()
{
    std::unique_lock lock(FLock);
    std::size_t n = 0;
    while (RunOne(lock))
        ++n;
    return n;
}

bool TPumpedDispatcher::PumpUntil(const std::function<bool()>& done, double timeoutMs)
{
    const double deadline = NowMs() + timeoutMs;
    for (;;) {
        if (done())
            return true;
        const double left = deadline - NowMs();
        if (left <= 0)
            return done();
        std::unique_lock lock(FLock);
        if (!RunOne(lock)) {
            const auto wait = std::chrono::duration<double, std::milli>(std::min(left, 5.0));
            FArrived.wait_for(lock, wait, [this] { return !FCalls.empty(); });
            RunOne(lock);
        }
    }
}

void TPumpedDispatcher::Stop()
{
    std::lock_guard lock(FLock);
    FStopped = true;
    for (TCall* call : FCalls) {
        call->abandoned = true;
        call->finished.notify_one();
    }
    FCalls.clear();
    FArrived.notify_all();
}

std::size_t TPumpedDispatcher::Waiting() const
{
    std::lock_guard lock(FLock);
    return FCalls.size();
}
