// The GTK main-thread dispatcher: workers queue their report and wait; an idle call on GLib's main context wakes the
// main loop, which runs the waiting reports on the main thread. Once the application is terminating (or Stop ran),
// no report waits any more. Construct and destroy on the main thread, after gtk_init.
#pragma once

#include "workers/pumped_dispatcher.h"

#include <memory>

class TGtkDispatcher {
public:
    TGtkDispatcher();
    // Lets every waiting report go and installs no dispatcher any more.
    ~TGtkDispatcher();
    TGtkDispatcher(const TGtkDispatcher&) = delete;
    TGtkDispatcher& operator=(const TGtkDispatcher&) = delete;

    // After the main loop has ended: no report waits for it any more (idempotent).
    void Stop();

private:
    std::shared_ptr<TPumpedDispatcher> FQueue;
};
