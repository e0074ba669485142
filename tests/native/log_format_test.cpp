#include <gtest/gtest.h>

#include <cstdio>
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

TEST(LogLine, InvisibleFormatCharactersFromOutsideAreWrittenOutSoThatNoPathReadsAsAnother)
{
    // "Corvane\u202Eexe.txt" shows as "Corvanetxt.exe" where the override is obeyed.
    EXPECT_EQ(EscapeControlCharacters(std::wstring(L"C:\\Corvane\x202E" L"exe.txt")), L"C:\\Corvane\\u202Eexe.txt");
    std::wstring every;
    std::wstring written;
    for (const unsigned c : {0x202Au, 0x202Bu, 0x202Cu, 0x202Du, 0x202Eu, 0x2066u, 0x2067u, 0x2068u, 0x2069u, 0x200Bu,
                             0x200Fu, 0x2060u, 0xFEFFu, 0x00ADu, 0x061Cu}) {
        every += static_cast<wchar_t>(c);
        char hex[8] = {};
        std::snprintf(hex, sizeof(hex), "%04X", c);
        written += L"\\u" + std::wstring(hex, hex + 4);
    }
    EXPECT_EQ(EscapeControlCharacters(every), written);
    // A tag character beyond U+FFFF, as one character; letters beyond it (an emoji) and accents stay.
    const std::wstring tag(1, static_cast<wchar_t>(0xE0041));
    EXPECT_EQ(EscapeControlCharacters(L"a" + tag + L"b"), L"a\\U000E0041b");
    const std::wstring kept = std::wstring(L"caf\x00E9 \x4E2D ") + static_cast<wchar_t>(0x1F600);
    EXPECT_EQ(EscapeControlCharacters(kept), kept);
    // Cut at a bound, never inside an escape.
    EXPECT_EQ(EscapeControlCharacters(std::wstring(L"ab\x202E"), 7), L"ab");
    EXPECT_EQ(EscapeControlCharacters(std::wstring(L"ab\x202E"), 8), L"ab\\u202E");

    // Narrow text: the same characters where they stand as UTF-8; bytes of other code pages stay.
    EXPECT_EQ(EscapeControlCharacters(std::string("C:\\Corvane\xE2\x80\xAE" "exe.txt")), "C:\\Corvane\\u202Eexe.txt");
    EXPECT_EQ(EscapeControlCharacters(std::string("\xE2\x81\xA6x\xE2\x81\xA9\xEF\xBB\xBF\xE2\x80\x8B\xF3\xA0\x81\x81")),
              "\\u2066x\\u2069\\uFEFF\\u200B\\U000E0041");
    EXPECT_EQ(EscapeControlCharacters(std::string("a\xC2\x85" "b\xE2\x80\xA8")), "a\\x85b\\u2028");
    // Not a well-formed sequence (cut short, overlong, a surrogate), text of the ANSI code page, and
    // other UTF-8 text are left as they are.
    for (const std::string& other : {std::string("\xE2\x80"), std::string("\xE0\x80\xAE"), std::string("\xED\xA0\x80"),
                                     std::string("caf\xE9 \x93quoted\x94"), std::string("\xE4\xB8\xAD\xF0\x9F\x98\x80")}) {
        EXPECT_EQ(EscapeControlCharacters(other), other);
    }
}
