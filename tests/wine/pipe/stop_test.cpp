// Ending the link: the application's "hibernate" and "stop_for_update", and a service stop while the
// client waits in its read.

#include "PipeFixture.h"

using namespace pipe_test;
using harness::Field;
using harness::JournalRecord;

namespace {

class StopTest : public ServiceLinkTest {
protected:
    UniqueHandle OpenServiceProcess() const
    {
        UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, servicePid));
        EXPECT_TRUE(process.valid());
        return process;
    }
};

TEST_F(StopTest, AfterHibernateTheClientReadsOnUntilThePipeBreaksThenEndsAndANewClientStarts)
{
    StartService();
    DWORD appId = 0;
    UniqueHandle sleeping = StartVerifiedApp(&appId);

    // Each message is sent once the one before it has been read (two writes before a read arrive as one
    // text), and the pipe breaks once "ping" has been read.
    ASSERT_TRUE(app.AppendInbox(L"send hibernate"));
    ASSERT_TRUE(WaitLogged(kClientTag, "hibernate"));
    ASSERT_TRUE(app.AppendInbox(L"send ping"));
    ASSERT_TRUE(WaitLogged(kClientTag, "ping"));
    ASSERT_TRUE(app.AppendInbox(L"quit"));
    ASSERT_TRUE(WaitLogged(kServiceTag, "StartClient", 2));
    std::vector<std::string> readOn = MessagesFrom(kClientTag, "hibernate");
    readOn.resize(3);
    EXPECT_EQ(readOn, (std::vector<std::string>{"hibernate", "ping", "ReadFile fail"}));
    const std::vector<std::string> restart = MessagesFrom(kServiceTag, "OnClientThreadExit");
    ASSERT_GE(restart.size(), 3u);
    EXPECT_EQ(restart[1], "m_status=1");
    EXPECT_EQ(restart[2], "StartClient");
    EXPECT_EQ(CountLogged(kServiceTag, "OnClientThreadExit"), 1);

    // The new client connects to the next instance; the suspend flag is gone with the old client, so a
    // crash is one again.
    DWORD nextId = 0;
    UniqueHandle next = StartVerifiedApp(&nextId);
    EXPECT_EQ(profile.ServiceKey(L"Client_run"), L"Running m_isExit = 0");
    EXPECT_EQ(profile.ServiceKey(L"StartClient"), L"Running");
    EXPECT_EQ(WaitForOtherStarts({appId, nextId}, 0).size(), 0u);
    ASSERT_TRUE(app.AppendInbox(L"crash"));
    const std::vector<JournalRecord> restarted = WaitForOtherStarts({appId, nextId}, kStartTimeoutMs);
    ASSERT_EQ(restarted.size(), 1u);
    EXPECT_EQ(CountLogged(kClientTag, "CVA_exit == EXIT_COMMAND_SEND_NONE"), 1);
    EXPECT_EQ(profile.CrashCount(), L"1");
}

TEST_F(StopTest, StopForUpdateStopsTheServiceAndRemovesItAndLeavesTheApplicationRunning)
{
    StartService();
    DWORD appId = 0;
    UniqueHandle updating = StartVerifiedApp(&appId);
    UniqueHandle service = OpenServiceProcess();

    ASSERT_TRUE(app.AppendInbox(L"send stop_for_update"));
    EXPECT_TRUE(harness::WaitFor([] { return !harness::ServiceExists(); }, kStartTimeoutMs, 100));
    DWORD exitCode = 1;
    EXPECT_TRUE(harness::WaitForExit(service.get(), 10000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    // The service's last event names the cause; its process has ended, so nothing follows it.
    const std::vector<harness::ReportedInsert> reported = events.Reported();
    ASSERT_GE(reported.size(), 2u);
    EXPECT_EQ(reported.back().text, L"stop_for_update");
    EXPECT_EQ(reported.back().level, "trace");
    EXPECT_EQ(CountLogged(kClientTag, "stop_for_update"), 1);
    harness::ExpectStopKeys(profile.IniPath());
    EXPECT_EQ(CountLogged(kClientTag, "ReadFile fail"), 0);
    EXPECT_EQ(CountLogged(kServiceTag, "StartClient"), 1);
    EXPECT_TRUE(harness::IsRunning(updating.get()));
    EXPECT_EQ(WaitForOtherStarts({appId}, 0).size(), 0u);
    EXPECT_EQ(profile.CrashCount(), harness::kMissing);
}

// How long the stop takes is measured by bench/pipe_bench.sh (stop control to SERVICE_STOPPED while
// connected); that the read is cancelled at once, by ClientTest.
TEST_F(StopTest, AStopWhileTheClientWaitsInItsReadEndsItWithoutACrash)
{
    StartService();
    DWORD appId = 0;
    UniqueHandle running = StartVerifiedApp(&appId);
    UniqueHandle service = OpenServiceProcess();
    ASSERT_TRUE(WaitReading());

    ASSERT_TRUE(harness::SendServiceControl(SERVICE_CONTROL_STOP));
    EXPECT_TRUE(harness::WaitForServiceState(SERVICE_STOPPED, kStartTimeoutMs));
    DWORD exitCode = 1;
    EXPECT_TRUE(harness::WaitForExit(service.get(), 10000, &exitCode));
    EXPECT_EQ(exitCode, 0u);

    harness::ExpectStopKeys(profile.IniPath());
    // The client's end was seen by the application, and the cancelled read was silent.
    EXPECT_TRUE(app.WaitForEvent(L"client-gone", appId, 2000));
    EXPECT_EQ(CountLogged(kClientTag, "ReadFile fail"), 0);
    const std::vector<std::string> end = MessagesFrom(kServiceTag, "OnClientThreadExit");
    ASSERT_GE(end.size(), 2u);
    EXPECT_EQ(end[1], "m_status=2");
    EXPECT_EQ(CountLogged(kServiceTag, "StartClient"), 1);
    EXPECT_TRUE(harness::IsRunning(running.get()));
    EXPECT_EQ(WaitForOtherStarts({appId}, 0).size(), 0u);
    EXPECT_EQ(profile.CrashCount(), harness::kMissing);
}

TEST_F(StopTest, AStopDuringTheExitNoticeWaitKillsNothingAndLeavesTheStopKeys)
{
    SetCorvaneKey(L"AppExit", L"1");
    StartService();
    DWORD appId = 0;
    UniqueHandle running = StartVerifiedApp(&appId);
    UniqueHandle service = OpenServiceProcess();

    const std::string notice = "app_exit:" + std::to_string(appId);
    ASSERT_TRUE(app.AppendInbox(harness::FromUtf8("send " + notice)));
    // Logged as it is read: the client now waits two seconds before it acts.
    ASSERT_TRUE(WaitLogged(kClientTag, notice));
    ASSERT_TRUE(harness::SendServiceControl(SERVICE_CONTROL_STOP));
    EXPECT_TRUE(harness::WaitForExit(service.get(), kStartTimeoutMs));

    harness::ExpectStopKeys(profile.IniPath());
    EXPECT_TRUE(harness::IsRunning(running.get()));
    EXPECT_EQ(CountLogged(kServiceTag, "KillCorvane"), 0);
    EXPECT_EQ(CountLoggedPrefix(kClientTag, "Corvane exit"), 0);
    EXPECT_EQ(WaitForOtherStarts({appId}, 0).size(), 0u);
}

TEST_F(StopTest, AStopDuringTheCrashRestartWaitStartsAndCountsNothingAndLeavesTheStopKeys)
{
    SetCorvaneKey(L"exit", L"0");
    StartService();
    DWORD appId = 0;
    UniqueHandle crashed = StartVerifiedApp(&appId);
    UniqueHandle service = OpenServiceProcess();

    ASSERT_TRUE(app.AppendInbox(L"crash"));
    // The crash is recognised; the restart is a second away.
    ASSERT_TRUE(WaitLogged(kClientTag, "CVA_exit == EXIT_COMMAND_SEND_NONE"));
    ASSERT_TRUE(harness::SendServiceControl(SERVICE_CONTROL_STOP));
    EXPECT_TRUE(harness::WaitForExit(service.get(), kStartTimeoutMs));

    harness::ExpectStopKeys(profile.IniPath());
    EXPECT_EQ(WaitForOtherStarts({appId}, 0).size(), 0u);
    EXPECT_EQ(CountLogged(kServiceTag, "ReStartCorvane"), 0);
    EXPECT_EQ(profile.CrashCount(), harness::kMissing);
}

TEST_F(StopTest, AStopIssuedAtOnceAfterTheStartEndsStoppedWithTheStopKeys)
{
    // Registered, stopped again, and started with the application already serving: the new client would
    // connect at once.
    ASSERT_EQ(harness::RunServiceExe(L"-install"), 0u);
    ASSERT_TRUE(harness::WaitForServiceState(SERVICE_RUNNING, kStartTimeoutMs));
    ASSERT_TRUE(harness::SendServiceControl(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(harness::WaitForServiceState(SERVICE_STOPPED, kStartTimeoutMs));
    DWORD appId = 0;
    UniqueHandle running = StartApp(&appId);

    ASSERT_TRUE(harness::StartOrvel());
    servicePid = ServiceProcessId();
    UniqueHandle service = OpenServiceProcess();
    // Sent as soon as the service manager takes it: it refuses controls until the service has reported.
    ASSERT_TRUE(harness::WaitFor([] { return harness::SendServiceControl(SERVICE_CONTROL_STOP); }, 10000, 1));
    EXPECT_TRUE(harness::WaitForServiceState(SERVICE_STOPPED, kStartTimeoutMs));
    EXPECT_TRUE(harness::WaitForExit(service.get(), kStartTimeoutMs));

    // Read once the process has ended: nothing came after the stop sequence's keys.
    harness::ExpectStopKeys(profile.IniPath());
    EXPECT_TRUE(harness::IsRunning(running.get()));
}

} // namespace

