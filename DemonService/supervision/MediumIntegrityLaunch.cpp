#include "supervision/MediumIntegrityLaunch.h"

#include <shellapi.h>

#include "base/DiagnosticLog.h"
#include "base/Win32Resources.h"
#include "supervision/MediumIntegrityPlan.h"
#include "trust/ValidatedStart.h"

namespace {

static_assert(TOKEN_ALL_ACCESS == 0xF01FF, "the duplicated token's access");
static_assert(PROCESS_QUERY_INFORMATION == 0x400 && TOKEN_QUERY == 8 && TOKEN_DUPLICATE == 2, "access rights");

// Present from Vista on, as are integrity levels; only its presence is tested.
bool PlatformHasIntegrityLevels()
{
    const HMODULE kernel = ::GetModuleHandleA("Kernel32");
    return kernel != nullptr && ::GetProcAddress(kernel, "GetProductInfo") != nullptr;
}

// The last sub-authority of a token's mandatory label, or the error that kept it from being read.
DWORD ReadIntegrityRid(HANDLE token, unsigned long* rid)
{
    DWORD needed = 0;
    if (!::GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &needed)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            return error;
        }
    }
    UniqueProcessHeapMemory label(::HeapAlloc(::GetProcessHeap(), 0, needed));
    if (!label) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (!::GetTokenInformation(token, TokenIntegrityLevel, label.get(), needed, &needed)) {
        return ::GetLastError();
    }
    const PSID sid = static_cast<TOKEN_MANDATORY_LABEL*>(label.get())->Label.Sid;
    const PUCHAR count = ::GetSidSubAuthorityCount(sid);
    if (count == nullptr || *count == 0) {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_INVALID_SID;
    }
    *rid = *::GetSidSubAuthority(sid, static_cast<DWORD>(*count - 1));
    ::SetLastError(ERROR_SUCCESS);
    return ERROR_SUCCESS;
}

// The caller's own integrity level, or the error that kept it from being read.
DWORD ReadOwnIntegrityRid(unsigned long* rid)
{
    UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ::GetCurrentProcessId()));
    if (!process) {
        return ::GetLastError();
    }
    UniqueHandle token;
    if (!::OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) {
        return ::GetLastError();
    }
    return ReadIntegrityRid(token.get(), rid);
}

// What the borrowed token says of itself, and the caller's session.
ShellTokenFacts ReadShellTokenFacts(HANDLE token)
{
    ShellTokenFacts facts;
    DWORD session = 0;
    DWORD size = 0;
    if (::GetTokenInformation(token, TokenSessionId, &session, sizeof(session), &size)) {
        facts.shellSession = session;
    }
    DWORD callerSession = 0;
    if (::ProcessIdToSessionId(::GetCurrentProcessId(), &callerSession)) {
        facts.callerSession = callerSession;
    }
    unsigned long rid = 0;
    if (ReadIntegrityRid(token, &rid) == ERROR_SUCCESS) {
        facts.integrityRid = rid;
    }
    return facts;
}

// Hands the new process's handles to the caller's record, or closes them.
void DeliverProcessRecord(const PROCESS_INFORMATION& created, PROCESS_INFORMATION* processInfo)
{
    if (processInfo != nullptr) {
        *processInfo = created;
        return;
    }
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
}

DWORD StartDirectly(const wchar_t* appPath, wchar_t* commandLine, PROCESS_INFORMATION* processInfo)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created = {};
    if (!::CreateProcessW(appPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created)) {
        return ::GetLastError();
    }
    DeliverProcessRecord(created, processInfo);
    return ERROR_SUCCESS;
}

// The shell's "open" verb, for a file the validation library accepts only. Returns the result the
// caller reports.
DWORD StartThroughShellIfTrusted(const wchar_t* appPath, const wchar_t* commandLine, DWORD tokenStartError)
{
    const int answer = ValidateThenStart(appPath, [appPath, commandLine] {
        ::ShellExecuteW(nullptr, L"open", appPath, commandLine, nullptr, SW_HIDE);
    });
    if (answer == 0) {
        return ::GetLastError();
    }
    LOG_SERVICE("CreateProcessMediumIL ValidateAssembly fail");
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : tokenStartError;
}

DWORD StartWithShellToken(const wchar_t* appPath, wchar_t* commandLine, PROCESS_INFORMATION* processInfo)
{
    DWORD shellProcessId = 0;
    ::GetWindowThreadProcessId(::GetShellWindow(), &shellProcessId);
    UniqueHandle shellProcess(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellProcessId));
    if (!shellProcess) {
        return ::GetLastError();
    }
    UniqueHandle shellToken;
    if (!::OpenProcessToken(shellProcess.get(), TOKEN_DUPLICATE, shellToken.put())) {
        return ::GetLastError();
    }
    UniqueHandle primaryToken;
    if (!::DuplicateTokenEx(shellToken.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                            primaryToken.put())) {
        return ::GetLastError();
    }

    const ShellTokenFacts facts = ReadShellTokenFacts(primaryToken.get());
    const ShellTokenVerdict verdict = JudgeShellToken(facts);
    if (verdict != ShellTokenVerdict::Usable) {
        LOG_SERVICE(ShellTokenRefusalLine(verdict, facts).c_str());
        ::SetLastError(ERROR_ACCESS_DENIED);
        return ERROR_ACCESS_DENIED;
    }
    return StartWithUserToken(primaryToken.get(), appPath, commandLine, processInfo);
}

} // namespace

DWORD StartWithUserToken(HANDLE primaryToken, const wchar_t* appPath, wchar_t* commandLine,
                         PROCESS_INFORMATION* processInfo)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created = {};
    if (::CreateProcessWithTokenW(primaryToken, 0, appPath, commandLine, 0, nullptr, nullptr, &startup, &created)) {
        DeliverProcessRecord(created, processInfo);
        ::SetLastError(ERROR_SUCCESS);
        return ERROR_SUCCESS;
    }
    const DWORD startError = ::GetLastError();
    return StartThroughShellIfTrusted(appPath, commandLine, startError != ERROR_SUCCESS ? startError : ERROR_GEN_FAILURE);
}

DWORD CreateProcessMediumIL(const wchar_t* appPath, wchar_t* commandLine, std::uintptr_t, PROCESS_INFORMATION* processInfo)
{
    const bool hasIntegrityLevels = PlatformHasIntegrityLevels();
    unsigned long rid = 0;
    if (hasIntegrityLevels) {
        const DWORD error = ReadOwnIntegrityRid(&rid);
        if (error != ERROR_SUCCESS) {
            return error;
        }
    }
    if (ChooseMediumLaunchRoute(hasIntegrityLevels, rid) == MediumLaunchRoute::Direct) {
        return StartDirectly(appPath, commandLine, processInfo);
    }
    return StartWithShellToken(appPath, commandLine, processInfo);
}
