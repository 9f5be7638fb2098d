// Windows builds have no subcommand of their own: the device simulator needs pseudo-terminals, so Windows tests reach
// it through wine's mapping of a COM port to a Linux pseudo-terminal instead. The console session: UTF-16 arguments
// to UTF-8, and a console that shows UTF-8 (Cyrillic device names) while the tool runs.
#include "cli/commands.h"

#include <windows.h>

#include <shellapi.h>

#include "base/format.h"

void AddPlatformCommands(CLI::App&) {}

namespace {

std::string Utf8(const wchar_t* w)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.pop_back(); // the terminating zero
    return s;
}

} // namespace

TConsoleSession::TConsoleSession(int argc, char** argv)
{
    int n = 0;
    if (wchar_t** w = CommandLineToArgvW(GetCommandLineW(), &n)) {
        for (int k = 0; k < n; ++k)
            FArgs.push_back(Utf8(w[k]));
        LocalFree(w);
    } else {
        FArgs.assign(argv, argv + argc);
    }
    for (std::string& a : FArgs)
        FArgv.push_back(a.data());
    // The console's own code page is the user's: it goes back when the tool ends.
    const UINT cp = GetConsoleOutputCP();
    if (cp != 0 && cp != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        FConsoleCodePage = cp;
}

TConsoleSession::~TConsoleSession()
{
    if (FConsoleCodePage != 0)
        SetConsoleOutputCP(FConsoleCodePage);
}

std::string LatencyAdvice(const std::string& port, std::uint32_t latencyMs)
{
    // The value lives in the driver's device key, which only an administrator may change.
    return Format("%s: the adapter's driver holds answers back for up to %u ms (its latency timer); each line pays "
                  "for it. To lower it, as an administrator: Device Manager > Ports (COM & LPT) > %s > Properties > "
                  "Port Settings > Advanced > Latency Timer (msec): 1, then plug the adapter in again.",
                  port.c_str(), latencyMs, port.c_str());
}
