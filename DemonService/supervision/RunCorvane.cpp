#include "supervision/RunCorvane.h"

#include <windows.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <cwchar>
#include <optional>

#include "base/DiagnosticLog.h"
#include "base/Win32Resources.h"
#include "supervision/LaunchPlan.h"

namespace {

// CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE.
constexpr DWORD kCreationFlags = 0x430;
static_assert(kCreationFlags == (CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE),
              "creation flags");

} // namespace

void RunCorvane(const wchar_t* path, int background)
{
    LOG_SERVICE("RunCorvane");
    const DWORD session = ::WTSGetActiveConsoleSessionId();
    if (const char* refusal = LaunchRefusalLine(path, session)) {
        LOG_SERVICE(refusal);
        return;
    }

    UniqueHandle token;
    if (!::WTSQueryUserToken(session, token.put())) {
        return;
    }

    const std::optional<LaunchCommand> launch = BuildLaunchCommand(path, background);
    if (!launch) {
        LOG_SERVICE("RunCorvane fail");
        return;
    }
    // Process creation may write into the command line, so it gets a buffer of its own.
    wchar_t commandLine[kLaunchBufferChars] = {};
    std::wmemcpy(commandLine, launch->commandLine.c_str(), launch->commandLine.size());

    UniqueEnvironmentBlock environment;
    if (!::CreateEnvironmentBlock(environment.put(), token.get(), FALSE)) {
        LOG_SERVICE("CreateEnvironmentBlock return false");
        return;
    }

    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop;

    // The new process gets no directory argument: it inherits this one.
    if (!launch->workingFolder.empty()) {
        ::SetCurrentDirectoryW(launch->workingFolder.c_str());
    }

    PROCESS_INFORMATION created = {};
    if (!::CreateProcessAsUserW(token.get(), path, commandLine, nullptr, nullptr, FALSE, kCreationFlags,
                                environment.get(), nullptr, &startup, &created)) {
        LOG_SERVICE("RunCorvane fail");
        return;
    }
    // Nothing is kept: the application is found by its image path when it is needed.
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
}
