// Whole-file reads, output checks and replace-by-rename writes.
#include "cli/files.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "base/error.h"
#include "base/utf8_path.h"
#include "base/format.h"

namespace fs = std::filesystem;

namespace {

// Longest file name (one path component) the common file systems take, in bytes.
constexpr std::size_t kNameMax = 255;

[[noreturn]] void CannotWrite(const fs::path& p, const std::string& why)
{
    throw Exception("cannot write " + PathUtf8(p) + ": " + why);
}

std::string KindText(fs::file_type t)
{
    switch (t) {
    case fs::file_type::directory:
        return "it is a folder";
    case fs::file_type::fifo:
        return "it is a FIFO (named pipe)";
    case fs::file_type::character:
    case fs::file_type::block:
        return "it is a device";
    case fs::file_type::socket:
        return "it is a socket";
    default:
        return "it is not a regular file";
    }
}

} // namespace

std::string FileErrorText(const std::error_code& ec)
{
    const std::errc e = static_cast<std::errc>(ec.default_error_condition().value());
    if (ec.default_error_condition().category() != std::generic_category())
        return ec.message();
    switch (e) {
    case std::errc::no_such_file_or_directory:
        return "no such folder";
    case std::errc::permission_denied:
    case std::errc::operation_not_permitted:
        return "permission denied";
    case std::errc::no_space_on_device:
        return "the disk is full";
    case std::errc::read_only_file_system:
        return "the file system is read-only";
    case std::errc::filename_too_long:
        return "the file name is too long";
    case std::errc::is_a_directory:
        return "it is a folder";
    default:
        return ec.message();
    }
}

ABytes ReadFileBytes(const fs::path& Path)
{
    std::error_code ec;
    // A FIFO or a device would be read until it ends, if ever: only regular files are firmware, bases or dumps.
    if (const fs::file_status st = fs::status(Path, ec); fs::exists(st) && !fs::is_regular_file(st))
        throw Exception("cannot read " + PathUtf8(Path) + ": " + KindText(st.type()) + ", not a regular file");
    std::ifstream f(Path, std::ios::binary);
    if (!f)
        throw Exception("cannot read " + PathUtf8(Path) + ": " +
                        (fs::exists(Path, ec) ? "permission denied" : "no such file"));
    ABytes r{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    if (f.bad())
        throw Exception("cannot read " + PathUtf8(Path) + ": read error");
    return r;
}

fs::path CheckOutput(const fs::path& Output, const std::vector<fs::path>& Inputs)
{
    if (Output.empty())
        CannotWrite(Output, "no file name");
    std::error_code ec;
    // Where the output really is: the end of a chain of links, relative links taken from their own folder.
    fs::path target = Output;
    for (int hops = 0; fs::is_symlink(fs::symlink_status(target, ec)); ++hops) {
        if (hops == 40)
            CannotWrite(Output, "its symbolic links form a loop");
        const fs::path next = fs::read_symlink(target, ec);
        if (ec)
            CannotWrite(Output, FileErrorText(ec));
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    const fs::file_status st = fs::status(Output, ec); // follows links as the system does
    if (fs::exists(st)) {
        if (!fs::is_regular_file(st))
            CannotWrite(Output, KindText(st.type()) + "; nerid writes only regular files");
        if (!fs::exists(target, ec) || !fs::equivalent(target, Output, ec))
            CannotWrite(Output, "cannot tell which file its link leads to");
    }
    if (target.filename().native().size() > kNameMax)
        CannotWrite(Output, Format("the file name is too long (%zu bytes, at most %zu)",
                                   target.filename().native().size(), kNameMax));
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const fs::file_status ds = fs::status(dir, ec);
    if (!fs::exists(ds))
        CannotWrite(Output, "no such folder " + PathUtf8(dir));
    if (!fs::is_directory(ds))
        CannotWrite(Output, PathUtf8(dir) + " is not a folder");
    for (const fs::path& in : Inputs)
        if (fs::exists(st) && fs::exists(in, ec) && fs::equivalent(in, Output, ec))
            CannotWrite(Output, "it is the input " + PathUtf8(in) + "; choose another output name");
    return target;
}

void WriteFileReplacing(const fs::path& Path, const ABytes& Data, fs::perms Perms)
{
    const fs::path dir = Path.has_parent_path() ? Path.parent_path() : fs::path(".");
    std::random_device rd;
    // A short name of its own, so that a long output name still leaves room for it.
    const fs::path tmp = dir / Format(".nerid-%08x.tmp", rd());
    auto fail = [&](const std::string& why) {
        std::error_code ec;
        fs::remove(tmp, ec);
        CannotWrite(Path, why);
    };
    {
        errno = 0;
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f)
            fail(errno ? FileErrorText(std::error_code(errno, std::generic_category()))
                       : "cannot create a file in " + PathUtf8(dir));
        f.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
        f.flush();
        if (!f)
            fail(errno ? FileErrorText(std::error_code(errno, std::generic_category())) : "write error");
    }
    std::error_code ec;
    fs::permissions(tmp, Perms, fs::perm_options::replace, ec);
    if (ec)
        fail(FileErrorText(ec));
    fs::rename(tmp, Path, ec);
    if (ec)
        fail(FileErrorText(ec));
}
