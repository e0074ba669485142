// Restarting the application, and the two service notifications that look at it: a session change
// that the application asked to follow, and a suspend.

#include <windows.h>
#include <pbt.h>
#include <wtsapi32.h>

#include <optional>
#include <string>
#include <vector>

#include "Sandbox.h"
#include "SupervisionFixture.h"
#include "host/ServiceControl.h"

using namespace supervision_test;
using harness::Field;
using harness::JournalRecord;

namespace {

class RestartTest : public SupervisionTest {
protected:
    void SetCorvaneKey(const wchar_t* key, const std::optional<std::wstring>& value)
    {
        if (value) {
            ASSERT_TRUE(harness::IniWrite(profile.IniPath(), harness::kCorvaneSection, key, *value));
        } else {
            harness::IniDelete(profile.IniPath(), harness::kCorvaneSection, key);
        }
    }

    // The start records of instances other than the given ones, once the first has come.
    std::vector<JournalRecord> WaitForNewStart(const std::vector<DWORD>& oldIds)
    {
        JournalRecord found;
        app.WaitForRecord(
            [&oldIds](const JournalRecord& record) {
                if (Field(record, L"event") != L"start") {
                    return false;
                }
                const auto pid = harness::NumberField(record, L"pid");
                for (DWORD old : oldIds) {
                    if (pid == old) {
                        return false;
                    }
                }
                return true;
            },
            kStartTimeoutMs, &found);
        std::vector<JournalRecord> starts;
        for (const JournalRecord& record : app.Starts()) {
            bool old = false;
            for (DWORD id : oldIds) {
                old = old || harness::NumberField(record, L"pid") == id;
            }
            if (!old) {
                starts.push_back(record);
            }
        }
        return starts;
    }

    std::wstring Quoted() const { return L"\"" + app.ExePath() + L"\""; }
};

TEST_F(RestartTest, StopsEveryInstanceThenStartsOneWithTheBackgroundSwitchWhenAskedFor)
{
    const struct {
        bool forceBackground;
        std::optional<std::wstring> hideToTray;
        bool background;
    } cases[] = {
        {false, std::nullopt, false},
        {false, L"0", false},
        {false, L"1", true},
        {false, L"7", true},
        {true, std::nullopt, true},
        {true, L"0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "force " << c.forceBackground << " HideToTray "
                                        << (c.hideToTray ? harness::ToUtf8(*c.hideToTray) : "missing"));
        SetCorvaneKey(L"HideToTray", c.hideToTray);
        DWORD firstId = 0;
        DWORD secondId = 0;
        UniqueHandle first = StartInstance(app, &firstId);
        UniqueHandle second = StartInstance(app, &secondId);

        service->ReStartCorvane(c.forceBackground);

        EXPECT_TRUE(Ended(first.get()));
        EXPECT_TRUE(Ended(second.get()));
        const std::vector<JournalRecord> started = WaitForNewStart({firstId, secondId});
        ASSERT_EQ(started.size(), 1u);
        EXPECT_EQ(Field(started.front(), L"cmdline"), c.background ? Quoted() + L" /mode:background" : Quoted());
        EXPECT_EQ(app.RunningProcesses().size(), 1u);
        app.Reset();
    }
    const std::vector<std::string> lines = Logged();
    // One restart, as logged: the restart, the two terminations, the end of the kill, the launch.
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "ReStartCorvane");
    EXPECT_EQ(lines[1].compare(0, 18, "Terminate Process "), 0);
    EXPECT_EQ(lines[2].compare(0, 18, "Terminate Process "), 0);
    EXPECT_EQ(lines[3], "KillCorvane end");
    EXPECT_EQ(lines[4], "RunCorvane");
}

TEST_F(RestartTest, WithNothingRunningItStartsTheApplication)
{
    service->ReStartCorvane(false);
    std::vector<JournalRecord> starts;
    ASSERT_TRUE(app.WaitForStarts(1, kStartTimeoutMs, &starts));
    EXPECT_EQ(Field(starts.front(), L"cmdline"), Quoted());
    EXPECT_EQ(Logged(), (std::vector<std::string>{"ReStartCorvane", "KillCorvane end", "RunCorvane"}));
}

class NotificationTest : public RestartTest {};

TEST_F(NotificationTest, SessionChangeWithRestartTwoMovesARunningApplication)
{
    SetCorvaneKey(L"Restart", L"2");
    SetCorvaneKey(L"HideToTray", L"1");
    DWORD oldId = 0;
    UniqueHandle old = StartInstance(app, &oldId);

    EXPECT_EQ(ServiceCtrlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, nullptr, nullptr),
              static_cast<DWORD>(NO_ERROR));

    DWORD exitCode = 0;
    EXPECT_TRUE(Ended(old.get(), &exitCode));
    EXPECT_EQ(exitCode, kTerminatedExitCode);
    const std::vector<JournalRecord> started = WaitForNewStart({oldId});
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(Field(started.front(), L"cmdline"), Quoted() + L" /mode:background");
    const std::vector<std::string> lines = Logged();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "SERVICE_CONTROL_SESSIONCHANGE Restart 2");
    EXPECT_EQ(CountLogged("ReStartCorvane"), 1);
}

TEST_F(NotificationTest, SessionChangeWithRestartTwoStartsNothingWhenTheApplicationIsNotRunning)
{
    SetCorvaneKey(L"Restart", L"2");
    // The handler does its work inline: a start it made would be running when it returns.
    ServiceCtrlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_UNLOCK, nullptr, nullptr);
    EXPECT_TRUE(app.RunningProcesses().empty());
    EXPECT_TRUE(app.Starts().empty());
    EXPECT_EQ(Logged(), (std::vector<std::string>{"SERVICE_CONTROL_SESSIONCHANGE Restart 2",
                                                  "CheckCorvaneIsRunning start", "CheckCorvaneIsRunning end"}));
}

TEST_F(NotificationTest, SessionChangeWithRestartTwoOnceAStopHasBegunLeavesTheApplicationAlone)
{
    SetCorvaneKey(L"Restart", L"2");
    DWORD id = 0;
    UniqueHandle running = StartInstance(app, &id);
    service->BeginStop();
    // The handler does its work inline.
    ServiceCtrlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, nullptr, nullptr);
    EXPECT_EQ(CountLogged("SERVICE_CONTROL_SESSIONCHANGE Restart 2"), 1);
    EXPECT_EQ(CountLogged("ReStartCorvane"), 0);
    EXPECT_TRUE(harness::IsRunning(running.get()));
    EXPECT_EQ(app.Starts().size(), 1u);
}

TEST_F(NotificationTest, SessionChangeWithoutRestartTwoLeavesARunningApplicationAlone)
{
    DWORD id = 0;
    UniqueHandle running = StartInstance(app, &id);
    for (const wchar_t* restart : {L"1", L"0"}) {
        SetCorvaneKey(L"Restart", std::wstring(restart));
        ServiceCtrlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, nullptr, nullptr);
    }
    // The handler does its work inline, and logs every kill and start it makes.
    EXPECT_EQ(app.RunningProcesses(), std::vector<DWORD>{id});
    EXPECT_EQ(CountLogged("ReStartCorvane"), 0);
    EXPECT_EQ(CountLogged("RunCorvane"), 0);
    EXPECT_TRUE(harness::IsRunning(running.get()));
    EXPECT_EQ(app.Starts().size(), 1u);
    EXPECT_EQ(CountLogged("SERVICE_CONTROL_SESSIONCHANGE Restart not 2"), 2);
    EXPECT_EQ(CountLogged("CheckCorvaneIsRunning start"), 0);
}

TEST_F(NotificationTest, SuspendRemembersTheHibernationOnlyWhileTheApplicationRuns)
{
    const std::wstring iniPath = profile.IniPath();
    ServiceCtrlHandler(SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND, nullptr, nullptr);
    EXPECT_EQ(harness::IniRead(iniPath, L"Service", L"hibernating"), L"1");
    EXPECT_FALSE(service->m_hibernate);

    DWORD id = 0;
    UniqueHandle running = StartInstance(app, &id);
    ServiceCtrlHandler(SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND, nullptr, nullptr);
    EXPECT_TRUE(service->m_hibernate);
    // A suspend never stops the application.
    EXPECT_TRUE(harness::IsRunning(running.get()));

    // Once set, a later suspend without the application does not clear it.
    app.KillAll();
    ServiceCtrlHandler(SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND, nullptr, nullptr);
    EXPECT_TRUE(service->m_hibernate);
    EXPECT_EQ(CountLogged("CheckCorvaneIsRunning end"), 3);
}

} // namespace
