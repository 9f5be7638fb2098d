// Windows port primitives: the comm API on a synchronous handle from CreateFileW, system message texts from
// FormatMessageW, and the controller's two driver queries (GetCommProperties, GetDefaultCommConfigW).
#include "serial/win32/win32_api.h"

#include "serial/comport.h"

#include "base/error.h"
#include "base/format.h"
#include "timing/timing.h"

#include <cstring>
#include <type_traits>
#include <vector>

// The port layer's records are laid out like the API's, so the fixed-size ones are copied whole.
static_assert(sizeof(Win32DCB) == sizeof(DCB), "DCB layouts differ");
static_assert(sizeof(Win32COMMTIMEOUTS) == sizeof(COMMTIMEOUTS), "COMMTIMEOUTS layouts differ");
static_assert(sizeof(Win32COMSTAT) == sizeof(COMSTAT), "COMSTAT layouts differ");

namespace {

HANDLE H(THandle h) { return reinterpret_cast<HANDLE>(h); }

// Between a port-layer record and its API twin of the same layout.
template <class To, class From>
void CopyRecord(To& to, const From& from)
{
    static_assert(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<To> && std::is_trivially_copyable_v<From>);
    std::memcpy(static_cast<void*>(&to), static_cast<const void*>(&from), sizeof to);
}

[[noreturn]] void Fail(const char* what, const char* description, DWORD err)
{
    throw Exception(std::string("TBasicComPortCtrl.") + what + " >> " + description + " (" +
                    SystemErrorText(static_cast<int>(err)) + ").");
}

} // namespace

std::string SystemErrorText(int code)
{
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                       FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                   nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                   reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string msg;
    if (n > 0 && buffer != nullptr)
        msg = Narrow(std::wstring(buffer, n));
    LocalFree(buffer);
    std::string s = Format("%d: %s", code, msg.c_str());
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n' || s.back() == '.'))
        s.pop_back();
    return s;
}

THandle TBasicComPortCtrl::Open(const std::string& pPortName, std::uint32_t pDesiredAccess)
{
    // Share mode 0: a port held by anyone else, this process included, answers access denied.
    const HANDLE h = CreateFileW(Widen(pPortName).c_str(), pDesiredAccess, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE && h != nullptr)
        return reinterpret_cast<THandle>(h);
    const DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND)
        throw Exception("TBasicComPortCtrl.Open(" + pPortName + ") >> Порт не найден.");
    if (err == ERROR_ACCESS_DENIED)
        throw Exception("TBasicComPortCtrl.Open(" + pPortName + ") >> Порт занят.");
    throw Exception("TBasicComPortCtrl.Open(" + pPortName + ") >> " + SystemErrorText(static_cast<int>(err)));
}

void TBasicComPortCtrl::Close(THandle& pPort)
{
    if (pPort != 0 && pPort != INVALID_PORT_HANDLE)
        CloseHandle(H(pPort));
    pPort = 0;
}

std::uint32_t TBasicComPortCtrl::Write(THandle pPort, const ABytes& Data)
{
    static const std::uint8_t kNothing = 0;
    DWORD written = 0;
    if (!WriteFile(H(pPort), Data.empty() ? &kNothing : Data.data(), static_cast<DWORD>(Data.size()), &written, nullptr))
        Fail("Write", "Не удалось выполнить запись", GetLastError());
    return written;
}

std::uint32_t TBasicComPortCtrl::Read(THandle pPort, ABytes& pData)
{
    std::uint8_t none = 0;
    DWORD read = 0;
    if (!ReadFile(H(pPort), pData.empty() ? &none : pData.data(), static_cast<DWORD>(pData.size()), &read, nullptr))
        Fail("Read", "Не удалось выполнить чтение", GetLastError());
    return read;
}

std::uint32_t TBasicComPortCtrl::ReadWait(THandle pPort, ABytes& pData, std::uint32_t pWaitMs)
{
    if (pData.empty())
        return 0;
    Win32COMMTIMEOUTS saved{};
    if (!GetCommTimeouts(H(pPort), &saved))
        Fail("Read", "Не удалось выполнить чтение", GetLastError());
    // The driver's own wait on its input: with both interval and multiplier at MAXDWORD and a total constant, a
    // read returns at once with what is waiting, else with the first bytes to arrive, else after the constant. Wine
    // keeps to the constant even when bytes arrive sooner, so the wait is asked for in 1 ms slices: on Windows the
    // first slice ends with the first byte, under wine the slice it arrives in does.
    Win32COMMTIMEOUTS waitFirst = saved;
    waitFirst.ReadIntervalTimeout = 0xFFFFFFFFu;
    waitFirst.ReadTotalTimeoutMultiplier = 0xFFFFFFFFu;
    waitFirst.ReadTotalTimeoutConstant = 1;
    if (!SetCommTimeouts(H(pPort), &waitFirst))
        Fail("Read", "Не удалось выполнить чтение", GetLastError());
    DWORD read = 0;
    BOOL ok = TRUE;
    const double until = NowMs() + static_cast<double>(pWaitMs);
    do
        ok = ReadFile(H(pPort), pData.data(), static_cast<DWORD>(pData.size()), &read, nullptr);
    while (ok && read == 0 && NowMs() < until);
    const DWORD err = ok ? 0 : GetLastError();
    const BOOL restored = SetCommTimeouts(H(pPort), &saved);
    if (!ok)
        Fail("Read", "Не удалось выполнить чтение", err);
    if (!restored)
        Fail("Read", "Не удалось выполнить чтение", GetLastError());
    return read;
}

// The latency timer of a Windows USB serial driver is a value of its device key that only an administrator may
// change (the controller reads it at open); there is nothing to ask of an open handle.
bool TBasicComPortCtrl::EnterLowLatency(THandle) { return false; }

void TBasicComPortCtrl::LeaveLowLatency(THandle) {}

void TBasicComPortCtrl::ClearBuffers(THandle pPort, bool bIn, bool bOut)
{
    DWORD flags = 0;
    if (bIn)
        flags |= PURGE_RXABORT | PURGE_RXCLEAR;
    if (bOut)
        flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (!PurgeComm(H(pPort), flags))
        Fail("ClearBuffers", "Не удалось очистить буффер", GetLastError());
}

std::uint32_t TBasicComPortCtrl::ClearErrors(THandle pPort)
{
    COMSTAT st;
    return ClearErrors(pPort, st);
}

std::uint32_t TBasicComPortCtrl::ClearErrors(THandle pPort, COMSTAT& Stat)
{
    DWORD errors = 0;
    Win32COMSTAT st{};
    if (!ClearCommError(H(pPort), &errors, &st))
        Fail("ClearErrors", "Не удалось выполнить чтение ошибки", GetLastError());
    CopyRecord(Stat, st);
    return errors;
}

DCB TBasicComPortCtrl::GetDCB(THandle pPort)
{
    Win32DCB d{};
    d.DCBlength = sizeof d;
    if (!GetCommState(H(pPort), &d))
        Fail("GetDCB", "Не удалось запрос параметров порта", GetLastError());
    DCB out;
    CopyRecord(out, d);
    return out;
}

void TBasicComPortCtrl::SetDCB(THandle pPort, const DCB& pDCB)
{
    Win32DCB d;
    CopyRecord(d, pDCB);
    if (!SetCommState(H(pPort), &d))
        Fail("SetDCB", "Не удалось установить параметры порта", GetLastError());
}

COMMTIMEOUTS TBasicComPortCtrl::GetTimeOuts(THandle pPort)
{
    Win32COMMTIMEOUTS t{};
    if (!GetCommTimeouts(H(pPort), &t))
        Fail("GetTimeOuts", "Не удалось запросить таймауты", GetLastError());
    COMMTIMEOUTS out;
    CopyRecord(out, t);
    return out;
}

void TBasicComPortCtrl::SetTimeOuts(THandle pPort, const COMMTIMEOUTS& pCTO)
{
    Win32COMMTIMEOUTS t;
    CopyRecord(t, pCTO);
    if (!SetCommTimeouts(H(pPort), &t))
        Fail("SetTimeOuts", "Не удалось установить таймауты", GetLastError());
}

void TBasicComPortCtrl::SetBuffers(THandle pPort, std::uint32_t InBuff, std::uint32_t OutBuff)
{
    if (!SetupComm(H(pPort), InBuff, OutBuff))
        Fail("SetBuffers", "Не удалось установить размер буффера", GetLastError());
}

void TBasicComPortCtrl::GetBuffers(THandle pPort, std::uint32_t& InBuff, std::uint32_t& OutBuff)
{
    Win32COMMPROP p{};
    if (!GetCommProperties(H(pPort), &p))
        Fail("GetBuffers", "Не удалось установить размер буффера", GetLastError());
    InBuff = p.dwMaxRxQueue;
    OutBuff = p.dwMaxTxQueue;
}

COMMPROP TCustomComPortCtrl::GetProperties()
{
    Win32COMMPROP p{};
    if (!GetCommProperties(H(FPort), &p))
        throw Exception("Error Message");
    COMMPROP out;
    out.wPacketLength = p.wPacketLength;
    out.wPacketVersion = p.wPacketVersion;
    out.dwServiceMask = p.dwServiceMask;
    out.dwReserved1 = p.dwReserved1;
    out.dwMaxTxQueue = p.dwMaxTxQueue;
    out.dwMaxRxQueue = p.dwMaxRxQueue;
    out.dwMaxBaud = p.dwMaxBaud;
    out.dwProvSubType = p.dwProvSubType;
    out.dwProvCapabilities = p.dwProvCapabilities;
    out.dwSettableParams = p.dwSettableParams;
    out.dwSettableBaud = p.dwSettableBaud;
    out.wSettableData = p.wSettableData;
    out.wSettableStopParity = p.wSettableStopParity;
    out.dwCurrentTxQueue = p.dwCurrentTxQueue;
    out.dwCurrentRxQueue = p.dwCurrentRxQueue;
    out.dwProvSpec1 = p.dwProvSpec1;
    out.dwProvSpec2 = p.dwProvSpec2;
    return out;
}

COMMCONFIG TCustomComPortCtrl::GetConfig()
{
    // The record plus room for provider data behind it, which some drivers append.
    struct {
        Win32COMMCONFIG c;
        BYTE providerData[512];
    } buffer{};
    buffer.c.dwSize = sizeof buffer.c;
    DWORD size = sizeof buffer;
    if (!GetDefaultCommConfigW(Widen(FPortName).c_str(), &buffer.c, &size))
        throw Exception("Error Message");
    COMMCONFIG out;
    out.dwSize = buffer.c.dwSize;
    out.wVersion = buffer.c.wVersion;
    out.wReserved = buffer.c.wReserved;
    CopyRecord(out.dcb, buffer.c.dcb);
    out.dwProviderSubType = buffer.c.dwProviderSubType;
    out.dwProviderOffset = buffer.c.dwProviderOffset;
    out.dwProviderSize = buffer.c.dwProviderSize;
    return out;
}
