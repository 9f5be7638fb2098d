// Reports from worker threads run in the GLib main loop: each queued report adds one idle call on the default main
// context, which pumps the queue on the main thread.
#include "app/gtk/gtk_dispatcher.h"

#include "workers/main_thread.h"

#include <glib.h>

namespace {

using TQueueRef = std::weak_ptr<TPumpedDispatcher>;

gboolean PumpOnce(gpointer data)
{
    if (const auto queue = static_cast<TQueueRef*>(data)->lock())
        queue->Pump();
    return G_SOURCE_REMOVE;
}

void FreeRef(gpointer data)
{
    std::unique_ptr<TQueueRef>(static_cast<TQueueRef*>(data)); // owned by the idle source until here
}

} // namespace

TGtkDispatcher::TGtkDispatcher() : FQueue(std::make_shared<TPumpedDispatcher>())
{
    const TQueueRef weak = FQueue;
    // g_idle_add is safe from any thread and only posts. Each idle call holds a weak reference: one that runs after
    // the dispatcher has gone finds nothing to pump.
    FQueue->SetOnQueued([weak] {
        g_idle_add_full(G_PRIORITY_DEFAULT, &PumpOnce, std::make_unique<TQueueRef>(weak).release(), &FreeRef);
    });
    SetMainThreadDispatcher(FQueue);
}

TGtkDispatcher::~TGtkDispatcher()
{
    Stop();
}

void TGtkDispatcher::Stop()
{
    FQueue->Stop();
    SetMainThreadDispatcher(nullptr);
}
