#include <gtest/gtest.h>

#include "supervision/CrashCountPlan.h"

namespace {

TEST(CrashCounterPath, LiesBesideTheSettingsFile)
{
    EXPECT_EQ(CrashCounterPathFor(L"C:\\Users\\u\\AppData\\Roaming\\Corvane\\BrisaRDP.ini"),
              L"C:\\Users\\u\\AppData\\Roaming\\Corvane\\BrisaData.ini");
    EXPECT_EQ(CrashCounterPathFor(L"D:\\Settings With Blanks\\x.ini"), L"D:\\Settings With Blanks\\BrisaData.ini");
    // Only the last backslash counts; the name of the settings file plays no part.
    EXPECT_EQ(CrashCounterPathFor(L"C:\\a\\b\\"), L"C:\\a\\b\\BrisaData.ini");
}

TEST(CrashCounterPath, WithoutAFolderThereIsNoCounter)
{
    // Never the root of the current drive: an empty path makes the caller write nothing.
    EXPECT_EQ(CrashCounterPathFor(L"BrisaRDP.ini"), L"");
    EXPECT_EQ(CrashCounterPathFor(L""), L"");
    EXPECT_EQ(CrashCounterPathFor(L"\\BrisaRDP.ini"), L"");
    EXPECT_EQ(CrashCounterPathFor(L"\\"), L"");
    // A backslash at the first character but another after it: the folder is kept.
    EXPECT_EQ(CrashCounterPathFor(L"\\share\\BrisaRDP.ini"), L"\\share\\BrisaData.ini");
}

TEST(CrashCounterPath, LongSettingsPathsAreKeptWhole)
{
    const std::wstring folder = L"C:\\" + std::wstring(600, L'f');
    EXPECT_EQ(CrashCounterPathFor(folder + L"\\BrisaRDP.ini"), folder + L"\\BrisaData.ini");
}

} // namespace
