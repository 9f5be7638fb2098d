// The Win32 main-thread dispatcher: a worker queues its report and waits; a posted window message wakes the main
// thread's message loop, which runs the waiting reports. Construct, Stop and destroy on the main thread (the one that
// runs the message loop), before and after the loop.
#pragma once

#include "workers/pumped_dispatcher.h"

#include <windows.h>

#include <memory>

class TWinDispatcher {
public:
    // Installs itself as the process's main-thread dispatcher.
    TWinDispatcher();
    // Stop(), then the message window goes.
    ~TWinDispatcher();
    TWinDispatcher(const TWinDispatcher&) = delete;
    TWinDispatcher& operator=(const TWinDispatcher&) = delete;

    // After the message loop has ended: no report waits for it any more, none is posted (idempotent).
    void Stop();

    // Posted to the message window for each queued report (one pump runs every report waiting by then).
    static constexpr UINT PumpMessage = WM_APP + 1;

private:
    class TInstalled;
    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND FWindow = nullptr; // message-only window of the main thread
    std::shared_ptr<TPumpedDispatcher> FQueue;
};
