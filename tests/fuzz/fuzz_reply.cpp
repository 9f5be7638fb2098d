// Fuzz target: the bootloader's reply handling on arbitrary bytes, as the exchange engine feeds it piece by piece:
// the completeness test on every prefix and on the whole reply, then identity decoding of the reply.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "base/error.h"
#include "bootloader/devid.h"

namespace {

// The test's verdict from first principles, to hold CheckBootLoaderReply to it.
const char* ExpectedVerdict(const ABytes& r)
{
    if (r.empty())
        return "0x0100";
    if (r.size() < 3)
        return "0x0101";
    if (r[0] < 0xF0)
        return "0x0102";
    if (r.size() < static_cast<std::size_t>(r[1]) + 3)
        return "0x0103";
    return nullptr;
}

void CheckOne(const ABytes& r)
{
    const char* expected = ExpectedVerdict(r);
    bool complite = false;
    try {
        CheckBootLoaderReply(r, complite);
        if (expected != nullptr || !complite)
            std::abort();
    } catch (const Exception& e) {
        if (expected == nullptr || std::strcmp(e.what(), expected) != 0 || complite)
            std::abort();
    }
}

bool DateOk(const TDateTime& d)
{
    return d.Month >= 1 && d.Month <= 12 && d.Day >= 1 && d.Day <= 31 && d.Year >= 1900;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A reply frame holds at most 258 bytes; longer inputs add nothing but time.
    if (size > 512)
        return 0;
    const ABytes reply(data, data + size);
    // The engine asks after every arrival, so a reply is also judged in pieces: at each length where the verdict
    // can change (empty, the head, one short of whole, whole) and whole with whatever follows it.
    const std::size_t whole = size >= 2 ? static_cast<std::size_t>(reply[1]) + 3 : 3;
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, whole - 1, whole})
        if (n <= size)
            CheckOne(ABytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n)));
    CheckOne(reply);

    try {
        const TZorelBootLoaderDevID d = DecodeDeviceID(reply);
        if (reply.size() < kDeviceIDReplyMin)
            std::abort();
        if (d.dName.size() != 10 || !DateOk(d.dDate) || !DateOk(d.dDateProg))
            std::abort();
        if (d.dID < 0 || d.dID > 0xFFFFFFFFll)
            std::abort();
        const std::string text = d.ToString();
        if (text.empty())
            std::abort();
    } catch (const Exception& e) {
        if (reply.size() >= kDeviceIDReplyMin || std::strcmp(e.what(), "0x0104") != 0)
            std::abort();
    }
    return 0;
}
