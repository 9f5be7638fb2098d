// Windows parts of the exchange log: the folder of the own executable (GetModuleFileNameW, through the package
// library), local time with milliseconds, folder creation. Paths are UTF-8 and reach the system as wide
// characters, so that a folder of any name works where short names are disabled.
#include "serial/win32/win32_api.h"

#include "serial/exchange_log.h"

#include "base/utf8_path.h"
#include "package/embedded.h"

TLocalTime LocalNow()
{
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::string ExecutableFolder()
{
    const std::string path = OwnExecutablePath();
    const auto sep = path.find_last_of("\\/");
    return sep == std::string::npos ? std::string(".\\") : path.substr(0, sep + 1);
}

void EnsureFolder(const std::string& pFolder) { CreateDirectoryW(Utf8Path(pFolder).c_str(), nullptr); }
