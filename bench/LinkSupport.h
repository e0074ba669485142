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
// The byte far beyond the data that the stand-in locks while it appends a record.
constexpr unsigned long long kJournalLockOffset = 1ULL << 40;

inline std::wstring AppPath() { return std::wstring(kInstallFolder) + L"Corvane.exe"; }
inline std::wstring JournalPath() { return std::wstring(kInstallFolder) + L"Corvane.journal"; }
inline std::wstring InboxPath() { return std::wstring(kInstallFolder) + L"Corvane.inbox"; }

inline void Print(const char* key, double value)
{
    std::printf("%s %.3f\n", key, value);
    std::fflush(stdout);
}

inline bool Poll(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs = 5)
{
    const ULONGLONG start = ::GetTickCount64();
    while (!done()) {
        if (::GetTickCount64() - start >= timeoutMs) {
            return false;
        }
        ::Sleep(stepMs);
    }
    return true;
}

// ---- The stand-in's journal and inbox -------------------------------------------------------------------

struct Record {
    std::string event;
    DWORD pid = 0;
    DWORD client = 0;
    ULONGLONG tick = 0;
    ULONGLONG entry = 0;  // start records: when the program's own code began
};

// The complete records (a last line without its line end is still being written).
inline std::vector<Record> ReadJournal()
{
    std::vector<Record> records;
    const std::string text = bench::ReadWholeFile(JournalPath());
    std::size_t begin = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; begin = end + 1, end = text.find('\n', begin)) {
        const std::string line = text.substr(begin, end - begin);
        Record record;
        record.event = bench::JournalField(line, "event");
        record.pid = static_cast<DWORD>(std::strtoul(bench::JournalField(line, "pid").c_str(), nullptr, 10));
        record.client = static_cast<DWORD>(std::strtoul(bench::JournalField(line, "client").c_str(), nullptr, 10));
        record.tick = std::strtoull(bench::JournalField(line, "tick").c_str(), nullptr, 10);
        record.entry = std::strtoull(bench::JournalField(line, "entry").c_str(), nullptr, 10);
        records.push_back(record);
    }
    return records;
}

// Empties the journal under the stand-in's lock, so that no record is cut.
inline bool ClearJournal()
{
    UniqueFileHandle file(::CreateFileW(JournalPath().c_str(), GENERIC_WRITE,
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
    for (const Record& record : ReadJournal()) {
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
    for (const Record& record : ReadJournal()) {
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
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
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
