#include "host/ProcessEntry.h"

#include <windows.h>

#include "DemonService.h"
#include "base/DiagnosticLog.h"
#include "base/EventLog.h"
#include "base/ServiceStatus.h"
#include "host/CommandLineSwitch.h"
#include "host/ServiceControl.h"
#include "host/ServiceRegistration.h"
#include "host/StartCorvaneSwitch.h"
#include "host/StatusSwitch.h"
#include "integration/DriverInstall.h"
#include "integration/FriendlyAppName.h"
#include "integration/Shortcuts.h"

namespace {

// A service start with nobody's folder known yet gives the user's logon a moment.
constexpr DWORD kWaitForUserProfileMs = 20000;
constexpr DWORD kStartAfterInstallMs = 2000;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

int RunDispatcher()
{
    wchar_t serviceName[] = L"Orvel";
    const SERVICE_TABLE_ENTRYW table[] = {
        {serviceName, ServiceMain},
        {nullptr, nullptr},
    };
    if (!::StartServiceCtrlDispatcherW(table)) {
        WritePanicLog("StartServiceCtrlDispatcher fail", false);
    }
    return kExitSuccess;
}

int RunSwitch(CommandLineSwitch command)
{
    switch (command) {
    case CommandLineSwitch::Install:
        InstallEventSource();
        if (!InstallService()) {
            return kExitFailure;
        }
        ::Sleep(kStartAfterInstallMs);
        return StartServiceAndWait() ? kExitSuccess : kExitFailure;
    case CommandLineSwitch::Remove:
        // Without the service manager behind it the stop cannot report, so it runs twice.
        if (!StopService()) {
            StopService();
        }
        if (!RemoveService()) {
            return kExitFailure;
        }
        RemoveEventSource();
        return kExitSuccess;
    case CommandLineSwitch::InstallCloudyDriver:
        InstallCloudyDriver();
        return kExitSuccess;
    case CommandLineSwitch::RenameShortCut:
        RenameShortCut();
        return kExitSuccess;
    case CommandLineSwitch::RetoreShortCut:
        RetoreShortCut();
        return kExitSuccess;
    case CommandLineSwitch::RunCorvane:
        // The installer goes on whatever became of the start: the user can still start it himself.
        if (DemonService* service = DemonService::GetInstance()) {
            StartCorvaneFromCommandLine(service->AppPath());
        }
        return kExitSuccess;
    default:
        return kExitSuccess;
    }
}

} // namespace

int RunProcessEntry(int argc, char** argv)
{
    // The status report changes nothing, so it comes before everything that writes on every run: the
    // context's construction (which records the user's folder as "AppData" in the install key), the
    // friendly name, and any log line (which creates the data and log folders and writes "Service" keys).
    if (argc > 1 && ParseCommandLineSwitch(argv[1]) == CommandLineSwitch::Status) {
        return RunStatusSwitch();
    }

    DemonService* service = DemonService::GetInstance();
    if (argc == 1 && service != nullptr && service->IniPath().empty()) {
        ::Sleep(kWaitForUserProfileMs);
    }
    if (service != nullptr) {
        UpdateFriendlyAppName(service->AppPath().c_str(), service->m_appTitle);
    }

    int exitCode = kExitSuccess;
    if (argc <= 1 || !HasSwitchPrefix(argv[1])) {
        exitCode = RunDispatcher();
    } else {
        exitCode = RunSwitch(ParseCommandLineSwitch(argv[1]));
    }

    if (service != nullptr) {
        service->ReleaseHandles();
    }
    DemonService::DestroyInstance();
    return exitCode;
}
