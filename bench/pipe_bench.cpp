// Figures of the application link under Wine, printed for bench/pipe_bench.sh (never asserted).
//   pipe_bench.exe <restart runs> <stop runs> <idle runs> <idle seconds> <cycles>
// Runs in a prefix laid out by scripts/sandbox.sh, with the "Orvel" service installed and started from the
// sandbox and the installed stand-in Corvane.exe as the application, driven through its inbox and read
// through its journal (tick counts of one clock, 1 ms steps). Phases, each printing "key value" lines:
//   restart: the connected application crashes without notice; from its "crash" record to the start
//            record of the instance the service starts again, less the prescribed 1000 ms (restart_ms);
//   idle:    "idle_begin N" / "idle_end N" around <idle seconds> of connected silence; the script reads the
//            service's CPU time from /proc meanwhile (Wine's GetProcessTimes says nothing of other processes);
//   handles: <cycles> connect-and-break cycles (the application drops the connection; "exit" = 1 makes the
//            break no crash, and the client reconnects a second later), then as many cycles in which the
//            client itself is replaced ("hibernate" before the break). The service's handles are counted
//            after the first cycle and after the last by probing its handle values with DuplicateHandle
//            (Wine's GetProcessHandleCount answers 0); GetProcessHandleCount's answer is printed too;
//   stop:    the service is started, connected and blocked in its read; from the stop control to
//            SERVICE_STOPPED (stop_ms).
// The service is removed and every instance of the stand-in ended at the end.

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "base/Win32Resources.h"

namespace {

constexpr wchar_t kServiceName[] = L"Orvel";
constexpr wchar_t kInstallFolder[] = L"C:\\Program Files\\Corvane\\";
constexpr wchar_t kUserShellFolders[] =
    L"S-1-5-21-0-0-0-1000\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr DWORD kWaitMs = 20000;
constexpr ULONGLONG kCrashRestartDelayMs = 1000;
// Handle values are multiples of 4; Wine hands out the lowest free one, so a service with a few hundred
// handles stays far below this.
constexpr ULONG_PTR kHighestProbedHandle = 0x10000;
// The byte far beyond the data that the stand-in locks while it appends a record.
constexpr unsigned long long kJournalLockOffset = 1ULL << 40;

std::wstring AppPath() { return std::wstring(kInstallFolder) + L"Corvane.exe"; }
std::wstring JournalPath() { return std::wstring(kInstallFolder) + L"Corvane.journal"; }
std::wstring InboxPath() { return std::wstring(kInstallFolder) + L"Corvane.inbox"; }

void Print(const char* key, double value)
{
    std::printf("%s %.3f\n", key, value);
    std::fflush(stdout);
}

bool Poll(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs = 5)
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
};

// The complete records (a last line without its line end is still being written).
std::vector<Record> ReadJournal()
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
        records.push_back(record);
    }
    return records;
}

// Empties the journal under the stand-in's lock, so that no record is cut.
bool ClearJournal()
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

bool FindRecord(const std::function<bool(const Record&)>& match, Record* found)
{
    for (const Record& record : ReadJournal()) {
        if (match(record)) {
            *found = record;
            return true;
        }
    }
    return false;
}

bool WaitRecord(const std::function<bool(const Record&)>& match, Record* found, DWORD timeoutMs = kWaitMs)
{
    return Poll([&] { return FindRecord(match, found); }, timeoutMs, 2);
}

int CountRecords(const std::function<bool(const Record&)>& match)
{
    int count = 0;
    for (const Record& record : ReadJournal()) {
        count += match(record) ? 1 : 0;
    }
    return count;
}

bool AppendInbox(const std::string& steps)
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

UniqueHandle StartApp(DWORD* processId)
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
void KillApps()
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

std::optional<DWORD> RunAndWait(const std::wstring& program, const std::wstring& arguments)
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
int ProbeHandleCount(HANDLE process)
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

UniqueServiceHandle OpenOrvel(DWORD access)
{
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return UniqueServiceHandle(manager ? ::OpenServiceW(manager.get(), kServiceName, access) : nullptr);
}

SERVICE_STATUS_PROCESS ServiceStatus()
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

bool WaitServiceState(DWORD state, DWORD timeoutMs)
{
    return Poll([state] { return ServiceStatus().dwCurrentState == state; }, timeoutMs, 2);
}

void RemoveService()
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

bool StartService()
{
    UniqueServiceHandle service = OpenOrvel(SERVICE_START);
    return service && ::StartServiceW(service.get(), 0, nullptr) && WaitServiceState(SERVICE_RUNNING, kWaitMs);
}

// ---- The application's flags --------------------------------------------------------------------------------

std::wstring SettingsPath()
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

void SetCorvaneKey(const wchar_t* key, const wchar_t* value)
{
    ::WritePrivateProfileStringW(L"Corvane", key, value, SettingsPath().c_str());
}

// ---- Phases ---------------------------------------------------------------------------------------------------

struct Link {
    DWORD servicePid = 0;
    DWORD appPid = 0;
    UniqueHandle app;
};

bool WaitConnected(const Link& link)
{
    Record found;
    return WaitRecord(
        [&link](const Record& r) {
            return r.event == "client-connected" && r.pid == link.appPid && r.client == link.servicePid;
        },
        &found);
}

int RestartPhase(Link& link, int runs)
{
    int failures = 0;
    SetCorvaneKey(L"exit", L"0");
    SetCorvaneKey(L"hibernating", L"0");
    for (int run = 0; run < runs; ++run) {
        const DWORD crashed = link.appPid;
        if (!AppendInbox("crash")) {
            return failures + runs - run;
        }
        Record crash;
        Record start;
        const bool seen = WaitRecord([crashed](const Record& r) { return r.event == "crash" && r.pid == crashed; }, &crash) &&
                          WaitRecord([crashed](const Record& r) { return r.event == "start" && r.pid != crashed; }, &start);
        if (!seen) {
            ++failures;
            break;
        }
        Print("restart_ms", static_cast<double>(start.tick - crash.tick) - static_cast<double>(kCrashRestartDelayMs));
        link.app.reset(::OpenProcess(SYNCHRONIZE, FALSE, start.pid));
        link.appPid = start.pid;
        if (!WaitConnected(link)) {
            ++failures;
            break;
        }
        ClearJournal();
    }
    return failures;
}

void IdlePhase(int runs, int seconds)
{
    for (int run = 1; run <= runs; ++run) {
        std::printf("idle_begin %d\n", run);
        std::fflush(stdout);
        ::Sleep(static_cast<DWORD>(seconds) * 1000);
        std::printf("idle_end %d\n", run);
        std::fflush(stdout);
    }
}

// One cycle: the application drops the connection (after "hibernate" when replaceClient), and the service's
// client is connected again.
bool Cycle(const Link& link, bool replaceClient)
{
    const auto connected = [&link](const Record& r) {
        return r.event == "client-connected" && r.pid == link.appPid && r.client == link.servicePid;
    };
    const int before = CountRecords(connected);
    if (!AppendInbox(replaceClient ? "send hibernate; sleep 150; disconnect" : "disconnect")) {
        return false;
    }
    return Poll([&] { return CountRecords(connected) > before; }, kWaitMs, 2);
}

int HandlePhase(const Link& link, int cycles, bool replaceClient, const char* prefix)
{
    UniqueHandle service(::OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_INFORMATION, FALSE, link.servicePid));
    if (!service) {
        std::printf("%s_unreadable 1\n", prefix);
        return 1;
    }
    int failures = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        if (!Cycle(link, replaceClient)) {
            ++failures;
            break;
        }
        if (cycle == 1 || cycle == cycles) {
            // Let the reconnected client settle into its read before counting.
            ::Sleep(300);
            DWORD reported = 0;
            ::GetProcessHandleCount(service.get(), &reported);
            const std::string key = std::string(prefix) + (cycle == 1 ? "_after_first" : "_after_last");
            Print(key.c_str(), ProbeHandleCount(service.get()));
            Print((key + "_reported").c_str(), reported);
        }
        if (cycle % 20 == 0) {
            ClearJournal();
        }
    }
    std::printf("%s_cycles %d\n", prefix, cycles);
    return failures;
}

int StopPhase(Link& link, int runs)
{
    int failures = 0;
    for (int run = 0; run < runs; ++run) {
        ClearJournal();
        if (!StartService()) {
            ++failures;
            continue;
        }
        link.servicePid = ServiceStatus().dwProcessId;
        UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, link.servicePid));
        if (!WaitConnected(link)) {
            ++failures;
            continue;
        }
        ::Sleep(500);
        UniqueServiceHandle service = OpenOrvel(SERVICE_STOP | SERVICE_QUERY_STATUS);
        SERVICE_STATUS status = {};
        const double begin = bench::NowMs();
        ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        const bool stopped = WaitServiceState(SERVICE_STOPPED, kWaitMs);
        const double end = bench::NowMs();
        if (!stopped) {
            ++failures;
            continue;
        }
        Print("stop_ms", end - begin);
        if (process) {
            ::WaitForSingleObject(process.get(), kWaitMs);
        }
    }
    return failures;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int restartRuns = argc > 1 ? std::max(0, _wtoi(argv[1])) : 15;
    const int stopRuns = argc > 2 ? std::max(0, _wtoi(argv[2])) : 7;
    const int idleRuns = argc > 3 ? std::max(0, _wtoi(argv[3])) : 3;
    const int idleSeconds = argc > 4 ? std::max(1, _wtoi(argv[4])) : 60;
    const int cycles = argc > 5 ? std::max(1, _wtoi(argv[5])) : 200;

    RemoveService();
    KillApps();
    ::DeleteFileW(InboxPath().c_str());
    ClearJournal();

    int failures = 0;
    Link link;
    const std::wstring serviceExe = std::wstring(kInstallFolder) + L"DemonService.exe";
    if (RunAndWait(serviceExe, L"-install") != 0u || !WaitServiceState(SERVICE_RUNNING, kWaitMs)) {
        std::printf("failures 1\n");
        return 1;
    }
    link.servicePid = ServiceStatus().dwProcessId;
    link.app = StartApp(&link.appPid);
    if (!link.app || !WaitConnected(link)) {
        std::printf("failures 1\n");
        RemoveService();
        KillApps();
        return 1;
    }

    failures += RestartPhase(link, restartRuns);
    IdlePhase(idleRuns, idleSeconds);

    // Breaks that are no crash: the client only reconnects.
    SetCorvaneKey(L"exit", L"1");
    failures += HandlePhase(link, cycles, false, "handles");
    failures += HandlePhase(link, cycles, true, "handles_replaced");
    SetCorvaneKey(L"exit", L"0");

    // The service stops while connected; it is started again for each run.
    {
        UniqueServiceHandle service = OpenOrvel(SERVICE_STOP | SERVICE_QUERY_STATUS);
        SERVICE_STATUS status = {};
        UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, link.servicePid));
        ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitServiceState(SERVICE_STOPPED, kWaitMs);
        if (process) {
            ::WaitForSingleObject(process.get(), kWaitMs);
        }
    }
    failures += StopPhase(link, stopRuns);

    RemoveService();
    KillApps();
    ::DeleteFileW(InboxPath().c_str());
    SetCorvaneKey(L"exit", nullptr);
    SetCorvaneKey(L"hibernating", nullptr);
    std::printf("failures %d\n", failures);
    return 0;
}
