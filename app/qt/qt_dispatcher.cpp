// Reports from worker threads run in the Qt event loop: each queued report posts one wake-up to the main thread.
#include "app/qt/qt_dispatcher.h"

#include "workers/main_thread.h"

#include <QMetaObject>

TQtDispatcher::TQtDispatcher() : FQueue(std::make_shared<TPumpedDispatcher>())
{
    TPumpedDispatcher* queue = FQueue.get();
    QObject* receiver = &FReceiver;
    // Posting is non-blocking and safe from any thread; the queue stops (and so stops posting) before the receiver
    // goes away.
    FQueue->SetOnQueued([receiver, queue] {
        QMetaObject::invokeMethod(receiver, [queue] { queue->Pump(); }, Qt::QueuedConnection);
    });
    SetMainThreadDispatcher(FQueue);
}

TQtDispatcher::~TQtDispatcher()
{
    Stop();
}

void TQtDispatcher::Stop()
{
    FQueue->Stop();
    SetMainThreadDispatcher(nullptr);
}
