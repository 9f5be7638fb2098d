// The running executable's own file on Windows: GetModuleFileNameW, opened through its wide-character path, and the
// same path as UTF-8 text for finding files beside it.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "package/embedded.h"

#include "base/utf8_path.h"

#include <vector>

namespace {

std::wstring ModulePath()
{
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0)
            return {};
        if (n < buf.size())
            return std::wstring(buf.data(), n);
        // Truncated: the path is longer than the buffer.
        if (buf.size() >= 32768)
            return {};
        buf.resize(buf.size() * 2);
    }
}

} // namespace

std::string OwnExecutablePath() { return PathUtf8(ModulePath()); }

// Short names are disabled by default on every volume but the system one: the package is read through the long
// wide-character path, never through the narrow form.
std::filesystem::path OwnExecutableFile() { return ModulePath(); }
