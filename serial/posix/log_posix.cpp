// Linux parts of the exchange log: the executable's folder, local time with milliseconds, folder creation.
#include "serial/exchange_log.h"

#include <climits>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

TLocalTime LocalNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
            static_cast<int>(ts.tv_nsec / 1000000)};
}

std::string ExecutableFolder()
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "./";
    std::string path(buf, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

void EnsureFolder(const std::string& pFolder) { mkdir(pFolder.c_str(), 0777); }
