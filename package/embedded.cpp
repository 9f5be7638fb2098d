// Reading the package from an updater file's tail.
#include "package/embedded.h"

#include <fstream>

#include "base/error.h"
#include "base/texts.h"

bool ReadEmbeddedPackage(ABytes& P) { return ReadEmbeddedPackage(OwnExecutableFile(), P); }

bool ReadEmbeddedPackage(const std::string& Path, ABytes& P)
{
    std::ifstream f(Path, std::ios::binary);
    if (Path.empty() || !f)
        throw Exception(LangText(1));
    P.clear();
    f.seekg(0, std::ios::end);
    const std::streamoff size = f.tellg();
    if (size < static_cast<std::streamoff>(kTrailerSize))
        return false;
    ABytes trailer(kTrailerSize);
    f.seekg(size - static_cast<std::streamoff>(kTrailerSize));
    f.read(reinterpret_cast<char*>(trailer.data()), static_cast<std::streamsize>(kTrailerSize));
    if (f.gcount() != static_cast<std::streamsize>(kTrailerSize) || BytesToU32(trailer, 0) != kPackageMagic)
        return false;
    // The length is bounded by the bytes in front of the trailer before anything is allocated: a length that does
    // not fit leaves nothing to read.
    const std::uint32_t length = BytesToU32(trailer, 4);
    if (length == 0 || static_cast<std::streamoff>(length) > size - static_cast<std::streamoff>(kTrailerSize))
        return false;
    f.seekg(size - static_cast<std::streamoff>(kTrailerSize) - static_cast<std::streamoff>(length));
    P.resize(length);
    f.read(reinterpret_cast<char*>(P.data()), static_cast<std::streamsize>(length));
    P.resize(static_cast<std::size_t>(f.gcount()));
    return !P.empty();
}

ABytes PackageTrailer(std::uint32_t Length) { return BytesFromU32s({kPackageMagic, Length}); }
