// Supervision of the running application: is it running, stop it, restart it in the user's session.

#include "supervision/ApplicationControl.h"

#include <cstddef>
#include <optional>

#include "base/DiagnosticLog.h"
#include "base/SettingsFile.h"
#include "base/Win32Resources.h"
#include "supervision/LaunchPlan.h"
#include "supervision/ProcessSearch.h"
#include "supervision/ProcessSearchRule.h"
#include "supervision/RunCorvane.h"

namespace {

// The exit code of a terminated application.
constexpr UINT kTerminatedExitCode = 0xFFFFFFFF;
// Log lines that carry a process id are formatted into this many bytes.
constexpr std::size_t kProcessLogLineBytes = 128;

// The session a process runs in; nullopt when it cannot be read. The caller holds the process open.
std::optional<unsigned long> SessionOf(DWORD processId)
{
    DWORD session = 0;
    if (!::ProcessIdToSessionId(processId, &session)) {
        return std::nullopt;
    }
    return session;
}

} // namespace

bool IsApplicationRunning(const std::wstring& appPath)
{
    LOG_SERVICE("CheckCorvaneIsRunning start");
    ImagePathBuffer buffer = AllocateImagePathBuffer();
    if (!buffer) {
        return false;
    }
    bool running = false;
    SearchProcessesByImagePath(appPath, buffer.get(), [&running](DWORD, HANDLE) {
        running = true;
        return false;
    });
    LOG_SERVICE("CheckCorvaneIsRunning end");
    return running;
}

void KillApplication(const std::wstring& appPath, int pid)
{
    ImagePathBuffer buffer = AllocateImagePathBuffer();
    const DWORD consoleSession = ::WTSGetActiveConsoleSessionId();
    if (pid > 0 && buffer) {
        // The id may have been given to another program since the application announced it: only a
        // process that is the application, in the console session, is terminated by id. The same handle
        // is checked and terminated, so the id cannot change hands in between.
        UniqueHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(pid)));
        if (process && ProcessImagePathIs(process.get(), appPath, buffer.get()) &&
            IsEndedWithEveryInstance(SessionOf(static_cast<DWORD>(pid)), consoleSession)) {
            ::TerminateProcess(process.get(), kTerminatedExitCode);
            LOG_SERVICE_F(kProcessLogLineBytes, "Corvane exit fail and  TerminateProcess %d", pid);
            return;
        }
    }
    if (!buffer) {
        return;
    }
    SearchProcessesByImagePath(appPath, buffer.get(), [consoleSession](DWORD processId, HANDLE process) {
        // Held open by the search: the id names this process while it is asked about.
        const std::optional<unsigned long> session = SessionOf(processId);
        if (!IsEndedWithEveryInstance(session, consoleSession)) {
            LOG_SERVICE_F(kProcessLogLineBytes, "Process %d left alone: not in the console session",
                          static_cast<int>(processId));
            return true;
        }
        ::TerminateProcess(process, kTerminatedExitCode);
        LOG_SERVICE_F(kProcessLogLineBytes, "Terminate Process %d", static_cast<int>(processId));
        return true;
    });
    LOG_SERVICE("KillCorvane end");
}

void RestartApplication(const std::wstring& appPath, bool forceBackground)
{
    LOG_SERVICE("ReStartCorvane");
    KillApplication(appPath, 0);
    // Read even when background is forced: the application's wish is looked at on every restart.
    const int hideToTray = ReadCorvaneInt(L"HideToTray");
    RunCorvane(appPath.c_str(), (forceBackground || hideToTray != 0) ? kBackgroundMode : 0);
}
