#include "base/ServiceStatus.h"

#include <mutex>

SERVICE_STATUS g_serviceStatus = {};
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
std::atomic<int> g_running{0};

namespace {

// The handler, the service main thread and the stop-for-update thread all report.
std::mutex& StatusLock()
{
    static std::mutex lock;
    return lock;
}

// Updates the record under the lock and reports a copy of it after the lock is released: the
// service manager may call back into the handler while a report is under way, and the handler
// reports too.
BOOL Report(DWORD state, DWORD waitHint, bool keepState)
{
    SERVICE_STATUS snapshot = {};
    {
        std::lock_guard<std::mutex> guard(StatusLock());
        g_serviceStatus.dwCurrentState = keepState ? g_serviceStatus.dwCurrentState : state;
        g_serviceStatus.dwWaitHint = waitHint;
        g_serviceStatus.dwCheckPoint = 0;
        g_serviceStatus.dwWin32ExitCode = 0;
        g_serviceStatus.dwServiceSpecificExitCode = 0;
        snapshot = g_serviceStatus;
    }
    if (g_statusHandle == nullptr) {
        return FALSE;
    }
    return ::SetServiceStatus(g_statusHandle, &snapshot);
}

} // namespace

void InitServiceStatus()
{
    std::lock_guard<std::mutex> guard(StatusLock());
    g_serviceStatus = {};
    g_serviceStatus.dwServiceType = kServiceTypeReported;
    g_serviceStatus.dwCurrentState = SERVICE_START_PENDING;
    g_serviceStatus.dwControlsAccepted = kControlsAccepted;
}

BOOL ReportServiceStatus(DWORD state, DWORD waitHint)
{
    return Report(state, waitHint, false);
}

BOOL ReportCurrentServiceState()
{
    return Report(0, 0, true);
}

DWORD CurrentServiceState()
{
    std::lock_guard<std::mutex> guard(StatusLock());
    return g_serviceStatus.dwCurrentState;
}
