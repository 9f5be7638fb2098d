// Ctrl-C for the tool on Windows: the console's Ctrl-C and Ctrl-Break are counted instead of ending the process.
// The console runs its handler on a thread of its own, so workers are started as they are.
#include "cli/headless.h"

#include <atomic>
#include <windows.h>

namespace {

std::atomic<int> gInterrupts{0};

BOOL WINAPI OnConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE; // closing the console or logging off: the default ends the process
    gInterrupts.fetch_add(1);
    return TRUE;
}

} // namespace

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

int Interrupts() { return gInterrupts.load(); }

int InterruptExitCode() { return 130; }

void StartWorker(std::unique_ptr<TCustomThreadCtrl>& w)
{
    w->ThreadBegin();
    w.release();
}
