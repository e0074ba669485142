#include "link/CommandDispatcher.h"

#include <string>

#include "base/DiagnosticLog.h"
#include "base/EventLog.h"
#include "base/SettingsFile.h"
#include "base/SharedState.h"
#include "integration/DriverInstall.h"
#include "integration/FirewallRules.h"
#include "link/PipeMessage.h"
#include "supervision/ApplicationControl.h"
#include "supervision/CrashCount.h"
#include "supervision/RunCorvane.h"

namespace {

constexpr DWORD kExitNoticeGraceMs = 2000;
constexpr DWORD kCrashRestartDelayMs = 1000;
constexpr int kRestartAfterHibernate = 2;
constexpr int kAppExitTerminate = 1;
constexpr int kRunInBackground = 1;
constexpr std::size_t kExitNoticeLogBytes = 128;

// Runs a command that changes the machine (firewall rules, driver installers) only while no stop has
// begun; without a context, nothing.
template <typename Action>
void UnlessStopping(Action&& action)
{
    if (SharedState* service = SharedState::Get()) {
        service->UnlessStopping(action);
    }
}

void OnExitNotice(int processId, ClientLoopFlags& flags)
{
    // Give the application time to leave by itself.
    ::Sleep(kExitNoticeGraceMs);
    flags.exitCommandSeen = true;
    SharedState* service = SharedState::Get();
    if (service == nullptr) {
        return;
    }
    service->m_hibernate = false;
    // A stop that began during the wait cancels the notice: it kills and logs nothing.
    service->UnlessStopping([&] {
        if (ReadCorvaneInt(L"Restart") == kRestartAfterHibernate) {
            LOG_CLIENT("RESTART_BY_HIBERNATE");
            return;
        }
        if (processId != 0 && ReadCorvaneInt(L"AppExit") == kAppExitTerminate) {
            LOG_SERVICE("KillCorvane");
            KillApplication(service->AppPath(), processId);
            return;
        }
        LOG_CLIENT_F(kExitNoticeLogBytes, "Corvane exit %d correctly", processId);
    });
}

} // namespace

void DispatchCommand(const char* message, const wchar_t* appPath, ClientLoopFlags& flags)
{
    const PipeMessage parsed = ParsePipeMessage(message);
    switch (parsed.command) {
    case PipeCommand::CrashNotice:
        LOG_CLIENT("CVA crash");
        if (SharedState* service = SharedState::Get()) {
            service->UnlessStopping([&] { RunCorvane(appPath, kRunInBackground); });
        }
        break;
    case PipeCommand::ExitNotice:
        OnExitNotice(parsed.exitProcessId, flags);
        break;
    case PipeCommand::StopForUpdate:
        flags.stopForUpdate = true;
        flags.exitCommandSeen = true;
        flags.stopRequested = true;
        break;
    case PipeCommand::Hibernate:
        if (SharedState* service = SharedState::Get()) {
            service->m_hibernate = true;
        }
        flags.exitCommandSeen = true;
        flags.stopRequested = true;
        break;
    case PipeCommand::OpenFirewall:
        UnlessStopping([&] {
            const FirewallRequest& request = parsed.firewall;
            OpenFirewallRules(request.restrictPublic,
                              request.localPorts.empty() ? nullptr : request.localPorts.c_str());
        });
        break;
    case PipeCommand::CloseFirewall:
        UnlessStopping([] { CloseFirewallRules(); });
        break;
    case PipeCommand::InstallCameraDriver:
        UnlessStopping([] { InstallCameraDriver(); });
        break;
    case PipeCommand::InstallBrisaDriveDriver:
        UnlessStopping([] { InstallBrisaDriveDriver(); });
        break;
    case PipeCommand::InstallScreenShareDriver:
        UnlessStopping([] { InstallSSDriver(); });
        break;
    case PipeCommand::None:
        break;
    }
}

void ApplyLostConnectionRule()
{
    SharedState* service = SharedState::Get();
    if (service == nullptr) {
        return;
    }
    const int exitFlag = ReadCorvaneInt(L"exit");
    const int hibernating = ReadCorvaneInt(L"hibernating");
    if (service->m_hibernate || exitFlag != 0 || hibernating == 1) {
        return;
    }
    LOG_CLIENT("CVA_exit == EXIT_COMMAND_SEND_NONE");
    ::Sleep(kCrashRestartDelayMs);
    // Counted and restarted together, after the wait, and only while no stop has begun: a stop during
    // the wait leaves the application, and the counter, alone.
    service->UnlessStopping([&] {
        int crashes = 0;
        ReadCrashCount(&crashes);
        WriteCrashCount(static_cast<unsigned>(crashes) + 1);
        RestartApplication(service->AppPath(), true);
        ReportToEventLog(ApplicationRestartedEvent(static_cast<long>(crashes) + 1, service->AppPath()));
    });
}
