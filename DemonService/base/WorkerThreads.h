#pragma once

// Threads that use the context (pipe clients, their exit notifications, the stop-for-update work) are
// started here and counted, so that process end can wait for them before the context goes away.

#include <windows.h>

// Starts routine(parameter) on a new thread (default security and stack, running at once). False when
// the thread cannot be created.
bool StartWorkerThread(LPTHREAD_START_ROUTINE routine, void* parameter);

// Waits until every worker thread has returned, at most timeoutMs; true when none is left.
bool WaitForWorkerThreads(DWORD timeoutMs);

// Counts a thread that the system started (the service main thread) as a worker for the scope's life.
class WorkerThreadScope {
public:
    WorkerThreadScope();
    ~WorkerThreadScope();
    WorkerThreadScope(const WorkerThreadScope&) = delete;
    WorkerThreadScope& operator=(const WorkerThreadScope&) = delete;

private:
    bool m_wasWorker;
};
