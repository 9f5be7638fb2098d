// Fuzz target: the block container reader and the updater-tail reader on hostile bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/texts/error.h"
#include "package/datafile.h"
#include "package/embedded.h"

namespace {

// One file per process for the tail reader, removed at exit.
const std::string& TailFile()
{
    static const std::string path = [] {
        std::string p = "/tmp/nerid-fuzz-tail-" + std::to_string(getpid());
        std::atexit([] { std::remove(TailFile().c_str()); });
        return p;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ABytes d(data, data + size);
    THexDataFile f;
    try {
        f.BytesFrom(d);
        const ABytes back = f.BytesTo();
        if (back != d) // the container format is lossless for every accepted input
            std::abort();
    } catch (const Exception&) {
    }

    {
        std::ofstream o(TailFile(), std::ios::binary | std::ios::trunc);
        o.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    ABytes p;
    try {
        ReadEmbeddedPackage(TailFile(), p);
        if (!p.empty() && p.size() + 8 > size)
            std::abort();
    } catch (const Exception&) {
        std::abort(); // the file exists: reading it must never fail
    }
    return 0;
}
