// The setup records' methods and their two stores (INI file and key store).
#include "serial/records.h"

#include "serial/ini_file.h"
#include "serial/reg_store.h"

void TCPCSetup::Default(std::uint32_t pBaudRate, std::uint32_t pFlag)
{
    *this = TCPCSetup{};
    DCB.DCBlength = sizeof(::DCB);
    DCB.BaudRate = pBaudRate;
    DCB.Flags = pFlag;
    DCB.XonLim = 2048;
    DCB.XoffLim = 512;
    DCB.ByteSize = 8;
    DCB.Parity = 0;
    DCB.StopBits = 0;
    DCB.XonChar = 0x11;
    DCB.XoffChar = 0x13;
    CTO.ReadIntervalTimeout = MAXDWORD;
    BIN = 256;
    BOU = 256;
}

void TCPCSetup::Flags(bool fBinary, bool fParity, bool fOutxCtsFlow, bool fOutxDsrFlow, bool fDsrSensitivity,
                      bool fTXContinueOnXoff, bool fOutX, bool fInX, bool fErrorChar, bool fNull, bool fAbortOnError,
                      std::uint8_t fRtsControl, std::uint8_t fDtrControl)
{
    using namespace DcbFlag;
    std::uint32_t f = 0;
    f |= fBinary ? Binary : 0;
    f |= fParity ? Parity : 0;
    f |= fOutxCtsFlow ? OutxCtsFlow : 0;
    f |= fOutxDsrFlow ? OutxDsrFlow : 0;
    f |= (fDtrControl & 3u) << DtrControlShift;
    f |= fDsrSensitivity ? DsrSensitivity : 0;
    f |= fTXContinueOnXoff ? TXContinueOnXoff : 0;
    f |= fOutX ? OutX : 0;
    f |= fInX ? InX : 0;
    f |= fErrorChar ? ErrorChar : 0;
    f |= fNull ? Null : 0;
    f |= (fRtsControl & 3u) << RtsControlShift;
    f |= fAbortOnError ? AbortOnError : 0;
    DCB.Flags = f;
}

void TCPCSetup::TimeOuts(std::uint32_t pRIT, std::uint32_t pRTTM, std::uint32_t pRTTC, std::uint32_t pWTTM,
                         std::uint32_t pWTTC)
{
    CTO.ReadIntervalTimeout = pRIT;
    CTO.ReadTotalTimeoutMultiplier = pRTTM;
    CTO.ReadTotalTimeoutConstant = pRTTC;
    CTO.WriteTotalTimeoutMultiplier = pWTTM;
    CTO.WriteTotalTimeoutConstant = pWTTC;
}

void TCPCSetup::Buffers(std::uint32_t BuffIn, std::uint32_t BuffOut)
{
    BIN = BuffIn;
    BOU = BuffOut;
}

TSessionParams TSessionParams::Init(std::uint32_t pTO, std::uint16_t pRC, std::uint32_t pBP, std::uint8_t pD,
                                    std::uint32_t pDW)
{
    TimeOut = pTO;
    ReadCount = pRC;
    BetPacks = pBP;
    Dublicate = pD;
    DublWait = pDW;
    Loged = false;
    return *this;
}

// ---- INI ----------------------------------------------------------------------------------------------------------

namespace {

std::int32_t S32(std::uint32_t v) { return static_cast<std::int32_t>(v); }

template <class T> void LoadField(const TIniFile& ini, const char* section, const char* key, T& field)
{
    // 32-bit fields are stored signed; narrower ones as their unsigned value. Either way the low bits are kept.
    const std::int32_t current = sizeof(T) == 4 ? S32(static_cast<std::uint32_t>(field)) : static_cast<std::int32_t>(field);
    field = static_cast<T>(static_cast<std::uint32_t>(ini.ReadInteger(section, key, current)));
}

} // namespace

void TCPCSetup::IniSave(const std::string& pFileName) const
{
    TIniFile ini(pFileName);
    ini.WriteInteger("DCB", "BaudRate", S32(DCB.BaudRate));
    ini.WriteInteger("DCB", "Flags", S32(DCB.Flags));
    ini.WriteInteger("DCB", "ByteSize", DCB.ByteSize);
    ini.WriteInteger("DCB", "Parity", DCB.Parity);
    ini.WriteInteger("DCB", "StopBits", DCB.StopBits);
    ini.WriteInteger("DCB", "XonLim", DCB.XonLim);
    ini.WriteInteger("DCB", "XoffLim", DCB.XoffLim);
    ini.WriteInteger("DCB", "XonChar", DCB.XonChar);
    ini.WriteInteger("DCB", "XoffChar", DCB.XoffChar);
    ini.WriteInteger("DCB", "ErrorChar", DCB.ErrorChar);
    ini.WriteInteger("DCB", "EofChar", DCB.EofChar);
    ini.WriteInteger("DCB", "EvtChar", DCB.EvtChar);
    ini.WriteInteger("CTO", "ReadIntervalTimeout", S32(CTO.ReadIntervalTimeout));
    ini.WriteInteger("CTO", "ReadTotalTimeoutMultiplier", S32(CTO.ReadTotalTimeoutMultiplier));
    ini.WriteInteger("CTO", "ReadTotalTimeoutConstant", S32(CTO.ReadTotalTimeoutConstant));
    ini.WriteInteger("CTO", "WriteTotalTimeoutMultiplier", S32(CTO.WriteTotalTimeoutMultiplier));
    ini.WriteInteger("CTO", "WriteTotalTimeoutConstant", S32(CTO.WriteTotalTimeoutConstant));
    ini.WriteInteger("BUFFERS", "In", S32(BIN));
    ini.WriteInteger("BUFFERS", "Out", S32(BOU));
    ini.Save();
}

void TCPCSetup::IniLoad(const std::string& pFileName)
{
    const TIniFile ini(pFileName);
    LoadField(ini, "DCB", "BaudRate", DCB.BaudRate);
    LoadField(ini, "DCB", "Flags", DCB.Flags);
    LoadField(ini, "DCB", "ByteSize", DCB.ByteSize);
    LoadField(ini, "DCB", "Parity", DCB.Parity);
    LoadField(ini, "DCB", "StopBits", DCB.StopBits);
    LoadField(ini, "DCB", "XonLim", DCB.XonLim);
    LoadField(ini, "DCB", "XoffLim", DCB.XoffLim);
    LoadField(ini, "DCB", "XonChar", DCB.XonChar);
    LoadField(ini, "DCB", "XoffChar", DCB.XoffChar);
    LoadField(ini, "DCB", "ErrorChar", DCB.ErrorChar);
    LoadField(ini, "DCB", "EofChar", DCB.EofChar);
    LoadField(ini, "DCB", "EvtChar", DCB.EvtChar);
    LoadField(ini, "CTO", "ReadIntervalTimeout", CTO.ReadIntervalTimeout);
    LoadField(ini, "CTO", "ReadTotalTimeoutMultiplier", CTO.ReadTotalTimeoutMultiplier);
    LoadField(ini, "CTO", "ReadTotalTimeoutConstant", CTO.ReadTotalTimeoutConstant);
    LoadField(ini, "CTO", "WriteTotalTimeoutMultiplier", CTO.WriteTotalTimeoutMultiplier);
    LoadField(ini, "CTO", "WriteTotalTimeoutConstant", CTO.WriteTotalTimeoutConstant);
    LoadField(ini, "BUFFERS", "In", BIN);
    LoadField(ini, "BUFFERS", "Out", BOU);
}

// ---- key store ----------------------------------------------------------------------------------------------------

void TCPCSetup::RegSave(TRegRoot pRoot, const std::string& pKey) const
{
    if (auto k = RegOpenOrCreateKey(pRoot, pKey + "\\DCB")) {
        k->WriteInteger("BaudRate", DCB.BaudRate);
        k->WriteInteger("Flags", DCB.Flags);
        k->WriteInteger("XonLim", DCB.XonLim);
        k->WriteInteger("XoffLim", DCB.XoffLim);
        k->WriteInteger("ByteSize", DCB.ByteSize);
        k->WriteInteger("Parity", DCB.Parity);
        k->WriteInteger("StopBits", DCB.StopBits);
    }
    if (auto k = RegOpenOrCreateKey(pRoot, pKey + "\\CTO")) {
        k->WriteInteger("ReadIntervalTimeout", CTO.ReadIntervalTimeout);
        k->WriteInteger("ReadTotalTimeoutMultiplier", CTO.ReadTotalTimeoutMultiplier);
        k->WriteInteger("ReadTotalTimeoutConstant", CTO.ReadTotalTimeoutConstant);
        k->WriteInteger("WriteTotalTimeoutMultiplier", CTO.WriteTotalTimeoutMultiplier);
        k->WriteInteger("WriteTotalTimeoutConstant", CTO.WriteTotalTimeoutConstant);
    }
    if (auto k = RegOpenOrCreateKey(pRoot, pKey)) {
        k->WriteInteger("BufferIn", BIN);
        k->WriteInteger("BufferOut", BOU);
    }
}

namespace {

template <class T> void LoadValue(const TRegStoreKey& k, const char* name, T& field, bool& all)
{
    if (k.ValueExists(name))
        field = static_cast<T>(k.ReadInteger(name));
    else
        all = false;
}

} // namespace

bool TCPCSetup::RegLoad(TRegRoot pRoot, const std::string& pKey)
{
    std::string key = pKey;
    while (!key.empty() && key.back() == '\\')
        key.pop_back();
    bool all = true;
    if (auto k = RegOpenOrCreateKey(pRoot, key + "\\DCB")) {
        LoadValue(*k, "BaudRate", DCB.BaudRate, all);
        LoadValue(*k, "Flags", DCB.Flags, all);
        LoadValue(*k, "XonLim", DCB.XonLim, all);
        LoadValue(*k, "XoffLim", DCB.XoffLim, all);
        LoadValue(*k, "ByteSize", DCB.ByteSize, all);
        LoadValue(*k, "Parity", DCB.Parity, all);
        LoadValue(*k, "StopBits", DCB.StopBits, all);
    } else {
        all = false;
    }
    if (auto k = RegOpenOrCreateKey(pRoot, key + "\\CTO")) {
        LoadValue(*k, "ReadIntervalTimeout", CTO.ReadIntervalTimeout, all);
        LoadValue(*k, "ReadTotalTimeoutMultiplier", CTO.ReadTotalTimeoutMultiplier, all);
        LoadValue(*k, "ReadTotalTimeoutConstant", CTO.ReadTotalTimeoutConstant, all);
        LoadValue(*k, "WriteTotalTimeoutMultiplier", CTO.WriteTotalTimeoutMultiplier, all);
        LoadValue(*k, "WriteTotalTimeoutConstant", CTO.WriteTotalTimeoutConstant, all);
    } else {
        all = false;
    }
    if (auto k = RegOpenOrCreateKey(pRoot, key)) {
        LoadValue(*k, "BufferIn", BIN, all);
        LoadValue(*k, "BufferOut", BOU, all);
    } else {
        all = false;
    }
    return all;
}
