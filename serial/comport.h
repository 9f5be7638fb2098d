// Serial port access: the stateless port primitives (TBasicComPortCtrl), port discovery, and the port controller
// with its request/response exchange engine (TCustomComPortCtrl).
// Threading: TBasicComPortCtrl holds no state and may be called from any thread; a handle is used by one thread at a
// time. A TCustomComPortCtrl belongs to the thread that uses it and takes no locks.
// Failures are Exception with the exact texts of the port layer (Russian descriptions, UTF-8).
#pragma once

#include "base/format.h"
#include "package/bytes.h"
#include "serial/records.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// An open port as the platform gives it (a file descriptor on Linux). Open when neither 0 nor all bits set.
using THandle = std::uintptr_t;
constexpr THandle INVALID_PORT_HANDLE = ~THandle(0);
constexpr std::uint32_t GENERIC_READ_WRITE = 0xC0000000u;

// One port the system's device tree knows.
struct TPortInfo {
    std::uint8_t portType = 0;    // 1 serial, 2 parallel
    std::string portName;         // as the system names it (COM3; /dev/ttyUSB0 on Linux)
    std::int32_t portNumber = 0;  // the digits of portName as one number, 0 when none
    std::string portRegPath;      // the device's key (the sysfs device folder on Linux)
    std::string FN;               // friendly name or empty
    std::string SV;               // driver service or empty
};
using APortsInfo = std::vector<TPortInfo>;

// Gives the names of the ports the system knows now. Callers take one so tests can stand in for the system.
using TPortLister = std::function<std::vector<std::string>()>;
// The system's lister: TBasicComPortCtrl::ListPorts.
TPortLister SystemPortLister();

// Error code in decimal, ": " and the system's message for it, without trailing blanks, line ends and full stops.
std::string SystemErrorText(int code);

class TBasicComPortCtrl {
public:
    // "com3", "3" -> COM3; 10 and above -> \\.\COM10. A name that starts with '/' (a device path) passes unchanged.
    static std::string CheckPortName(const std::string& pPortName);
    static std::string CheckPortName(std::int32_t pPortIndex);
    static std::int32_t CheckPortNumber(const std::string& pPortName);

    // Opens the port exclusively; pDesiredAccess as GENERIC_READ (0x80000000) | GENERIC_WRITE (0x40000000).
    // On Linux: open + flock + TIOCEXCL; the node must be a terminal.
    static THandle Open(const std::string& pPortName, std::uint32_t pDesiredAccess);
    // Closes an open handle; pPort is 0 afterwards in every case. Never fails.
    static void Close(THandle& pPort);
    // Writes all of Data (a short count only when a write time-out is set); returns the count written.
    static std::uint32_t Write(THandle pPort, const ABytes& Data);
    // Reads at most pData.size() bytes into pData (its length is not changed); returns the count read.
    static std::uint32_t Read(THandle pPort, ABytes& pData);
    static void ClearBuffers(THandle pPort, bool bIn, bool bOut);
    // Reads what is waiting, up to pData.size() bytes; when nothing is, waits at most pWaitMs for the first bytes to
    // arrive and reads those. Returns the count read (0: nothing came). The handle's read time-outs are as before
    // afterwards. A device that has gone away fails here.
    static std::uint32_t ReadWait(THandle pPort, ABytes& pData, std::uint32_t pWaitMs);
    // Asks the driver to pass arrivals on at once (Linux: ASYNC_LOW_LATENCY). True when this changed the port, which
    // must then be put back with LeaveLowLatency before it is closed; false when the port already was so or has no
    // such setting (a pseudo-terminal, a Windows port: there the latency timer is a driver setting). Never fails.
    static bool EnterLowLatency(THandle pPort);
    static void LeaveLowLatency(THandle pPort);
    // Error flags of the port (cleared by the call); the second form also gives the queue state.
    // A device that has gone away fails here.
    static std::uint32_t ClearErrors(THandle pPort);
    static std::uint32_t ClearErrors(THandle pPort, COMSTAT& Stat);
    static DCB GetDCB(THandle pPort);
    static void SetDCB(THandle pPort, const DCB& pDCB);
    static COMMTIMEOUTS GetTimeOuts(THandle pPort);
    static void SetTimeOuts(THandle pPort, const COMMTIMEOUTS& pCTO);
    static void SetBuffers(THandle pPort, std::uint32_t InBuff, std::uint32_t OutBuff);
    // The driver's maximum queue sizes (0: no maximum), not the sizes last given to SetBuffers.
    static void GetBuffers(THandle pPort, std::uint32_t& InBuff, std::uint32_t& OutBuff);
    [[noreturn]] static void SwitchToRecive(THandle pPort);
    [[noreturn]] static void SwitchToSend(THandle pPort);

    // Names of the ports the system knows now, in the system's order (Linux: sysfs ttys with a device, except the
    // active console and legacy UARTs of unknown type, then the trusted virtual ports). Opens no port; never fails.
    static std::vector<std::string> ListPorts();
    // The device tree's ports with their driver details. Fails with "Не удалось открыть "<key>"".
    static APortsInfo ListPortsInfo();
};

// First serial entry whose normalised name equals CheckPortName(pName); fails with "Порт "<pName>" не найден.".
TPortInfo FindPort(const APortsInfo& pList, const std::string& pName);
// FindPort over a fresh ListPortsInfo.
TPortInfo FindPortInfo(const std::string& pName);
// The port number as CheckPortNumber parses it, without the positive test (COM0 gives 0).
std::int32_t PortNumberOf(const std::string& pName);

class TCustomComPortCtrl : public TBasicComPortCtrl {
public:
    TCustomComPortCtrl();
    virtual ~TCustomComPortCtrl();
    TCustomComPortCtrl(const TCustomComPortCtrl&) = delete;
    TCustomComPortCtrl& operator=(const TCustomComPortCtrl&) = delete;

    // Writes one entry per exchange into Log/<port>-YYYY-MM-DD.log beside the executable when Log is on.
    virtual void AppendSessionLog(const ABytes& Send, const ABytes& Recive, std::uint32_t WaitRecive,
                                  std::uint32_t Dubls, const std::string& ErrorText);
    // Completeness test of an answer. During reading: Complite false on entry, set it true to end reading, an
    // exception means "not complete yet". Final call (NeedAnswer only): Complite true, an exception fails the
    // exchange. Base: an empty Recive raises "Нет ответа." with LastError 0x80000002.
    virtual void CheckRecivedData(const ABytes& Send, const ABytes& Recive, bool& Complite);

    // Closes, normalises the name, opens; unless pFast, reads the port's setup and the line timings. With the
    // line-rate exchange on, the driver is first asked for low latency (put back by Close).
    void Open(const std::string& pPortName, std::uint32_t pDesiredAccess = GENERIC_READ_WRITE, bool pFast = false);
    void Reopen();
    void Close();
    [[noreturn]] void CreateException(std::uint32_t Code, const std::string& Text);

    // Guarded wrappers: each fails with "TCustomComPortCtrl.GetOpenRaised >> Подключение не установлено." when closed.
    bool Write(const ABytes& Data);
    ABytes Read(std::uint32_t pSize);
    void ClearBuffers(bool bIn, bool bOut);
    std::uint32_t ClearErrors();
    std::uint32_t ClearErrors(COMSTAT& Stat);
    std::uint32_t GetQueueSize();
    std::uint32_t GetOutputSize();
    DCB GetDCB();
    // A baud rate of 0 is refused before the port is touched.
    void SetDCB(const DCB& pDCB);
    COMMTIMEOUTS GetTimeOuts();
    void SetTimeOuts(const COMMTIMEOUTS& pCTO);
    void GetBuffers(std::uint32_t& InBuff, std::uint32_t& OutBuff);
    void SetBuffers(std::uint32_t InBuff, std::uint32_t OutBuff);
    // DCB, time-outs, queues in this order; a baud rate of 0 is refused before anything is applied.
    void SetSetup(const TCPCSetup& pCPS);
    [[noreturn]] void SwitchToRecive();
    [[noreturn]] void SwitchToSend();

    // Driver values of a port (no open port needed). Linux: latency_timer of a USB-serial port; ConfigData always fails.
    static std::uint32_t LatencyTimer(const std::string& pName);
    static ABytes ConfigData(const std::string& pName);

    // The exchange: purge, send, wait, poll and collect, repeat while unanswered. sp == nullptr uses SessionParam.
    ABytes Session(const ABytes& Data, PSessionParams sp, bool NeedAnswer);
    ABytes Session(const ABytes& Data, bool NeedAnswer);

    // The line-rate exchange (off by default; set it before Open): each exchange looks for the answer from the
    // moment the request is written, waiting on the port's input at most one poll period at a time, instead of
    // sleeping the send wait first. Purge, completeness test, gap rule, read count, repeats and pause are the
    // engine's; an attempt's time-out still runs from where the engine would start reading (after its send wait).
    // Open asks the driver for low latency while this is on.
    void SetFastExchange(bool v) { FFastExchange = v; }
    bool FastExchange() const { return FFastExchange; }
    // Requests sent again by Session because an attempt got no answer, over this controller's life.
    std::uint32_t Resends() const { return FResends; }
    // The driver's latency timer (ms) as read by the last Open; none where the port has no such value.
    std::optional<std::uint32_t> DriverLatency() const { return FDriverLatency; }

    // Diagnostics. IsRegistred compares port numbers (device paths: whole names) with the lister's list.
    static bool IsRegistred(const std::string& pName, const TPortLister& pLister = SystemPortLister());
    bool Registred() const;
    // 2 open here under that name, 1 known to the system, 0 neither; an empty name means the controller's port.
    std::uint8_t PortState(const std::string& pPortName);
    COMMPROP GetProperties();
    COMMCONFIG GetConfig();

    std::uint32_t LastError() const { return FLastError; }
    THandle Port() const { return FPort; }
    std::string PortName() const;
    bool Opened() const { return FPort != 0 && FPort != INVALID_PORT_HANDLE; }
    const TCPCSetup& Setup() const { return FSetup; }
    bool Log() const { return FLog; }
    void SetLog(bool v) { FLog = v; }
    const std::string& LogStr() const { return FLogStr; }
    const TSessionParams& SessionParam() const { return FSP; }
    TSessionParams& SessionParam() { return FSP; }
    void SetSessionParam(const TSessionParams& v) { FSP = v; }
    // The list IsRegistred/PortState consult; the system's by default.
    void SetPortLister(TPortLister pLister) { FLister = std::move(pLister); }
    // Line timings (ms) of the current setup.
    double ByteTime() const { return GTCHB; }
    double GapTime() const { return GTC5B; }
    std::uint32_t LatencyAllowance() const { return FLatTmr; }
    std::uint32_t BufferSize() const { return FBfSz; }

protected:
    THandle FPort = 0;
    std::string FPortName;
    TCPCSetup FSetup;
    TSessionParams FSP;
    std::uint32_t FLastError = 0;
    bool FLog = false;
    std::uint32_t FLatTmr = 0;
    std::uint32_t FBfSz = 0;
    double GTCHB = 0;
    double GTC5B = 0;
    std::string FLogStr;
    TPortLister FLister;
    bool FFastExchange = false;
    bool FLowLatencySet = false;  // Open changed the driver's latency flag; Close puts it back
    std::uint32_t FResends = 0;
    std::optional<std::uint32_t> FDriverLatency;

private:
    void CheckOpened() const;
    void CheckBaud(const char* op, std::uint32_t baud) const;
    void ComputeTimes();
    // The line-rate exchange's reading phase: from now until the answer is complete or the attempt's time-out, which
    // runs from TimeOutFrom.
    void CollectFast(const ABytes& Data, const TSessionParams& P, double Gap, double TimeOutFrom, ABytes& Result);
    // One line of the exchange trace, printf-style; nothing is formatted unless P.Loged (the engine traces four
    // times an exchange, most of them with floating-point fields).
    void Trace(const TSessionParams& P, const char* fmt, ...) NERID_PRINTF(3, 4);
};
