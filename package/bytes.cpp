// Byte-array helpers and the frame CRC-8.
#include "package/bytes.h"

#include <algorithm>
#include <cstdio>

ABytes BytesFromU8s(std::initializer_list<std::uint8_t> values) { return ABytes(values); }

ABytes BytesFromU16s(std::initializer_list<std::uint16_t> values)
{
    ABytes r;
    r.reserve(values.size() * 2);
    for (std::uint16_t v : values) {
        r.push_back(static_cast<std::uint8_t>(v));
        r.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return r;
}

ABytes BytesFromU32s(std::initializer_list<std::uint32_t> values)
{
    ABytes r;
    r.reserve(values.size() * 4);
    for (std::uint32_t v : values)
        for (int k = 0; k < 4; ++k)
            r.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    return r;
}

ABytes BytesCopy(const ABytes& Data, std::int64_t Start, std::int64_t Count)
{
    const std::int64_t len = static_cast<std::int64_t>(Data.size());
    Start = std::clamp<std::int64_t>(Start, 0, len);
    std::int64_t n = len - Start;
    if (Count >= 0)
        n = std::min(n, Count);
    return ABytes(Data.begin() + Start, Data.begin() + Start + n);
}

bool BytesIsEmpty(const ABytes& Data) { return Data.empty(); }
bool BytesNotEmpty(const ABytes& Data) { return !Data.empty(); }

void BytesInsert(ABytes& Data, const ABytes& Src, std::int64_t Pos)
{
    if (Src.empty())
        return;
    const std::int64_t len = static_cast<std::int64_t>(Data.size());
    if (Pos < 0 || Pos > len)
        Pos = len;
    Data.insert(Data.begin() + Pos, Src.begin(), Src.end());
}

void BytesInsertByte(ABytes& Data, std::uint8_t Value, std::int64_t Pos) { BytesInsert(Data, ABytes{Value}, Pos); }

void BytesDelete(ABytes& Data, std::int64_t Start, std::int64_t Count)
{
    const std::int64_t len = static_cast<std::int64_t>(Data.size());
    if (Start < 0 || Start >= len)
        return;
    const std::int64_t end = (Count < 0 || Count > len - Start) ? len : Start + Count;
    Data.erase(Data.begin() + Start, Data.begin() + end);
}

ABytes BytesConcat(const ABytes& A, const ABytes& B)
{
    ABytes r;
    r.reserve(A.size() + B.size());
    r.insert(r.end(), A.begin(), A.end());
    r.insert(r.end(), B.begin(), B.end());
    return r;
}

std::uint32_t BytesSum(const ABytes& Data)
{
    std::uint32_t s = 0;
    for (std::uint8_t b : Data)
        s += b;
    return s;
}

namespace {

std::uint8_t ByteAt(const ABytes& Data, std::int64_t i)
{
    return (i >= 0 && i < static_cast<std::int64_t>(Data.size())) ? Data[static_cast<std::size_t>(i)] : 0;
}

} // namespace

std::uint16_t BytesToU16(const ABytes& Data, std::int64_t Index)
{
    if (Index < 0 || Index >= static_cast<std::int64_t>(Data.size()))
        return 0;
    return static_cast<std::uint16_t>(ByteAt(Data, Index) | (ByteAt(Data, Index + 1) << 8));
}

std::uint32_t BytesToU32(const ABytes& Data, std::int64_t Index)
{
    if (Index < 0 || Index >= static_cast<std::int64_t>(Data.size()))
        return 0;
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = (v << 8) | ByteAt(Data, Index + k);
    return v;
}

std::string BytesToText(const ABytes& Data, const std::string& Separator, bool Hex)
{
    std::string r;
    char buf[8];
    for (std::size_t i = 0; i < Data.size(); ++i) {
        if (i > 0)
            r += Separator;
        std::snprintf(buf, sizeof buf, Hex ? "%.2X" : "%u", static_cast<unsigned>(Data[i]));
        r += buf;
    }
    return r;
}

std::string BytesToAnsi(const ABytes& Data) { return std::string(Data.begin(), Data.end()); }

std::uint8_t BytesCrc8(const ABytes& Data)
{
    static const std::uint8_t kBit[8] = {0x5E, 0xBC, 0x61, 0xC2, 0x9D, 0x23, 0x46, 0x8C};
    std::uint8_t c = 0;
    for (std::uint8_t b : Data) {
        const std::uint8_t d = c ^ b;
        c = 0;
        for (int k = 0; k < 8; ++k)
            if (d & (1u << k))
                c ^= kBit[k];
    }
    return c;
}
