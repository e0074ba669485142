#include <gtest/gtest.h>

#include "trust/ConsoleSessionRule.h"
#include "trust/InstallFolderRule.h"

namespace {

constexpr wchar_t kApp[] = L"C:\\Program Files\\Corvane\\Corvane.exe";

TEST(InstallFolderRule, ImagesInTheInstallFolderOrBelowItAreInWhateverTheirLetterCase)
{
    EXPECT_TRUE(IsInInstallFolder(kApp, kApp));
    EXPECT_TRUE(IsInInstallFolder(L"c:\\PROGRAM FILES\\corvane\\Corvane.exe", kApp));
    EXPECT_TRUE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\lockerPlugin\\LockerPlugin.exe", kApp));
    EXPECT_TRUE(IsInInstallFolder(L"C:/Program Files/Corvane/Other.exe", kApp));
    EXPECT_TRUE(IsInInstallFolder(L"\\\\host\\share\\Corvane\\Corvane.exe", L"\\\\HOST\\share\\Corvane\\Corvane.exe"));
}

TEST(InstallFolderRule, ImagesElsewhereAreOutEvenWhenTheirPathBeginsWithTheSameText)
{
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane2\\Corvane.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\CorvaneX.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"D:\\Program Files\\Corvane\\Corvane.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Users\\u\\Corvane.exe", kApp));
    // Case folding is ASCII only: no other letter is taken for its capital.
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\\u00e9\\Corvane.exe", L"C:\\Program Files\\\u00c9\\Corvane.exe"));
}

TEST(InstallFolderRule, AnythingThatNormalisationWouldRewriteIsRefused)
{
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\..\\Evil\\x.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\.\\x.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\\\x.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane.\\x.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane \\x.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\x.exe", L"C:\\Program Files\\Corvane\\..\\Corvane.exe"));
    // Nothing to compare: no image path, no install folder, or the folder is a bare root.
    EXPECT_FALSE(IsInInstallFolder(L"", kApp));
    EXPECT_FALSE(IsInInstallFolder(kApp, L""));
    EXPECT_FALSE(IsInInstallFolder(kApp, L"Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"\\x.exe", L"\\Corvane.exe"));
}

TEST(InstallFolderRule, ARootIsNoInstallFolderSoNoSignedFileOnTheDriveOrShareIsTrustedThroughIt)
{
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Windows\\x.exe", L"C:\\Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Corvane.exe", L"C:\\Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"c:/Users/u/x.exe", L"C:/Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"\\\\host\\share\\x.exe", L"\\\\host\\share\\Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"\\\\?\\C:\\x\\x.exe", L"\\\\?\\C:\\Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"\\\\?\\UNC\\host\\share\\x.exe", L"\\\\?\\UNC\\host\\share\\Corvane.exe"));
    // No root at all: a relative install folder names no folder on any drive.
    EXPECT_FALSE(IsInInstallFolder(L"Corvane\\x.exe", L"Corvane\\Corvane.exe"));
    // One level below a root is a folder like any other.
    EXPECT_TRUE(IsInInstallFolder(L"C:\\Corvane\\x.exe", L"C:\\Corvane\\Corvane.exe"));
    EXPECT_TRUE(IsInInstallFolder(L"\\\\?\\C:\\Corvane\\x.exe", L"\\\\?\\C:\\Corvane\\Corvane.exe"));
}

TEST(InstallFolderRule, TheFoldersAboveAFolderReachItsRootAndNothingElseIsAChain)
{
    using Chain = std::vector<std::wstring>;
    EXPECT_EQ(FoldersUpToRoot(L"C:\\Program Files\\Corvane\\"),
              (Chain{L"C:\\Program Files\\Corvane\\", L"C:\\Program Files\\", L"C:\\"}));
    EXPECT_EQ(FoldersUpToRoot(L"C:/Program Files/Corvane"),
              (Chain{L"C:\\Program Files\\Corvane\\", L"C:\\Program Files\\", L"C:\\"}));
    EXPECT_EQ(FoldersUpToRoot(L"C:\\"), Chain{L"C:\\"});
    EXPECT_EQ(FoldersUpToRoot(L"\\\\host\\share\\Corvane\\"),
              (Chain{L"\\\\host\\share\\Corvane\\", L"\\\\host\\share\\"}));
    EXPECT_EQ(FoldersUpToRoot(L"\\\\?\\C:\\Corvane\\"), (Chain{L"\\\\?\\C:\\Corvane\\", L"\\\\?\\C:\\"}));
    EXPECT_EQ(FoldersUpToRoot(L"\\\\?\\UNC\\host\\share\\C\\"),
              (Chain{L"\\\\?\\UNC\\host\\share\\C\\", L"\\\\?\\UNC\\host\\share\\"}));
    // Nothing that a chain of real folders could be read for: no root, or a name normalisation rewrites.
    for (const wchar_t* path : {L"", L"Corvane\\", L"\\Corvane\\", L"C:\\A\\..\\B\\", L"C:\\A\\.\\", L"C:\\A\\\\B\\",
                                L"C:\\A.\\"}) {
        EXPECT_TRUE(FoldersUpToRoot(path).empty()) << path;
    }
}

// Only the console user's own application may command the service.
TEST(ConsoleSessionRule, OnlyAServerInTheConsoleSessionRunAsTheConsoleUserPasses)
{
    const std::wstring user = L"S-1-5-21-1-2-3-1001";
    const SessionUser console{1ul, user};
    EXPECT_TRUE(IsConsoleUsersProcess({1ul, user}, console));
    EXPECT_FALSE(IsConsoleUsersProcess({2ul, user}, console));                        // fast user switching
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, L"S-1-5-21-1-2-3-1002"}, console));      // another user, same session
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, L"S-1-5-21-1-2-3-10010"}, console));
    // Anything that could not be read is a refusal, on either side.
    EXPECT_FALSE(IsConsoleUsersProcess({std::nullopt, user}, console));
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, std::nullopt}, console));
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, user}, {std::nullopt, user}));
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, user}, {1ul, std::nullopt}));
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, L""}, {1ul, L""}));
    // Nobody at the console: no server is the console user's.
    EXPECT_FALSE(IsConsoleUsersProcess({kNoConsoleSession, user}, {kNoConsoleSession, user}));
}

TEST(ConsoleSessionRule, ThePipesInstanceMustHaveBeenMadeInTheConsoleSessionWhoeverHoldsItsCreatorsId)
{
    const std::wstring user = L"S-1-5-21-1-2-3-1001";
    const SessionUser console{1ul, user};
    EXPECT_TRUE(IsConsoleUsersPipe(1ul, {1ul, user}, console));
    // Made in session 2 by a process that has ended, whose id the console user's application now holds.
    EXPECT_FALSE(IsConsoleUsersPipe(2ul, {1ul, user}, console));
    EXPECT_FALSE(IsConsoleUsersPipe(std::nullopt, {1ul, user}, console));
    EXPECT_FALSE(IsConsoleUsersPipe(1ul, {2ul, user}, console));
    EXPECT_FALSE(IsConsoleUsersPipe(kNoConsoleSession, {kNoConsoleSession, user}, {kNoConsoleSession, user}));
}

} // namespace
