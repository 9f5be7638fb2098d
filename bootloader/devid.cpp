// Frame building, reply completeness and identity decoding of the bootloader protocol.
#include "bootloader/devid.h"

#include "base/error.h"
#include "base/format.h"
#include "base/texts.h"

#include <ctime>

TDateTime TDateTime::Now()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return TDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string TDateTime::DateText() const { return Format("%04d-%02d-%02d", Year, Month, Day); }

ABytes BootLoaderFrame(std::uint8_t Cmd, const ABytes& Data)
{
    ABytes frame = BytesConcat(BytesFromU8s({static_cast<std::uint8_t>(Cmd | 0xF0),
                                             static_cast<std::uint8_t>(Data.size() & 0xFF)}),
                               Data);
    BytesInsertByte(frame, BytesCrc8(frame), -1);
    return frame;
}

void CheckBootLoaderReply(const ABytes& Recive, bool& Complite)
{
    if (Recive.empty())
        throw Exception("0x0100");
    if (Recive.size() < 3)
        throw Exception("0x0101");
    if (Recive[0] < 0xF0)
        throw Exception("0x0102");
    if (Recive.size() < static_cast<std::size_t>(Recive[1]) + 3)
        throw Exception("0x0103");
    Complite = true;
}

namespace {

bool BcdValue(std::uint8_t b, int& out)
{
    const int hi = b >> 4;
    const int lo = b & 0x0F;
    if (hi > 9 || lo > 9)
        return false;
    out = hi * 10 + lo;
    return true;
}

TDateTime DateOrNow(std::uint8_t year, std::uint8_t month)
{
    TDateTime d;
    return DecodeBcdDate(year, month, d) ? d : TDateTime::Now();
}

} // namespace

bool DecodeBcdDate(std::uint8_t Year, std::uint8_t Month, TDateTime& Out)
{
    int y = 0;
    int m = 0;
    if (!BcdValue(Year, y) || !BcdValue(Month, m) || m < 1 || m > 12)
        return false;
    Out = TDateTime{2000 + y, m, 1, 0, 0, 0};
    return true;
}

TZorelBootLoaderDevID DecodeDeviceID(const ABytes& Reply)
{
    // The name's last character sits at reply byte 56: a shorter reply would lose name characters.
    if (Reply.size() < kDeviceIDReplyMin)
        throw Exception("0x0104");
    ABytes p = Reply;
    BytesDelete(p, 0, 2);
    auto u16 = [&](int off) { return BytesToU16(p, off); };
    TZorelBootLoaderDevID d;
    d.dBootVersion = u16(0);
    d.dBootType = u16(2);
    d.dPlateIzm = p[4];
    d.dIspolnenie = p[5];
    d.dDate = DateOrNow(p[6], p[7]);
    d.dAdressInf = static_cast<std::uint16_t>(u16(8) * 2);
    d.dAdressMax = static_cast<std::uint16_t>(u16(10) * 2 + 1);
    d.dBlockWrite = static_cast<std::uint16_t>(u16(12) * 2);
    d.dEepromMax = static_cast<std::uint16_t>(u16(14) + 1);
    d.dEEWrite = 16;
    d.dID = (static_cast<std::int64_t>(p[16]) << 24) | (static_cast<std::int64_t>(p[18]) << 16) |
            (static_cast<std::int64_t>(p[20]) << 8) | static_cast<std::int64_t>(p[22]);
    d.dEndProg = u16(24);
    d.dCSProg = u16(26);
    d.dVerProg = u16(28);
    d.dBootTypeP = u16(30);
    d.dPlateIzmP = p[32];
    d.dIspolnenieP = p[33];
    d.dDateProg = DateOrNow(p[34], p[35]);
    d.dName.clear();
    for (int k = 0; k < 10; ++k)
        d.dName += static_cast<char>(p[36 + 2 * k]);
    return d;
}

std::string TZorelBootLoaderDevID::ToString() const
{
    std::string s;
    s += PadText("Name:", 14) + dName + "\r\n"; // not through %s: a zero byte is a character of the name
    s += Format("%s0x%.4X\r\n", PadText("Type:", 14).c_str(), static_cast<unsigned>(dBootType));
    s += Format("%s%X\r\n", PadText("Isp:", 14).c_str(), static_cast<unsigned>(dIspolnenie));
    s += Format("%s%X\r\n", PadText("Izm:", 14).c_str(), static_cast<unsigned>(dPlateIzm));
    s += Format("%s%X.%.2X\r\n", PadText("Version:", 14).c_str(), static_cast<unsigned>(dVerProg >> 8),
                static_cast<unsigned>(dVerProg & 0xFF));
    s += Format("%s%.10llX\r\n", PadText("ID:", 14).c_str(), static_cast<unsigned long long>(dID));
    s += Format("%s0x%.4X", PadText("CheckSumm:", 14).c_str(), static_cast<unsigned>(dCSProg));
    return s;
}
