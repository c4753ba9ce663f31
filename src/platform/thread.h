// Worker threads.
//
// AfxBeginThread starts fn(param) on a new thread at once. The process keeps
// a list of the threads it started so that the application (and each test)
// can wait for them before the shared state they use is torn down; the
// dialogs themselves never wait for a worker.
#pragma once

#include <chrono>

#include "platform/win_types.h"

using ThreadProc = UINT (*)(void* param);

// Returns false only when the system could not create the thread.
bool AfxBeginThread(ThreadProc fn, void* param);

// Waits until every thread started with AfxBeginThread has returned, or the
// timeout has passed. Returns true when none is left running.
bool JoinWorkerThreads(std::chrono::milliseconds timeout);

// Number of started threads that have not yet returned.
int RunningWorkerThreads();
