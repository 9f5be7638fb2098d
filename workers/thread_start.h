// Starting a thread that nobody joins: the one platform-dependent step of a worker's life.
// Any thread may call it; `arg` is handed to `fn` untouched and stays the caller's business.
#pragma once

// Runs fn(arg) on a new thread of its own, which ends when fn returns. Throws std::system_error when no thread can be
// created (fn then never runs).
void StartDetachedThread(void (*fn)(void*), void* arg);
