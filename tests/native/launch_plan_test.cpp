#include <gtest/gtest.h>

#include "supervision/LaunchPlan.h"

namespace {

TEST(LaunchCommandLine, BackgroundOneAloneAddsTheSwitchAfterTheQuotedPath)
{
    const std::wstring path = L"C:\\A\\app.exe";
    EXPECT_EQ(BuildLaunchCommand(path, 1)->commandLine, L"\"C:\\A\\app.exe\" /mode:background");
    for (int background : {0, 2, -1}) {
        EXPECT_EQ(BuildLaunchCommand(path, background)->commandLine, L"\"C:\\A\\app.exe\"") << background;
    }
}

TEST(LaunchCommandLine, WorkingFolderEndsWithTheLastBackslash)
{
    EXPECT_EQ(BuildLaunchCommand(L"C:\\A\\app.exe", 0)->workingFolder, L"C:\\A\\");
    EXPECT_EQ(BuildLaunchCommand(L"C:\\Program Files\\Corvane\\Corvane.exe", 1)->workingFolder,
              L"C:\\Program Files\\Corvane\\");
    EXPECT_EQ(BuildLaunchCommand(L"C:\\app.exe", 0)->workingFolder, L"C:\\");
    // No folder at all: the current directory is left alone.
    const auto bare = BuildLaunchCommand(L"app.exe", 0);
    ASSERT_TRUE(bare.has_value());
    EXPECT_TRUE(bare->workingFolder.empty());
    EXPECT_EQ(bare->commandLine, L"\"app.exe\"");
}

TEST(LaunchCommandLine, BlanksStayInsideTheQuotes)
{
    const auto launch = BuildLaunchCommand(L"C:\\Program Files\\My App\\app.exe", 1);
    ASSERT_TRUE(launch.has_value());
    EXPECT_EQ(launch->commandLine, L"\"C:\\Program Files\\My App\\app.exe\" /mode:background");
}

TEST(LaunchCommandLine, PathsThatCannotBeQuotedWholeAreRefused)
{
    EXPECT_FALSE(BuildLaunchCommand(L"", 0).has_value());
    EXPECT_FALSE(BuildLaunchCommand(L"C:\\A\\app.exe\" /evil \"", 0).has_value());
    EXPECT_FALSE(BuildLaunchCommand(L"\"C:\\A\\app.exe\"", 0).has_value());
}

TEST(LaunchCommandLine, LongPathsAreRefusedAtTheBufferLimitNeverCut)
{
    // 511 units of command line and the terminator fill the buffer exactly.
    const std::size_t longestPlain = kLaunchBufferChars - 1 - 2;
    const std::size_t longestBackground = longestPlain - (sizeof(kBackgroundSwitch) / sizeof(wchar_t) - 1);
    auto pathOf = [](std::size_t length) { return L"C:\\" + std::wstring(length - 3, L'a'); };

    const auto plain = BuildLaunchCommand(pathOf(longestPlain), 0);
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(plain->commandLine.size(), kLaunchBufferChars - 1);
    EXPECT_FALSE(BuildLaunchCommand(pathOf(longestPlain + 1), 0).has_value());

    const auto background = BuildLaunchCommand(pathOf(longestBackground), 1);
    ASSERT_TRUE(background.has_value());
    EXPECT_EQ(background->commandLine.size(), kLaunchBufferChars - 1);
    EXPECT_EQ(background->commandLine.substr(background->commandLine.size() - 17), L" /mode:background");
    EXPECT_FALSE(BuildLaunchCommand(pathOf(longestBackground + 1), 1).has_value());
    // The same path still fits without the switch.
    EXPECT_TRUE(BuildLaunchCommand(pathOf(longestBackground + 1), 0).has_value());
    EXPECT_FALSE(BuildLaunchCommand(pathOf(4000), 0).has_value());
}

TEST(LaunchCommandLine, NullPathIsRefusedBeforeAMissingSession)
{
    EXPECT_STREQ(LaunchRefusalLine(nullptr, 1), "RunCorvane path is NULL");
    EXPECT_STREQ(LaunchRefusalLine(nullptr, kNoConsoleSession), "RunCorvane path is NULL");
    EXPECT_STREQ(LaunchRefusalLine(L"C:\\A\\app.exe", kNoConsoleSession), "WTSGetActiveConsoleSessionId return false");
    EXPECT_EQ(LaunchRefusalLine(L"C:\\A\\app.exe", 1), nullptr);
    // Session 0 is a session like any other here; whether a user is logged on there is the token's say.
    EXPECT_EQ(LaunchRefusalLine(L"C:\\A\\app.exe", 0), nullptr);
    EXPECT_EQ(LaunchRefusalLine(L"", 1), nullptr);
}

} // namespace
