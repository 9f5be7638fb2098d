// Intel HEX digit routines and record conversions.
#include "package/hex.h"

#include "base/error.h"

std::uint8_t HexNibble(char c, bool Low)
{
    std::uint8_t v;
    if (c >= '0' && c <= '9')
        v = static_cast<std::uint8_t>(c - '0');
    else if (c >= 'A' && c <= 'F')
        v = static_cast<std::uint8_t>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f')
        v = static_cast<std::uint8_t>(c - 'a' + 10);
    else
        throw Exception("0x0401");
    return Low ? v : static_cast<std::uint8_t>(v << 4);
}

ABytes HexToBytes(const std::string& Text)
{
    ABytes r(Text.size() / 2);
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = HexNibble(Text[2 * i], false) | HexNibble(Text[2 * i + 1], true);
    return r;
}

THexRec THexRec::FromText(const std::string& vl)
{
    if (vl.size() < 11)
        throw Exception("0x030A");
    const ABytes b = HexToBytes(vl.substr(1));
    const std::size_t n = static_cast<std::size_t>(b[0]) + 5;
    if (b.size() < n)
        throw Exception("0x0309");
    THexRec r;
    r.L = b[0];
    r.A = static_cast<std::uint16_t>(b[1] << 8 | b[2]);
    r.T = b[3];
    r.D.assign(b.begin() + 4, b.begin() + 4 + r.L);
    r.S = b[n - 1];
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum = static_cast<std::uint8_t>(sum + b[i]);
    if (sum != 0)
        throw Exception("0x0308");
    return r;
}

std::string THexRec::ToText() const
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string r;
    r.reserve(11 + 2 * D.size());
    auto put = [&r](std::uint8_t b) {
        r += kDigits[b >> 4];
        r += kDigits[b & 0x0F];
    };
    const std::uint32_t sum = L + (A >> 8) + (A & 0xFF) + T + BytesSum(D);
    r += ':';
    put(L);
    put(static_cast<std::uint8_t>(A >> 8));
    put(static_cast<std::uint8_t>(A));
    put(T);
    for (std::uint8_t b : D)
        put(b);
    put(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    return r;
}
