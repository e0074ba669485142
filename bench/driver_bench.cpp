// Figures of the driver installation, printed for bench/driver_bench.sh (never asserted).
//   driver_bench.exe <camera runs> <validation runs>
// Runs in a prefix laid out by scripts/sandbox.sh, from a folder holding Halvex.SignatureCheck.Native.dll
// (as the service's folder does). Phases, each printing "key value" lines:
//   validate: for each installer of the install folder, with the library already loaded, the time of
//             ValidateAssemblyFile alone (validate_ms) and of the check-then-start hold around it with
//             nothing started (held_validate_ms), one line per call;
//   camera:   the "Orvel" service installed and started, the stand-in application connected; per run,
//             from the stand-in's "send InstallCameraDriver" record (the write has returned) to the later
//             of the two devcon start records (camera_ms), and to the earlier one (camera_first_ms).
//             Both journals take GetTickCount64 of this prefix, in 1 ms steps.
// The service is removed and every instance of the stand-in ended at the end.

#include <windows.h>
#include <shlobj.h>
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
#include "link/SignatureValidator.h"
#include "link/ValidatedStart.h"

namespace {

constexpr wchar_t kInstallFolder[] = L"C:\\Program Files\\Corvane\\";
constexpr DWORD kWaitMs = 20000;
// The byte far beyond the data that the stand-ins lock while they append a record.
constexpr unsigned long long kJournalLockOffset = 1ULL << 40;

std::wstring Installed(const wchar_t* name) { return std::wstring(kInstallFolder) + name; }
std::wstring AppJournal() { return Installed(L"Corvane.journal"); }
std::wstring InstallerJournal()
{
    wchar_t common[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    return std::wstring(common) + L"\\OrvelStandIn\\DriverInstallers.journal";
}

bool Poll(const std::function<bool()>& done, DWORD timeoutMs)
{
    const ULONGLONG start = ::GetTickCount64();
    while (!done()) {
        if (::GetTickCount64() - start >= timeoutMs) {
            return false;
        }
        ::Sleep(2);
    }
    return true;
}

// The complete lines of a journal (a last line without its line end is still being written).
std::vector<std::string> JournalLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    const std::string text = bench::ReadWholeFile(path);
    std::size_t begin = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; begin = end + 1, end = text.find('\n', begin)) {
        lines.push_back(text.substr(begin, end - begin));
    }
    return lines;
}

ULONGLONG Tick(const std::string& line) { return std::strtoull(bench::JournalField(line, "tick").c_str(), nullptr, 10); }

// Empties a journal under the writers' lock, so that no record is cut.
void ClearJournal(const std::wstring& path)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    OVERLAPPED range = {};
    range.Offset = static_cast<DWORD>(kJournalLockOffset & 0xFFFFFFFFu);
    range.OffsetHigh = static_cast<DWORD>(kJournalLockOffset >> 32);
    if (file && ::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range)) {
        ::SetEndOfFile(file.get());
        ::UnlockFileEx(file.get(), 0, 1, 0, &range);
    }
}

bool AppendInbox(const std::string& steps)
{
    // No FILE_SHARE_DELETE: the stand-in takes the inbox by renaming it once the append is complete.
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

std::optional<DWORD> RunAndWait(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, kInstallFolder,
                          &startup, &process)) {
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

// Ends every process whose image is the stand-in application, and waits for them.
void KillApps()
{
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, L"Corvane.exe") == 0) {
            UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
            if (process && ::TerminateProcess(process.get(), 1)) {
                ::WaitForSingleObject(process.get(), 5000);
            }
        }
    }
}

UniqueServiceHandle OpenOrvel(DWORD access)
{
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return UniqueServiceHandle(manager ? ::OpenServiceW(manager.get(), L"Orvel", access) : nullptr);
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
    Poll([] { return !OpenOrvel(SERVICE_QUERY_STATUS); }, 10000);
}

void ValidatePhase(int runs)
{
    for (const wchar_t* name : {L"devcon.exe", L"CvDiskBridge.exe", L"drivers\\screenshare\\DisplayDriverSetup64.exe"}) {
        const std::wstring path = Installed(name);
        if (ValidateAssemblyFile(path.c_str()) != 0) {
            std::printf("failures 1\n");
            continue;
        }
        for (int run = 0; run < runs; ++run) {
            double start = bench::NowMs();
            const int plain = ValidateAssemblyFile(path.c_str());
            const double plainMs = bench::NowMs() - start;
            start = bench::NowMs();
            const int held = ValidateThenStart(path.c_str(), [] {});
            const double heldMs = bench::NowMs() - start;
            std::printf("validate_ms %.3f\nheld_validate_ms %.3f\n", plain == 0 ? plainMs : -1.0,
                        held == 0 ? heldMs : -1.0);
        }
    }
}

int CameraPhase(int runs)
{
    RemoveService();
    KillApps();
    ClearJournal(AppJournal());
    if (RunAndWait(Installed(L"DemonService.exe"), L"-install") != 0u ||
        !Poll([] { return ServiceStatus().dwCurrentState == SERVICE_RUNNING; }, kWaitMs)) {
        return runs;
    }
    const std::string servicePid = std::to_string(ServiceStatus().dwProcessId);
    std::wstring commandLine = L"\"" + Installed(L"Corvane.exe") + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(Installed(L"Corvane.exe").c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          kInstallFolder, &startup, &process)) {
        return runs;
    }
    UniqueHandle appThread(process.hThread);
    UniqueHandle app(process.hProcess);
    const bool connected = Poll(
        [&] {
            for (const std::string& line : JournalLines(AppJournal())) {
                if (bench::JournalField(line, "event") == "client-connected" &&
                    bench::JournalField(line, "client") == servicePid) {
                    return true;
                }
            }
            return false;
        },
        kWaitMs);
    if (!connected) {
        return runs;
    }
    // Run -1 is not counted: the client verifies the application after connecting, and the first
    // message waits for that.
    int failures = 0;
    for (int run = -1; run < runs; ++run) {
        ClearJournal(AppJournal());
        ClearJournal(InstallerJournal());
        AppendInbox("send InstallCameraDriver");
        ULONGLONG sent = 0;
        ULONGLONG firstStart = ~0ULL;
        ULONGLONG lastStart = 0;
        const bool done = Poll(
            [&] {
                int starts = 0;
                for (const std::string& line : JournalLines(InstallerJournal())) {
                    if (bench::JournalField(line, "event") == "start") {
                        ++starts;
                        firstStart = std::min(firstStart, Tick(line));
                        lastStart = std::max(lastStart, Tick(line));
                    }
                }
                for (const std::string& line : JournalLines(AppJournal())) {
                    if (bench::JournalField(line, "event") == "send") {
                        sent = Tick(line);
                    }
                }
                return starts >= 2 && sent != 0;
            },
            kWaitMs);
        if (!done) {
            failures += run >= 0 ? 1 : 0;
            continue;
        }
        if (run < 0) {
            continue;
        }
        std::printf("camera_ms %llu\ncamera_first_ms %llu\n", lastStart - sent, firstStart - sent);
        std::fflush(stdout);
    }
    RemoveService();
    KillApps();
    return failures;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int cameraRuns = argc > 1 ? std::max(0, _wtoi(argv[1])) : 15;
    const int validationRuns = argc > 2 ? std::max(1, _wtoi(argv[2])) : 50;
    ValidatePhase(validationRuns);
    const int failures = CameraPhase(cameraRuns);
    std::printf("failures %d\n", failures);
    return 0;
}
