// The supporter's -status report: what the service manager, the registry and the user's data folder say
// about this installation, read and printed, nothing changed.

#include "host/StatusSwitch.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "base/ConsoleUser.h"
#include "base/DiagnosticLog.h"
#include "base/EventLog.h"
#include "base/InstallPaths.h"
#include "base/LogFormat.h"
#include "base/OwnImagePath.h"
#include "base/RegistryText.h"
#include "base/ServiceStatus.h"
#include "base/SettingsFile.h"
#include "base/UserFolderAccess.h"
#include "base/Win32Resources.h"
#include "host/StatusText.h"
#include "supervision/CrashCount.h"
#include "supervision/CrashCountPlan.h"
#include "trust/FolderAccessList.h"
#include "trust/InstallFolderRule.h"
#include "trust/SignatureValidator.h"

namespace {

static_assert(SERVICE_STOPPED == 1 && SERVICE_RUNNING == 4 && SERVICE_PAUSED == 7, "state numbers of StatusText");
static_assert(SERVICE_DEMAND_START == 3 && SERVICE_DISABLED == 4, "start type numbers of StatusText");
static_assert(SC_ACTION_RESTART == 1 && SC_ACTION_RUN_COMMAND == 3, "action numbers of StatusText");
static_assert(ERROR_ACCESS_DENIED == 5, "the error StatusText calls access denied");

constexpr DWORD kIniTextChars = 128;

// The keys of section "Service" that tell how far the service and its pipe client came.
constexpr const wchar_t* kProgressKeys[] = {L"Running", L"StartClient", L"CDemonServiceClient", L"Client_run",
                                            L"Connected"};

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], length, nullptr, nullptr);
    return result;
}

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty()) {
        return std::wstring();
    }
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &result[0], length);
    return result;
}

// Lines go to a console as wide text, to a file or pipe as UTF-8.
void Print(const std::string& name, const std::string& value)
{
    const std::string line = StatusLine(name, value);
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(output, &mode)) {
        const std::wstring wide = Wide(line);
        ::WriteConsoleW(output, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        ::WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

void Print(const std::string& name, const std::wstring& value) { Print(name, Utf8(value)); }

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return !a.empty() && ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// "exists", "missing", or why it could not be told.
std::string FileState(const std::wstring& path)
{
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return "exists";
    }
    const DWORD error = ::GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? "missing" : ReadFailureText(error);
}

// What stands in a report line for a folder or file that could not be held or opened: "missing", a
// refusal, or the failure.
std::string HeldFailureText(DWORD error)
{
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return "missing";
    }
    return error == kHeldPathRefused ? "refused: a link, or not the plain one meant" : ReadFailureText(error);
}

// A file in a held folder: "exists" when it opens with access as a plain file (a link is opened itself,
// never followed), else as HeldFailureText says. In a folder that could not be held, that folder's state.
std::string HeldFileState(const std::string& folderState, const std::wstring& path, DWORD access)
{
    if (!folderState.empty()) {
        return folderState;
    }
    const UniqueFileHandle file =
        OpenPlainFile(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    return file ? std::string("exists") : HeldFailureText(::GetLastError());
}

// Holds a direct child of the chain's last folder: empty when held, else what stands for it.
std::string HoldChildOrWhyNot(HeldFolderChain& folders, const std::wstring& folder)
{
    return folders.HoldChild(folder, false) ? std::string() : HeldFailureText(::GetLastError());
}

// The service manager's view. Returns the current state, nullopt when not installed or unreadable.
std::optional<std::uint32_t> ReportServiceManager(const std::wstring& ownImage)
{
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        Print("service", ReadFailureText(::GetLastError()));
        return std::nullopt;
    }
    UniqueServiceHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD error = ::GetLastError();
        Print("service", error == ERROR_SERVICE_DOES_NOT_EXIST ? "not installed" : ReadFailureText(error));
        return std::nullopt;
    }
    std::optional<std::uint32_t> state;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                               &needed)) {
        state = status.dwCurrentState;
        Print("service", ServiceStateText(status.dwCurrentState));
        Print("process id", status.dwProcessId != 0 ? std::to_string(status.dwProcessId) : std::string("none"));
    } else {
        Print("service", ReadFailureText(::GetLastError()));
    }

    UniqueServiceHandle config(::OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG));
    const DWORD configOpenError = config ? ERROR_SUCCESS : ::GetLastError();
    std::vector<BYTE> buffer;
    if (config) {
        ::QueryServiceConfigW(config.get(), nullptr, 0, &needed);
        buffer.resize(needed + sizeof(QUERY_SERVICE_CONFIGW));
    }
    if (!config || !::QueryServiceConfigW(config.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                          static_cast<DWORD>(buffer.size()), &needed)) {
        const std::string why = ReadFailureText(config ? ::GetLastError() : configOpenError);
        Print("start type", why);
        Print("image path", why);
    } else {
        const auto* record = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
        const std::wstring imagePath = record->lpBinaryPathName != nullptr ? record->lpBinaryPathName : L"";
        Print("start type", StartTypeText(record->dwStartType));
        Print("image path", imagePath);
        Print("image path quoted", ImagePathQuotingText(ClassifyImagePath(imagePath)));
        Print("image path names this executable",
              SamePath(ImagePathExecutable(imagePath), ownImage) ? std::string("yes")
                                                                  : "no (this is " + Utf8(ownImage) + ")");
    }

    // The failure actions need a second call with the size the first one asks for.
    bool recoveryRead = false;
    DWORD recoveryError = configOpenError;
    if (config) {
        ::QueryServiceConfig2W(config.get(), SERVICE_CONFIG_FAILURE_ACTIONS, nullptr, 0, &needed);
        std::vector<BYTE> actions(needed + sizeof(SERVICE_FAILURE_ACTIONSW));
        if (::QueryServiceConfig2W(config.get(), SERVICE_CONFIG_FAILURE_ACTIONS, actions.data(),
                                   static_cast<DWORD>(actions.size()), &needed)) {
            const auto* record = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(actions.data());
            std::vector<std::pair<std::uint32_t, std::uint32_t>> list;
            for (DWORD i = 0; i < record->cActions && record->lpsaActions != nullptr; ++i) {
                list.emplace_back(record->lpsaActions[i].Type, record->lpsaActions[i].Delay);
            }
            Print("recovery actions", RecoveryActionsText(record->dwResetPeriod, list));
            recoveryRead = true;
        } else {
            recoveryError = ::GetLastError();
        }
    }
    if (!recoveryRead) {
        Print("recovery actions", ReadFailureText(recoveryError));
    }
    return state;
}

// The installer's "path": the application, whether it is there and whether the pipe would trust it.
void ReportApplication(HKEY installKey, const std::wstring& ownImage)
{
    std::optional<std::wstring> pathValue;
    std::optional<std::wstring> resourceFileValue;
    if (std::optional<RegistryText> path = ReadRegistryText(installKey, L"path")) {
        pathValue = path->text;
    }
    const InstallPaths install = ResolveInstallPaths(pathValue, resourceFileValue, ownImage);
    if (pathValue) {
        Print("application path", *pathValue);
    } else {
        Print("application path", "not set in the install key; the service takes " + Utf8(install.appPath));
    }
    const std::wstring& appPath = install.appPath;
    const std::string fileState = FileState(appPath);
    Print("application file", fileState);
    if (fileState != "exists") {
        Print("application signature", "not checked");
        return;
    }
    // The pipe's own tests for its server's file: it lies in the install folder, no ordinary user may write
    // to that folder, and the validation library accepts it.
    if (!IsInInstallFolder(appPath, appPath)) {
        Print("application signature", "refused: not a plain path in the install folder");
        return;
    }
    const std::string writable = UserWriteRefusal(FolderPartOf(appPath));
    if (!writable.empty()) {
        Print("application signature", "refused: " + writable);
        return;
    }
    const int verdict = ValidateAssemblyFile(appPath.c_str());
    if (verdict == 0) {
        Print("application signature", "accepted");
    } else if (verdict == kValidatorUnavailable) {
        Print("application signature", "refused (result 6: the validation library is unusable or refuses it)");
    } else {
        Print("application signature", "refused (result " + std::to_string(verdict) + ")");
    }
}

// The console user's SID: from the user token as the service takes it (only LocalSystem may), else by the
// session's account name, which any caller may look up.
std::optional<std::wstring> ConsoleUserSid()
{
    if (std::optional<std::wstring> sid = ReadConsoleUserSid()) {
        return sid;
    }
    return LookUpConsoleUserSid();
}

// The data folder the service would use: the console user's, else the one remembered in the install key.
// Returns the roaming folder it lies in, as read (empty when there is none).
std::wstring ReportDataFolder(HKEY installKey, const ConsoleSession& session)
{
    std::string consoleFailure = "nobody at the console";
    if (!session.user.empty()) {
        long error = ERROR_NO_SUCH_USER;
        std::optional<RegistryText> appData;
        if (std::optional<std::wstring> sid = ConsoleUserSid()) {
            appData = ReadShellFoldersAppData(*sid, &error);
        }
        if (appData && !appData->text.empty()) {
            Print("data folder", DataDirFor(appData->text));
            Print("data folder from", "the console user's profile");
            return appData->text;
        }
        consoleFailure = "the console user's folder could not be read: " + ReadFailureText(static_cast<DWORD>(error));
    }
    std::optional<RegistryText> stored = installKey != nullptr ? ReadRegistryText(installKey, L"AppData")
                                                               : std::nullopt;
    if (stored && !stored->text.empty()) {
        Print("data folder", DataDirFor(stored->text));
        Print("data folder from", "the install key's AppData (" + consoleFailure + ")");
        return stored->text;
    }
    Print("data folder", "unknown (" + consoleFailure + ", and none remembered in the install key)");
    return std::wstring();
}

void ReportUserFiles(const std::wstring& appData)
{
    if (appData.empty()) {
        return;
    }
    // The user's files are read with the user's rights, as the service reads them: a link planted there
    // shows nothing the user could not read himself. Only a LocalSystem caller has anything to take on;
    // an administrator's run, elevated or as another user, opens nothing there at all (a folder that the
    // user named could send the administrator's logon to a host the user chose).
    ConsoleUserImpersonation user;
    if (user.identity() == UserFolderIdentity::OtherCaller) {
        Print("settings not read", "run as the console user, not elevated");
        return;
    }
    if (!user.allowed()) {
        Print("settings file", "unavailable (the console user's rights could not be taken on)");
        return;
    }
    // The service's own rule comes before anything is opened there, and every file is looked at in
    // folders held from the user's profile folder down, as the service reads and writes them.
    const FolderRefusal refusal = CheckUserFolder(appData);
    if (refusal != FolderRefusal::None) {
        Print("settings not read", std::string("the data folder is refused (") + FolderRefusalReason(refusal) + ")");
        return;
    }
    HeldFolderChain folders = user.HoldFolder(appData);
    if (!folders.valid()) {
        Print("settings not read", Utf8(appData) + " (" + HeldFailureText(::GetLastError()) + ")");
        return;
    }
    const std::wstring dataDir = DataDirFor(appData);
    const std::wstring iniPath = IniPathFor(dataDir);
    const std::wstring logFolder = LogFolderOf(dataDir);
    const std::string dataFolderState = HoldChildOrWhyNot(folders, dataDir);
    const std::string logFolderState =
        dataFolderState.empty() ? HoldChildOrWhyNot(folders, logFolder) : dataFolderState;

    Print("settings file", Utf8(iniPath) + " (" + HeldFileState(dataFolderState, iniPath, FILE_READ_ATTRIBUTES) + ")");

    const std::wstring marker = logFolder + L"\\debug";
    const std::string markerState = HeldFileState(logFolderState, marker, FILE_READ_ATTRIBUTES);
    if (markerState == "exists") {
        Print("diagnostic log", "on (" + Utf8(marker) + " exists)");
    } else if (markerState == "missing") {
        Print("diagnostic log", "off (an empty file " + Utf8(marker) + " switches it on)");
    } else {
        Print("diagnostic log", markerState);
    }
    const std::wstring todaysLog = logFolder + L"\\" + LogFileName(LocalLogTime());
    const std::string logState = HeldFileState(logFolderState, todaysLog, FILE_READ_ATTRIBUTES);
    Print("today's log file", Utf8(todaysLog) + " (" + (logState == "missing" ? "not written" : logState) + ")");

    const std::string settingsState = HeldFileState(dataFolderState, iniPath, GENERIC_READ);
    for (const wchar_t* key : kProgressKeys) {
        const std::string name = "Service." + Utf8(key);
        if (settingsState != "exists") {
            Print(name, settingsState == "missing" ? std::string("not set (no file)") : settingsState);
            continue;
        }
        const std::wstring text = ReadIniText(iniPath, kServiceSection, key, kIniTextChars);
        Print(name, !text.empty() ? Utf8(text) : std::string("not set"));
    }

    const std::string counterState = HeldFileState(dataFolderState, CrashCounterPathFor(iniPath), GENERIC_READ);
    int crashes = 0;
    if (counterState != "exists" && counterState != "missing") {
        Print("crash count", counterState);
    } else if (ReadCrashCountAt(iniPath, &crashes)) {
        Print("crash count", std::to_string(crashes));
    } else {
        Print("crash count", "0 (none counted)");
    }
}

void ReportEventSource(const std::wstring& ownImage)
{
    UniqueRegKey source;
    const LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_QUERY_VALUE, source.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        Print("event source", "not registered");
        return;
    }
    if (opened != ERROR_SUCCESS) {
        Print("event source", ReadFailureText(static_cast<DWORD>(opened)));
        return;
    }
    std::optional<RegistryText> file = ReadRegistryText(source.get(), L"EventMessageFile");
    if (!file || file->text.empty()) {
        Print("event source", "registered without a message file");
        return;
    }
    wchar_t expanded[kOwnImagePathChars] = {};
    const DWORD chars = ::ExpandEnvironmentStringsW(file->text.c_str(), expanded, kOwnImagePathChars);
    const std::wstring named = (chars > 0 && chars <= kOwnImagePathChars) ? std::wstring(expanded) : file->text;
    Print("event source", SamePath(named, ownImage) ? std::string("registered, names this executable")
                                                     : "registered, names " + Utf8(named));
}

} // namespace

int RunStatusSwitch()
{
    wchar_t ownImage[kOwnImagePathChars] = {};
    GetOwnImagePath(ownImage);

    const std::optional<std::uint32_t> state = ReportServiceManager(ownImage);

    UniqueRegKey installKey;
    const LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_QUERY_VALUE, installKey.put());
    if (opened == ERROR_SUCCESS || opened == ERROR_FILE_NOT_FOUND) {
        ReportApplication(installKey.get(), ownImage);
    } else {
        Print("application path", ReadFailureText(static_cast<DWORD>(opened)));
    }

    const ConsoleSession session = ReadConsoleSession();
    if (session.user.empty()) {
        Print("console user", "nobody");
    } else {
        const std::wstring account = session.domain.empty() ? session.user : session.domain + L"\\" + session.user;
        Print("console user", Utf8(account) + " (session " + std::to_string(session.id) + ")");
    }
    ReportUserFiles(ReportDataFolder(installKey.get(), session));
    ReportEventSource(ownImage);
    return StatusExitCode(state);
}
