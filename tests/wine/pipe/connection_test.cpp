// The service's client connects to the application's pipe only when the process serving it is trusted,
// and takes what one read returns as one message.

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "PipeFixture.h"

using namespace pipe_test;
using harness::Field;
using harness::JournalRecord;

namespace {

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

class ConnectionTest : public ServiceLinkTest {
protected:
    // How often the client has connected to server's pipe: the server journals each connection.
    static int Connects(const harness::StandInApp& server)
    {
        int connects = 0;
        for (const JournalRecord& record : server.ReadJournal()) {
            connects += Field(record, L"event") == L"client-connected" ? 1 : 0;
        }
        return connects;
    }

    // Starts server, which sends crash notices and an exit notice to each client that connects, and
    // expects the service to refuse it on three attempts, to tell it once, and to act on nothing it sent.
    void ExpectNeverTrusted(const harness::StandInApp& server)
    {
        DWORD serverId = 0;
        // A connected client is still there until it has refused the server and closed its end, and
        // `wait-client` would return at once for it: the sleeps outlast a refusal, so that each send goes
        // to the client's next attempt (one a second).
        UniqueHandle running = server.StartWithScript(
            L"wait-client; send c:untrusted; sleep 1200; wait-client; send c:untrusted; sleep 1200; wait-client; "
            L"send app_exit:0",
            &serverId);
        ASSERT_TRUE(running.valid());
        ASSERT_TRUE(harness::WaitFor([&] { return Connects(server) >= 3; }, kStartTimeoutMs, 100));
        ASSERT_TRUE(WaitLogged(kClientTag, "ValidateAssembly result is false"));
        EXPECT_EQ(CountLogged(kClientTag, "ValidateAssembly result is false"), 1);
        EXPECT_EQ(CountLoggedPrefix(kClientTag, "serverPath:"), 1);
        EXPECT_EQ(CountLogged(kClientTag, "ValidateAssembly result is true"), 0);
        EXPECT_EQ(profile.ServiceKey(L"Connected"), harness::kMissing);
        EXPECT_EQ(CountLoggedPrefix(kClientTag, "c:"), 0);
        EXPECT_EQ(CountLoggedPrefix(kClientTag, "app_exit"), 0);
        EXPECT_EQ(CountLogged(kServiceTag, "RunCorvane"), 0);
        EXPECT_EQ(server.Starts().size(), 1u);
        EXPECT_TRUE(harness::IsRunning(running.get()));
    }
};

// The library beside the installed service replaced by its unsigned variant for one case, and put
// back afterwards.
class ValidatorSwap {
public:
    explicit ValidatorSwap(const std::wstring& replacement)
    {
        ::CopyFileW(m_installed.c_str(), m_saved.c_str(), FALSE);
        m_swapped = ::CopyFileW(replacement.c_str(), m_installed.c_str(), FALSE) != FALSE;
    }
    ~ValidatorSwap() { ::CopyFileW(m_saved.c_str(), m_installed.c_str(), FALSE); }
    bool Swapped() const { return m_swapped; }

private:
    harness::TempFolder m_folder{L"orvel-validator"};
    const std::wstring m_installed = harness::InstallFolder() + L"Halvex.SignatureCheck.Native.dll";
    const std::wstring m_saved = m_folder / L"Halvex.SignatureCheck.Native.dll";
    bool m_swapped = false;
};

TEST_F(ConnectionTest, TheSignedApplicationIsVerifiedAndItsMessagesOfFourToFewerThan20480BytesAreDispatched)
{
    StartService();
    DWORD appId = 0;
    UniqueHandle running = StartVerifiedApp(&appId);

    // The key follows the verification's log line.
    EXPECT_TRUE(harness::WaitFor([this] { return profile.ServiceKey(L"Connected") == L"Connected"; }, kLogTimeoutMs));
    const std::vector<std::string> verification = MessagesFrom(kClientTag, "serverPath:" + harness::ToUtf8(app.ExePath()));
    ASSERT_GE(verification.size(), 2u);
    EXPECT_EQ(verification[1], "ValidateAssembly result is true");

    // A crash notice of 3 bytes is too short to be one; one of 4 bytes starts the application in background
    // mode. A read that fills the whole buffer is dropped and the next one is read. A crash notice that
    // carries an exit notice starts the application again without stopping the running one. The sleeps keep
    // each send a read of its own (two writes before a read arrive as one text); after a start the
    // client takes longer.
    const std::string combined = "c:app_exit:" + std::to_string(appId);
    ASSERT_TRUE(app.AppendInbox(L"send c:x; sleep 400; send c:xy; sleep 800; send-bytes 20480 c; sleep 400; send " +
                                harness::FromUtf8(combined) + L"; sleep 800; send ping"));
    ASSERT_TRUE(WaitLogged(kClientTag, "ping"));

    // Every start that the messages caused was made before "ping" was read, and the instances idle: the
    // ones running now are all there will be.
    const std::vector<JournalRecord> restarted = WaitForOtherStarts({appId}, kStartTimeoutMs, 2);
    ASSERT_EQ(restarted.size(), 2u);
    EXPECT_EQ(app.RunningProcesses().size(), 3u);
    EXPECT_EQ(CountLogged(kServiceTag, "RunCorvane"), 2);
    for (const JournalRecord& start : restarted) {
        EXPECT_EQ(Field(start, L"cmdline"), BackgroundCommandLine(app));
    }
    EXPECT_TRUE(harness::IsRunning(running.get()));
    EXPECT_EQ(CountLogged(kClientTag, "c:x"), 0);
    EXPECT_EQ(CountLogged(kClientTag, "c:xy"), 1);
    EXPECT_EQ(CountLogged(kClientTag, combined), 1);
    EXPECT_EQ(CountLogged(kClientTag, "CVA crash"), 2);
    EXPECT_EQ(CountLoggedPrefix(kClientTag, "cccc"), 0);
    EXPECT_EQ(CountLogged(kServiceTag, "KillCorvane"), 0);
    EXPECT_EQ(CountLoggedPrefix(kServiceTag, "Terminate Process"), 0);
    EXPECT_EQ(CountLogged(kClientTag, "ReadFile fail"), 0);
}

TEST_F(ConnectionTest, AMessageWithALineEndAndAForgedLineAfterItStaysOneLineOfTheLog)
{
    StartService();
    DWORD appId = 0;
    UniqueHandle running = StartVerifiedApp(&appId);
    ASSERT_TRUE(app.AppendInbox(
        L"send \"ping\\r\\n01-01 00:00:00 000, DemonService\\DemonService.cpp:1 DemonService  forged\"; sleep 400; "
        L"send ping"));
    ASSERT_TRUE(WaitLogged(kClientTag, "ping"));
    EXPECT_EQ(CountLogged(kClientTag, "ping\\r\\n01-01 00:00:00 000, DemonService\\DemonService.cpp:1 DemonService  forged"),
              1);
    EXPECT_EQ(CountLogged(kServiceTag, "forged"), 0);
}

TEST_F(ConnectionTest, APipeServedByAnUnsignedCopyIsNeverTrustedToldOnceAndItsRepeatsWhenTheApplicationComes)
{
    const harness::StandInApp copy(harness::TestDataFolder() + L"app\\unsigned\\Corvane.exe");
    ASSERT_TRUE(copy.Installed());
    copy.Reset();
    struct KillCopy {
        const harness::StandInApp& copy;
        ~KillCopy() { copy.Reset(); }
    } killCopy{copy};

    StartService();
    DWORD copyId = 0;
    // Each sleep outlasts a refusal, so that the next send goes to the client's next attempt.
    UniqueHandle running = copy.StartWithScript(
        L"wait-client; send c:unsigned; sleep 1500; wait-client; send app_exit:0; sleep 1500; wait-client; send hibernate",
        &copyId);
    ASSERT_TRUE(running.valid());

    // The copy sees the service come and go on each attempt, one a second.
    const ULONGLONG begin = ::GetTickCount64();
    ASSERT_TRUE(harness::WaitFor([&] { return Connects(copy) >= 4; }, kStartTimeoutMs, 100));
    EXPECT_GE(::GetTickCount64() - begin, 2500u);
    // Its path and the verdict are told once, with one event; the repeats are only counted. (Wine names a
    // program outside the prefix in its own letter case: the path is taken as the log gives it.)
    ASSERT_TRUE(WaitLogged(kClientTag, "ValidateAssembly result is false"));
    std::vector<std::string> client;
    for (const LogLine& line : Logged()) {
        if (line.tag == kClientTag) {
            client.push_back(line.message);
        }
    }
    const auto named = std::find_if(client.begin(), client.end(),
                                    [](const std::string& line) { return line.compare(0, 11, "serverPath:") == 0; });
    ASSERT_NE(named, client.end());
    ASSERT_NE(named + 1, client.end());
    EXPECT_EQ(*(named + 1), "ValidateAssembly result is false");
    const std::string reportedPath = named->substr(11);
    EXPECT_EQ(Lower(harness::FromUtf8(reportedPath)), Lower(copy.ExePath()));
    EXPECT_EQ(CountLogged(kClientTag, "ValidateAssembly result is false"), 1);
    EXPECT_EQ(CountLoggedPrefix(kClientTag, "serverPath:"), 1);
    EXPECT_TRUE(events.WaitFor("warn", {harness::FromUtf8(reportedPath), L"outside the install folder"}));
    EXPECT_EQ(events.Count("warn", {harness::FromUtf8(reportedPath), L"outside the install folder"}), 1);

    EXPECT_EQ(profile.ServiceKey(L"Connected"), harness::kMissing);
    EXPECT_EQ(CountLogged(kClientTag, "CVA crash"), 0);
    EXPECT_EQ(CountLogged(kServiceTag, "RunCorvane"), 0);
    EXPECT_EQ(CountLogged(kClientTag, "ReadFile fail"), 0);
    EXPECT_EQ(CountLoggedPrefix(kClientTag, "c:"), 0);
    EXPECT_EQ(CountLoggedPrefix(kClientTag, "app_exit"), 0);
    EXPECT_EQ(CountLogged(kClientTag, "hibernate"), 0);
    EXPECT_TRUE(app.Starts().empty());
    EXPECT_TRUE(harness::IsRunning(running.get()));

    // Another server comes: the repeats of the refused one are told first, in one line.
    const int repeats = Connects(copy) - 1;
    copy.Reset();
    DWORD appId = 0;
    UniqueHandle application = StartVerifiedApp(&appId);
    const std::vector<std::string> after = MessagesFrom(kClientTag, "ValidateAssembly result is false");
    ASSERT_GE(after.size(), 4u);
    const std::string summary = "serverPath:" + reportedPath + " refused ";
    ASSERT_EQ(after[1].compare(0, summary.size(), summary), 0) << after[1];
    EXPECT_GE(std::stoi(after[1].substr(summary.size())), repeats);
    EXPECT_EQ(after[2], "serverPath:" + harness::ToUtf8(app.ExePath()));
    EXPECT_EQ(after[3], "ValidateAssembly result is true");
}

TEST_F(ConnectionTest, ASignedCopyStartedOutsideTheInstallFolderIsNeverTrusted)
{
    harness::TempFolder outside(L"orvel-outside");
    ASSERT_TRUE(::CopyFileW(app.ExePath().c_str(), (outside / L"Corvane.exe").c_str(), FALSE));
    const harness::StandInApp copy(outside / L"Corvane.exe");
    struct KillCopy {
        const harness::StandInApp& copy;
        ~KillCopy() { copy.Reset(); }
    } killCopy{copy};

    StartService();
    ExpectNeverTrusted(copy);
    EXPECT_EQ(CountLogged(kClientTag, "serverPath:" + harness::ToUtf8(copy.ExePath())), 1);
    // The refusal is a warning event naming the server and why, once for all its attempts.
    EXPECT_TRUE(events.WaitFor("warn", {copy.ExePath(), L"outside the install folder"}));
    EXPECT_EQ(events.Count("warn", {copy.ExePath(), L"outside the install folder"}), 1);
    EXPECT_TRUE(app.Starts().empty());
}

TEST_F(ConnectionTest, WithoutAUsableValidationLibraryTheInstalledApplicationIsNeverTrusted)
{
    // Every answer of the unsigned library's stand-in is 6, which must never pass for an acceptance.
    const ValidatorSwap swap(harness::TestDataFolder() + L"validator\\unsigned\\Halvex.SignatureCheck.Native.dll");
    ASSERT_TRUE(swap.Swapped());

    StartService();
    ExpectNeverTrusted(app);
    EXPECT_TRUE(events.WaitFor("warn", {app.ExePath(), L"validation library unusable"}));
    EXPECT_EQ(events.Count("warn", {app.ExePath(), L"validation library unusable"}), 1);
    EXPECT_EQ(events.Count("warn", {app.ExePath(), L"not signed"}), 0);
}

} // namespace
