// The controlled worker thread: run skeleton, failure texts, the synchronous report and the self-freeing thread.
#include "workers/thread_ctrl.h"

#include "base/error.h"
#include "workers/main_thread.h"
#include "workers/thread_start.h"

#include <exception>
#include <string_view>

namespace {

const std::string kIndent = "    ";

// The text of the exception being handled; something that is not a std::exception has no text of its own.
std::string CurrentText()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

} // namespace

std::string AddTraceLine(const std::string& message, const std::string& context, const std::string& indent)
{
    std::string t = indent + context;
    // From the end backwards, so that an insertion never moves a position still to be looked at.
    for (std::size_t i = t.size(); i-- > 1;) {
        if (t[i] == '\n' && t[i - 1] == '\r')
            t.insert(i + 1, indent);
    }
    return message + "\r\n" + t;
}

TCustomThreadCtrl::TCustomThreadCtrl() : FACT(std::make_unique<TThreadCtrlActions>()) {}

TCustomThreadCtrl::~TCustomThreadCtrl() = default;

void TCustomThreadCtrl::SetSEvent(TOnThreadCtrlEvent pOnEvent) { FOnEvent = std::move(pOnEvent); }

void TCustomThreadCtrl::SetAEvent(std::uint32_t pMsgEvent, std::uintptr_t pMsgForm)
{
    FMsgEvent = pMsgEvent;
    FMsgForm = pMsgForm != 0 ? pMsgForm : ApplicationMainWindow();
}

void TCustomThreadCtrl::SetActions(std::unique_ptr<TThreadCtrlActions> pActions)
{
    FACT = pActions ? std::move(pActions) : std::make_unique<TThreadCtrlActions>();
}

void TCustomThreadCtrl::ThreadBegin()
{
    StartDetachedThread([](void* self) { ThreadProc(static_cast<TCustomThreadCtrl*>(self)); }, this);
}

void TCustomThreadCtrl::ThreadEnd()
{
    std::lock_guard lock(FCS);
    FStop = true;
}

bool TCustomThreadCtrl::Stoped() const
{
    std::lock_guard lock(FCS);
    return FStop || ApplicationTerminating();
}

void TCustomThreadCtrl::ThreadProc(TCustomThreadCtrl* self)
{
    try {
        self->Execute();
    } catch (...) {
        // A failure of ExecError while it reports the run's failure has nowhere left to go.
    }
    self->FACT.reset();
    delete self; // the one owner of a started worker is its own thread
}

std::uint32_t TCustomThreadCtrl::CallSEvent(std::uint32_t wParam, std::uint32_t lParam)
{
    FpW = wParam;
    FpL = lParam;
    FpR = ThreadCtrlReplyBreak;
    RunOnMainThread([this] {
        if (!FOnEvent)
            return;
        try {
            FOnEvent(this, FpW, FpL, FpR);
        } catch (...) {
            // The handler's failure stays on the main thread; the worker sees whatever Res holds now.
        }
    });
    if (FpR == ThreadCtrlReplyBreak)
        throw Exception(ThreadCtrlBreak);
    if (FpR == ThreadCtrlReplyContinue)
        throw Exception(ThreadCtrlContinue);
    return FpR;
}

void TCustomThreadCtrl::Execute()
{
    std::uint8_t stage = ThreadCtrlStageRun;
    try {
        try {
            ExecBefore();
        } catch (...) {
            stage = ThreadCtrlStageBefore;
            throw Exception(AddTraceLine(CurrentText(), "TCustomThreadCtrl.ExecBefore", kIndent));
        }
        for (;;) {
            if (Stoped())
                break;
            for (;;) {
                TThreadCtrlAction action;
                try {
                    action = FACT->Get();
                } catch (...) {
                    break; // nothing due
                }
                try {
                    ExecAction(action);
                } catch (...) {
                    ExecError(ThreadCtrlStageAction,
                              AddTraceLine(CurrentText(), "TCustomThreadCtrl.ExecAction", kIndent));
                }
            }
            if (Stoped())
                break;
            try {
                ExecRepeat();
            } catch (...) {
                const std::string text = CurrentText();
                if (text == ThreadCtrlBreak)
                    break;
                if (text != ThreadCtrlContinue)
                    ExecError(ThreadCtrlStageRepeat, AddTraceLine(text, "TCustomThreadCtrl.ExecRepeat", kIndent));
            }
            if (ApplicationTerminating())
                break;
        }
        try {
            ExecAfter();
        } catch (...) {
            stage = ThreadCtrlStageAfter;
            throw Exception(AddTraceLine(CurrentText(), "TCustomThreadCtrl.ExecAfter", kIndent));
        }
    } catch (...) {
        ExecError(stage, AddTraceLine(CurrentText(), "TCustomThreadCtrl.Execute", kIndent));
    }
}

void TCustomThreadCtrl::ExecBefore() {}

void TCustomThreadCtrl::ExecRepeat() { throw Exception(ThreadCtrlBreak); }

void TCustomThreadCtrl::ExecAfter() {}

void TCustomThreadCtrl::ExecError(std::uint8_t, const std::string&) {}

void TCustomThreadCtrl::ExecAction(const TThreadCtrlAction&) {}
