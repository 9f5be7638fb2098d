// A worker for the tests: each step writes a line to a shared log and then does what the test configured.
// The log outlives the worker, which deletes itself; its destructor counts itself out in the log.
#pragma once

#include "base/error.h"
#include "workers/pumped_dispatcher.h"
#include "workers/thread_ctrl.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What a worker did, shared between it and the test; any thread.
class TProbe {
public:
    void Add(const std::string& line)
    {
        std::lock_guard lock(FLock);
        FLog.push_back(line);
        FChanged.notify_all();
    }
    std::vector<std::string> Log() const
    {
        std::lock_guard lock(FLock);
        return FLog;
    }
    bool Contains(const std::string& line) const
    {
        std::lock_guard lock(FLock);
        for (const std::string& l : FLog)
            if (l == line)
                return true;
        return false;
    }
    void CountDestroyed()
    {
        std::lock_guard lock(FLock);
        ++FDestroyed;
        FChanged.notify_all();
    }
    int Destroyed() const
    {
        std::lock_guard lock(FLock);
        return FDestroyed;
    }

private:
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<std::string> FLog;
    int FDestroyed = 0;
};

// A one-shot gate a step can wait at until the test opens it.
class TGate {
public:
    void Open()
    {
        std::lock_guard lock(FLock);
        FOpen = true;
        FCv.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(FLock);
        FCv.wait(lock, [this] { return FOpen; });
    }

private:
    std::mutex FLock;
    std::condition_variable FCv;
    bool FOpen = false;
};

class TProbeWorker : public TCustomThreadCtrl {
public:
    explicit TProbeWorker(std::shared_ptr<TProbe> probe) : FProbe(std::move(probe)) { ++Live; }
    ~TProbeWorker() override
    {
        --Live;
        FProbe->CountDestroyed();
    }

    using TCustomThreadCtrl::CallSEvent;

    // Step behaviour; empty means the base step. Set before ThreadBegin.
    std::function<void(TProbeWorker&)> Before, Repeat, After;
    std::function<void(TProbeWorker&, std::uint8_t, const std::string&)> Error;
    std::function<void(TProbeWorker&, const TThreadCtrlAction&)> Action;

    TProbe& Probe() { return *FProbe; }
    int Passes = 0; // a worker field that report handlers read
    int Index = 0;

    // Reports and logs the outcome ("reply N" or "raised TEXT"); a raised control text is passed on.
    std::uint32_t Report(std::uint32_t w, std::uint32_t l)
    {
        try {
            const std::uint32_t r = CallSEvent(w, l);
            FProbe->Add("reply " + std::to_string(r));
            return r;
        } catch (const Exception& e) {
            FProbe->Add(std::string("raised ") + e.what());
            throw;
        }
    }

    static inline std::atomic<int> Live{0};

protected:
    void ExecBefore() override
    {
        FProbe->Add("before");
        if (Before)
            Before(*this);
    }
    void ExecRepeat() override
    {
        ++Passes;
        FProbe->Add("repeat");
        if (Repeat)
            Repeat(*this);
        else
            TCustomThreadCtrl::ExecRepeat();
    }
    void ExecAfter() override
    {
        FProbe->Add("after");
        if (After)
            After(*this);
    }
    void ExecError(std::uint8_t pStage, const std::string& pText) override
    {
        FProbe->Add("error " + std::to_string(pStage) + ": " + pText);
        if (Error)
            Error(*this, pStage, pText);
    }
    void ExecAction(const TThreadCtrlAction& pAction) override
    {
        FProbe->Add("action " + std::to_string(pAction.Code));
        if (Action)
            Action(*this, pAction);
    }

private:
    std::shared_ptr<TProbe> FProbe;
};
