#include "host/ServiceRegistration.h"

#include <windows.h>

#include <string>

#include "base/DiagnosticLog.h"
#include "base/OwnImagePath.h"
#include "base/ServiceStatus.h"
#include "base/Win32Resources.h"
#include "host/RecoveryActions.h"

namespace {

constexpr DWORD kServiceTypeCreated = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;  // 0x110
constexpr DWORD kRemoveAccess = DELETE | SERVICE_STOP;                                           // 0x10020
constexpr DWORD kMinPollMs = 1000;
constexpr DWORD kMaxPollMs = 10000;
constexpr std::size_t kInstallFailureLogBytes = 128;

static_assert(static_cast<DWORD>(RecoveryActionType::Restart) == SC_ACTION_RESTART, "restart action");
static_assert(static_cast<DWORD>(RecoveryActionType::None) == SC_ACTION_NONE, "no action");

// Hands the recovery plan to the service manager. Failure is logged and leaves the registration as
// it is: the service works without it, it is only not restarted after a crash of its own.
void SetRecoveryActions(SC_HANDLE service)
{
    const RecoveryPlan plan = ServiceRecoveryPlan();
    SC_ACTION actions[kRecoveryActionCount] = {};
    for (std::size_t i = 0; i < kRecoveryActionCount; ++i) {
        actions[i].Type = static_cast<SC_ACTION_TYPE>(plan.actions[i].type);
        actions[i].Delay = plan.actions[i].delayMs;
    }
    SERVICE_FAILURE_ACTIONSW record = {};
    record.dwResetPeriod = plan.resetPeriodSeconds;
    record.lpRebootMsg = nullptr;
    record.lpCommand = nullptr;
    record.cActions = static_cast<DWORD>(kRecoveryActionCount);
    record.lpsaActions = actions;
    if (!::ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &record)) {
        LOG_SERVICE_F(kInstallFailureLogBytes, "InstallService ChangeServiceConfig2 fail ,error =%lu", ::GetLastError());
    }
}

UniqueServiceHandle OpenManager()
{
    return UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS* status)
{
    DWORD needed = 0;
    return ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status), sizeof(*status),
                                  &needed) != FALSE;
}

// One tenth of the wait hint, kept between one and ten seconds.
DWORD PollInterval(DWORD waitHint)
{
    const DWORD tenth = waitHint / 10;
    return tenth < kMinPollMs ? kMinPollMs : (tenth > kMaxPollMs ? kMaxPollMs : tenth);
}

// Waits while the service stays in `pending`, as long as its check point grows within the wait hint.
// False when a query failed; status then holds the last state read, so a caller that must not go on
// while the service is still pending checks the state, not the result alone.
bool WaitWhilePending(SC_HANDLE service, SERVICE_STATUS_PROCESS* status, DWORD pending)
{
    DWORD clockStart = ::GetTickCount();
    DWORD lastCheckPoint = status->dwCheckPoint;
    while (status->dwCurrentState == pending) {
        ::Sleep(PollInterval(status->dwWaitHint));
        if (!QueryStatus(service, status)) {
            return false;
        }
        if (status->dwCheckPoint > lastCheckPoint) {
            clockStart = ::GetTickCount();
            lastCheckPoint = status->dwCheckPoint;
        } else if (::GetTickCount() - clockStart > status->dwWaitHint) {
            break;
        }
    }
    return true;
}

} // namespace

bool InstallService()
{
    {
        UniqueServiceHandle manager = OpenManager();
        if (manager) {
            UniqueServiceHandle existing(::OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG));
            if (existing) {
                return true;
            }
        }
    }

    wchar_t ownImage[kOwnImagePathChars] = {};
    GetOwnImagePath(ownImage);
    // Quoted, so that a blank in the path can never make the manager start another program.
    const std::wstring imagePath = std::wstring(L"\"") + ownImage + L"\"";

    UniqueServiceHandle manager = OpenManager();
    if (!manager) {
        LOG_SERVICE_F(kInstallFailureLogBytes, "InstallService OpenSCManager fail ,error =%lu", ::GetLastError());
        return false;
    }
    UniqueServiceHandle created(::CreateServiceW(manager.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                                 kServiceTypeCreated, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                                 imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!created) {
        LOG_SERVICE_F(kInstallFailureLogBytes, "InstallService CreateService fail ,error =%lu", ::GetLastError());
        return false;
    }
    // Only a registration made here gets the recovery plan; an existing one was left as it is above.
    SetRecoveryActions(created.get());
    return true;
}

bool RemoveService()
{
    {
        UniqueServiceHandle manager = OpenManager();
        if (!manager) {
            return false;
        }
        UniqueServiceHandle existing(::OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG));
        if (!existing) {
            return true;  // nothing to remove
        }
    }
    UniqueServiceHandle manager = OpenManager();
    if (!manager) {
        return false;
    }
    UniqueServiceHandle service(::OpenServiceW(manager.get(), kServiceName, kRemoveAccess));
    if (!service) {
        return false;
    }
    SERVICE_STATUS status = {};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    if (!::DeleteService(service.get())) {
        return ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    }
    return true;
}

bool StartServiceAndWait()
{
    UniqueServiceHandle manager = OpenManager();
    if (!manager) {
        return true;
    }
    UniqueServiceHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service) {
        return true;
    }
    SERVICE_STATUS_PROCESS status = {};
    if (!QueryStatus(service.get(), &status)) {
        return true;
    }
    if (status.dwCurrentState != SERVICE_STOPPED && status.dwCurrentState != SERVICE_STOP_PENDING) {
        return true;
    }
    // A stop that outlasts its wait hint, or whose state can no longer be read, means a service still
    // on its way down: it is not started, and the caller hears of it.
    if (!WaitWhilePending(service.get(), &status, SERVICE_STOP_PENDING) ||
        status.dwCurrentState == SERVICE_STOP_PENDING) {
        return false;
    }
    if (!::StartServiceW(service.get(), 0, nullptr)) {
        return true;
    }
    if (!QueryStatus(service.get(), &status)) {
        return true;
    }
    WaitWhilePending(service.get(), &status, SERVICE_START_PENDING);
    return true;
}
