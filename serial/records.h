// Serial line records: the platform-neutral DCB / COMMTIMEOUTS / COMSTAT / COMMPROP / COMMCONFIG the port layer speaks,
// and the two setup records of a controller: the line setup TCPCSetup and the exchange timing TSessionParams.
// All are plain values (copied whole, own nothing). Times are milliseconds, sizes bytes.
#pragma once

#include <cstdint>
#include <string>

// Line setup, 28 bytes, field for field as the Windows comm API lays it out. Flags is the packed bit word
// (bit 0 fBinary, 1 fParity, 2 fOutxCtsFlow, 3 fOutxDsrFlow, 4-5 fDtrControl, 6 fDsrSensitivity, 7 fTXContinueOnXoff,
// 8 fOutX, 9 fInX, 10 fErrorChar, 11 fNull, 12-13 fRtsControl, 14 fAbortOnError).
struct DCB {
    std::uint32_t DCBlength = 0;
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    std::uint8_t XonChar = 0;
    std::uint8_t XoffChar = 0;
    std::uint8_t ErrorChar = 0;
    std::uint8_t EofChar = 0;
    std::uint8_t EvtChar = 0;
    std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28, "DCB keeps the 28-byte layout");

// Bits of DCB::Flags.
namespace DcbFlag {
constexpr std::uint32_t Binary = 1u << 0, Parity = 1u << 1, OutxCtsFlow = 1u << 2, OutxDsrFlow = 1u << 3;
constexpr unsigned DtrControlShift = 4, RtsControlShift = 12;
constexpr std::uint32_t DsrSensitivity = 1u << 6, TXContinueOnXoff = 1u << 7, OutX = 1u << 8, InX = 1u << 9;
constexpr std::uint32_t ErrorChar = 1u << 10, Null = 1u << 11, AbortOnError = 1u << 14;
constexpr std::uint32_t DtrControl(std::uint32_t flags) { return (flags >> DtrControlShift) & 3u; }
constexpr std::uint32_t RtsControl(std::uint32_t flags) { return (flags >> RtsControlShift) & 3u; }
} // namespace DcbFlag

constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;

// Read and write time-outs in milliseconds.
struct COMMTIMEOUTS {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// Communication status: flag bits and the bytes waiting in the driver's input and output queues.
struct COMSTAT {
    std::uint32_t Flags = 0;
    std::uint32_t cbInQue = 0;
    std::uint32_t cbOutQue = 0;
};

// Driver properties (the fields the system reads or fills).
struct COMMPROP {
    std::uint16_t wPacketLength = 0;
    std::uint16_t wPacketVersion = 0;
    std::uint32_t dwServiceMask = 0;
    std::uint32_t dwReserved1 = 0;
    std::uint32_t dwMaxTxQueue = 0;   // 0: the driver sets no maximum
    std::uint32_t dwMaxRxQueue = 0;
    std::uint32_t dwMaxBaud = 0;
    std::uint32_t dwProvSubType = 0;  // 1: RS-232 port
    std::uint32_t dwProvCapabilities = 0;
    std::uint32_t dwSettableParams = 0;
    std::uint32_t dwSettableBaud = 0;
    std::uint16_t wSettableData = 0;
    std::uint16_t wSettableStopParity = 0;
    std::uint32_t dwCurrentTxQueue = 0;
    std::uint32_t dwCurrentRxQueue = 0;
    std::uint32_t dwProvSpec1 = 0;
    std::uint32_t dwProvSpec2 = 0;
};

// Default configuration of a port.
struct COMMCONFIG {
    std::uint32_t dwSize = 0;
    std::uint16_t wVersion = 0;
    std::uint16_t wReserved = 0;
    DCB dcb;
    std::uint32_t dwProviderSubType = 0;
    std::uint32_t dwProviderOffset = 0;
    std::uint32_t dwProviderSize = 0;
};

// Root of the setup store (registry on Windows, a file-backed store of our own on Linux).
enum class TRegRoot : std::uint32_t { CurrentUser, LocalMachine };

// Line setup of a controller: DCB, time-outs and the driver queue sizes (bytes).
struct TCPCSetup {
    ::DCB DCB;
    COMMTIMEOUTS CTO;
    std::uint32_t BIN = 0;
    std::uint32_t BOU = 0;

    // The house setup: 8N1 at pBaudRate, flag word pFlag taken whole, immediate-return reads, queues 256/256.
    void Default(std::uint32_t pBaudRate, std::uint32_t pFlag);
    // Replaces the packed flag word; the control fields take 0..3.
    void Flags(bool fBinary, bool fParity, bool fOutxCtsFlow, bool fOutxDsrFlow, bool fDsrSensitivity,
               bool fTXContinueOnXoff, bool fOutX, bool fInX, bool fErrorChar, bool fNull, bool fAbortOnError,
               std::uint8_t fRtsControl, std::uint8_t fDtrControl);
    void TimeOuts(std::uint32_t pRIT, std::uint32_t pRTTM, std::uint32_t pRTTC, std::uint32_t pWTTM,
                  std::uint32_t pWTTC);
    void Buffers(std::uint32_t BuffIn, std::uint32_t BuffOut);

    // INI storage: sections DCB, CTO, BUFFERS. Save keeps the file's other sections and keys; it throws Exception
    // when the file cannot be written. Load leaves a field whose key is missing or not an integer; it never fails.
    void IniSave(const std::string& pFileName) const;
    void IniLoad(const std::string& pFileName);
    // Key store: pKey\DCB, pKey\CTO and pKey itself (no special characters). A key that cannot be opened is skipped.
    void RegSave(TRegRoot pRoot, const std::string& pKey) const;
    // True only when all three keys opened and all fourteen values were present; missing ones leave their fields.
    bool RegLoad(TRegRoot pRoot, const std::string& pKey);
};

// Exchange timing of Session (milliseconds; ReadCount in bytes).
struct TSessionParams {
    std::uint32_t TimeOut = 0;     // give up waiting for the first answer byte after this long
    std::uint16_t ReadCount = 0;   // stop reading once the answer holds this many bytes
    std::uint32_t BetPacks = 0;    // gap after the last arrival that ends an answer (at least the line's GTC5B)
    std::uint8_t Dublicate = 0;    // repeats after an unanswered attempt
    std::uint32_t DublWait = 0;    // pause after each unanswered attempt, 0 = none
    bool Loged = false;            // collect the in-exchange trace in LogStr

    // Sets the five timings and clears Loged; returns a copy.
    TSessionParams Init(std::uint32_t pTO, std::uint16_t pRC, std::uint32_t pBP, std::uint8_t pD, std::uint32_t pDW);
};
using PSessionParams = TSessionParams*;
