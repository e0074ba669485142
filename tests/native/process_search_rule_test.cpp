#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

#include "supervision/ProcessSearchRule.h"

namespace {

TEST(ImageName, IsTheTextAfterTheLastBackslash)
{
    EXPECT_EQ(ImageNameOf(L"C:\\A\\app.exe"), L"app.exe");
    EXPECT_EQ(ImageNameOf(L"C:\\Program Files\\Corvane\\Corvane.exe"), L"Corvane.exe");
    EXPECT_TRUE(ImageNameOf(L"app.exe").empty());
    EXPECT_TRUE(ImageNameOf(L"C:\\A\\").empty());
    EXPECT_TRUE(ImageNameOf(L"").empty());
}

TEST(ImageName, FixedTextMatchesOnlyTheWholeTextWithItsLetterCase)
{
    wchar_t buffer[16] = L"C:\\A\\app.exe";
    EXPECT_TRUE(FixedTextEquals(buffer, 16, L"C:\\A\\app.exe"));
    EXPECT_FALSE(FixedTextEquals(buffer, 16, L"C:\\A\\App.exe"));
    EXPECT_FALSE(FixedTextEquals(buffer, 16, L"C:\\A\\app.ex"));
    EXPECT_FALSE(FixedTextEquals(buffer, 16, L"C:\\A\\app.exe2"));
    EXPECT_FALSE(FixedTextEquals(buffer, 16, L""));
    EXPECT_FALSE(FixedTextEquals(nullptr, 16, L"C:\\A\\app.exe"));
}

TEST(ImageName, AFullBufferWithoutTerminatorMatchesNothingAndIsNotReadBeyond)
{
    // Exactly the capacity, no zero unit: a text cut to fit must never pass for a shorter path.
    std::vector<wchar_t> full(8, L'a');
    EXPECT_FALSE(FixedTextEquals(full.data(), full.size(), std::wstring(8, L'a')));
    EXPECT_FALSE(FixedTextEquals(full.data(), full.size(), std::wstring(20, L'a')));
    // One unit shorter with its terminator fits exactly.
    full.back() = L'\0';
    EXPECT_TRUE(FixedTextEquals(full.data(), full.size(), std::wstring(7, L'a')));
}

// The launch starts the application only in the console session; ending every instance ends only those.
TEST(ProcessSearchRule, EveryInstanceMeansEveryInstanceInTheConsoleSession)
{
    EXPECT_TRUE(IsEndedWithEveryInstance(1ul, 1));
    EXPECT_FALSE(IsEndedWithEveryInstance(2ul, 1));           // another user's, after a switch of users
    EXPECT_FALSE(IsEndedWithEveryInstance(0ul, 1));
    EXPECT_FALSE(IsEndedWithEveryInstance(std::nullopt, 1));  // its session could not be read
    EXPECT_FALSE(IsEndedWithEveryInstance(0xFFFFFFFFul, 0xFFFFFFFFul));  // nobody at the console
}

} // namespace
