// A pipe that breaks without notice is the application's crash: counted, and the application started
// again in background mode a second later; unless the application's flags said the end was expected.

#include "PipeFixture.h"

using namespace pipe_test;
using harness::Field;
using harness::JournalRecord;

namespace {

class LostConnectionTest : public ServiceLinkTest {};

TEST_F(LostConnectionTest, ACrashWithoutNoticeIsCountedAndRestartsTheApplicationInBackgroundAndTheClientReconnects)
{
    profile.SetCrashCount(L"4");
    SetCorvaneKey(L"exit", L"0");
    SetCorvaneKey(L"hibernating", L"0");
    StartService();
    DWORD appId = 0;
    UniqueHandle crashed = StartVerifiedApp(&appId);

    // "hibernate" with a line end is no hibernation notice: the break that follows is still a crash. The
    // sleep lets the client read the message before the pipe breaks (a break drops what is unread).
    ASSERT_TRUE(app.AppendInbox(L"send hibernate\\r\\n; sleep 500; crash"));
    const JournalRecord crash = WaitStep(L"crash", appId);
    const std::vector<JournalRecord> restarted = WaitForOtherStarts({appId}, kStartTimeoutMs);
    ASSERT_EQ(restarted.size(), 1u);
    const JournalRecord& start = restarted.front();
    EXPECT_EQ(Field(start, L"cmdline"), BackgroundCommandLine(app));
    const auto delay = harness::NumberField(start, L"tick") - harness::NumberField(crash, L"tick");
    EXPECT_GE(delay, 1000u);
    EXPECT_LE(delay, 3000u);
    EXPECT_EQ(profile.CrashCount(), L"5");

    // Logged with its line end written out.
    EXPECT_EQ(CountLogged(kClientTag, "hibernate\\r\\n"), 1);
    const std::vector<std::string> afterBreak = MessagesFrom(kClientTag, "ReadFile fail");
    ASSERT_GE(afterBreak.size(), 2u);
    EXPECT_EQ(afterBreak[1], "CVA_exit == EXIT_COMMAND_SEND_NONE");
    EXPECT_EQ(CountLogged(kServiceTag, "ReStartCorvane"), 1);

    // A warning event with the new count and the application's path.
    EXPECT_TRUE(events.WaitFor("warn", {L"5", app.ExePath()}));

    // The client finds the restarted application and trusts it again.
    EXPECT_TRUE(WaitVerified(Pid(start), servicePid));
    EXPECT_EQ(CountLogged(kClientTag, "CVA_exit == EXIT_COMMAND_SEND_NONE"), 1);
}

TEST_F(LostConnectionTest, AnEndTheApplicationAnnouncedInItsFlagsRestartsNothing)
{
    const struct {
        const wchar_t* exit;
        const wchar_t* hibernating;
    } cases[] = {{L"1", L"0"}, {L"0", L"1"}, {L"3", L"1"}};
    StartService();
    int breaks = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(harness::ToUtf8(std::wstring(L"exit ") + c.exit + L" hibernating " + c.hibernating));
        SetCorvaneKey(L"exit", c.exit);
        SetCorvaneKey(L"hibernating", c.hibernating);
        DWORD appId = 0;
        UniqueHandle running = StartVerifiedApp(&appId);

        ASSERT_TRUE(app.AppendInbox(L"crash"));
        ++breaks;
        EXPECT_TRUE(WaitLogged(kClientTag, "ReadFile fail", breaks));
        EXPECT_TRUE(WaitNextConnectAttempt());
        EXPECT_EQ(WaitForOtherStarts({appId}, 0).size(), 0u);
        EXPECT_TRUE(app.RunningProcesses().empty());
        app.ClearJournal();
    }
    EXPECT_EQ(CountLogged(kClientTag, "CVA_exit == EXIT_COMMAND_SEND_NONE"), 0);
    EXPECT_EQ(CountLogged(kServiceTag, "ReStartCorvane"), 0);
    EXPECT_EQ(CountLogged(kServiceTag, "RunCorvane"), 0);
    EXPECT_EQ(profile.CrashCount(), harness::kMissing);
}

} // namespace
