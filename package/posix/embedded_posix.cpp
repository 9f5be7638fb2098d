// The running executable's own file on Linux.
#include "package/embedded.h"

#include <filesystem>
#include <system_error>

std::filesystem::path OwnExecutableFile() { return "/proc/self/exe"; }

std::string OwnExecutablePath()
{
    std::error_code ec;
    const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}
