// The worker's action queue: insertion with a delay on the shared performance counter, due-time taking, clearing by code.
#include "workers/thread_actions.h"

#include "base/error.h"
#include "timing/timing.h"
#include "workers/thread_ctrl_texts.h"

#include <algorithm>
#include <cmath>

namespace {

// 2^62 ticks is 146 years at a 1 GHz counter: far beyond any real delay, and now + offset cannot overflow 64 bits.
constexpr double kMaxOffsetTicks = 4611686018427387904.0;

std::int64_t DelayToTicks(double pDelay)
{
    const double ticks = static_cast<double>(CounterFrequency) * pDelay / 1000.0;
    if (std::isnan(ticks))
        return 0;
    // Truncation toward zero, as the delay conversion has always been; the clamp keeps the cast defined.
    return static_cast<std::int64_t>(std::clamp(ticks, -kMaxOffsetTicks, kMaxOffsetTicks));
}

bool CodeMatches(const TThreadCtrlAction& a, std::uint32_t pCode, bool isMask)
{
    return a.Code == pCode || (isMask && (a.Code & pCode) == pCode);
}

constexpr std::uint32_t kAllCodes = 0xFFFFFFFF;

} // namespace

std::int32_t TThreadCtrlActions::Insert(double pDelay, std::uint32_t pCode, std::intptr_t pData)
{
    const std::int64_t offset = DelayToTicks(pDelay);
    std::lock_guard lock(FCS);
    const auto n = static_cast<std::int32_t>(FCA.size());
    FCA.push_back(TThreadCtrlAction{PerformanceCounter() + offset, pCode, pData});
    return n;
}

TThreadCtrlAction TThreadCtrlActions::Get()
{
    std::lock_guard lock(FCS);
    const std::int64_t now = PerformanceCounter();
    const auto it = std::find_if(FCA.begin(), FCA.end(), [now](const TThreadCtrlAction& a) { return a.When <= now; });
    if (it == FCA.end())
        throw Exception(ThreadCtrlBreak);
    const TThreadCtrlAction a = *it;
    FCA.erase(it);
    return a;
}

void TThreadCtrlActions::Clear(std::uint32_t pCode, bool isMask)
{
    std::lock_guard lock(FCS);
    if (pCode == kAllCodes) {
        FCA.clear();
        return;
    }
    std::erase_if(FCA, [&](const TThreadCtrlAction& a) { return CodeMatches(a, pCode, isMask); });
}

void TThreadCtrlActions::Clear(std::int64_t pWhen, std::uint32_t pCode, bool isMask)
{
    std::lock_guard lock(FCS);
    if (pCode == kAllCodes) {
        FCA.clear();
        return;
    }
    std::erase_if(FCA, [&](const TThreadCtrlAction& a) { return a.When <= pWhen && CodeMatches(a, pCode, isMask); });
}

std::size_t TThreadCtrlActions::Count() const
{
    std::lock_guard lock(FCS);
    return FCA.size();
}
