// Whole-file reads and replace-by-rename writes.
#include "cli/files.h"

#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "base/error.h"
#include "base/format.h"
#include "base/utf8_path.h"

namespace fs = std::filesystem;

ABytes ReadFileBytes(const fs::path& Path)
{
    std::ifstream f(Path, std::ios::binary);
    std::error_code ec;
    if (!f || fs::is_directory(Path, ec))
        throw Exception("cannot read " + PathUtf8(Path) + ": no such readable file");
    ABytes r{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    if (f.bad())
        throw Exception("cannot read " + PathUtf8(Path) + ": read error");
    return r;
}

void WriteFileReplacing(const fs::path& Path, const ABytes& Data, fs::perms Perms)
{
    const fs::path dir = Path.has_parent_path() ? Path.parent_path() : fs::path(".");
    std::random_device rd;
    const fs::path tmp = dir / Utf8Path(Format(".%s.%08x.tmp", PathUtf8(Path.filename()).c_str(), rd()));
    auto fail = [&](const std::string& why) {
        std::error_code ec;
        fs::remove(tmp, ec);
        throw Exception("cannot write " + PathUtf8(Path) + ": " + why);
    };
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f)
            fail("cannot create a file in " + PathUtf8(dir));
        f.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
        f.flush();
        if (!f)
            fail("write error");
    }
    std::error_code ec;
    fs::permissions(tmp, Perms, fs::perm_options::replace, ec);
    if (ec)
        fail(ec.message());
    fs::rename(tmp, Path, ec);
    if (ec)
        fail(ec.message());
}
