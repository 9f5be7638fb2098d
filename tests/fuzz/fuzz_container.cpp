// Fuzz target: the block container reader and the updater-tail reader (with the signed PE tail) on hostile bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "base/error.h"
#include "package/datafile.h"
#include "package/embedded.h"
#include "package/pe.h"

namespace {

// One file per process for the tail reader, removed when the process exits normally (the file's own
// destructor; an atexit handler registered while the name is built would run after the name is gone). It is
// rewritten for every input, so it goes to memory (/dev/shm) where there is one: on a disk the writes cost more
// than the target itself.
struct TTailFile {
    std::string Path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/nerid-fuzz-tail-" +
                       std::to_string(getpid());
    ~TTailFile() { std::remove(Path.c_str()); }
};

const std::string& TailFile()
{
    static const TTailFile file;
    return file.Path;
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

    // The same lookup in memory, through the PE certificate table where the bytes name one: the payload and its
    // trailer lie inside the file and agree with the file reader.
    const auto tail = FindPackageTail(BytesReader(d), d.size());
    if (tail && (tail->Length == 0 || tail->Offset + tail->Length + kTrailerSize > size ||
                 BytesCopy(d, static_cast<std::int64_t>(tail->Offset), tail->Length) != p))
        std::abort();
    if (!tail && !p.empty())
        std::abort();
    // Taking a table off leaves a shorter image that names none.
    ABytes stripped = d;
    if (StripPeCertificateTable(stripped) &&
        (stripped.size() >= size || FindPeCertificateTable(BytesReader(stripped), stripped.size())))
        std::abort();
    return 0;
}
