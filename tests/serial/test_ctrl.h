// Shared by the exchange engine tests on pseudo-terminals and on COM ports under wine: a protocol class in
// miniature and the session parameters with the engine's traces on.
#pragma once

#include "serial/comport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// The answer is complete once it holds Need bytes (0: never); counts the completeness tests (Calls) and the final
// check the engine makes with Complite already set (FinalCalls).
class TestCtrl : public TCustomComPortCtrl {
public:
    std::size_t Need = 0;
    std::atomic<int> Calls{0}, FinalCalls{0};
    void CheckRecivedData(const ABytes& Send, const ABytes& Recive, bool& Complite) override
    {
        ++(Complite ? FinalCalls : Calls);
        if (!Complite && Need && Recive.size() >= Need)
            Complite = true;
        TCustomComPortCtrl::CheckRecivedData(Send, Recive, Complite);
    }
};

inline TSessionParams Params(std::uint32_t timeOut, std::uint16_t readCount, std::uint32_t betPacks, std::uint8_t dubl,
                             std::uint32_t dublWait)
{
    TSessionParams p;
    p.Init(timeOut, readCount, betPacks, dubl, dublWait);
    p.Loged = true;
    return p;
}
