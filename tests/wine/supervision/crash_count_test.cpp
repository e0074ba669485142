// The crash counter BrisaData.ini beside the console user's settings file.

#include <windows.h>

#include "Sandbox.h"
#include "SupervisionFixture.h"
#include "supervision/CrashCount.h"

using namespace supervision_test;

namespace {

class CrashCountTest : public SupervisionTest {
protected:
    // What the lost-connection rule does for one crash: read into 0, write that plus one.
    void CountOneCrash()
    {
        int count = 0;
        ReadCrashCount(&count);
        EXPECT_TRUE(WriteCrashCount(static_cast<unsigned>(count) + 1));
    }
};

TEST_F(CrashCountTest, TheFirstCrashCreatesTheCounterBesideTheSettingsFileAndEachOneRaisesIt)
{
    harness::CreateFolders(profile.DataDir());
    ASSERT_FALSE(harness::PathExists(profile.CrashCounterPath()));
    int count = 0;
    EXPECT_FALSE(ReadCrashCount(&count));
    EXPECT_EQ(count, 0);

    CountOneCrash();
    EXPECT_EQ(profile.CrashCount(), L"1");
    CountOneCrash();
    EXPECT_EQ(profile.CrashCount(), L"2");
    EXPECT_TRUE(ReadCrashCount(&count));
    EXPECT_EQ(count, 2);
    // Nothing else lands in the settings file.
    EXPECT_EQ(harness::IniRead(profile.IniPath(), L"SC", L"crash"), harness::kMissing);
}

TEST_F(CrashCountTest, AnEmptyOrUnreadableCounterLeavesTheCountAndRestartsAtOne)
{
    harness::CreateFolders(profile.DataDir());
    profile.SetCrashCount(L"");
    int count = 7;
    EXPECT_FALSE(ReadCrashCount(&count));
    EXPECT_EQ(count, 7);

    // Text without leading digits counts as 0, as the application's numbers do.
    profile.SetCrashCount(L"many");
    EXPECT_TRUE(ReadCrashCount(&count));
    EXPECT_EQ(count, 0);
    CountOneCrash();
    EXPECT_EQ(profile.CrashCount(), L"1");
}

TEST_F(CrashCountTest, TheCounterFollowsTheConsoleUsersFolder)
{
    harness::CreateFolders(profile.DataDir());
    CountOneCrash();

    // Another user at the console: the service's paths move with the next reload.
    harness::TempFolder otherRoaming(L"otheruser");
    profile.ShellAppData().Set(otherRoaming.Path());
    service->ReloadUserPaths();
    harness::CreateFolders(otherRoaming / L"Corvane");
    CountOneCrash();
    EXPECT_EQ(harness::IniRead(otherRoaming / L"Corvane\\BrisaData.ini", L"SC", L"crash"), L"1");
    EXPECT_EQ(profile.CrashCount(), L"1");
    // Nothing is logged to the moved folder's log by counting; drop the context before its folder goes.
    harness::DropContext();
}

TEST_F(CrashCountTest, AnUnwritableCounterReportsFailure)
{
    // The data folder does not exist: nothing can be written there.
    ASSERT_TRUE(harness::PathExists(profile.DataDir()));
    harness::TempFolder otherRoaming(L"gone");
    profile.ShellAppData().Set(otherRoaming / L"missing");
    service->ReloadUserPaths();
    EXPECT_FALSE(WriteCrashCount(1));
    harness::DropContext();
}

} // namespace
