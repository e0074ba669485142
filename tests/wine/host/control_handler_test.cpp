// The control handler called directly: the service manager refuses to send power and session events.

#include <gtest/gtest.h>

#include <windows.h>
#include <pbt.h>
#include <wtsapi32.h>

#include <thread>

#include "ContextSandbox.h"
#include "base/DiagnosticLog.h"
#include "host/ServiceControl.h"
#include "base/ServiceStatus.h"

using namespace harness;

namespace {

class ControlHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateFolders(profile.DataDir());
        profile.EnableLog();
        InitServiceStatus();
        ReportServiceStatus(SERVICE_RUNNING, kRunningWaitHint);
        g_running = 1;
    }
    void TearDown() override { g_running = 0; }


    UserProfileSandbox profile;
    DemonService* service = FreshContext();
};

TEST_F(ControlHandlerTest, PauseAndContinueChangeOnlyTheReportedState)
{
    EXPECT_EQ(ServiceCtrlHandler(SERVICE_CONTROL_PAUSE, 0, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(CurrentServiceState(), static_cast<DWORD>(SERVICE_PAUSED));
    EXPECT_EQ(g_serviceStatus.dwWaitHint, 9000u);
    EXPECT_EQ(g_running, 1);
    ServiceCtrlHandler(SERVICE_CONTROL_CONTINUE, 0, nullptr, nullptr);
    EXPECT_EQ(CurrentServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE, 0, nullptr, nullptr);
    EXPECT_EQ(CurrentServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(g_serviceStatus.dwWaitHint, 0u);
    EXPECT_EQ(g_serviceStatus.dwControlsAccepted, 0xC7u);
    EXPECT_EQ(g_serviceStatus.dwServiceType, 0x30u);
}

TEST_F(ControlHandlerTest, StopClearsTheRunFlagResetsTheKeysAndReportsStopped)
{
    LogMessage("DemonService", "running", "f.cpp", 1);
    ASSERT_EQ(profile.ServiceKey(L"Debug"), L"1");
    ServiceCtrlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
    EXPECT_EQ(g_running, 0);
    EXPECT_EQ(CurrentServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(service->m_status, kStatusStopping);
    ExpectStopKeys(profile.IniPath());
}

TEST_F(ControlHandlerTest, TwoStopsAtOnceAreSafe)
{
    std::thread other([] { StopService(); });
    ServiceCtrlHandler(SERVICE_CONTROL_SHUTDOWN, 0, nullptr, nullptr);
    other.join();
    EXPECT_EQ(CurrentServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(profile.ServiceKey(L"Connected"), L"Disconnected");
}

TEST_F(ControlHandlerTest, SuspendWritesHibernatingResumeDoesNothing)
{
    ServiceCtrlHandler(SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND, nullptr, nullptr);
    EXPECT_EQ(profile.ServiceKey(L"hibernating"), L"1");

    IniWrite(profile.IniPath(), L"Service", L"hibernating", L"0");
    ServiceCtrlHandler(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMESUSPEND, nullptr, nullptr);
    ServiceCtrlHandler(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC, nullptr, nullptr);
    EXPECT_EQ(profile.ServiceKey(L"hibernating"), L"0");
    EXPECT_EQ(CurrentServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ControlHandlerTest, SessionChangeReadsRestartWhateverItsEventType)
{
    // Event types 4 and 7 of a session change are not power events: no suspend path.
    for (DWORD eventType : {WTS_REMOTE_DISCONNECT, WTS_SESSION_LOCK, WTS_SESSION_LOGON}) {
        ServiceCtrlHandler(SERVICE_CONTROL_SESSIONCHANGE, eventType, nullptr, nullptr);
    }
    EXPECT_EQ(profile.ServiceKey(L"hibernating"), harness::kMissing);
    EXPECT_EQ(CountLines(profile.LogText(), "SERVICE_CONTROL_SESSIONCHANGE Restart not 2"), 3);
    // The reload after a session change tells the application the service runs.
    EXPECT_EQ(profile.ServiceKey(L"Running"), L"1");

    IniWrite(profile.IniPath(), L"Corvane", L"Restart", L"2");
    ServiceCtrlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_UNLOCK, nullptr, nullptr);
    EXPECT_EQ(CountLines(profile.LogText(), "SERVICE_CONTROL_SESSIONCHANGE Restart 2"), 1);
}

TEST_F(ControlHandlerTest, AfterASwitchOfConsoleUserTheLinesGoToTheNewUsersLogOnly)
{
    LogMessage("DemonService", "the first user's line", "f.cpp", 1);
    TempFolder next(L"next-user");
    const std::wstring nextLogs = next / L"Corvane\\logs";
    CreateFolders(nextLogs);
    WriteFileBytes(nextLogs + L"\\debug", "");
    const auto nextLogText = [&] {
        for (const std::wstring& name : ListFolder(nextLogs)) {
            if (name != L"debug") {
                return ReadFileBytes(nextLogs + L"\\" + name);
            }
        }
        return std::string();
    };

    profile.ShellAppData().Set(next.Path());
    ServiceCtrlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, nullptr, nullptr);
    LogMessage("DemonService", "the next user's line", "f.cpp", 2);
    const std::string firstLog = profile.LogText();
    EXPECT_EQ(CountLines(firstLog, "the first user's line"), 1);
    EXPECT_EQ(CountLines(firstLog, "SERVICE_CONTROL_SESSIONCHANGE"), 0);
    EXPECT_EQ(CountLines(firstLog, "the next user's line"), 0);
    EXPECT_EQ(CountLines(nextLogText(), "SERVICE_CONTROL_SESSIONCHANGE Restart not 2"), 1);
    EXPECT_EQ(CountLines(nextLogText(), "the next user's line"), 1);
    EXPECT_EQ(IniRead(next / L"Corvane\\BrisaRDP.ini", L"Service", L"Running"), L"1");

    // Nobody's folder can be had: the last user's paths and log go, and no line lands in either log.
    profile.ShellAppData().Delete();
    ServiceCtrlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGOFF, nullptr, nullptr);
    LogMessage("DemonService", "nobody's line", "f.cpp", 3);
    EXPECT_TRUE(service->IniPath().empty());
    EXPECT_EQ(CountLines(nextLogText(), "SERVICE_CONTROL_SESSIONCHANGE"), 1);
    EXPECT_EQ(CountLines(nextLogText() + profile.LogText(), "nobody's line"), 0);
}

} // namespace
