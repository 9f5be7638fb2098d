// Fuzz target: the Intel HEX reader, then the writer on what was read (whose text must read back to itself).
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "base/error.h"
#include "package/datafile.h"
#include "package/hex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    // a line straight into the record conversion
    try {
        (void)THexRec::FromText(text).ToText();
    } catch (const Exception&) {
    }

    THexDataFile f;
    f.SetInfo(0x10000, 0x20000);
    std::istringstream in(text);
    ABytes d;
    f.ReadStream(in, d);
    f.SetData(d);
    (void)f.BytesTo();

    // What the writer makes of the blocks reads back (without a bound) to blocks that are written the same way.
    // Zero-filled gaps make the data area large at little input (one mutated address digit can ask for 64 KiB, 4096
    // records to write, read and write again); the round trip is checked up to 4 KiB, which keeps the target at
    // thousands of inputs a second. The reader itself sees every input whole.
    if (d.size() > 0x1000)
        return 0;
    std::ostringstream out;
    f.WriteStream(out, d);
    THexDataFile g;
    g.SetInfo(0x10000, 0xFFFFFFFF);
    std::istringstream again(out.str());
    ABytes e;
    g.ReadStream(again, e);
    std::ostringstream out2;
    g.WriteStream(out2, e);
    if (out2.str() != out.str())
        std::abort();

    return 0;
}
