// The installed executable in Wine's service manager: install, start, pause, continue, stop, remove.

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>

#include "ContextSandbox.h"
#include "ServiceEvents.h"
#include "ServiceManager.h"
#include "base/Win32Resources.h"
#include "base/EventLog.h"
#include "base/ProductVersion.h"

using namespace harness;

namespace {

class ServiceLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveOrvelIfPresent();
        ASSERT_FALSE(ServiceExists()) << "an earlier registration is still being removed";
        profile.EnableLog();
    }
    void TearDown() override { RemoveOrvelIfPresent(); }


    // Runs -status (or /status), expects its exit code and each of the given lines in what it printed.
    static void ExpectStatus(const wchar_t* argument, DWORD exitCode, std::initializer_list<std::string> lines)
    {
        const ServiceExeRun run = RunServiceExeForOutput(argument);
        EXPECT_EQ(run.exitCode, exitCode) << run.output;
        const std::string text = "\n" + run.output;
        for (const std::string& line : lines) {
            EXPECT_NE(text.find("\n" + line + "\r\n"), std::string::npos) << line << "\n" << run.output;
        }
    }

    UserProfileSandbox profile;
};

// The event source's value: its type and text (a number as its decimal text); nullopt when missing.
std::optional<std::pair<DWORD, std::wstring>> EventSourceValue(const wchar_t* name)
{
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = 0;
    BYTE data[2048] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, data, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    if (type == REG_DWORD) {
        return std::make_pair(type, std::to_wstring(*reinterpret_cast<const DWORD*>(data)));
    }
    return std::make_pair(type, std::wstring(reinterpret_cast<const wchar_t*>(data)));
}

// The information events' inserts since events began, in order.
std::vector<std::wstring> InformationInserts(const ServiceEvents& events)
{
    std::vector<std::wstring> inserts;
    for (const ReportedInsert& insert : events.Reported()) {
        if (insert.level == "trace") {
            inserts.push_back(insert.text);
        }
    }
    return inserts;
}

TEST_F(ServiceLifecycleTest, InstallSwitchesRegisterTheServiceAndStartIt)
{
    for (const wchar_t* argument : {L"-install", L"/install", L"-Install"}) {
        SCOPED_TRACE(ToUtf8(argument));
        EXPECT_EQ(RunServiceExe(argument), 0u);
        const std::optional<ServiceConfig> config = QueryServiceConfiguration();
        ASSERT_TRUE(config.has_value());
        EXPECT_EQ(config->serviceType, 0x110u);
        EXPECT_EQ(config->startType, static_cast<DWORD>(SERVICE_DEMAND_START));
        EXPECT_EQ(config->errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
        EXPECT_EQ(config->account, L"LocalSystem");
        EXPECT_EQ(config->imagePath, L"\"" + ServiceExePath() + L"\"");
        EXPECT_TRUE(WaitForServiceState(SERVICE_RUNNING, 10000));
        EXPECT_TRUE(WaitFor([this] { return CountLines(profile.LogText(), "DemonService  Run") == 1; }, 5000));
        RemoveOrvelIfPresent();
        ::DeleteFileW((profile.LogFolder() + L"\\" + profile.LogFiles().front()).c_str());
    }
}

TEST_F(ServiceLifecycleTest, OtherSpellingsRegisterNothing)
{
    for (const wchar_t* argument : {L"--install", L"-INSTALL", L"-installs", L"install", L"-restoreShortCut"}) {
        SCOPED_TRACE(ToUtf8(argument));
        EXPECT_EQ(RunServiceExe(argument), 0u);
        EXPECT_FALSE(ServiceExists());
    }
}

TEST_F(ServiceLifecycleTest, InstallingAgainKeepsTheRegistrationAndStartsAStoppedService)
{
    ASSERT_EQ(RunServiceExe(L"-install"), 0u);
    ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 10000));
    ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, 10000));

    EXPECT_EQ(RunServiceExe(L"-install"), 0u);
    EXPECT_TRUE(WaitForServiceState(SERVICE_RUNNING, 10000));
    EXPECT_EQ(QueryServiceConfiguration()->imagePath, L"\"" + ServiceExePath() + L"\"");
}

TEST_F(ServiceLifecycleTest, AStopStillPendingPastItsWaitHintIsNotStartedOverAndInstallReportsFailure)
{
    // "Orvel" registered as a stand-in whose stop stays pending (wait hint 500 ms, no progress) until the
    // event is set.
    UniqueHandle finishStop(::CreateEventW(nullptr, TRUE, FALSE, L"OrvelStandInFinishStop"));
    ASSERT_TRUE(finishStop.valid());
    {
        UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        const std::wstring image = L"\"" + TestDataFolder() + L"StuckService.exe\"";
        UniqueServiceHandle stuck(::CreateServiceW(manager.get(), L"Orvel", L"Orvel", SERVICE_ALL_ACCESS,
                                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                   SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr,
                                                   nullptr, nullptr));
        ASSERT_TRUE(stuck.valid());
    }
    ASSERT_TRUE(StartOrvel());
    ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 10000));
    ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForServiceState(SERVICE_STOP_PENDING, 10000));

    EXPECT_EQ(RunServiceExe(L"-install"), 1u);
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    ::SetEvent(finishStop.get());
    EXPECT_TRUE(WaitForServiceState(SERVICE_STOPPED, 10000));
}

TEST_F(ServiceLifecycleTest, PauseContinueAndStop)
{
    ASSERT_EQ(RunServiceExe(L"-install"), 0u);
    ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 10000));
    // The log opens with the service's first line, a moment after it reports RUNNING.
    EXPECT_TRUE(WaitFor([this] { return profile.ServiceKey(L"Debug") == L"1"; }, 5000));

    EXPECT_TRUE(SendServiceControl(SERVICE_CONTROL_PAUSE));
    EXPECT_TRUE(WaitForServiceState(SERVICE_PAUSED, 5000));
    EXPECT_TRUE(SendServiceControl(SERVICE_CONTROL_CONTINUE));
    EXPECT_TRUE(WaitForServiceState(SERVICE_RUNNING, 5000));

    EXPECT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
    EXPECT_TRUE(WaitForServiceState(SERVICE_STOPPED, 10000));
    ExpectStopKeys(profile.IniPath());
}

TEST_F(ServiceLifecycleTest, RemoveStopsAndDeletesAndNothingToRemoveIsFine)
{
    ASSERT_EQ(RunServiceExe(L"-install"), 0u);
    ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 10000));
    EXPECT_EQ(RunServiceExe(L"-remove"), 0u);
    EXPECT_TRUE(WaitFor([] { return !ServiceExists(); }, 10000, 200));
    EXPECT_EQ(RunServiceExe(L"/Remove"), 0u);
}

TEST_F(ServiceLifecycleTest, InstallRegistersTheEventSourceOverAStaleOneAndRemoveDeletesIt)
{
    ASSERT_TRUE(ServiceEvents::Capturing()) << "start the session with orvel_start_wine_session";
    // A registration left by an installation elsewhere is brought up to date.
    {
        UniqueRegKey stale;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                    stale.put(), nullptr),
                  ERROR_SUCCESS);
        const wchar_t old[] = L"C:\\Old\\DemonService.exe";
        ::RegSetValueExW(stale.get(), L"EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof(old));
    }
    const ServiceEvents events;
    ASSERT_EQ(RunServiceExe(L"-install"), 0u);
    EXPECT_EQ(EventSourceValue(L"EventMessageFile"), std::make_pair(DWORD{REG_EXPAND_SZ}, ServiceExePath()));
    EXPECT_EQ(EventSourceValue(L"TypesSupported"), std::make_pair(DWORD{REG_DWORD}, std::wstring(L"7")));
    ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 10000));
    // Started, then stopped by a control, each with the version; the log's marker plays no part.
    ::DeleteFileW((profile.LogFolder() + L"\\debug").c_str());
    EXPECT_TRUE(events.WaitFor("trace", {kProductVersion}));
    ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
    EXPECT_TRUE(events.WaitFor("trace", {kProductVersion, L"control"}));
    EXPECT_EQ(InformationInserts(events), (std::vector<std::wstring>{kProductVersion, kProductVersion, L"control"}));

    EXPECT_EQ(RunServiceExe(L"-remove"), 0u);
    EXPECT_FALSE(EventSourceValue(L"TypesSupported").has_value());
    EXPECT_EQ(RunServiceExe(L"-remove"), 0u);
}

TEST_F(ServiceLifecycleTest, AStartAfterARunThatNeverGotToItsStopReportsTheRecoveryAndOneAfterACleanStopDoesNot)
{
    constexpr wchar_t kRunMark[] = L"SYSTEM\\CurrentControlSet\\Services\\Orvel\\Running";
    const auto marked = [&] {
        UniqueRegKey key;
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunMark, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    };
    const ServiceEvents events;
    ASSERT_EQ(RunServiceExe(L"-install"), 0u);
    ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 10000));
    ASSERT_TRUE(events.WaitFor("trace", {kProductVersion}));
    EXPECT_TRUE(marked());
    {
        // The mark is volatile: it goes with the machine's restart, so a run that never reached its stop
        // counts as a recovery only until then. The registry refuses a lasting key below a volatile one.
        UniqueRegKey mark;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunMark, 0, KEY_CREATE_SUB_KEY, mark.put()), ERROR_SUCCESS);
        UniqueRegKey lasting;
        EXPECT_EQ(::RegCreateKeyExW(mark.get(), L"lasting", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr,
                                    lasting.put(), nullptr),
                  ERROR_CHILD_MUST_BE_VOLATILE);
    }
    ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, 10000));
    EXPECT_FALSE(marked());
    ASSERT_TRUE(StartOrvel());
    ASSERT_TRUE(events.WaitFor("trace", {L"control", kProductVersion}));
    ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(events.WaitFor("trace", {kProductVersion, L"control"}, 2));
    ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, 10000));
    EXPECT_EQ(InformationInserts(events), (std::vector<std::wstring>{kProductVersion, kProductVersion, L"control",
                                                                     kProductVersion, kProductVersion, L"control"}));

    // A run that ended without its stop leaves its mark (Wine's service manager does not reliably see a
    // killed service end, so the mark is left here as such a run leaves it): the next start is a recovery.
    {
        UniqueRegKey mark;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunMark, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr,
                                    mark.put(), nullptr),
                  ERROR_SUCCESS);
    }
    const ServiceEvents afterCrash;
    ASSERT_TRUE(StartOrvel());
    EXPECT_TRUE(afterCrash.WaitFor("trace", {kProductVersion, kProductVersion}));
    EXPECT_EQ(InformationInserts(afterCrash), (std::vector<std::wstring>{kProductVersion, kProductVersion}));
}

TEST_F(ServiceLifecycleTest, StatusTellsTheThreeStatesAndChangesNothing)
{
    const std::string dataDir = ToUtf8(profile.DataDir());
    const std::wstring friendlyName = AppExePath() + L".FriendlyAppName";
    const wchar_t muiCache[] = L"SOFTWARE\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache";
    RegistryValueGuard friendlyNameGuard(HKEY_CURRENT_USER, muiCache, friendlyName);
    friendlyNameGuard.Delete();
    profile.StoredAppData().Delete();
    RegistryValueGuard eventSource(HKEY_LOCAL_MACHINE,
                                   L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Orvel",
                                   L"EventMessageFile");
    eventSource.Set(L"C:\\Elsewhere\\DemonService.exe");
    ASSERT_TRUE(profile.SetCrashCount(L"3"));

    ExpectStatus(L"-status", 4,
                 {"service: not installed", "application path: C:\\Program Files\\Corvane\\Corvane.exe",
                  "application file: exists", "application signature: accepted", "data folder: " + dataDir,
                  "data folder from: the console user's profile",
                  "diagnostic log: on (" + dataDir + "\\logs\\debug exists)", "crash count: 3",
                  "Service.Running: not set (no file)",
                  "event source: registered, names C:\\Elsewhere\\DemonService.exe"});
    // Every other run remembers the user's folder, writes the friendly name and, with the marker there,
    // opens the day's log and writes "Service" keys.
    EXPECT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, L"AppData").has_value());
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, muiCache, friendlyName).has_value());
    EXPECT_TRUE(profile.LogFiles().empty());
    EXPECT_FALSE(PathExists(profile.IniPath()));

    ASSERT_EQ(RunServiceExe(L"-install"), 0u);
    ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, 10000));
    ASSERT_TRUE(WaitFor([this] { return profile.ServiceKey(L"Running") == L"1"; }, 5000));
    eventSource.Set(ServiceExePath());
    ExpectStatus(L"/status", 0,
                 {"service: running", "start type: demand start", "image path quoted: yes",
                  "image path names this executable: yes", "Service.Running: 1",
                  "event source: registered, names this executable"});
    EXPECT_EQ(RunServiceExeForOutput(L"-status").output.find("process id: none"), std::string::npos);

    ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, 10000));
    ExpectStatus(L"-status", 3,
                 {"service: stopped", "process id: none", "Service.Running: 0", "Service.Connected: Disconnected",
                  "crash count: 3"});
}

TEST_F(ServiceLifecycleTest, StatusOpensNoNetworkOrDevicePathThatTheUserNamesAndReportsTheRest)
{
    // Each folder is named so that any path operation on it shows in the trace of Wine's file calls.
    struct Named {
        const wchar_t* shellAppData;
        const wchar_t* storedAppData;
        std::string needle;
    };
    const Named named[] = {
        {L"\\\\orvel-unc-host\\share\\Roaming", nullptr, "orvel-unc-host"},
        {L"\\\\?\\C:\\orvel-device-probe\\Roaming", nullptr, "orvel-device-probe"},
        // Nobody's folder readable at the console: the one remembered in the install key.
        {nullptr, L"\\\\orvel-stored-host\\share\\Roaming", "orvel-stored-host"},
    };
    for (const Named& folder : named) {
        SCOPED_TRACE(folder.needle);
        for (auto [value, guard] : {std::make_pair(folder.shellAppData, &profile.ShellAppData()),
                                    std::make_pair(folder.storedAppData, &profile.StoredAppData())}) {
            if (value != nullptr) {
                guard->Set(value);
            } else {
                guard->Delete();
            }
        }
        const TracedServiceExeRun run = RunServiceExeTraced(L"-status");
        EXPECT_EQ(run.exitCode, 4u) << run.output;
        const std::string text = "\n" + run.output;
        for (const char* line : {"service: not installed\r\n", "application signature: accepted\r\n",
                                 "settings not read: the data folder is refused (a network or device path)\r\n",
                                 "event source: "}) {
            EXPECT_NE(text.find("\n" + std::string(line)), std::string::npos) << line << "\n" << run.output;
        }
        // The trace shows the run's own file calls, and none on the folder that the user named.
        EXPECT_NE(run.trace.find("DemonService.exe"), std::string::npos);
        const std::size_t opened = run.trace.find(folder.needle);
        EXPECT_EQ(opened, std::string::npos) << run.trace.substr(run.trace.rfind('\n', opened) + 1, 400);
    }
}

TEST_F(ServiceLifecycleTest, StartedOutsideTheServiceManagerItLeavesAPanicEntry)
{
    TempFolder appData(L"panic-appdata");
    const char* previous = std::getenv("APPDATA");
    const std::string saved = previous != nullptr ? previous : "";
    _putenv_s("APPDATA", ToUtf8(appData.Path()).c_str());
    const std::optional<DWORD> exitCode = RunServiceExe(L"");
    _putenv_s("APPDATA", saved.c_str());

    EXPECT_EQ(exitCode, 0u);
    const std::string panic = ReadFileBytes(appData / L"Corvane\\logs\\service_panic.log");
    EXPECT_NE(panic.find("=====StartServiceCtrlDispatcher fail"), std::string::npos) << panic;
}

} // namespace
