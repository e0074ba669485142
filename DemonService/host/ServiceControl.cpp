#include "host/ServiceControl.h"

#include <mutex>

#include "DemonService.h"
#include "base/DiagnosticLog.h"
#include "base/EventLog.h"
#include "base/FileSystem.h"
#include "base/ServiceStatus.h"
#include "base/SettingsFile.h"
#include "base/WorkerThreads.h"
#include "host/ServiceRegistration.h"
#include "integration/ExplorerMenus.h"
#include "integration/FriendlyAppName.h"

namespace {

constexpr DWORD kStopSettleMs = 2000;
constexpr DWORD kStopForUpdateDelayMs = 5;
constexpr int kRestartOnSessionChange = 2;

// Held for the whole of a stop sequence. The service main routine takes it before its own final
// STOPPED report, so that it never reports the service stopped (and lets the process end) while a stop
// handled on another thread is still writing its keys: the run loop sees the cleared run flag as soon as
// the handler clears it, long before the sequence has ended. Recursive: the handler takes it before it
// clears the flag, and the sequence takes it again.
std::recursive_mutex g_stopSequence;

void OnSuspend(DemonService* service)
{
    if (service == nullptr) {
        return;
    }
    service->UnlessStopping([service] {
        WriteServiceText(L"hibernating", L"1");
        // Remembered only when the application is there to be suspended with the machine: its broken
        // pipe after the resume is then no crash.
        if (service->CheckCorvaneIsRunning()) {
            service->m_hibernate = true;
        }
    });
}

void OnPowerEvent(DWORD eventType, DemonService* service)
{
    switch (eventType) {
    case PBT_APMSUSPEND:
        OnSuspend(service);
        return;
    case PBT_APMRESUMESUSPEND:
    case PBT_APMRESUMEAUTOMATIC:
        return;
    default:
        ReportCurrentServiceState();
        return;
    }
}

void OnSessionChange(DemonService* service)
{
    if (service != nullptr) {
        // Whatever the change, nothing the application says from now on counts until its server has
        // been verified against whoever is at the console now.
        service->EndVerifiedConnection();
        service->ReloadUserPaths();
    }
    if (ReadCorvaneInt(L"Restart") == kRestartOnSessionChange) {
        LOG_SERVICE("SERVICE_CONTROL_SESSIONCHANGE Restart 2");
        // Only a running application is moved to the new session; a stopped one stays stopped, and so
        // does everything once a stop has begun.
        if (service != nullptr) {
            service->UnlessStopping([service] {
                if (service->CheckCorvaneIsRunning()) {
                    service->ReStartCorvane(false);
                }
            });
        }
    } else {
        LOG_SERVICE("SERVICE_CONTROL_SESSIONCHANGE Restart not 2");
    }
    ReportCurrentServiceState();
}

} // namespace

void WINAPI ServiceMain(DWORD, LPWSTR*) noexcept
try {
    {
        // Counted with the worker threads: process end waits for this thread before the context goes.
        WorkerThreadScope worker;
        InitServiceStatus();
        g_statusHandle = ::RegisterServiceCtrlHandlerExW(kServiceName, ServiceCtrlHandler, nullptr);
        if (g_statusHandle != nullptr) {
            RunService();
        } else {
            WritePanicLog("RegisterServiceCtrlHandlerEx fail", true);
        }
    }
    const std::lock_guard<std::recursive_mutex> afterAnyStop(g_stopSequence);
    ReportServiceStatus(SERVICE_STOPPED, kRunningWaitHint);
} catch (...) {
    ReportServiceStatus(SERVICE_STOPPED, kRunningWaitHint);
}

void RunService()
{
    // Set before RUNNING is reported: a stop handled from then on clears it for good.
    g_running = 1;
    if (!ReportServiceStatus(SERVICE_RUNNING, kRunningWaitHint)) {
        return;
    }
    ReportServiceStarted();
    DemonService* service = DemonService::GetInstance();
    if (service == nullptr) {
        return;
    }
    service->SetStopForUpdateRoutine(StopForUpdateThread);
    if (service->IniPath().empty()) {
        service->ReloadUserPaths();
    }
    // A stop that came in while the service was starting leaves it stopped: no client, no loop.
    if (g_running == 0 || !service->BeginRun()) {
        return;
    }
    if (FileExists(service->AppPath().c_str())) {
        service->StartClient(service->AppPath().c_str());
        service->Run();
    } else {
        EndServiceRun();  // nothing to serve: a clean end of the service's own
    }
}

DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD eventType, LPVOID, LPVOID) noexcept
try {
    DemonService* service = DemonService::GetInstance();
    switch (control) {
    case SERVICE_CONTROL_POWEREVENT:
        OnPowerEvent(eventType, service);
        break;
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN: {
        const std::lock_guard<std::recursive_mutex> stopping(g_stopSequence);
        g_running = 0;
        ReportServiceStatus(SERVICE_STOP_PENDING, kPendingWaitHint);
        ReportServiceStopped(control == SERVICE_CONTROL_SHUTDOWN ? StopCause::Shutdown : StopCause::Control);
        StopService();
        break;
    }
    case SERVICE_CONTROL_PAUSE:
        ReportServiceStatus(SERVICE_PAUSE_PENDING, kPendingWaitHint);
        ReportServiceStatus(SERVICE_PAUSED, kRunningWaitHint);
        break;
    case SERVICE_CONTROL_CONTINUE:
        ReportServiceStatus(SERVICE_CONTINUE_PENDING, kPendingWaitHint);
        ReportServiceStatus(SERVICE_RUNNING, kRunningWaitHint);
        break;
    case SERVICE_CONTROL_SESSIONCHANGE:
        OnSessionChange(service);
        break;
    default:
        ReportCurrentServiceState();
        break;
    }
    return NO_ERROR;
} catch (...) {
    return NO_ERROR;
}

bool StopService()
{
    const std::lock_guard<std::recursive_mutex> stopping(g_stopSequence);
    DemonService* service = DemonService::GetInstance();
    // The stop gate first: what is under way ends, nothing new starts, and a client that ends now is
    // not restarted. Then the client, so that the keys below are the last word.
    if (service != nullptr) {
        service->BeginStop();
        service->StopCurrentClient();
    }
    ::Sleep(kStopSettleMs);
    if (service != nullptr) {
        service->StopCurrentClient();
        service->EndLogging();
    }
    RemoveContextMenus();

    WriteServiceNumber(L"Running", 0);
    WriteServiceNumber(L"Debug", 0);
    WriteServiceNumber(L"write_log", 0);
    WriteServiceText(L"Log_Path", L"");
    WriteServiceText(L"StartClient", L"Stop");
    WriteServiceText(L"CDemonServiceClient", L"Stop");
    WriteServiceText(L"Client_run", L"Stop");
    WriteServiceText(L"Connected", L"Disconnected");
    return ReportServiceStatus(SERVICE_STOPPED, kRunningWaitHint) != FALSE;
}

DWORD WINAPI StopForUpdateThread(LPVOID) noexcept
try {
    ::Sleep(kStopForUpdateDelayMs);
    ReportServiceStopped(StopCause::StopForUpdate);
    StopService();
    RemoveService();
    return 0;
} catch (...) {
    return 1;
}
