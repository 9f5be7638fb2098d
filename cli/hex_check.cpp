// Strict Intel HEX reading for the tools: line by line, with the line number in every refusal.
#include "cli/hex_check.h"

#include <algorithm>
#include <map>

#include "base/error.h"
#include "base/format.h"
#include "package/hex.h"

namespace {

struct TLine {
    std::size_t Number;
    std::string Text;
};

// Lines split at CR, LF or CR LF, as the package's reader splits them, each with its 1-based number; blanks and
// control characters at both ends removed, as the reader removes them.
std::vector<TLine> NumberedLines(const std::string& text)
{
    std::vector<TLine> lines;
    std::size_t at = 0, number = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        std::size_t b = at, e = end;
        while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
            ++b;
        while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
            --e;
        lines.push_back({++number, text.substr(b, e - b)});
        at = end + 1;
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')
            ++at;
    }
    return lines;
}

[[noreturn]] void Refuse(const char* code, std::size_t line, const std::string& words)
{
    throw Exception(Format("%s: line %zu ", code, line) + words);
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// One line to a record, refusing everything the package's reader would skip without a word.
THexRec ParseLine(const TLine& l)
{
    const std::string& s = l.Text;
    if (s[0] != ':')
        Refuse("0x0401", l.Number, "does not start with ':' (is this an Intel HEX file?)");
    for (std::size_t k = 1; k < s.size(); ++k)
        if (!IsHexDigit(s[k]))
            Refuse("0x0401", l.Number,
                   Format("has a character that is not a hexadecimal digit at column %zu (the file is damaged)", k + 1));
    if (s.size() < 11)
        Refuse("0x030A", l.Number,
               Format("is too short for a record (%zu characters, a record has at least 11; the file is damaged)",
                      s.size()));
    const std::size_t need = 11 + 2 * static_cast<std::size_t>(HexToBytes(s.substr(1, 2))[0]);
    if (s.size() < need)
        Refuse("0x0309", l.Number,
               Format("is cut short: %zu of its %zu characters (a download cut off? get the file again)", s.size(),
                      need));
    if (s.size() > need)
        Refuse("0x0320", l.Number,
               Format("has %zu character%s after its checksum (two lines run together? the file is damaged)",
                      s.size() - need, s.size() - need == 1 ? "" : "s"));
    try {
        return THexRec::FromText(s);
    } catch (const Exception&) {
        const ABytes b = HexToBytes(s.substr(1));
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i + 1 < b.size(); ++i)
            sum = static_cast<std::uint8_t>(sum + b[i]);
        Refuse("0x0308", l.Number,
               Format("has the checksum 0x%.2X, its bytes need 0x%.2X (a changed or damaged byte; get the file "
                      "again)",
                      b.back(), static_cast<std::uint8_t>(0x100 - sum)));
    }
}

// The records under one extended address, in file order until sorted.
struct TGroup {
    std::uint8_t Type = 4; // 2 or 4: how the base was given
    std::uint32_t Base = 0;
    std::vector<THexRec> Records;
    std::uint32_t Lowest() const
    {
        std::uint32_t m = 0xFFFFFFFF;
        for (const THexRec& r : Records)
            m = std::min(m, Base + r.A);
        return m;
    }
};

} // namespace

THexCheck CheckHexText(const std::string& Text, std::uint32_t EepromLimit)
{
    const bool bom = Text.size() >= 3 && Text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const std::vector<TLine> lines = NumberedLines(bom ? Text.substr(3) : Text);

    THexCheck r;
    // Groups by base: records a merge tool wrote under the same extended address twice belong to one block.
    std::map<std::uint32_t, TGroup> groups;
    std::uint32_t base = 0;
    std::uint8_t baseType = 4;
    std::size_t endLine = 0;
    bool dropped = false;
    for (const TLine& l : lines) {
        if (l.Text.empty())
            continue;
        if (endLine) {
            r.Warnings.push_back(Format("0x0333: line %zu and the lines after it follow the end-of-file record of "
                                        "line %zu and are left out",
                                        l.Number, endLine));
            break;
        }
        const THexRec rec = ParseLine(l);
        switch (rec.T) {
        case 0: {
            if (static_cast<std::uint32_t>(rec.A) + rec.L > 0x10000)
                Refuse("0x0324", l.Number,
                       Format("runs past the end of its 64 KiB segment (0x%.4X + %u bytes) and would wrap back to "
                              "its start (the file is damaged)",
                              rec.A, rec.L));
            const std::uint32_t address = base + rec.A;
            if (address > EepromLimit) {
                if (!dropped)
                    r.Warnings.push_back(Format("0x0332: line %zu: data at 0x%.8X lie above the updater's address "
                                                "range (0x%.8X) and are left out, as the updater leaves them out",
                                                l.Number, address, EepromLimit));
                dropped = true;
                break;
            }
            TGroup& g = groups[base];
            g.Type = baseType;
            g.Base = base;
            g.Records.push_back(rec);
            r.Data.push_back({address, rec.L, l.Number});
            break;
        }
        case 1:
            endLine = l.Number;
            break;
        case 2:
        case 4:
            if (rec.D.size() != 2)
                Refuse("0x0322", l.Number,
                       Format("is an extended-address record with %zu data byte%s instead of two (the file is "
                              "damaged)",
                              rec.D.size(), rec.D.size() == 1 ? "" : "s"));
            baseType = rec.T;
            base = static_cast<std::uint32_t>(rec.D[0] << 8 | rec.D[1]) << (rec.T == 2 ? 4 : 16);
            break;
        case 3:
        case 5:
            break; // start addresses: nothing the device is sent
        default:
            Refuse("0x0325", l.Number, Format("has the unknown record type %u (the file is damaged)", rec.T));
        }
    }
    if (!endLine)
        throw Exception(Format("0x0321: the file has no end-of-file record after its last line (%zu): it was cut "
                               "off; get the whole file again",
                               lines.size()));

    std::sort(r.Data.begin(), r.Data.end(),
              [](const THexSpan& a, const THexSpan& b) { return a.Address < b.Address; });
    for (std::size_t k = 1; k < r.Data.size(); ++k) {
        const THexSpan& p = r.Data[k - 1];
        const THexSpan& q = r.Data[k];
        if (q.Address < p.Address + p.Length)
            Refuse("0x0323", std::max(p.Line, q.Line),
                   Format("overlaps line %zu at 0x%.8X (two images merged? the file is damaged)",
                          std::min(p.Line, q.Line), q.Address));
    }

    std::vector<TGroup*> order;
    for (auto& [b, g] : groups)
        order.push_back(&g);
    std::stable_sort(order.begin(), order.end(), [](const TGroup* a, const TGroup* b) { return a->Lowest() < b->Lowest(); });
    for (TGroup* g : order) {
        const std::uint32_t value = g->Type == 2 ? g->Base >> 4 : g->Base >> 16;
        const THexRec ext{2, g->Type, 0, 0, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)}};
        r.Text += ext.ToText() + "\n";
        std::stable_sort(g->Records.begin(), g->Records.end(),
                         [](const THexRec& a, const THexRec& b) { return a.A < b.A; });
        for (const THexRec& rec : g->Records)
            r.Text += rec.ToText() + "\n";
    }
    r.Text += THexRec{0, 1, 0, 0, {}}.ToText() + "\n";
    return r;
}

std::vector<std::string> FlashWarnings(const std::vector<THexSpan>& Data, std::uint32_t FlashLimit,
                                       std::uint32_t ProgramEnd, std::uint32_t LineSize)
{
    std::vector<std::string> w;
    std::uint32_t end = 0;
    std::size_t endLine = 0, beyond = 0;
    std::uint32_t lastEnd = 0;
    for (const THexSpan& s : Data) {
        if (s.Address >= FlashLimit)
            break;
        if (endLine && s.Address - end > LineSize)
            w.push_back(Format("0x0331: a gap of %u bytes between 0x%.4X (line %zu) and 0x%.4X (line %zu) is filled "
                               "with zeros (a shifted record?)",
                               s.Address - end, end, endLine, s.Address, s.Line));
        if (s.Address + s.Length > ProgramEnd && !beyond)
            beyond = s.Line;
        end = s.Address + s.Length;
        endLine = s.Line;
        lastEnd = std::max(lastEnd, end);
    }
    if (beyond)
        w.push_back(Format("0x0330: flash data from line %zu run to 0x%.4X, past the end of program 0x%.4X the "
                           "header states (a shifted record, or a header not updated?)",
                           beyond, lastEnd, ProgramEnd));
    return w;
}
