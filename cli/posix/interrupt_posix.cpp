// Ctrl-C for the tool on POSIX: SIGINT, SIGTERM and SIGHUP are counted by the main thread; worker threads never take
// them.
#include "cli/headless.h"

#include <atomic>
#include <csignal>
#include <pthread.h>

namespace {

std::atomic<int> gInterrupts{0};
std::atomic<int> gFirstSignal{0};

extern "C" void OnInterrupt(int sig)
{
    int none = 0;
    gFirstSignal.compare_exchange_strong(none, sig);
    gInterrupts.fetch_add(1);
}

} // namespace

void InstallInterruptHandler()
{
    struct sigaction sa{};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int Interrupts() { return gInterrupts.load(); }

int InterruptExitCode() { return 128 + (gFirstSignal.load() ? gFirstSignal.load() : SIGINT); }

void StartWorker(std::unique_ptr<TCustomThreadCtrl>& w)
{
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &block, &old); // the new thread inherits this mask
    try {
        w->ThreadBegin();
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    w.release();
}
