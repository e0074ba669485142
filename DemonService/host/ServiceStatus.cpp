#include "host/ServiceStatus.h"

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

// Caller holds StatusLock.
BOOL ReportLocked(DWORD state, DWORD waitHint)
{
    g_serviceStatus.dwCurrentState = state;
    g_serviceStatus.dwWaitHint = waitHint;
    g_serviceStatus.dwCheckPoint = 0;
    g_serviceStatus.dwWin32ExitCode = 0;
    g_serviceStatus.dwServiceSpecificExitCode = 0;
    if (g_statusHandle == nullptr) {
        return FALSE;
    }
    return ::SetServiceStatus(g_statusHandle, &g_serviceStatus);
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
    std::lock_guard<std::mutex> guard(StatusLock());
    return ReportLocked(state, waitHint);
}

BOOL ReportCurrentServiceState()
{
    std::lock_guard<std::mutex> guard(StatusLock());
    return ReportLocked(g_serviceStatus.dwCurrentState, 0);
}

DWORD CurrentServiceState()
{
    std::lock_guard<std::mutex> guard(StatusLock());
    return g_serviceStatus.dwCurrentState;
}
