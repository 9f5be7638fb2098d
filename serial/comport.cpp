// Portable members of the port classes: name rules, port lookups, the controller's wrappers, the exchange engine
// and the diagnostics. The platform members are in serial/<platform>/.
#include "serial/comport.h"
#include "serial/exchange_log.h"

#include "base/error.h"
#include "base/format.h"
#include "timing/timing.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <exception>

namespace {

const char kNotOpen[] = "TCustomComPortCtrl.GetOpenRaised >> Подключение не установлено.";

bool IsDevicePath(const std::string& name) { return !name.empty() && name[0] == '/'; }

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Signed decimal as a whole text (no blanks, no other characters), within 32 bits.
bool ParseInt32(const std::string& text, std::int32_t& out)
{
    std::size_t i = 0;
    bool neg = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        neg = text[i++] == '-';
    if (i == text.size())
        return false;
    std::int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (neg)
        v = -v;
    if (v > 2147483647LL)
        return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

// The number part of a port name: what follows the first "COM" (any case), else the whole name.
std::int32_t ParsePortNumber(const std::string& pName)
{
    std::string upper = pName;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    const std::size_t at = upper.find("COM");
    const std::string digits = at == std::string::npos ? pName : pName.substr(at + 3);
    std::int32_t n = 0;
    if (!ParseInt32(digits, n))
        throw Exception("TBasicComPortCtrl.CheckPortName >> Ошибка имени порта " + Quoted(pName));
    return n;
}

std::string NameOfNumber(std::int32_t n) { return (n <= 9 ? "COM" : "\\\\.\\COM") + std::to_string(n); }

} // namespace

// ---- TBasicComPortCtrl: name rules -------------------------------------------------------------------------------

std::string TBasicComPortCtrl::CheckPortName(const std::string& pPortName)
{
    if (IsDevicePath(pPortName))
        return pPortName;
    return NameOfNumber(CheckPortNumber(pPortName));
}

std::string TBasicComPortCtrl::CheckPortName(std::int32_t pPortIndex)
{
    if (pPortIndex <= 0)
        throw Exception("TBasicComPortCtrl.CheckPortName >> Ошибка номера порта " + Quoted(std::to_string(pPortIndex)));
    return NameOfNumber(pPortIndex);
}

std::int32_t TBasicComPortCtrl::CheckPortNumber(const std::string& pPortName)
{
    const std::int32_t n = ParsePortNumber(pPortName);
    if (n <= 0)
        throw Exception("TBasicComPortCtrl.CheckPortName >> Ошибка номера порта " + Quoted(pPortName));
    return n;
}

void TBasicComPortCtrl::SwitchToRecive(THandle)
{
    throw Exception("TBasicComPortCtrl.SwitchToRecive >> SwitchToRecive не работает");
}

void TBasicComPortCtrl::SwitchToSend(THandle)
{
    throw Exception("TBasicComPortCtrl.SwitchToSend >> SwitchToSend не работает");
}

TPortLister SystemPortLister()
{
    return [] { return TBasicComPortCtrl::ListPorts(); };
}

// ---- lookups ------------------------------------------------------------------------------------------------------

TPortInfo FindPort(const APortsInfo& pList, const std::string& pName)
{
    for (const TPortInfo& p : pList) {
        if (p.portType != 1)
            continue;
        if (TBasicComPortCtrl::CheckPortName(p.portName) == TBasicComPortCtrl::CheckPortName(pName))
            return p;
    }
    throw Exception("Порт " + Quoted(pName) + " не найден.");
}

TPortInfo FindPortInfo(const std::string& pName) { return FindPort(TBasicComPortCtrl::ListPortsInfo(), pName); }

std::int32_t PortNumberOf(const std::string& pName) { return ParsePortNumber(pName); }

// ---- TCustomComPortCtrl -------------------------------------------------------------------------------------------

TCustomComPortCtrl::TCustomComPortCtrl() : FLister(SystemPortLister())
{
    FSetup.Default(9600, 1);
    FSP.Init(1000, 256, 20, 0, 100);
}

TCustomComPortCtrl::~TCustomComPortCtrl() { Close(); }

void TCustomComPortCtrl::Open(const std::string& pPortName, std::uint32_t pDesiredAccess, bool pFast)
{
    Close();
    const std::string name = CheckPortName(pPortName);
    FPortName = name;
    FPort = TBasicComPortCtrl::Open(name, pDesiredAccess);
    // Before the driver values are read, so that the latency timer read is the one the exchanges will meet.
    if (FFastExchange)
        FLowLatencySet = EnterLowLatency(FPort);
    if (pFast)
        return;
    FSetup.DCB = GetDCB();
    FSetup.CTO = GetTimeOuts();
    GetBuffers(FSetup.BIN, FSetup.BOU);
    try {
        const std::uint32_t latency = LatencyTimer(FPortName);
        FDriverLatency = latency;
        FLatTmr = latency + 2;
    } catch (const std::exception&) {
        FDriverLatency.reset();
        FLatTmr = 1;
    }
    try {
        const ABytes cd = ConfigData(FPortName);
        FBfSz = cd.size() >= 3 ? cd[2] * 64u : 256u;
    } catch (const std::exception&) {
        FBfSz = 256;
    }
    ComputeTimes();
}

void TCustomComPortCtrl::Reopen() { Open(FPortName, GENERIC_READ_WRITE, false); }

void TCustomComPortCtrl::Close()
{
    if (FLowLatencySet && Opened())
        LeaveLowLatency(FPort);
    FLowLatencySet = false;
    TBasicComPortCtrl::Close(FPort);
}

void TCustomComPortCtrl::CreateException(std::uint32_t Code, const std::string& Text)
{
    FLastError = Code;
    throw Exception(Text);
}

std::string TCustomComPortCtrl::PortName() const
{
    return FPortName.find("\\\\.\\") != std::string::npos ? FPortName.substr(4) : FPortName;
}

void TCustomComPortCtrl::CheckOpened() const
{
    if (!Opened())
        throw Exception(kNotOpen);
}

void TCustomComPortCtrl::CheckBaud(const char* op, std::uint32_t baud) const
{
    // Every line time divides by the baud rate; a rate of 0 would also hang up a POSIX line.
    if (baud == 0)
        throw Exception(Format("TCustomComPortCtrl.%s >> Недопустимая скорость порта (0).", op));
}

void TCustomComPortCtrl::ComputeTimes()
{
    const double baud = FSetup.DCB.BaudRate;
    GTCHB = 8000.0 / baud;
    GTC5B = static_cast<std::uint32_t>(FBfSz * 2000u) / baud + static_cast<std::uint32_t>(2u * FLatTmr);
}

bool TCustomComPortCtrl::Write(const ABytes& Data)
{
    CheckOpened();
    return TBasicComPortCtrl::Write(FPort, Data) == Data.size();
}

ABytes TCustomComPortCtrl::Read(std::uint32_t pSize)
{
    CheckOpened();
    ABytes buf(pSize);
    buf.resize(TBasicComPortCtrl::Read(FPort, buf));
    return buf;
}

void TCustomComPortCtrl::ClearBuffers(bool bIn, bool bOut)
{
    CheckOpened();
    TBasicComPortCtrl::ClearBuffers(FPort, bIn, bOut);
}

std::uint32_t TCustomComPortCtrl::ClearErrors()
{
    CheckOpened();
    FLastError = TBasicComPortCtrl::ClearErrors(FPort);
    return FLastError;
}

std::uint32_t TCustomComPortCtrl::ClearErrors(COMSTAT& Stat)
{
    CheckOpened();
    FLastError = TBasicComPortCtrl::ClearErrors(FPort, Stat);
    return FLastError;
}

std::uint32_t TCustomComPortCtrl::GetQueueSize()
{
    COMSTAT st;
    ClearErrors(st);
    return st.cbInQue;
}

std::uint32_t TCustomComPortCtrl::GetOutputSize()
{
    COMSTAT st;
    ClearErrors(st);
    return st.cbOutQue;
}

DCB TCustomComPortCtrl::GetDCB()
{
    CheckOpened();
    DCB d = TBasicComPortCtrl::GetDCB(FPort);
    if (d.BaudRate == 0)
        d.BaudRate = 9600;
    return d;
}

void TCustomComPortCtrl::SetDCB(const DCB& pDCB)
{
    CheckOpened();
    CheckBaud("SetDCB", pDCB.BaudRate);
    TBasicComPortCtrl::SetDCB(FPort, pDCB);
    FSetup.DCB = pDCB;
    ComputeTimes();
}

COMMTIMEOUTS TCustomComPortCtrl::GetTimeOuts()
{
    CheckOpened();
    return TBasicComPortCtrl::GetTimeOuts(FPort);
}

void TCustomComPortCtrl::SetTimeOuts(const COMMTIMEOUTS& pCTO)
{
    CheckOpened();
    TBasicComPortCtrl::SetTimeOuts(FPort, pCTO);
    FSetup.CTO = pCTO;
}

void TCustomComPortCtrl::GetBuffers(std::uint32_t& InBuff, std::uint32_t& OutBuff)
{
    CheckOpened();
    TBasicComPortCtrl::GetBuffers(FPort, InBuff, OutBuff);
}

void TCustomComPortCtrl::SetBuffers(std::uint32_t InBuff, std::uint32_t OutBuff)
{
    CheckOpened();
    TBasicComPortCtrl::SetBuffers(FPort, InBuff, OutBuff);
    FSetup.BIN = InBuff;
    FSetup.BOU = OutBuff;
}

void TCustomComPortCtrl::SetSetup(const TCPCSetup& pCPS)
{
    CheckOpened();
    CheckBaud("SetSetup", pCPS.DCB.BaudRate);
    TBasicComPortCtrl::SetDCB(FPort, pCPS.DCB);
    TBasicComPortCtrl::SetTimeOuts(FPort, pCPS.CTO);
    TBasicComPortCtrl::SetBuffers(FPort, pCPS.BIN, pCPS.BOU);
    FSetup = pCPS;
    ComputeTimes();
}

void TCustomComPortCtrl::SwitchToRecive()
{
    CheckOpened();
    TBasicComPortCtrl::SwitchToRecive(FPort);
}

void TCustomComPortCtrl::SwitchToSend()
{
    CheckOpened();
    TBasicComPortCtrl::SwitchToSend(FPort);
}

void TCustomComPortCtrl::CheckRecivedData(const ABytes&, const ABytes& Recive, bool&)
{
    if (Recive.empty())
        CreateException(0x80000002u, "Нет ответа.");
}

// ---- the exchange engine ------------------------------------------------------------------------------------------

void TCustomComPortCtrl::AppendSessionLog(const ABytes& Send, const ABytes& Recive, std::uint32_t WaitRecive,
                                          std::uint32_t Dubls, const std::string& ErrorText)
{
    if (!FLog)
        return;
    if (!FLogStr.empty())
        FLogStr = "\r\n" + FLogStr;
    WriteLog(PortName(), SessionLogEntry(Send, Recive, WaitRecive, Dubls, ErrorText, FLogStr), true);
}

void TCustomComPortCtrl::Trace(const TSessionParams& P, const char* fmt, ...)
{
    if (!P.Loged)
        return;
    va_list args;
    va_start(args, fmt);
    const std::string line = FormatV(fmt, args);
    va_end(args);
    if (!FLogStr.empty())
        FLogStr += "\r\n";
    FLogStr += line;
}

ABytes TCustomComPortCtrl::Session(const ABytes& Data, bool NeedAnswer) { return Session(Data, nullptr, NeedAnswer); }

ABytes TCustomComPortCtrl::Session(const ABytes& Data, PSessionParams sp, bool NeedAnswer)
{
    const TSessionParams P = sp ? *sp : FSP;
    const double Gap = std::max(GTC5B, static_cast<double>(P.BetPacks));
    FLogStr.clear();
    std::uint32_t Dubls = 0;
    std::string ErrorText;
    const double T0 = NowMs();
    ABytes Result;
    std::exception_ptr failure;

    try {
        if (!Opened())
            throw Exception(kNotOpen);
        Trace(P, "W%d, T%1.2f-%1.2f", static_cast<int>(Data.size()), Gap, GTC5B);
        const int Attempts = P.Dublicate + 1;
        for (int attempt = 0; attempt < Attempts; ++attempt) {
            const double TW = NowMs();
            if (attempt > 0)
                ++FResends;
            std::int64_t n = static_cast<std::int64_t>(Data.size()) - 2;
            if (n < 2)
                n = 1;
            const double sendWait = 2 * GTCHB * static_cast<double>(n);
            try {
                TBasicComPortCtrl::ClearBuffers(FPort, true, true);
                TBasicComPortCtrl::Write(FPort, Data);
                if (!FFastExchange)
                    SleepMs(sendWait);
            } catch (const std::exception& E) {
                // The port may have gone and come back (a re-plugged adapter): one reopen per failed send.
                const std::string sendText = E.what();
                try {
                    Reopen();
                } catch (const std::exception& E2) {
                    CreateException(0x80000001u, sendText + "(" + E2.what() + ")");
                }
            }
            Trace(P, "W%1.2f", NowMs() - TW);

            if (NeedAnswer && FFastExchange) {
                CollectFast(Data, P, Gap, NowMs() + static_cast<double>(SleepRoundMs(sendWait)), Result);
            } else if (NeedAnswer) {
                const double RS = NowMs();
                double LA = RS;
                for (;;) {
                    SleepMs(GTCHB);
                    std::int64_t q = 0;
                    try {
                        COMSTAT st;
                        TBasicComPortCtrl::ClearErrors(FPort, st);
                        q = st.cbInQue;
                        if (q > 0) {
                            const double now = NowMs();
                            Trace(P, "%3.2f - %3.2f:  %d", now - RS, now - LA, static_cast<int>(q));
                            ABytes piece(static_cast<std::size_t>(q));
                            piece.resize(TBasicComPortCtrl::Read(FPort, piece));
                            BytesInsert(Result, piece, -1);
                            LA = NowMs();
                            bool Complite = false;
                            try {
                                CheckRecivedData(Data, Result, Complite);
                            } catch (const std::exception&) {
                                // not complete yet
                            }
                            if (Complite)
                                break;
                        }
                    } catch (const std::exception&) {
                        q = -1;
                    }
                    const double now = NowMs();
                    if (!Result.empty() && now - LA >= Gap && q <= 0)
                        break;
                    if (Result.empty() && now - RS >= P.TimeOut)
                        break;
                    if (Result.size() >= P.ReadCount)
                        break;
                }
            }
            Trace(P, "R%d", static_cast<int>(Result.size()));
            if (!Result.empty() || !NeedAnswer)
                break;
            if (P.DublWait > 0)
                SleepMs(P.DublWait);
            ++Dubls;
        }
    } catch (const std::exception& E) {
        ErrorText = E.what();
        failure = std::make_exception_ptr(Exception("TCustomComPortCtrl.Session: \"" + ErrorText + "\""));
    }

    if (ErrorText.empty() && NeedAnswer && Result.empty())
        ErrorText = "Нет ответа";
    try {
        const double us = std::nearbyint((NowMs() - T0) * 1000.0);
        AppendSessionLog(Data, Result, static_cast<std::uint32_t>(us), Dubls, ErrorText);
    } catch (const std::exception&) {
        // a log that cannot be written never changes the exchange
    }
    if (NeedAnswer) {
        bool Complite = true;
        CheckRecivedData(Data, Result, Complite);
    }
    if (failure)
        std::rethrow_exception(failure);
    return Result;
}

void TCustomComPortCtrl::CollectFast(const ABytes& Data, const TSessionParams& P, double Gap, double TimeOutFrom,
                                     ABytes& Result)
{
    const std::uint32_t pollMs = static_cast<std::uint32_t>(SleepRoundMs(GTCHB));
    double LA = TimeOutFrom;
    for (;;) {
        std::int64_t q = 0;
        try {
            COMSTAT st;
            TBasicComPortCtrl::ClearErrors(FPort, st);
            // What is waiting is read whole, as the engine reads it; with nothing waiting, the first bytes to
            // arrive within one poll period end the wait, and whatever followed them is read with them.
            ABytes piece(st.cbInQue > 0 ? st.cbInQue : 1);
            piece.resize(st.cbInQue > 0 ? TBasicComPortCtrl::Read(FPort, piece)
                                        : TBasicComPortCtrl::ReadWait(FPort, piece, pollMs));
            if (st.cbInQue == 0 && !piece.empty()) {
                TBasicComPortCtrl::ClearErrors(FPort, st);
                if (st.cbInQue > 0) {
                    ABytes rest(st.cbInQue);
                    rest.resize(TBasicComPortCtrl::Read(FPort, rest));
                    BytesInsert(piece, rest, -1);
                }
            }
            q = static_cast<std::int64_t>(piece.size());
            if (q > 0) {
                const double now = NowMs();
                Trace(P, "%3.2f - %3.2f:  %d", now - TimeOutFrom, now - LA, static_cast<int>(q));
                BytesInsert(Result, piece, -1);
                LA = NowMs();
                bool Complite = false;
                try {
                    CheckRecivedData(Data, Result, Complite);
                } catch (const std::exception&) {
                    // not complete yet
                }
                if (Complite)
                    return;
            }
        } catch (const std::exception&) {
            // A failing port answers at once: keep to the poll period rather than spin until the time-out.
            q = -1;
            SleepMs(GTCHB);
        }
        const double now = NowMs();
        if (!Result.empty() && now - LA >= Gap && q <= 0)
            return;
        if (Result.empty() && now - TimeOutFrom >= P.TimeOut)
            return;
        if (Result.size() >= P.ReadCount)
            return;
    }
}

// ---- diagnostics --------------------------------------------------------------------------------------------------

bool TCustomComPortCtrl::IsRegistred(const std::string& pName, const TPortLister& pLister)
{
    for (const std::string& entry : pLister()) {
        if (IsDevicePath(pName) || IsDevicePath(entry)) {
            // Device paths have no port number: they denote the same port only when they are equal.
            if (pName == entry)
                return true;
            continue;
        }
        if (static_cast<std::uint16_t>(PortNumberOf(pName)) == static_cast<std::uint16_t>(PortNumberOf(entry)))
            return true;
    }
    return false;
}

bool TCustomComPortCtrl::Registred() const { return IsRegistred(FPortName, FLister); }

std::uint8_t TCustomComPortCtrl::PortState(const std::string& pPortName)
{
    const std::string name = pPortName.empty() ? FPortName : CheckPortName(pPortName);
    if (Opened() && name == FPortName)
        return 2;
    if (IsRegistred(name, FLister))
        return 1;
    return 0;
}
