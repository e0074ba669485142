// The application's exit notice: two seconds' grace, then a kill only when the application asked for
// it; the broken pipe that follows restarts nothing, and the next connection is watched again.

#include "PipeFixture.h"

using namespace pipe_test;
using harness::Field;
using harness::JournalRecord;

namespace {

class ExitNoticeTest : public ServiceLinkTest {};

TEST_F(ExitNoticeTest, AnExitNoticeKillsOnlyWhenAskedAndSuppressesTheRestartForItsConnectionOnly)
{
    SetCorvaneKey(L"AppExit", L"1");
    StartService();
    DWORD appId = 0;
    UniqueHandle exiting = StartVerifiedApp(&appId);
    const std::wstring notice = L"app_exit:" + std::to_wstring(appId);

    // Without a process id nothing is killed, whatever "AppExit" says.
    ASSERT_TRUE(app.AppendInbox(L"send app_exit:"));
    EXPECT_TRUE(WaitLogged(kClientTag, "Corvane exit 0 correctly"));
    // "Restart" 2: the exit is a restart after hibernation and the process is left alone.
    SetCorvaneKey(L"Restart", L"2");
    ASSERT_TRUE(app.AppendInbox(L"send " + notice));
    EXPECT_TRUE(WaitLogged(kClientTag, "RESTART_BY_HIBERNATE"));
    // The client reads the next message only once it is done with this notice.
    ASSERT_TRUE(app.AppendInbox(L"send ping"));
    EXPECT_TRUE(WaitLogged(kClientTag, "ping"));
    EXPECT_TRUE(harness::IsRunning(exiting.get()));

    // "AppExit" 1 with the process id: terminated two seconds after the notice.
    SetCorvaneKey(L"Restart", L"0");
    const ULONGLONG sent = ::GetTickCount64();
    ASSERT_TRUE(app.AppendInbox(L"send " + notice));
    EXPECT_EQ(::WaitForSingleObject(exiting.get(), 1800), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD exitCode = 0;
    EXPECT_TRUE(harness::WaitForExit(exiting.get(), 4000, &exitCode));
    EXPECT_EQ(exitCode, kTerminatedExitCode);
    EXPECT_GE(::GetTickCount64() - sent, 2000u);
    EXPECT_TRUE(WaitLogged(kServiceTag, "Corvane exit fail and  TerminateProcess " + std::to_string(appId)));
    const std::vector<std::string> kill = MessagesFrom(kServiceTag, "KillCorvane");
    ASSERT_GE(kill.size(), 2u);
    EXPECT_EQ(kill[1], "Corvane exit fail and  TerminateProcess " + std::to_string(appId));

    // The broken pipe after the notice is no crash.
    EXPECT_TRUE(WaitLogged(kClientTag, "ReadFile fail"));
    EXPECT_TRUE(WaitNextConnectAttempt());
    EXPECT_EQ(CountLogged(kServiceTag, "RunCorvane"), 0);
    EXPECT_EQ(WaitForOtherStarts({appId}, 0).size(), 0u);
    EXPECT_EQ(CountLogged(kClientTag, "CVA_exit == EXIT_COMMAND_SEND_NONE"), 0);
    EXPECT_EQ(profile.CrashCount(), harness::kMissing);

    // The client reconnects to the next instance, and a crash over that connection is a crash again.
    DWORD nextId = 0;
    UniqueHandle next = StartVerifiedApp(&nextId);
    ASSERT_TRUE(app.AppendInbox(L"crash"));
    const std::vector<JournalRecord> restarted = WaitForOtherStarts({appId, nextId}, kStartTimeoutMs);
    ASSERT_EQ(restarted.size(), 1u);
    EXPECT_EQ(Field(restarted.front(), L"cmdline"), BackgroundCommandLine(app));
    EXPECT_EQ(profile.CrashCount(), L"1");
    EXPECT_EQ(CountLogged(kClientTag, "CVA_exit == EXIT_COMMAND_SEND_NONE"), 1);
}

} // namespace
