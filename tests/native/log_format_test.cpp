#include <gtest/gtest.h>

#include <string>

#include "base/LogFormat.h"

namespace {

LogTime SampleTime()
{
    LogTime time;
    time.year = 2026;
    time.month = 3;
    time.day = 7;
    time.hour = 9;
    time.minute = 5;
    time.second = 4;
    time.millisecond = 42;
    return time;
}

TEST(FormatBounded, FitsOrCutsWithTerminatorAndReportsFullLength)
{
    char buffer[8];
    EXPECT_EQ(FormatBounded(buffer, sizeof(buffer), "%s", "abc"), 3);
    EXPECT_STREQ(buffer, "abc");

    EXPECT_EQ(FormatBounded(buffer, sizeof(buffer), "%s-%d", "abcdef", 12345), 12);
    EXPECT_STREQ(buffer, "abcdef-");

    char exact[4];
    EXPECT_EQ(FormatBounded(exact, sizeof(exact), "abc"), 3);
    EXPECT_STREQ(exact, "abc");
    EXPECT_EQ(FormatBounded(exact, sizeof(exact), "abcd"), 4);
    EXPECT_STREQ(exact, "abc");
}

TEST(FormatBounded, RefusesNullOrEmptyBuffers)
{
    char buffer[4] = {'x', 'x', 'x', '\0'};
    EXPECT_EQ(FormatBounded(nullptr, 10, "abc"), -1);
    EXPECT_EQ(FormatBounded(buffer, 0, "abc"), -1);
    EXPECT_STREQ(buffer, "xxx");
}

TEST(FormatBounded, TextLongerThanTheScratchBufferStillEndsInZero)
{
    const std::string huge(kFormatScratchSize * 2, 'a');
    char buffer[kFormatScratchSize];
    EXPECT_EQ(FormatBounded(buffer, sizeof(buffer), "%s", huge.c_str()), static_cast<int>(huge.size()));
    EXPECT_EQ(std::string(buffer), huge.substr(0, kFormatScratchSize - 1));

    std::string big(kFormatScratchSize + 100, '\0');
    EXPECT_EQ(FormatBounded(&big[0], big.size(), "%s", huge.c_str()), static_cast<int>(huge.size()));
    EXPECT_EQ(big.c_str(), huge.substr(0, big.size() - 1));
}

TEST(LogLine, HeaderHasPaddedTimeFileLineTagAndTwoBlanks)
{
    EXPECT_EQ(FormatLogHeader(SampleTime(), "DemonService\\DemonServiceClient.cpp", 214, "ServiceClient"),
              "03-07 09:05:04 042, DemonServiceClient.cpp:214 ServiceClient  ");
    // A path without a backslash is printed whole; none at all prints an empty file name.
    EXPECT_EQ(FormatLogHeader(SampleTime(), "plain.cpp", 1, "DemonService"),
              "03-07 09:05:04 042, plain.cpp:1 DemonService  ");
    EXPECT_EQ(FormatLogHeader(SampleTime(), nullptr, -1, "PANIC"), "03-07 09:05:04 042, :-1 PANIC  ");
    EXPECT_STREQ(SourceFileBaseName("a\\b\\"), "");
}

TEST(LogLine, PanicHeaderAndDayNamedFile)
{
    EXPECT_EQ(FormatPanicHeader(SampleTime()), "2026-03-07 09:05:04  042=====");
    EXPECT_EQ(LogFileName(SampleTime()), L"2026-03-07_service.log");
    LogTime early = SampleTime();
    early.year = 999;
    EXPECT_EQ(LogFileName(early), L"999-03-07_service.log");
}

TEST(LogLine, LogFolderGetsOneSeparator)
{
    EXPECT_EQ(LogFolderOf(L"C:\\Users\\u\\AppData\\Roaming\\Corvane"), L"C:\\Users\\u\\AppData\\Roaming\\Corvane\\logs");
    EXPECT_EQ(LogFolderOf(L"C:\\Data\\"), L"C:\\Data\\logs");
}

} // namespace

TEST(LogLine, ControlCharactersFromOutsideAreWrittenOutAndOtherTextIsKept)
{
    const std::string forged = "ping\r\n01-01 00:00:00 000, DemonService\\DemonService.cpp:1 DemonService  Run";
    EXPECT_EQ(EscapeControlCharacters(forged),
              "ping\\r\\n01-01 00:00:00 000, DemonService\\DemonService.cpp:1 DemonService  Run");
    EXPECT_EQ(EscapeControlCharacters(std::string("a\tb\x01\x1F\x7F", 6) + std::string(1, '\0') + "c"),
              std::string("a\\tb\\x01\\x1F\\x7F\\x00c"));
    // Paths, blanks, quotes and multi-byte text are left as they are.
    const std::string ordinary = "serverPath:C:\\Program Files\\Corvane\\Corvane.exe \"x\" \xE4\xB8\xAD";
    EXPECT_EQ(EscapeControlCharacters(ordinary), ordinary);

    EXPECT_EQ(EscapeControlCharacters(std::wstring(L"a\r\nb\x85\x2028\x2029\x9F\xA0\x4E2D")),
              L"a\\r\\nb\\x85\\u2028\\u2029\\x9F\xA0\x4E2D");
    EXPECT_EQ(EscapeControlCharacters(std::wstring()), L"");
}
