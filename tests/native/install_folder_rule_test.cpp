#include <gtest/gtest.h>

#include "link/InstallFolderRule.h"

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

} // namespace
