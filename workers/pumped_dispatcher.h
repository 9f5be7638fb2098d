// A main-thread dispatcher for programs without a GUI toolkit (the command-line tool, the tests): workers queue their
// calls, and the thread that owns the dispatcher runs them when it pumps.
// Threading: Run is called by workers; Pump, PumpUntil and Stop by the main thread (the one that pumps).
#pragma once

#include "workers/main_thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>

class TPumpedDispatcher final : public TMainThreadDispatcher {
public:
    // Worker side: queues fn and waits until the main thread has run it (true) or Stop let it go (false).
    bool Run(const std::function<void()>& fn) override;

    // The application is terminating: Stop().
    void OnApplicationTerminating() override;

    // Runs every call that is waiting now, in arrival order; returns how many ran.
    std::size_t Pump();

    // Runs calls as they arrive until done() is true (checked after each call and at least every 5 ms) or timeoutMs
    // has passed; returns done().
    bool PumpUntil(const std::function<bool()>& done, double timeoutMs);

    // Lets every waiting call go without running it, and makes later calls return false at once. A call that is
    // running finishes first (it runs on the calling thread, so Stop never waits for a worker).
    void Stop();

    // Calls waiting to be run.
    std::size_t Waiting() const;

    // Called (on the worker's thread, under the dispatcher's lock) after each call is queued, so that an event loop
    // can be woken to pump; it must only post, never pump. Not called once Stop has run.
    void SetOnQueued(std::function<void()> wake);

private:
    struct TCall {
        const std::function<void()>* fn = nullptr;
        bool done = false;      // ran to its end
        bool abandoned = false; // let go by Stop before it started
        std::condition_variable finished; // its worker's wake-up: the call finished or was let go
    };

    // Runs the oldest waiting call, if any; lock is held on entry and on return.
    bool RunOne(std::unique_lock<std::mutex>& lock);

    mutable std::mutex FLock;
    std::condition_variable FArrived; // main side: a call was queued, or Stop
    std::deque<TCall*> FCalls;        // each lives in the frame of the Run that waits for it
    bool FStopped = false;
    std::function<void()> FOnQueued;
};
