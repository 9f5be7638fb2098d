// The Qt main-thread dispatcher: workers queue their report and wait; a queued call wakes the Qt event loop, which
// runs the waiting reports on the main thread. Construct and destroy on the main thread, after the QApplication.
#pragma once

#include "workers/pumped_dispatcher.h"

#include <QObject>

#include <memory>

class TQtDispatcher {
public:
    TQtDispatcher();
    // Lets every waiting report go and installs no dispatcher any more.
    ~TQtDispatcher();
    TQtDispatcher(const TQtDispatcher&) = delete;
    TQtDispatcher& operator=(const TQtDispatcher&) = delete;

    // After the event loop has ended: no report waits for it any more (idempotent).
    void Stop();

private:
    QObject FReceiver; // lives on the main thread; the wake-ups are delivered to it
    std::shared_ptr<TPumpedDispatcher> FQueue;
};
