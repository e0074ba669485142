// The pipe client driven in this process against the stand-in application: how a client is stopped, how
// a replaced one ends, a broken pipe after a suspend, and a connection ended by a session change.

#include <windows.h>
#include <pbt.h>
#include <wtsapi32.h>

#include <atomic>
#include <memory>

#include "DemonService.h"
#include "DemonServiceClient.h"
#include "PipeFixture.h"
#include "host/ServiceControl.h"
#include "base/WorkerThreads.h"

using namespace pipe_test;

namespace {

// Counts the end-of-thread notices of a client record that no context owns.
class RecordingCallback final : public IClientExitCallback {
public:
    void OnClientThreadExit() override { ++calls; }
    std::atomic<int> calls{0};
};

class ClientTest : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        service = harness::FreshContext();
        ASSERT_NE(service, nullptr);
        ASSERT_EQ(service->AppPath(), app.ExePath());
    }

    void TearDown() override
    {
        // Stops the context's client first, so that killing the application below is no crash to it.
        harness::DropContext();
        LinkTest::TearDown();
    }

    // Runs a record on a client thread of its own, as StartClient does.
    static UniqueHandle RunClient(const std::shared_ptr<CDemonServiceClient>& client)
    {
        auto* threadReference = new std::shared_ptr<CDemonServiceClient>(client);
        UniqueHandle thread(::CreateThread(nullptr, 0, ClientThreadProc, threadReference, 0, nullptr));
        if (!thread) {
            delete threadReference;
        }
        return thread;
    }

    std::shared_ptr<CDemonServiceClient> NewClient(char* buffer, const std::wstring& path)
    {
        return std::make_shared<CDemonServiceClient>(buffer, &callback, path.c_str());
    }

    const DWORD self = ::GetCurrentProcessId();
    DemonService* service = nullptr;
    RecordingCallback callback;
};

TEST_F(ClientTest, StopEndsABlockedReadAtOnceWithoutAWordAndTheClientReportsItsEnd)
{
    DWORD appId = 0;
    UniqueHandle running = StartApp(&appId);
    std::shared_ptr<CDemonServiceClient> client = NewClient(service->m_clientBuffer.get(), app.ExePath());
    UniqueHandle thread = RunClient(client);
    ASSERT_TRUE(thread.valid());
    ASSERT_TRUE(WaitVerified(appId, self));
    ASSERT_TRUE(WaitReading());

    const ULONGLONG begin = ::GetTickCount64();
    client->Stop();
    EXPECT_LE(::GetTickCount64() - begin, 500u);
    EXPECT_EQ(::WaitForSingleObject(thread.get(), 1000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(harness::WaitFor([this] { return callback.calls == 1; }, 2000));
    EXPECT_TRUE(client->HasEnded());

    EXPECT_TRUE(app.WaitForEvent(L"client-gone", appId, 2000));
    EXPECT_EQ(CountLogged(kClientTag, "ReadFile fail"), 0);
    EXPECT_EQ(CountLogged(kClientTag, "CVA_exit == EXIT_COMMAND_SEND_NONE"), 0);
    EXPECT_TRUE(harness::IsRunning(running.get()));
    // Notices run on worker threads; once none is left, every notice there will be has been given.
    EXPECT_TRUE(WaitForWorkerThreads(kLogTimeoutMs));
    EXPECT_EQ(callback.calls, 1);
}

TEST_F(ClientTest, ARecordWithoutABufferEndsAtOnceWithoutReportingAndALongPathIsCut)
{
    const std::wstring longPath = L"C:\\" + std::wstring(600, L'a');
    std::shared_ptr<CDemonServiceClient> client = NewClient(nullptr, longPath);
    EXPECT_EQ(std::wstring(client->m_path), longPath.substr(0, 511));

    UniqueHandle thread = RunClient(client);
    EXPECT_EQ(::WaitForSingleObject(thread.get(), 2000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(profile.ServiceKey(L"CDemonServiceClient"), L"Running");
    EXPECT_EQ(profile.ServiceKey(L"Client_run"), L"Param Error");
    EXPECT_TRUE(WaitForWorkerThreads(kLogTimeoutMs));
    EXPECT_EQ(callback.calls, 0);
}

TEST_F(ClientTest, AReplacedClientNeitherReleasesNorRestartsItsSuccessor)
{
    service->m_status = kStatusRunning;
    DWORD appId = 0;
    UniqueHandle running = StartApp(&appId);
    service->StartClient(app.ExePath().c_str());
    ASSERT_TRUE(WaitVerified(appId, self));
    std::weak_ptr<CDemonServiceClient> first = service->CurrentClient();
    ASSERT_TRUE(WaitReading());

    service->StartClient(app.ExePath().c_str());
    const std::shared_ptr<CDemonServiceClient> second = service->CurrentClient();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first.lock());

    // The first client's thread ends and reports; the report changes nothing.
    EXPECT_TRUE(WaitLogged(kServiceTag, "OnClientThreadExit"));
    EXPECT_TRUE(harness::WaitFor([&first] { return first.expired(); }, 2000));
    EXPECT_TRUE(WaitVerified(appId, self));

    // The successor is the one reading: it gets the next message.
    ASSERT_TRUE(app.AppendInbox(L"send ping"));
    EXPECT_TRUE(WaitLogged(kClientTag, "ping"));
    EXPECT_EQ(service->CurrentClient(), second);
    EXPECT_FALSE(second->HasEnded());

    // Ended as the stop sequence ends it, the successor reports too; once no worker thread is left, the
    // log holds everything both reports did.
    service->m_status = kStatusStopping;
    service->StopCurrentClient();
    ASSERT_TRUE(WaitForWorkerThreads(kLogTimeoutMs));
    EXPECT_EQ(CountLogged(kServiceTag, "StartClient"), 2);
    EXPECT_EQ(CountLogged(kServiceTag, "OnClientThreadExit"), 2);
    EXPECT_EQ(CountLoggedPrefix(kServiceTag, "m_status="), 1);
    EXPECT_EQ(CountLogged(kServiceTag, "m_status=2"), 1);
    EXPECT_EQ(CountLogged(kClientTag, "ReadFile fail"), 0);
}

TEST_F(ClientTest, AReplacedClientThatEndsWhileItsSuccessorIsBeingStartedRestartsNothing)
{
    // Without the application a client wakes once a second to try the pipe; replaced just before it wakes,
    // it ends at once, while StartClient is still bringing up its successor. Each offset puts that end at
    // another point of the replacement.
    service->m_status = kStatusRunning;
    int started = 0;
    for (DWORD offset : {920u, 950u, 980u, 1010u, 1040u}) {
        service->StartClient(app.ExePath().c_str());
        ++started;
        ::Sleep(offset);
        service->StartClient(app.ExePath().c_str());
        ++started;
        const std::shared_ptr<CDemonServiceClient> successor = service->CurrentClient();
        // Every client but the successor has been replaced and reports its end.
        EXPECT_TRUE(WaitLogged(kServiceTag, "OnClientThreadExit", started - 1)) << "offset " << offset;
        EXPECT_EQ(service->CurrentClient(), successor) << "offset " << offset;
        // The successor is replaced in the next round.
    }
    // The last successor ends as the stop sequence ends it; once no worker thread is left, the log holds
    // everything every report did: only the last one, the current client's, got past the check.
    service->m_status = kStatusStopping;
    service->StopCurrentClient();
    ASSERT_TRUE(WaitForWorkerThreads(kLogTimeoutMs));
    EXPECT_EQ(CountLogged(kServiceTag, "StartClient"), started);
    EXPECT_EQ(CountLogged(kServiceTag, "OnClientThreadExit"), started);
    EXPECT_EQ(CountLoggedPrefix(kServiceTag, "m_status="), 1);
    EXPECT_EQ(CountLogged(kServiceTag, "m_status=2"), 1);
}

TEST_F(ClientTest, AfterASuspendWhileTheApplicationRunsItsBrokenPipeIsNoCrash)
{
    DWORD appId = 0;
    UniqueHandle running = StartApp(&appId);
    service->StartClient(app.ExePath().c_str());
    ASSERT_TRUE(WaitVerified(appId, self));

    ServiceCtrlHandler(SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND, nullptr, nullptr);
    ASSERT_TRUE(service->m_hibernate);
    ASSERT_TRUE(app.AppendInbox(L"crash"));
    EXPECT_TRUE(WaitLogged(kClientTag, "ReadFile fail"));
    EXPECT_TRUE(WaitNextConnectAttempt());
    EXPECT_EQ(CountLogged(kServiceTag, "RunCorvane"), 0);
    EXPECT_TRUE(app.Starts().size() == 1u);
    EXPECT_EQ(CountLogged(kClientTag, "CVA_exit == EXIT_COMMAND_SEND_NONE"), 0);
    EXPECT_EQ(profile.CrashCount(), harness::kMissing);
}

TEST_F(ClientTest, ASessionChangeEndsTheVerifiedConnectionAndItsServerIsVerifiedAfreshWithoutACrash)
{
    DWORD appId = 0;
    UniqueHandle running = StartApp(&appId);
    service->StartClient(app.ExePath().c_str());
    ASSERT_TRUE(WaitVerified(appId, self));

    ServiceCtrlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_CONSOLE_CONNECT, nullptr, nullptr);
    EXPECT_TRUE(WaitLogged(kClientTag, "Console session changed: the connection ends and its server is verified afresh"));
    EXPECT_TRUE(WaitLogged(kClientTag, "ValidateAssembly result is true", 2, kNextConnectTimeoutMs));
    // The same instance, connected and verified a second time; the end of the first connection was no
    // crash and no lost connection.
    std::size_t connects = 0;
    for (const harness::JournalRecord& record : app.ReadJournal()) {
        connects += harness::Field(record, L"event") == L"client-connected" && Pid(record) == appId ? 1 : 0;
    }
    EXPECT_EQ(connects, 2u);
    EXPECT_EQ(CountLogged(kClientTag, "ReadFile fail"), 0);
    EXPECT_EQ(CountLogged(kClientTag, "CVA_exit == EXIT_COMMAND_SEND_NONE"), 0);
    EXPECT_EQ(CountLogged(kServiceTag, "RunCorvane"), 0);
    EXPECT_EQ(profile.CrashCount(), harness::kMissing);
    EXPECT_EQ(app.Starts().size(), 1u);
}

} // namespace
