#include "integration/DriverInstall.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

#include "base/AnsiText.h"
#include "base/DiagnosticLog.h"
#include "base/EventLog.h"
#include "base/OwnImagePath.h"
#include "base/SharedState.h"
#include "base/Win32Resources.h"
#include "integration/DriverInstallPlan.h"
#include "trust/InstallFolderRule.h"
#include "trust/ValidatedStart.h"

namespace {

constexpr char kCameraTag[] = "InstallCameraDriver";
constexpr char kDiskBridgeTag[] = "InstallBrisaDriveDriver";
constexpr char kScreenShareTag[] = "InstallSSDriver";
constexpr char kVirtualDriverTag[] = "InstallVirtualDriverBase";
constexpr wchar_t kOpenVerb[] = L"open";

#if defined(_WIN64)
static_assert(sizeof(SHELLEXECUTEINFOW) == 112, "SHELLEXECUTEINFOW of a 64-bit process");
#endif

// A check that could not even be asked (a path the builders refused) counts as a failed one.
constexpr int kNotChecked = ERROR_INVALID_PARAMETER;
// ShellExecuteW's results up to this value are errors.
constexpr int kShellExecuteErrorMax = 32;

// ShellExecuteW's instance value as a 32-bit integer: above 32 means the program was started.
int StartWithShellExecute(const InstallerStart& start)
{
    const HINSTANCE instance =
        ::ShellExecuteW(nullptr, kOpenVerb, start.program.c_str(), start.arguments.c_str(), nullptr, SW_HIDE);
    const int result = static_cast<int>(reinterpret_cast<INT_PTR>(instance));
    if (result <= kShellExecuteErrorMax) {
        ReportToEventLog(InstallerNotStartedEvent(start.path, InstallerProblem::StartFailed, result));
    }
    return result;
}

// 1 when started, 0 when not. No mask flags: no process handle comes back to be closed.
int StartWithShellExecuteEx(const InstallerStart& start)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = 0;
    info.hwnd = nullptr;
    info.lpVerb = kOpenVerb;
    info.lpFile = start.program.c_str();
    info.lpParameters = start.arguments.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!::ShellExecuteExW(&info)) {
        ReportToEventLog(InstallerNotStartedEvent(start.path, InstallerProblem::StartFailed,
                                                  static_cast<long>(::GetLastError())));
        return 0;
    }
    return 1;
}

void LogStart(const char* tag, const char* step, const InstallerStart& start, int result)
{
    const std::string line = DriverStartLogLine(step, ToAnsi(start.program), ToAnsi(start.arguments), result);
    LOG_TAGGED(tag, line.c_str());
}

} // namespace

void InstallCameraDriver()
{
    SharedState* service = SharedState::Get();
    if (service == nullptr) {
        return;
    }
    const std::optional<InstallerStart> remove = CameraRemoveStart(service->m_devconPath);
    const std::optional<InstallerStart> install = CameraInstallStart(service->m_devconPath, service->m_cameraInfPath);
    int answer = kNotChecked;
    TrustRefusal why = TrustRefusal::NotSigned;
    if (remove && install) {
        // devcon is checked once for both runs; the INF is devcon's to read, and the driver package it
        // installs lies beside the INF, so that folder must be as closed as devcon's.
        const std::wstring& inf = service->m_cameraInfPath;
        answer = ValidateThenStartInstaller(remove->path.c_str(), {FolderPartOf(inf)}, [&] {
            LogStart(kCameraTag, "remove", *remove, StartWithShellExecute(*remove));
            // Not waited for: the install run may begin before the remove run has ended.
            LogStart(kCameraTag, "install", *install, StartWithShellExecute(*install));
        }, &why);
    }
    if (answer != 0) {
        LOG_SERVICE("InstallCameraDriver ValidateAssembly result is fail");
        ReportToEventLog(InstallerNotStartedEvent(service->m_devconPath, InstallerProblem::NotValidated, answer, why));
    }
}

void InstallBrisaDriveDriver()
{
    SharedState* service = SharedState::Get();
    if (service == nullptr) {
        return;
    }
    const std::optional<InstallerStart> start = DiskBridgeStart(service->m_diskBridgePath);
    int answer = kNotChecked;
    TrustRefusal why = TrustRefusal::NotSigned;
    if (start) {
        const auto run = [&] { LogStart(kDiskBridgeTag, "install", *start, StartWithShellExecute(*start)); };
        answer = ValidateThenStartInstaller(start->path.c_str(), {}, run, &why);
    }
    if (answer != 0) {
        LOG_SERVICE("InstallBrisaDriveDriver ValidateAssembly result is fail");
        ReportToEventLog(InstallerNotStartedEvent(service->m_diskBridgePath, InstallerProblem::NotValidated, answer, why));
    }
}

void InstallSSDriver()
{
    LOG_TAGGED(kScreenShareTag, " start...");
    wchar_t folder[kServiceFolderChars] = {};
    GetOwnDirectory(folder);
    // Each run is checked and started on its own; the second does not wait for the first.
    InstallVirtualDriverBase(ScreenShareArguments(folder, false).c_str());
    InstallVirtualDriverBase(ScreenShareArguments(folder, true).c_str());
    LOG_TAGGED(kScreenShareTag, " end...");
}

void InstallCloudyDriver()
{
    wchar_t imagePath[kOwnImagePathChars] = {};
    GetOwnImagePath(imagePath);
    const std::optional<InstallerStart> start = CloudyDriverStart(imagePath);
    if (!start) {
        return;
    }
    // No bridge beside the service is nothing to report.
    if (!UniqueCrtFile(std::fopen(ToAnsi(start->path).c_str(), "rb"))) {
        return;
    }
    // The start's own result is not logged.
    TrustRefusal why = TrustRefusal::NotSigned;
    const int answer =
        ValidateThenStartInstaller(start->path.c_str(), {}, [&] { StartWithShellExecute(*start); }, &why);
    if (answer != 0) {
        LOG_SERVICE("InstallCloudyDriver ValidateAssembly fail");
        ReportToEventLog(InstallerNotStartedEvent(start->path, InstallerProblem::NotValidated, answer, why));
    }
}

bool InstallVirtualDriverBase(const wchar_t* arguments)
{
    wchar_t folder[kServiceFolderChars] = {};
    GetOwnDirectory(folder);
    const std::optional<InstallerStart> start =
        ScreenShareStart(folder, arguments != nullptr ? arguments : L"");
    int started = 0;
    int answer = kNotChecked;
    TrustRefusal why = TrustRefusal::NotSigned;
    if (start) {
        // The installer's own folder, and the service's folder that holds the drivers below it.
        answer = ValidateThenStartInstaller(start->path.c_str(), {folder}, [&] {
            started = StartWithShellExecuteEx(*start);
            // Every run logs "install", the uninstall run too.
            LogStart(kVirtualDriverTag, "install", *start, started);
        }, &why);
    }
    if (answer != 0) {
        LOG_SERVICE("InstallVirtualDriverBase ValidateAssembly result is fail");
        ReportToEventLog(InstallerNotStartedEvent(start ? start->path : std::wstring(folder), InstallerProblem::NotValidated, answer, why));
        return false;
    }
    return started != 0;
}

bool GetOwnDirectory(wchar_t* buffer)
{
    if (buffer == nullptr) {
        return false;
    }
    // A name that does not fit fails the query: it is refused, never cut into another folder.
    wchar_t imageName[kServiceFolderChars] = {};
    DWORD length = kServiceFolderChars;
    if (!::QueryFullProcessImageNameW(::GetCurrentProcess(), 0, imageName, &length) || imageName[0] == L'\0') {
        return false;
    }
    const std::wstring folder = OwnDirectoryOf(std::wstring(imageName, length));
    // The folder is never longer than the name, which fitted the same buffer with its terminator.
    std::wmemcpy(buffer, folder.c_str(), folder.size() + 1);
    return true;
}
