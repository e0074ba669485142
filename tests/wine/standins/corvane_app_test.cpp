// The stand-in companion application behaves toward a pipe client as the service expects of the real one.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "harness/PipeClient.h"
#include "harness/StandInApp.h"

using namespace harness;

namespace {

constexpr DWORD kStartMs = 10000;
constexpr DWORD kReadMs = 5000;
constexpr DWORD kCrashExitCode = 0xC0000005;

std::wstring CurrentUser()
{
    wchar_t name[257] = {};
    DWORD size = 257;
    return ::GetUserNameW(name, &size) ? std::wstring(name) : std::wstring();
}

class CorvaneAppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_app.Installed()) << "no stand-in at " << ToUtf8(m_app.ExePath()) << ": run scripts/sandbox.sh";
        m_app.Reset();
    }
    void TearDown() override { m_app.Reset(); }

    // Reads one message and expects it to be text.
    void ExpectMessage(PipeClient& client, const std::string& text)
    {
        const PipeClient::ReadResult read = client.Read(kReadMs);
        ASSERT_EQ(read.status, PipeClient::Status::Message) << "expected \"" << text << "\", error " << read.error;
        EXPECT_EQ(read.text, text);
    }

    std::vector<JournalRecord> EventsOf(DWORD pid, const std::wstring& event)
    {
        std::vector<JournalRecord> found;
        for (const JournalRecord& record : m_app.ReadJournal()) {
            if (Field(record, L"event") == event && NumberField(record, L"pid") == pid) {
                found.push_back(record);
            }
        }
        return found;
    }

    StandInApp m_app;
};

TEST_F(CorvaneAppTest, CommandLineScriptWritesEachSendAsOneMessageAndJournalsTheStart)
{
    const std::wstring script =
        L"wait-client; send hello; sleep 200; send-bytes 5 z; sleep 200; "
        L"send \"OpenFireWall\":\"1\",\"ports\":\"80;443\"; sleep 200; send \"hibernate\\n\"; sleep 200; "
        L"send \\x41\\x42CD";
    DWORD pid = 0;
    UniqueHandle process = m_app.StartWithScript(script, &pid);
    ASSERT_TRUE(process.valid());

    PipeClient client;
    ASSERT_TRUE(client.Connect(kStartMs));
    EXPECT_EQ(client.ServerProcessId(), pid);
    ExpectMessage(client, "hello");
    ExpectMessage(client, "zzzzz");
    ExpectMessage(client, "\"OpenFireWall\":\"1\",\"ports\":\"80;443\"");
    ExpectMessage(client, "hibernate\n");
    ExpectMessage(client, "ABCD");

    std::vector<JournalRecord> starts;
    ASSERT_TRUE(m_app.WaitForStarts(1, kStartMs, &starts));
    const JournalRecord& start = starts[0];
    EXPECT_EQ(NumberField(start, L"pid"), pid);
    EXPECT_EQ(Field(start, L"cmdline"), QuoteArgument(m_app.ExePath()) + L" --script " + QuoteArgument(script));
    EXPECT_EQ(Field(start, L"cwd"), m_app.Folder());
    EXPECT_EQ(Field(start, L"exe"), m_app.ExePath());
    EXPECT_EQ(Field(start, L"script"), L"command line");
    EXPECT_EQ(Field(start, L"user"), CurrentUser());
    EXPECT_EQ(NumberField(start, L"ppid"), ::GetCurrentProcessId());
    DWORD session = 0;
    ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
    EXPECT_EQ(Field(start, L"session"), std::to_wstring(session));
    EXPECT_EQ(Field(start, L"time").size(), 23u) << ToUtf8(Field(start, L"time"));
    EXPECT_GT(NumberField(start, L"tick"), 0u);

    JournalRecord connected;
    ASSERT_TRUE(m_app.WaitForEvent(L"client-connected", pid, kReadMs, &connected));
    EXPECT_EQ(NumberField(connected, L"client"), ::GetCurrentProcessId());
    // A step is journaled just after its write: the last one may still be on its way.
    std::vector<JournalRecord> sends;
    WaitFor(
        [&] {
            sends = EventsOf(pid, L"send");
            return sends.size() >= 4;
        },
        2000, 20);
    ASSERT_EQ(sends.size(), 4u);
    EXPECT_EQ(Field(sends[0], L"arg"), L"hello");
    EXPECT_EQ(Field(sends[3], L"arg"), L"\\x41\\x42CD");
    for (const JournalRecord& send : sends) {
        EXPECT_EQ(Field(send, L"source"), L"script");
        EXPECT_EQ(Field(send, L"result"), L"ok");
    }
    // The sleeps between the sends show in the ticks.
    EXPECT_GE(NumberField(sends[1], L"tick") - NumberField(sends[0], L"tick"), 350u);
}

TEST_F(CorvaneAppTest, ServiceStyleStartRunsAOnceScriptFileAndTheNextStartIdles)
{
    ASSERT_TRUE(m_app.WriteScript(L"wait-client\nsend started in background\n"));
    // The service's command line: the path unquoted, then the switch.
    const std::wstring commandLine = m_app.ExePath() + L" /mode:background";
    DWORD first = 0;
    UniqueHandle process = m_app.StartCommandLine(commandLine, &first);
    ASSERT_TRUE(process.valid());

    PipeClient client;
    ASSERT_TRUE(client.Connect(kStartMs));
    ExpectMessage(client, "started in background");
    JournalRecord start;
    ASSERT_TRUE(m_app.WaitForEvent(L"start", first, kStartMs, &start));
    EXPECT_EQ(Field(start, L"cmdline"), commandLine);
    EXPECT_EQ(Field(start, L"script"), m_app.ScriptPath());
    EXPECT_EQ(::GetFileAttributesW(m_app.ScriptPath().c_str()), INVALID_FILE_ATTRIBUTES) << "#once script kept";

    client.Close();
    ASSERT_EQ(m_app.KillAll(), 1u);
    DWORD second = 0;
    process = m_app.StartCommandLine(commandLine, &second);
    ASSERT_TRUE(process.valid());
    ASSERT_TRUE(m_app.WaitForEvent(L"start", second, kStartMs, &start));
    EXPECT_EQ(Field(start, L"script"), L"none");
    // Without a script it still serves the pipe, and says nothing.
    ASSERT_TRUE(client.Connect(kStartMs));
    EXPECT_EQ(client.ServerProcessId(), second);
    EXPECT_EQ(client.Read(300).status, PipeClient::Status::Timeout);
}

TEST_F(CorvaneAppTest, InboxStepsDriveARunningInstanceUpToAnAnnouncedExit)
{
    DWORD pid = 0;
    UniqueHandle process = m_app.Start(std::wstring(), &pid);
    ASSERT_TRUE(process.valid());
    PipeClient client;
    ASSERT_TRUE(client.Connect(kStartMs));
    ASSERT_TRUE(m_app.WaitForEvent(L"client-connected", pid, kReadMs));

    ASSERT_TRUE(m_app.AppendInbox(L"send ping"));
    ExpectMessage(client, "ping");

    // A disconnect breaks this client's pipe; a new instance then serves the next client.
    ASSERT_TRUE(m_app.AppendInbox(L"disconnect"));
    EXPECT_EQ(client.Read(kReadMs).status, PipeClient::Status::Broken);
    ASSERT_TRUE(client.Connect(kStartMs));
    ASSERT_TRUE(m_app.AppendInbox(L"send again"));
    ExpectMessage(client, "again");

    ASSERT_TRUE(m_app.AppendInbox(L"exit"));
    ExpectMessage(client, "app_exit:" + std::to_string(pid));
    const PipeClient::ReadResult after = client.Read(kReadMs);
    EXPECT_EQ(after.status, PipeClient::Status::Broken);
    DWORD exitCode = 1;
    ASSERT_TRUE(WaitForExit(process.get(), kReadMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);

    const std::vector<JournalRecord> exits = EventsOf(pid, L"exit");
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(Field(exits[0], L"source"), L"inbox");
    EXPECT_EQ(Field(exits[0], L"result"), L"ok");
    EXPECT_EQ(EventsOf(pid, L"disconnect").size(), 1u);
}

TEST_F(CorvaneAppTest, CrashEndsTheProcessWithoutAnyMessage)
{
    DWORD pid = 0;
    UniqueHandle process = m_app.StartWithScript(L"wait-client; crash", &pid);
    ASSERT_TRUE(process.valid());
    PipeClient client;
    ASSERT_TRUE(client.Connect(kStartMs));

    const PipeClient::ReadResult read = client.Read(kReadMs);
    EXPECT_EQ(read.status, PipeClient::Status::Broken) << "read \"" << read.text << "\"";
    DWORD exitCode = 0;
    ASSERT_TRUE(WaitForExit(process.get(), kReadMs, &exitCode));
    EXPECT_EQ(exitCode, kCrashExitCode);
    EXPECT_EQ(EventsOf(pid, L"crash").size(), 1u);
    EXPECT_TRUE(m_app.RunningProcesses().empty());
}

TEST_F(CorvaneAppTest, IniStepsWriteTheApplicationsFlagsForTheService)
{
    const std::wstring ini = UserSettingsPath();
    ASSERT_FALSE(ini.empty());
    ASSERT_TRUE(IniWrite(ini, kCorvaneSection, L"Restart", L"2"));

    DWORD pid = 0;
    UniqueHandle process = m_app.StartWithScript(L"ini exit=1; ini hibernating = 0; ini AppExit=1; ini Restart; quit", &pid);
    ASSERT_TRUE(process.valid());
    DWORD exitCode = 1;
    ASSERT_TRUE(WaitForExit(process.get(), kStartMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);

    EXPECT_EQ(IniRead(ini, kCorvaneSection, L"exit"), L"1");
    EXPECT_EQ(IniRead(ini, kCorvaneSection, L"hibernating"), L"0");
    EXPECT_EQ(IniRead(ini, kCorvaneSection, L"AppExit"), L"1");
    EXPECT_EQ(IniRead(ini, kCorvaneSection, L"Restart"), kMissing);
    JournalRecord start;
    ASSERT_TRUE(m_app.WaitForEvent(L"start", pid, kStartMs, &start));
    EXPECT_EQ(Field(start, L"appdata") + L"\\Corvane\\BrisaRDP.ini", ini);

    for (const wchar_t* key : {L"exit", L"hibernating", L"AppExit", L"Restart"}) {
        IniDelete(ini, kCorvaneSection, key);
    }
}

TEST_F(CorvaneAppTest, OnlyOneInstanceServesThePipeAndTheOtherTakesOverWhenItEnds)
{
    DWORD first = 0;
    UniqueHandle firstProcess = m_app.Start(std::wstring(), &first);
    ASSERT_TRUE(firstProcess.valid());
    PipeClient client;
    ASSERT_TRUE(client.Connect(kStartMs));
    ASSERT_EQ(client.ServerProcessId(), first);

    DWORD second = 0;
    UniqueHandle secondProcess = m_app.Start(std::wstring(), &second);
    ASSERT_TRUE(secondProcess.valid());
    ASSERT_TRUE(m_app.WaitForEvent(L"pipe-unavailable", second, kStartMs));

    ASSERT_TRUE(::TerminateProcess(firstProcess.get(), 1));
    EXPECT_EQ(client.Read(kReadMs).status, PipeClient::Status::Broken);
    ASSERT_TRUE(m_app.WaitForEvent(L"pipe-available", second, kStartMs));
    ASSERT_TRUE(client.Connect(kStartMs));
    EXPECT_EQ(client.ServerProcessId(), second);
}

TEST_F(CorvaneAppTest, InstancesStartingTogetherEachJournalOneWholeStartRecord)
{
    constexpr size_t kInstances = 4;
    std::vector<UniqueHandle> processes;
    for (size_t i = 0; i < kInstances; ++i) {
        processes.push_back(m_app.StartWithScript(L"quit"));
        ASSERT_TRUE(processes.back().valid());
    }
    for (const UniqueHandle& process : processes) {
        ASSERT_TRUE(WaitForExit(process.get(), kStartMs));
    }
    const std::vector<JournalRecord> journal = m_app.ReadJournal();
    std::vector<unsigned long long> started;
    for (const JournalRecord& record : journal) {
        EXPECT_FALSE(Field(record, L"event").empty());
        EXPECT_GT(NumberField(record, L"pid"), 0u);
        EXPECT_FALSE(Field(record, L"tick").empty());
        if (Field(record, L"event") == L"start") {
            EXPECT_EQ(Field(record, L"script"), L"command line");
            started.push_back(NumberField(record, L"pid"));
        }
    }
    EXPECT_EQ(started.size(), kInstances);
}

TEST_F(CorvaneAppTest, UnknownStepsAndBadArgumentsAreJournaledAndSkipped)
{
    DWORD pid = 0;
    UniqueHandle process = m_app.StartWithScript(L"dance; sleep soon; send-bytes lots; quit", &pid);
    ASSERT_TRUE(process.valid());
    ASSERT_TRUE(WaitForExit(process.get(), kStartMs));
    const std::vector<JournalRecord> dances = EventsOf(pid, L"dance");
    ASSERT_EQ(dances.size(), 1u);
    EXPECT_EQ(Field(dances[0], L"result"), L"unknown step");
    ASSERT_EQ(EventsOf(pid, L"sleep").size(), 1u);
    EXPECT_EQ(Field(EventsOf(pid, L"sleep")[0], L"result"), L"bad argument");
    ASSERT_EQ(EventsOf(pid, L"send-bytes").size(), 1u);
    EXPECT_EQ(Field(EventsOf(pid, L"send-bytes")[0], L"result"), L"bad argument");
    EXPECT_EQ(EventsOf(pid, L"quit").size(), 1u);
}

} // namespace
