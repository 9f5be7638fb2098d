// The controlled worker thread: a run skeleton of five virtual steps, loop control by two control texts, a
// synchronous report to the main thread, and a self-freeing lifetime.
//
// Lifetime and ownership:
// - A worker is created suspended (no thread runs yet) and belongs to its creator until ThreadBegin. A worker that is
//   never started is destroyed by its owner; it releases its queue. The usual creation is
//       auto w = std::make_unique<TMyWorker>(...);  w->SetSEvent(...);  ...
//       TMyWorker* p = w.get();  w->ThreadBegin();  w.release();   // from here on the worker owns itself
//   (if ThreadBegin throws, the unique_ptr still owns the worker).
// - After ThreadBegin the worker runs Execute on its own detached thread, frees its queue and deletes itself. The
//   owner may use the pointer only while it knows the worker is alive: during a report (the worker waits in
//   CallSEvent) and before the report the worker sends as its last one.
//
// Threading:
// - The five steps and CallSEvent run on the worker's thread. The report handler runs on the main thread while the
//   worker waits in CallSEvent, so it may read and write the worker's fields without a lock.
// - ThreadEnd, Stoped and Actions() may be used from any thread while the worker is alive. FCS guards FStop only.
// - See workers/main_thread.h for the dispatcher and the terminating flag.
#pragma once

#include "workers/thread_actions.h"
#include "workers/thread_ctrl_texts.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class TCustomThreadCtrl;

// The report handler, run on the main thread: Sender is the reporting worker, Res the reply (ThreadCtrlReplyBreak on
// entry). A window binds its member with a lambda: [this](auto* s, auto w, auto l, auto& r) { OnEvent(s, w, l, r); }.
using TOnThreadCtrlEvent =
    std::function<void(TCustomThreadCtrl* Sender, std::uint32_t wParam, std::uint32_t lParam, std::uint32_t& Res)>;

// Stage codes given to ExecError.
inline constexpr std::uint8_t ThreadCtrlStageRun = 0;    // anything else, including ExecError raising for 2 or 4
inline constexpr std::uint8_t ThreadCtrlStageBefore = 1; // ExecBefore
inline constexpr std::uint8_t ThreadCtrlStageRepeat = 2; // ExecRepeat, with a text other than the control texts
inline constexpr std::uint8_t ThreadCtrlStageAfter = 3;  // ExecAfter
inline constexpr std::uint8_t ThreadCtrlStageAction = 4; // ExecAction

// The message, CR LF, then indent + context with the indent repeated after every CR LF inside the context.
std::string AddTraceLine(const std::string& message, const std::string& context, const std::string& indent);

class TCustomThreadCtrl {
public:
    // Created suspended: no thread yet, empty handler, FMsgEvent 0xFFFFFFFF, FMsgForm 0, not stopped, empty queue.
    TCustomThreadCtrl();
    TCustomThreadCtrl(const TCustomThreadCtrl&) = delete;
    TCustomThreadCtrl& operator=(const TCustomThreadCtrl&) = delete;
    virtual ~TCustomThreadCtrl();

    // Sets the report handler; before ThreadBegin.
    void SetSEvent(TOnThreadCtrlEvent pOnEvent);
    // Stores a window-message id and target (0: the application's main window). Reports never use them.
    void SetAEvent(std::uint32_t pMsgEvent, std::uintptr_t pMsgForm);
    std::uint32_t MsgEvent() const { return FMsgEvent; }
    std::uintptr_t MsgForm() const { return FMsgForm; }

    // Starts the thread; call once. From its return on, the worker owns itself (it may already be gone).
    // Throws std::system_error when no thread can be created; the caller then still owns the worker.
    void ThreadBegin();
    // Asks the loop to end at its next check; a running step is not interrupted. Any thread.
    void ThreadEnd();
    // ThreadEnd was called or the application is terminating. Any thread.
    bool Stoped() const;

    // The worker's action queue. Any thread, while the worker is alive.
    TThreadCtrlActions& Actions() { return *FACT; }
    // Replaces the queue (nullptr: a new empty one); before ThreadBegin only.
    void SetActions(std::unique_ptr<TThreadCtrlActions> pActions);

protected:
    // The report, from the worker's own thread: runs the handler on the main thread and waits for it. Throws
    // Exception(ThreadCtrlBreak) for the reply ThreadCtrlReplyBreak (also: no handler, a handler that leaves Res
    // alone, no dispatcher, the application terminating), Exception(ThreadCtrlContinue) for ThreadCtrlReplyContinue;
    // returns any other reply. Never call it on the main thread: it would wait for itself.
    std::uint32_t CallSEvent(std::uint32_t wParam, std::uint32_t lParam);

    // The steps, on the worker's thread, in this order: ExecBefore once; per pass every due action through
    // ExecAction, then ExecRepeat; ExecAfter once. ExecError receives every failure with its stage code and text.
    virtual void ExecBefore();
    virtual void ExecRepeat(); // base: throws Exception(ThreadCtrlBreak)
    virtual void ExecAfter();
    virtual void ExecError(std::uint8_t pStage, const std::string& pText);
    virtual void ExecAction(const TThreadCtrlAction& pAction);

    // The report in progress: set by CallSEvent before the handler runs; FpR is the reply.
    std::uint32_t FpW = 0;
    std::uint32_t FpL = 0;
    std::uint32_t FpR = 0;

private:
    void Execute();
    static void ThreadProc(TCustomThreadCtrl* self);

    mutable std::mutex FCS; // guards FStop only
    std::unique_ptr<TThreadCtrlActions> FACT;
    TOnThreadCtrlEvent FOnEvent;
    std::uint32_t FMsgEvent = 0xFFFFFFFF;
    bool FStop = false;
    std::uintptr_t FMsgForm = 0;
};
