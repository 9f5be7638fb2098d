// The child process runner of the end-to-end tests and the benchmark.
#include "dev/child/child_process.h"

#include "timing/timing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

extern char** environ;

TChild::TChild(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile)
{
    int fds[2] = {-1, -1};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (outFile.empty()) {
        if (pipe2(fds, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&fa);
            throw std::runtime_error("pipe");
        }
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&fa, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    FStart = NowMs();
    const int rc = posix_spawn(&FPid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (fds[1] >= 0)
        ::close(fds[1]);
    FOut = fds[0];
    if (rc != 0) {
        FPid = -1;
        if (FOut >= 0)
            ::close(FOut);
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

TChild::~TChild()
{
    if (FPid > 0) {
        ::kill(FPid, SIGKILL);
        Wait();
    }
    if (FOut >= 0)
        ::close(FOut);
}

std::vector<std::string> TChild::ReadLines(std::size_t n, double timeoutMs)
{
    std::vector<std::string> lines;
    const double end = NowMs() + timeoutMs;
    while (lines.size() < n && NowMs() < end) {
        pollfd p{FOut, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        char c = 0;
        if (::read(FOut, &c, 1) <= 0)
            break;
        if (c == '\n') {
            lines.push_back(FPartial);
            FPartial.clear();
        } else {
            FPartial += c;
        }
    }
    return lines;
}

void TChild::Signal(int sig)
{
    if (FPid > 0)
        ::kill(FPid, sig);
}

TChildEnd TChild::Wait(bool sampleRss)
{
    TChildEnd r;
    if (FPid <= 0)
        return r;
    int st = 0;
    rusage u{};
    const std::string status = "/proc/" + std::to_string(FPid) + "/status";
    for (;;) {
        const pid_t w = ::wait4(FPid, &st, sampleRss ? WNOHANG : 0, &u);
        if (w == FPid || (w < 0 && errno != EINTR))
            break;
        if (!sampleRss)
            continue; // interrupted
        std::ifstream f(status);
        for (std::string line; std::getline(f, line);)
            if (line.rfind("VmHWM:", 0) == 0)
                r.MaxRssKb = std::max(r.MaxRssKb, std::atol(line.c_str() + 6));
        ::usleep(2000);
    }
    FPid = -1;
    r.WallMs = NowMs() - FStart;
    r.Rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.CpuMs = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
              static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
    return r;
}
