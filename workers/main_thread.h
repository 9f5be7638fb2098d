// How workers reach the main thread, and the process-wide application state they read (terminating flag, main window).
// workers/ knows no toolkit: the application installs a dispatcher (the GTK window a blocking call through its main
// loop, the Win32 window a sent window message, toolkit-free programs and tests a TPumpedDispatcher).
//
// Contract (who waits for whom, and what happens at exit):
// - The main thread never waits for a worker. A worker's report waits for the main thread, through the dispatcher.
// - SetApplicationTerminating() is called on the main thread when the application begins to close. From then on
//   Stoped() is true for every worker, their run loops end at the next check, and a report no longer goes to the
//   dispatcher: it answers the stop reply at once. The dispatcher is told once (OnApplicationTerminating), so that a
//   report already waiting can be let go.
// - The installed dispatcher is shared: a report in progress keeps it alive, so replacing or removing it
//   (SetMainThreadDispatcher(nullptr)) is safe at any time, also during static destruction.
// - The state behind these functions is never destroyed, so a detached worker that is still running while the process
//   exits (static destructors running) may still call Stoped(), CallSEvent() and these functions safely. A derived
//   worker that uses globals of its own must make the same provision for them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class TMainThreadDispatcher {
public:
    virtual ~TMainThreadDispatcher() = default;

    // Called on a worker thread: runs fn once on the main thread and returns after it has finished (true), or returns
    // false without fn ever starting, once the dispatcher can no longer reach the main thread (main loop ended or
    // the application is terminating). It must never return while fn is running. fn does not throw.
    virtual bool Run(const std::function<void()>& fn) = 0;

    // Called once on the main thread by SetApplicationTerminating(). Calls that have not started yet may be let go
    // (Run returns false); a call that is running is finished first. The default keeps waiting for the main loop.
    virtual void OnApplicationTerminating() {}
};

// Installs the dispatcher that reports use (nullptr: none; a report then answers the stop reply).
void SetMainThreadDispatcher(std::shared_ptr<TMainThreadDispatcher> dispatcher);

// Runs fn on the main thread through the installed dispatcher and waits; false when it did not run (no dispatcher,
// the application is terminating, or the dispatcher let the call go). Called from worker threads.
bool RunOnMainThread(const std::function<void()>& fn);

// Sets the process-wide terminating flag (once; it is never cleared) and tells the installed dispatcher.
void SetApplicationTerminating();

// The terminating flag; any thread.
bool ApplicationTerminating();

// The application's main window handle (0 until the window sets it); the default target of SetAEvent.
void SetApplicationMainWindow(std::uintptr_t handle);
std::uintptr_t ApplicationMainWindow();
