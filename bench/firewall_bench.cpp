// Figures of the firewall request under Wine, printed for bench/firewall_bench.sh (never asserted).
//   firewall_bench.exe <runs>
// Runs in a prefix laid out by scripts/sandbox.sh (the stand-in rule store registered, the plug-in
// installed), installs and starts the "Orvel" service, starts the installed stand-in Corvane.exe and has
// it write "OpenFireWall:1" into the pipe once per run. Per run it prints open_ms: from the stand-in's
// journal record of that write to the moment the store holds the last of the eight new rules (the
// store's keys are polled every 2 ms; ticks of one clock, 1 ms steps; the rules of the run before are
// marked with a value of the bench's own so that they are not counted). The first run,
// which also waits for the service to verify the application, is not counted. The service is removed and
// the stand-in ended at the end.

#include <windows.h>

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
constexpr wchar_t kRulesKey[] = L"Software\\OrvelStandIn\\FirewallRules";
constexpr wchar_t kStoreRoot[] = L"Software\\OrvelStandIn";
constexpr char kRequest[] = "OpenFireWall:1";
// A restricted request: four rules for the application and four for its plug-in.
constexpr std::size_t kRulesPerRequest = 8;
constexpr DWORD kWaitMs = 20000;
constexpr DWORD kMaxKeyNameChars = 64;
constexpr DWORD kPollStepMs = 2;
// Put on the rules that were there before a request, so that its new rules can be told apart.
constexpr wchar_t kSeenMark[] = L"SeenByBench";

std::wstring Installed(const wchar_t* name) { return std::wstring(kInstallFolder) + name; }

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

// The ticks of the stand-in's "send" records of the request, and whether the service's client is connected.
std::vector<ULONGLONG> SendTicks()
{
    std::vector<ULONGLONG> ticks;
    const std::string text = bench::ReadWholeFile(Installed(L"Corvane.journal"));
    std::size_t begin = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; begin = end + 1, end = text.find('\n', begin)) {
        const std::string line = text.substr(begin, end - begin);
        if (bench::JournalField(line, "event") == "send" && bench::JournalField(line, "arg") == kRequest &&
            bench::JournalField(line, "result") == "ok") {
            ticks.push_back(std::strtoull(bench::JournalField(line, "tick").c_str(), nullptr, 10));
        }
    }
    return ticks;
}

bool Connected(DWORD servicePid)
{
    const std::string text = bench::ReadWholeFile(Installed(L"Corvane.journal"));
    return text.find("event=client-connected\tclient=" + std::to_string(servicePid) + "\t") != std::string::npos;
}

bool AppendInbox(const std::string& steps)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        UniqueFileHandle file(::CreateFileW(Installed(L"Corvane.inbox").c_str(), FILE_APPEND_DATA,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
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

// The complete stored rules ("Enabled" is the last value the store writes) that the bench has not marked
// as seen. Each rule has its own key; the store may reuse a key name once every rule is gone.
std::size_t CountNewRules(bool markSeen)
{
    std::size_t count = 0;
    UniqueRegKey rules;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRulesKey, 0, KEY_READ | KEY_SET_VALUE, rules.put()) != ERROR_SUCCESS) {
        return count;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[kMaxKeyNameChars] = {};
        DWORD length = kMaxKeyNameChars;
        if (::RegEnumKeyExW(rules.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        DWORD value = 0;
        DWORD size = sizeof(value);
        const bool complete = ::RegGetValueW(rules.get(), name, L"Enabled", RRF_RT_REG_DWORD, nullptr, &value,
                                             &size) == ERROR_SUCCESS;
        size = sizeof(value);
        const bool seen = ::RegGetValueW(rules.get(), name, kSeenMark, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
                          ERROR_SUCCESS;
        if (complete && !seen) {
            ++count;
            if (markSeen) {
                const DWORD one = 1;
                ::RegSetKeyValueW(rules.get(), name, kSeenMark, REG_DWORD, &one, sizeof(one));
            }
        }
    }
    return count;
}

// ---- The service ----------------------------------------------------------------------------------------

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

void RemoveService()
{
    UniqueServiceHandle service = OpenOrvel(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) {
        return;
    }
    SERVICE_STATUS status = {};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    Poll([] { return ServiceStatus().dwCurrentState == SERVICE_STOPPED; }, 10000);
    ::DeleteService(service.get());
    service.reset();
    Poll([] { return !OpenOrvel(SERVICE_QUERY_STATUS); }, 10000, 50);
}

UniqueHandle Start(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, kInstallFolder,
                          &startup, &process)) {
        return UniqueHandle();
    }
    UniqueHandle thread(process.hThread);
    return UniqueHandle(process.hProcess);
}

// One request: the time from its write to the last new rule stored, or nullopt when either never came.
std::optional<ULONGLONG> OneRequest()
{
    CountNewRules(true);
    const std::size_t sent = SendTicks().size();
    if (!AppendInbox(std::string("send ") + kRequest)) {
        return std::nullopt;
    }
    ULONGLONG stored = 0;
    const bool complete = Poll(
        [&] {
            const std::size_t added = CountNewRules(false);
            stored = ::GetTickCount64();
            return added >= kRulesPerRequest;
        },
        kWaitMs, kPollStepMs);
    std::vector<ULONGLONG> ticks;
    if (!complete || !Poll([&] { ticks = SendTicks(); return ticks.size() > sent; }, kWaitMs)) {
        std::fprintf(stderr, "no complete rule set (%u new rules stored) or no journaled send (%u) within %lu ms\n",
                     static_cast<unsigned>(CountNewRules(false)), static_cast<unsigned>(ticks.size()),
                     kWaitMs);
        return std::nullopt;
    }
    return stored - ticks[sent];
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 15;
    RemoveService();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStoreRoot);
    ::DeleteFileW(Installed(L"Corvane.journal").c_str());
    ::DeleteFileW(Installed(L"Corvane.inbox").c_str());

    UniqueHandle install = Start(Installed(L"DemonService.exe"), L"-install");
    ::WaitForSingleObject(install.get(), kWaitMs);
    if (!Poll([] { return ServiceStatus().dwCurrentState == SERVICE_RUNNING; }, kWaitMs)) {
        std::fprintf(stderr, "the service did not start\n");
        return 1;
    }
    const DWORD servicePid = ServiceStatus().dwProcessId;
    UniqueHandle app = Start(Installed(L"Corvane.exe"), L"");
    int failures = 0;
    if (!app || !Poll([servicePid] { return Connected(servicePid); }, kWaitMs)) {
        std::fprintf(stderr, "the service did not connect to the application\n");
        failures = runs;
    }
    for (int run = 0; run <= runs && failures < runs; ++run) {
        const std::optional<ULONGLONG> ms = OneRequest();
        if (!ms) {
            ++failures;
        } else if (run > 0) {
            std::printf("open_ms %llu\n", *ms);
            std::fflush(stdout);
        }
    }
    std::printf("failures %d\n", failures);
    // The service goes first, so that the application's end is no crash to restart.
    RemoveService();
    ::TerminateProcess(app.get(), 0);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStoreRoot);
    return 0;
}
