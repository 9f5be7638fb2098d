// The running executable's own file on Windows: GetModuleFileNameW, opened through its wide-character path; for
// finding files beside it, also given in the form the C runtime's narrow file functions open (the ANSI code page; the
// short 8.3 form when the long path has characters outside it).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "package/embedded.h"

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

// The path in the ANSI code page, or empty when some character has no exact form there.
std::string ToAnsi(const std::wstring& w)
{
    if (w.empty())
        return {};
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, &lossy);
    if (n <= 0 || lossy)
        return {};
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        &lossy);
    return lossy ? std::string() : s;
}

} // namespace

std::string OwnExecutablePath()
{
    const std::wstring path = ModulePath();
    std::string ansi = ToAnsi(path);
    if (!ansi.empty() || path.empty())
        return ansi;
    std::vector<wchar_t> shortPath(path.size() + 1);
    const DWORD n = GetShortPathNameW(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
    if (n == 0 || n >= shortPath.size())
        return {};
    return ToAnsi(std::wstring(shortPath.data(), n));
}

// Short names are disabled by default on every volume but the system one: the package is read through the long
// wide-character path, never through the narrow form.
std::filesystem::path OwnExecutableFile() { return ModulePath(); }
