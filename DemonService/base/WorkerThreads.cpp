#include "base/WorkerThreads.h"

#include <atomic>
#include <memory>
#include <new>

#include "base/Win32Resources.h"

namespace {

std::atomic<int> g_activeWorkers{0};
thread_local bool t_isWorker = false;

struct WorkerStart {
    LPTHREAD_START_ROUTINE routine;
    void* parameter;
};

DWORD WINAPI WorkerTrampoline(LPVOID raw) noexcept
{
    std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(raw));
    t_isWorker = true;
    DWORD result = 1;
    try {
        result = start->routine(start->parameter);
    } catch (...) {
        // The routine ended by an exception; it is counted out all the same.
    }
    --g_activeWorkers;
    return result;
}

constexpr DWORD kWaitStepMs = 10;

} // namespace

bool StartWorkerThread(LPTHREAD_START_ROUTINE routine, void* parameter)
{
    std::unique_ptr<WorkerStart> start(new (std::nothrow) WorkerStart{routine, parameter});
    if (!start) {
        return false;
    }
    ++g_activeWorkers;
    UniqueHandle created(::CreateThread(nullptr, 0, WorkerTrampoline, start.get(), 0, nullptr));
    if (!created) {
        --g_activeWorkers;
        return false;
    }
    // The new thread owns its start record from here on.
    static_cast<void>(start.release());
    return true;
}

bool WaitForWorkerThreads(DWORD timeoutMs)
{
    // A worker that waits for the others (its own count included) would wait for itself.
    const int self = t_isWorker ? 1 : 0;
    const ULONGLONG start = ::GetTickCount64();
    while (g_activeWorkers.load() > self) {
        if (::GetTickCount64() - start >= timeoutMs) {
            return false;
        }
        ::Sleep(kWaitStepMs);
    }
    return true;
}

WorkerThreadScope::WorkerThreadScope() : m_wasWorker(t_isWorker)
{
    ++g_activeWorkers;
    t_isWorker = true;
}

WorkerThreadScope::~WorkerThreadScope()
{
    t_isWorker = m_wasWorker;
    --g_activeWorkers;
}
