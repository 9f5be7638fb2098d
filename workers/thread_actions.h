// The action queue of a worker thread: timed (code, data) pairs that any thread may queue and the worker takes when due.
// Threading: every operation is atomic (one lock per queue, held for the whole operation, never while worker code runs).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

// One queued action. Its meaning belongs to the worker class that executes it.
struct TThreadCtrlAction {
    std::int64_t When = 0;  // due time, in PerformanceCounter() ticks
    std::uint32_t Code = 0; // action code
    std::intptr_t Data = 0; // argument
};

// Timed actions in insertion order (not sorted by When). Any thread may call any operation.
class TThreadCtrlActions {
public:
    TThreadCtrlActions() = default;
    TThreadCtrlActions(const TThreadCtrlActions&) = delete;
    TThreadCtrlActions& operator=(const TThreadCtrlActions&) = delete;

    // Appends an action due pDelay milliseconds from now (zero, negative or NaN: due at once; delays beyond about a
    // century are clamped). Returns its index at that moment, i.e. the number of actions queued before it.
    std::int32_t Insert(double pDelay, std::uint32_t pCode, std::intptr_t pData);

    // Removes and returns the first due action in insertion order, even when a later one has an earlier When.
    // Throws Exception("_____BREAK__0_") when none is due; the queue is then unchanged.
    TThreadCtrlAction Get();

    // Removes every action whose code matches: Code == pCode, or with isMask every bit of pCode set in Code
    // (pCode 0 with isMask matches all). pCode 0xFFFFFFFF empties the queue. Kept actions keep their order.
    void Clear(std::uint32_t pCode, bool isMask);

    // As above, but drops only matching actions with When <= pWhen (counter ticks); 0xFFFFFFFF still empties all.
    void Clear(std::int64_t pWhen, std::uint32_t pCode, bool isMask);

    // Number of queued actions, due or not.
    std::size_t Count() const;

private:
    mutable std::mutex FCS;
    std::vector<TThreadCtrlAction> FCA;
};
