// The installed executable in Wine's service manager: install, start, pause, continue, stop, remove.

#include <gtest/gtest.h>

#include <cstdlib>

#include "ContextSandbox.h"
#include "ServiceManager.h"
#include "base/Win32Resources.h"

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

    std::wstring ServiceKey(const wchar_t* key) { return IniRead(profile.IniPath(), L"Service", key); }

    UserProfileSandbox profile;
};

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
    EXPECT_TRUE(WaitFor([this] { return ServiceKey(L"Debug") == L"1"; }, 5000));

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
