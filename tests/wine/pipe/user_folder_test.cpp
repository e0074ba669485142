// The service works in the user's data folder, which the user controls: it never writes through a
// link planted there, and goes on without what it refused.

#include "PipeFixture.h"

using namespace pipe_test;

namespace {

class UserFolderTest : public ServiceLinkTest {};

TEST_F(UserFolderTest, ALinkedLogsFolderAndAHardLinkedSettingsFileReceiveNothingAndTheServiceGoesOn)
{
    harness::TempFolder elsewhere(L"orvel-elsewhere");
    // The logs folder is a symbolic link to a folder that holds the marker: logging would be on.
    const std::wstring linkedLogs = elsewhere / L"logs";
    harness::CreateFolders(linkedLogs);
    harness::WriteFileBytes(linkedLogs + L"\\debug", "");
    harness::RemoveTree(profile.LogFolder());
    ASSERT_TRUE(harness::MakeUnixLink(linkedLogs, profile.LogFolder(), true));
    // The settings file has a second name elsewhere.
    SetCorvaneKey(L"exit", L"0");
    const std::string settings = harness::ReadFileBytes(profile.IniPath());
    const std::wstring secondName = elsewhere / L"BrisaRDP.ini";
    ASSERT_TRUE(harness::MakeUnixLink(profile.IniPath(), secondName, false));

    ASSERT_EQ(harness::RunServiceExe(L"-install"), 0u);
    ASSERT_TRUE(harness::WaitForServiceState(SERVICE_RUNNING, kStartTimeoutMs));
    servicePid = ServiceProcessId();

    // The service goes on: it trusts the application and acts on its crash notice.
    DWORD appId = 0;
    UniqueHandle running = StartApp(&appId);
    ASSERT_TRUE(app.AppendInbox(L"wait-client; send c:linked"));
    ASSERT_EQ(WaitForOtherStarts({appId}, kStartTimeoutMs).size(), 1u);
    EXPECT_EQ(harness::ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));

    EXPECT_EQ(harness::ListFolder(linkedLogs), std::vector<std::wstring>{L"debug"});
    EXPECT_EQ(harness::ReadFileBytes(profile.IniPath()), settings);
    EXPECT_EQ(harness::ReadFileBytes(secondName), settings);
    EXPECT_EQ(profile.ServiceKey(L"StartClient"), harness::kMissing);
}

} // namespace
