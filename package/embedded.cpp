// Reading the package from an updater file's tail.
#include "package/embedded.h"

#include <algorithm>
#include <fstream>

#include "base/error.h"
#include "base/texts.h"

namespace {

// Signers align the certificate table to 8 bytes with zeros written in front of it.
constexpr std::uint64_t kMaxSignerPadding = 7;

// The payload in front of a trailer that ends at End, if the trailer is there and its length fits in front of it.
// The length is bounded by the bytes in front of the trailer before anything is allocated.
std::optional<TPackageTail> TailEndingAt(const TReadAt& Read, std::uint64_t End)
{
    if (End < kTrailerSize)
        return std::nullopt;
    const ABytes trailer = Read(End - kTrailerSize, kTrailerSize);
    if (trailer.size() != kTrailerSize || BytesToU32(trailer, 0) != kPackageMagic)
        return std::nullopt;
    const std::uint32_t length = BytesToU32(trailer, 4);
    if (length == 0 || length > End - kTrailerSize)
        return std::nullopt;
    return TPackageTail{End - kTrailerSize - length, length};
}

} // namespace

std::optional<TPackageTail> FindPackageTail(const TReadAt& Read, std::uint64_t FileSize)
{
    if (const auto table = FindPeCertificateTable(Read, FileSize)) {
        // The padding's length is not recorded. A trailer's length field often ends in zero bytes, and the bytes in
        // front of the magic may be AA, so more than one padding can show a trailer; the true one has the longest
        // payload (a shorter padding reads the length shifted down, a longer one reads magic bytes as length).
        const std::uint64_t most = std::min(table->Offset, kMaxSignerPadding);
        const ABytes pad = Read(table->Offset - most, static_cast<std::size_t>(most));
        std::optional<TPackageTail> best;
        for (std::size_t n = 0; n <= pad.size(); ++n) {
            if (n > 0 && pad[pad.size() - n] != 0)
                break;
            const auto tail = TailEndingAt(Read, table->Offset - n);
            if (tail && (!best || tail->Length > best->Length))
                best = tail;
        }
        if (best)
            return best;
    }
    return TailEndingAt(Read, FileSize);
}

bool ReadEmbeddedPackage(ABytes& P) { return ReadEmbeddedPackage(OwnExecutableFile(), P); }

bool ReadEmbeddedPackage(const std::filesystem::path& Path, ABytes& P)
{
    std::ifstream f(Path, std::ios::binary);
    if (Path.empty() || !f)
        throw Exception(LangText(1));
    P.clear();
    f.seekg(0, std::ios::end);
    const std::streamoff size = f.tellg();
    if (size <= 0)
        return false;
    const TReadAt read = [&f](std::uint64_t Offset, std::size_t Count) {
        ABytes b(Count);
        f.clear();
        f.seekg(static_cast<std::streamoff>(Offset));
        f.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(Count));
        b.resize(static_cast<std::size_t>(std::max<std::streamsize>(f.gcount(), 0)));
        return b;
    };
    const auto tail = FindPackageTail(read, static_cast<std::uint64_t>(size));
    if (!tail)
        return false;
    P = read(tail->Offset, tail->Length);
    return !P.empty();
}

ABytes PackageTrailer(std::uint32_t Length) { return BytesFromU32s({kPackageMagic, Length}); }
