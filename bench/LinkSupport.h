#pragma once

// What the benchmarks of the application link share: the sandbox installation's stand-in, driven through
// its inbox and read through its journal, the "Orvel" service in the service manager, and the service's
// handles counted from outside.

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "base/Win32Resources.h"

namespace bench_link {

constexpr wchar_t kServiceName[] = L"Orvel";
constexpr wchar_t kInstallFolder[] = L"C:\\Program Files\\Corvane\\";
constexpr wchar_t kUserShellFolders[] =
    L"S-1-5-21-0-0-0-1000\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr DWORD kWaitMs = 20000;
// Handle values are multiples of 4; Wine hands out the lowest free one, so a service with a few hundred
// handles stays far below this.
constexpr ULONG_PTR kHighestProbedHandle = 0x10000;
// The byte far beyond the data that the stand-ins lock while they append a record.
constexpr unsigned long long kJournalLockOffset = 1ULL << 40;

inline std::wstring AppPath() { return std::wstring(kInstallFolder) + L"Corvane.exe"; }
inline std::wstring JournalPath() { return std::wstring(kInstallFolder) + L"Corvane.journal"; }
inline std::wstring InboxPath() { return std::wstring(kInstallFolder) + L"Corvane.inbox"; }

inline void Print(const char* key, double value)
{
    std::printf("%s %.3f\n", key, value);
    std::fflush(stdout);
}

using bench::Poll;
using bench::Record;

// ---- The stand-in's journal and inbox -------------------------------------------------------------------

// Empties a journal under its writers' lock (the stand-in application's, or the driver installers'), so
// that no record is cut.
inline bool ClearJournal(const std::wstring& path = JournalPath())
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    OVERLAPPED range = {};
    range.Offset = static_cast<DWORD>(kJournalLockOffset & 0xFFFFFFFFu);
    range.OffsetHigh = static_cast<DWORD>(kJournalLockOffset >> 32);
    if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range)) {
        return false;
    }
    const bool emptied = ::SetEndOfFile(file.get()) != FALSE;
    ::UnlockFileEx(file.get(), 0, 1, 0, &range);
    return emptied;
}

inline bool FindRecord(const std::function<bool(const Record&)>& match, Record* found)
{
    for (const Record& record : bench::ReadJournal(JournalPath())) {
        if (match(record)) {
            *found = record;
            return true;
        }
    }
    return false;
}

inline bool WaitRecord(const std::function<bool(const Record&)>& match, Record* found, DWORD timeoutMs = kWaitMs)
{
    return Poll([&] { return FindRecord(match, found); }, timeoutMs, 2);
}

inline int CountRecords(const std::function<bool(const Record&)>& match)
{
    int count = 0;
    for (const Record& record : bench::ReadJournal(JournalPath())) {
        count += match(record) ? 1 : 0;
    }
    return count;
}

inline bool AppendInbox(const std::string& steps)
{
    // No FILE_SHARE_DELETE: the stand-in takes the inbox by renaming it once the append is complete.
    for (int attempt = 0; attempt < 200; ++attempt) {
        UniqueFileHandle file(::CreateFileW(InboxPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            const std::string line = steps + "\n";
            DWORD written = 0;
            return ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                   written == line.size();
        }
        ::Sleep(10);
    }
    return false;
}

// ---- Processes --------------------------------------------------------------------------------------------

inline UniqueHandle StartApp(DWORD* processId)
{
    std::wstring commandLine = L"\"" + AppPath() + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(AppPath().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, kInstallFolder,
                          &startup, &process)) {
        return UniqueHandle();
    }
    UniqueHandle thread(process.hThread);
    *processId = process.dwProcessId;
    return UniqueHandle(process.hProcess);
}

// Ends every process whose image is the stand-in, and waits for them.
inline void KillApps()
{
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return;
    }
    std::vector<UniqueHandle> killed;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, L"Corvane.exe") != 0) {
            continue;
        }
        UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                           entry.th32ProcessID));
        wchar_t path[MAX_PATH * 2] = {};
        DWORD size = MAX_PATH * 2;
        if (process && ::QueryFullProcessImageNameW(process.get(), 0, path, &size) &&
            ::lstrcmpiW(path, AppPath().c_str()) == 0 && ::TerminateProcess(process.get(), 1)) {
            killed.push_back(std::move(process));
        }
    }
    for (const UniqueHandle& process : killed) {
        ::WaitForSingleObject(process.get(), 5000);
    }
}

inline std::optional<DWORD> RunAndWait(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return std::nullopt;
    }
    UniqueHandle thread(process.hThread);
    UniqueHandle owned(process.hProcess);
    DWORD code = 0;
    if (::WaitForSingleObject(owned.get(), 60000) != WAIT_OBJECT_0 || !::GetExitCodeProcess(owned.get(), &code)) {
        return std::nullopt;
    }
    return code;
}

// Handles of another process, found by duplicating every possible value.
inline int ProbeHandleCount(HANDLE process)
{
    int count = 0;
    for (ULONG_PTR value = 4; value <= kHighestProbedHandle; value += 4) {
        HANDLE copy = nullptr;
        if (::DuplicateHandle(process, reinterpret_cast<HANDLE>(value), ::GetCurrentProcess(), &copy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS)) {
            UniqueHandle owned(copy);
            ++count;
        }
    }
    return count;
}

// ---- The service ------------------------------------------------------------------------------------------

inline UniqueServiceHandle OpenOrvel(DWORD access)
{
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return UniqueServiceHandle(manager ? ::OpenServiceW(manager.get(), kServiceName, access) : nullptr);
}

inline SERVICE_STATUS_PROCESS ServiceStatus()
{
    SERVICE_STATUS_PROCESS status = {};
    UniqueServiceHandle service = OpenOrvel(SERVICE_QUERY_STATUS);
    DWORD needed = 0;
    if (service) {
        ::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                               &needed);
    }
    return status;
}

inline bool WaitServiceState(DWORD state, DWORD timeoutMs)
{
    return Poll([state] { return ServiceStatus().dwCurrentState == state; }, timeoutMs, 2);
}

inline void RemoveService()
{
    UniqueServiceHandle service = OpenOrvel(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) {
        return;
    }
    SERVICE_STATUS status = {};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitServiceState(SERVICE_STOPPED, 10000);
    ::DeleteService(service.get());
    service.reset();
    Poll([] { return !OpenOrvel(SERVICE_QUERY_STATUS); }, 10000, 50);
}

inline bool StartService()
{
    UniqueServiceHandle service = OpenOrvel(SERVICE_START);
    return service && ::StartServiceW(service.get(), 0, nullptr) && WaitServiceState(SERVICE_RUNNING, kWaitMs);
}

// ---- The link: the service serving the stand-in --------------------------------------------------------------

struct Link {
    DWORD servicePid = 0;
    DWORD appPid = 0;
    UniqueHandle app;
};

// Where every run begins and ends: no service, no stand-in, no inbox left over, an empty journal. The
// service goes first, so that the stand-in's end is no crash for it to restart.
inline void ClearStage()
{
    RemoveService();
    KillApps();
    ::DeleteFileW(InboxPath().c_str());
    ClearJournal();
}

// Installs the service from the install folder and waits until it runs; its process id goes into link.
inline bool InstallService(Link* link)
{
    const std::wstring serviceExe = std::wstring(kInstallFolder) + L"DemonService.exe";
    if (RunAndWait(serviceExe, L"-install") != 0u || !WaitServiceState(SERVICE_RUNNING, kWaitMs)) {
        return false;
    }
    link->servicePid = ServiceStatus().dwProcessId;
    return true;
}

// Waits for the service's client (link.servicePid) to connect to the stand-in (link.appPid).
inline bool WaitConnected(const Link& link)
{
    Record found;
    return WaitRecord(
        [&link](const Record& r) {
            return r.event == "client-connected" && r.pid == link.appPid && r.client == link.servicePid;
        },
        &found);
}

// Starts the stand-in and waits for the installed service's client to connect to it.
inline bool StartConnectedApp(Link* link)
{
    link->app = StartApp(&link->appPid);
    return link->app && WaitConnected(*link);
}

// ---- The application's flags --------------------------------------------------------------------------------

inline std::wstring SettingsPath()
{
    wchar_t appData[MAX_PATH] = {};
    DWORD size = sizeof(appData);
    if (::RegGetValueW(HKEY_USERS, kUserShellFolders, L"AppData", RRF_RT_REG_SZ, nullptr, appData, &size) !=
        ERROR_SUCCESS) {
        return std::wstring();
    }
    const std::wstring folder = std::wstring(appData) + L"\\Corvane";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\BrisaRDP.ini";
}

inline void SetCorvaneKey(const wchar_t* key, const wchar_t* value)
{
    ::WritePrivateProfileStringW(L"Corvane", key, value, SettingsPath().c_str());
}

} // namespace bench_link
