// Detached threads on POSIX systems: std::thread over pthreads.
#include "workers/thread_start.h"

#include <thread>

void StartDetachedThread(void (*fn)(void*), void* arg)
{
    std::thread(fn, arg).detach();
}
