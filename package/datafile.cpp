// Data-file classes: file frame, block container, Intel HEX reader and writer.
#include "package/datafile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/error.h"
#include "base/utf8_path.h"
#include "package/hex.h"

namespace {

constexpr std::uint32_t kNoAddress = 0xFFFFFFFF;
constexpr std::size_t kBlockEntry = 12;

// Removes blanks and control characters at both ends.
std::string Trimmed(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

// Splits at CR, LF or CR LF.
std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')
            ++at;
    }
    return lines;
}

} // namespace

void TCustomDataFile::ReadStream(std::istream&, ABytes&) {}
void TCustomDataFile::WriteStream(std::ostream&, const ABytes&) {}

void TCustomDataFile::Load(const std::string& pName)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(Utf8Path(pName), ec))
        throw Exception("0x0310");
    std::ifstream f(Utf8Path(pName), std::ios::binary);
    if (!f)
        throw Exception("0x0310");
    ReadStream(f, FData); // the stream closes on every path, also when the reader raises
}

void TCustomDataFile::Save() { SaveAs(FName); }

void TCustomDataFile::SaveAs(const std::string& pName)
{
    std::ofstream f(Utf8Path(pName), std::ios::binary | std::ios::trunc);
    if (!f)
        throw Exception("0x0313");
    WriteStream(f, FData);
    f.flush();
    if (!f)
        throw Exception("0x0313");
}

void THexDataFile::SetInfo(std::uint32_t pFlash, std::uint32_t pEeprom)
{
    FFlashLimit = pFlash;
    FEepromLimit = pEeprom;
}

void THexDataFile::BytesFrom(const ABytes& D)
{
    if (D.size() < 2)
        throw Exception("0x0301");
    const std::size_t n = BytesToU16(D, 0);
    const std::size_t dataStart = 2 + kBlockEntry * n;
    if (D.size() < dataStart)
        throw Exception("0x0302");
    ADataBlocks blocks(n);
    for (std::size_t k = 0; k < n; ++k) {
        const auto at = static_cast<std::int64_t>(2 + kBlockEntry * k);
        blocks[k] = {BytesToU32(D, at), BytesToU32(D, at + 4), BytesToU32(D, at + 8)};
    }
    FBlocks = std::move(blocks);
    FData = BytesCopy(D, static_cast<std::int64_t>(dataStart), -1);
}

ABytes THexDataFile::BytesTo() const
{
    ABytes r = BytesFromU16s({static_cast<std::uint16_t>(FBlocks.size())});
    r.reserve(2 + kBlockEntry * FBlocks.size() + FData.size());
    for (const TDataBlock& b : FBlocks) {
        const ABytes e = BytesFromU32s({b.A, b.I, b.L});
        r.insert(r.end(), e.begin(), e.end());
    }
    r.insert(r.end(), FData.begin(), FData.end());
    return r;
}

void THexDataFile::ReadStream(std::istream& Stream, ABytes& Data)
{
    FErrors.clear();
    Data.clear();
    FBlocks.clear();
    std::ptrdiff_t current = -1;
    std::uint32_t offset = 0;

    const std::string text{std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>()};
    for (const std::string& raw : SplitLines(text)) {
        const std::string line = Trimmed(raw);
        if (line.size() <= 10)
            continue;
        THexRec rec;
        try {
            rec = THexRec::FromText(line);
        } catch (const Exception&) {
            continue;
        }
        if (rec.T == 0) {
            const std::uint32_t address = rec.A + offset;
            if (address > FEepromLimit)
                continue;
            if (current < 0) {
                FBlocks.push_back({kNoAddress, static_cast<std::uint32_t>(Data.size()), 0});
                current = 0;
            }
            TDataBlock& b = FBlocks[static_cast<std::size_t>(current)];
            if (b.A == kNoAddress)
                b.A = address;
            // A record below the block's first address has no place in the block: it is skipped. A record below data
            // already placed overwrites it and never shortens the data area.
            if (address < b.A)
                continue;
            const std::size_t p = static_cast<std::size_t>(b.I) + (address - b.A);
            Data.resize(std::max(Data.size(), p + rec.L));
            std::copy(rec.D.begin(), rec.D.end(), Data.begin() + static_cast<std::ptrdiff_t>(p));
        } else if (rec.T == 1) {
            // An end-of-file record before any block just ends the reading.
            if (current >= 0) {
                TDataBlock& b = FBlocks[static_cast<std::size_t>(current)];
                b.L = static_cast<std::uint32_t>(Data.size() - b.I);
            }
            break;
        } else if (rec.T == 2 || rec.T == 4) {
            // A record without its two address bytes carries no address: it is skipped like a line that does not parse.
            if (rec.D.size() < 2)
                continue;
            offset = static_cast<std::uint32_t>(rec.D[0] << 8 | rec.D[1]) << (rec.T == 2 ? 4 : 16);
            if (offset > FEepromLimit)
                continue;
            const std::size_t k = FBlocks.size();
            FBlocks.push_back({kNoAddress, static_cast<std::uint32_t>(Data.size()), 0});
            current = static_cast<std::ptrdiff_t>(k);
            if (k > 0)
                FBlocks[k - 1].L = FBlocks[k].I - FBlocks[k - 1].I;
        }
    }
}

void THexDataFile::WriteStream(std::ostream& Stream, const ABytes& Data)
{
    constexpr std::uint64_t kRecord = 16;
    auto put = [&Stream](const THexRec& r) { Stream << r.ToText() << "\r\n"; };
    auto extended = [&put](std::uint64_t address) {
        const auto page = static_cast<std::uint16_t>(address >> 16);
        put({2, 4, 0, 0, BytesFromU8s({static_cast<std::uint8_t>(page >> 8), static_cast<std::uint8_t>(page)})});
    };
    for (const TDataBlock& b : FBlocks) {
        // Only the bytes the data area holds are written; an address that would pass 4 GiB ends the block.
        const std::uint64_t have = b.I < Data.size() ? Data.size() - b.I : 0;
        const std::uint64_t length = std::min<std::uint64_t>({b.L, have, 0x100000000ull - b.A});
        if (length == 0)
            continue;
        std::uint64_t done = 0;
        while (done < length) {
            const std::uint64_t address = b.A + done;
            if (done == 0 || (address & 0xFFFF) == 0)
                extended(address);
            const std::uint64_t toPage = 0x10000 - (address & 0xFFFF);
            const std::uint64_t n = std::min({kRecord, length - done, toPage});
            const auto from = Data.begin() + static_cast<std::ptrdiff_t>(b.I + done);
            THexRec r{static_cast<std::uint8_t>(n), 0, 0, static_cast<std::uint16_t>(address & 0xFFFF),
                      ABytes(from, from + static_cast<std::ptrdiff_t>(n))};
            put(r);
            done += n;
        }
    }
    put({0, 1, 0, 0, {}});
}
