// The service's client connects to the application's pipe only when the process serving it is trusted,
// and takes what one read returns as one message.

#include <algorithm>
#include <cwctype>

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
    // Starts server, which sends crash notices and an exit notice to each client that connects, and
    // expects the service to refuse it on three attempts and to act on nothing it sent.
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
        ASSERT_TRUE(WaitLogged(kClientTag, "ValidateAssembly result is false", 3, kStartTimeoutMs));
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

TEST_F(ConnectionTest, APipeServedByAnUnsignedCopyIsNeverTrustedAndNothingItSendsIsActedOn)
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

    // Every attempt names the copy, is refused, and the pipe is closed again: one attempt a second.
    const ULONGLONG begin = ::GetTickCount64();
    ASSERT_TRUE(harness::WaitFor(
        [&] { return CountLogged(kClientTag, "ValidateAssembly result is false") >= 4; }, kStartTimeoutMs, 100));
    const ULONGLONG fourAttempts = ::GetTickCount64() - begin;
    EXPECT_GE(fourAttempts, 2500u);

    const std::string expectedPath = "serverpath:" + harness::ToUtf8(Lower(copy.ExePath()));
    int refused = 0;
    int named = 0;
    std::string previous;
    for (const LogLine& line : Logged()) {
        if (line.tag != kClientTag) {
            continue;
        }
        if (line.message.compare(0, 11, "serverPath:") == 0) {
            ++named;
            EXPECT_EQ(harness::ToUtf8(Lower(harness::FromUtf8(line.message))), expectedPath);
        }
        if (line.message == "ValidateAssembly result is false") {
            ++refused;
            EXPECT_EQ(previous.compare(0, 11, "serverPath:"), 0);
        }
        EXPECT_NE(line.message, "ValidateAssembly result is true");
        previous = line.message;
    }
    EXPECT_GE(refused, 4);
    EXPECT_LE(named - refused, 1);

    // The copy saw the service come and go on each attempt; its journal may trail the service's log by
    // the attempt under way.
    int connects = 0;
    int gone = 0;
    harness::WaitFor([&] {
        connects = 0;
        gone = 0;
        for (const JournalRecord& record : copy.ReadJournal()) {
            connects += Field(record, L"event") == L"client-connected" ? 1 : 0;
            gone += Field(record, L"event") == L"client-gone" ? 1 : 0;
        }
        return connects >= 4 && gone >= 3;
    }, kStartTimeoutMs, 100);
    EXPECT_GE(connects, 4);
    EXPECT_GE(gone, 3);

    EXPECT_EQ(profile.ServiceKey(L"Connected"), harness::kMissing);
    EXPECT_EQ(CountLogged(kClientTag, "CVA crash"), 0);
    EXPECT_EQ(CountLogged(kServiceTag, "RunCorvane"), 0);
    EXPECT_EQ(CountLogged(kClientTag, "ReadFile fail"), 0);
    EXPECT_EQ(CountLoggedPrefix(kClientTag, "c:"), 0);
    EXPECT_EQ(CountLoggedPrefix(kClientTag, "app_exit"), 0);
    EXPECT_EQ(CountLogged(kClientTag, "hibernate"), 0);
    EXPECT_TRUE(app.Starts().empty());
    EXPECT_TRUE(harness::IsRunning(running.get()));
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
    EXPECT_GE(CountLogged(kClientTag, "serverPath:" + harness::ToUtf8(copy.ExePath())), 3);
    // Each refusal is a warning event naming the server and why.
    EXPECT_TRUE(events.WaitFor("warn", {copy.ExePath(), L"outside the install folder"}, 3));
    EXPECT_TRUE(app.Starts().empty());
}

TEST_F(ConnectionTest, WithoutAUsableValidationLibraryTheInstalledApplicationIsNeverTrusted)
{
    // Every answer of the unsigned library's stand-in is 6, which must never pass for an acceptance.
    const ValidatorSwap swap(harness::TestDataFolder() + L"validator\\unsigned\\Halvex.SignatureCheck.Native.dll");
    ASSERT_TRUE(swap.Swapped());

    StartService();
    ExpectNeverTrusted(app);
    EXPECT_TRUE(events.WaitFor("warn", {app.ExePath(), L"validation library unusable"}, 3));
    EXPECT_EQ(events.Count("warn", {app.ExePath(), L"not signed"}), 0);
}

} // namespace
