// Working in the user's folder: what a write holds while it runs, and a link anywhere on the way down
// from the user's profile folder.

#include <gtest/gtest.h>

#include "ContextSandbox.h"
#include "StandInApp.h"
#include "base/ConsoleUser.h"
#include "base/DiagnosticLog.h"
#include "base/SettingsFile.h"
#include "base/UserFolderAccess.h"
#include "supervision/CrashCount.h"

using namespace harness;

namespace {

class UserFolderAccessTest : public ::testing::Test {
protected:
    UserProfileSandbox profile;
};

TEST_F(UserFolderAccessTest, WhileAWriteHoldsItsFoldersNoneCanBeRenamedAndTheApplicationStillWritesItsSection)
{
    StandInApp app;
    ASSERT_TRUE(app.Installed()) << "run scripts/sandbox.sh first";
    app.Reset();
    CreateFolders(profile.DataDir());
    ASSERT_TRUE(IniWrite(profile.IniPath(), L"Service", L"Running", L"1"));
    {
        // What a settings write holds until it is done.
        ConsoleUserImpersonation user;
        ASSERT_TRUE(user.allowed());
        const HeldFolderChain folders = user.HoldFolder(profile.DataDir());
        const UniqueFileHandle file =
            OpenPlainFile(profile.IniPath(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
        ASSERT_TRUE(folders.valid());
        ASSERT_TRUE(file.valid());
        for (const std::wstring& folder : {profile.RoamingFolder(), profile.DataDir()}) {
            EXPECT_FALSE(::MoveFileW(folder.c_str(), (folder + L"-moved").c_str())) << ToUtf8(folder);
        }

        // The application, as the same user, writes its own section meanwhile.
        wchar_t ownAppData[MAX_PATH] = {};
        ::GetEnvironmentVariableW(L"APPDATA", ownAppData, MAX_PATH);
        ::SetEnvironmentVariableW(L"APPDATA", profile.RoamingFolder().c_str());
        UniqueHandle process = app.StartWithScript(L"ini exit=1; quit");
        ::SetEnvironmentVariableW(L"APPDATA", ownAppData);
        ASSERT_TRUE(process.valid());
        ASSERT_TRUE(WaitForExit(process.get(), kStartTimeoutMs));
        EXPECT_EQ(IniRead(profile.IniPath(), harness::kCorvaneSection, L"exit"), L"1");
        EXPECT_EQ(IniRead(profile.IniPath(), L"Service", L"Running"), L"1");
    }
    // Once the write is done the folders are free again.
    const std::wstring moved = profile.DataDir() + L"-moved";
    EXPECT_TRUE(::MoveFileW(profile.DataDir().c_str(), moved.c_str()));
    ::MoveFileW(moved.c_str(), profile.DataDir().c_str());
    app.Reset();
}

TEST_F(UserFolderAccessTest, NestedScopesGiveTheThreadBackTheTokenItHadBefore)
{
    CreateFolders(profile.DataDir());
    ASSERT_TRUE(::ImpersonateSelf(SecurityImpersonation));
    UniqueHandle before;
    ASSERT_TRUE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, before.put()));
    {
        ConsoleUserImpersonation outer;
        EXPECT_TRUE(outer.allowed());
        {
            ConsoleUserImpersonation inner;
            EXPECT_TRUE(inner.allowed());
            EXPECT_TRUE(inner.HoldFolder(profile.DataDir()).valid());
        }
        EXPECT_TRUE(outer.HoldFolder(profile.DataDir()).valid());
    }
    // The thread wears a token again, the one it had: its statistics name the same token.
    UniqueHandle after;
    ASSERT_TRUE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, after.put()));
    TOKEN_STATISTICS beforeStatistics = {};
    TOKEN_STATISTICS afterStatistics = {};
    DWORD bytes = 0;
    ASSERT_TRUE(::GetTokenInformation(before.get(), TokenStatistics, &beforeStatistics, sizeof(beforeStatistics),
                                      &bytes));
    ASSERT_TRUE(::GetTokenInformation(after.get(), TokenStatistics, &afterStatistics, sizeof(afterStatistics),
                                      &bytes));
    EXPECT_EQ(afterStatistics.TokenId.LowPart, beforeStatistics.TokenId.LowPart);
    EXPECT_EQ(afterStatistics.TokenId.HighPart, beforeStatistics.TokenId.HighPart);
    ASSERT_TRUE(::RevertToSelf());
}

TEST_F(UserFolderAccessTest, ALinkAnywhereOnTheWayDownGetsNothingWritten)
{
    // Where the links lead: a user folder with the log switched on.
    TempFolder elsewhere(L"orvel-elsewhere");
    const std::wstring realRoaming = elsewhere / L"real\\Roaming";
    const std::wstring realData = realRoaming + L"\\Corvane";
    CreateFolders(realData + L"\\logs");
    WriteFileBytes(realData + L"\\logs\\debug", "");
    // A folder above the roaming folder is a link, or the roaming folder itself is.
    ASSERT_TRUE(MakeUnixLink(elsewhere / L"real", profile.RoamingFolder() + L"\\above", true));
    ASSERT_TRUE(MakeUnixLink(realRoaming, profile.RoamingFolder() + L"\\Roaming", true));

    const std::wstring linked[] = {profile.RoamingFolder() + L"\\above\\Roaming",
                                   profile.RoamingFolder() + L"\\Roaming"};
    for (const std::wstring& roaming : linked) {
        SCOPED_TRACE(ToUtf8(roaming));
        profile.ShellAppData().Set(roaming);
        DemonService* service = FreshContext();
        ASSERT_EQ(service->IniPath(), roaming + L"\\Corvane\\BrisaRDP.ini");
        LogMessage("DemonService", "through a link", "x.cpp", 1);
        WritePanicLog("forced through a link", true);
        EXPECT_FALSE(WriteServiceText(L"Running", L"1"));
        EXPECT_FALSE(WriteCrashCount(1));
        EXPECT_EQ(ListFolder(realData), std::vector<std::wstring>{L"logs"});
        EXPECT_EQ(ListFolder(realData + L"\\logs"), std::vector<std::wstring>{L"debug"});
    }

    // Below plain folders, the settings file itself a symbolic link to a file elsewhere: neither written
    // nor read.
    profile.ShellAppData().Set(profile.RoamingFolder());
    FreshContext();
    CreateFolders(profile.DataDir());
    const std::wstring target = elsewhere / L"target.ini";
    WriteFileBytes(target, "[Corvane]\r\nexit=1\r\n");
    ASSERT_TRUE(MakeUnixLink(target, profile.IniPath(), true));
    EXPECT_FALSE(WriteServiceText(L"Running", L"1"));
    EXPECT_EQ(ReadCorvaneInt(L"exit"), 0);
    EXPECT_EQ(ReadFileBytes(target), "[Corvane]\r\nexit=1\r\n");
}

TEST(CallerToken, TheConsoleUserLookedUpByNameIsTheUserOfTheConsoleToken)
{
    // What a command-line run without the console user's token compares its own user with.
    EXPECT_EQ(LookUpConsoleUserSid(), ReadConsoleUserSid());
    EXPECT_EQ(LookUpConsoleUserSid(), std::wstring(kUserSid));
    EXPECT_FALSE(ReadCallerToken().localSystem);
}

} // namespace
