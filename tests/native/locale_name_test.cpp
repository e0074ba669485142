#include <gtest/gtest.h>

#include <string>

#include "base/LocaleName.h"

namespace {

TEST(LocaleName, OnlyLettersDigitsAndHyphensUpToTheLongestLocaleNamePass)
{
    for (const wchar_t* name : {L"de-DE", L"zh-CN", L"en", L"sr-Latn-RS", L"es-419", L"x-Private-1"}) {
        EXPECT_TRUE(IsPlausibleLocaleName(name)) << name;
    }
    EXPECT_TRUE(IsPlausibleLocaleName(std::wstring(kLocaleNameMaxChars, L'a')));
    EXPECT_FALSE(IsPlausibleLocaleName(std::wstring(kLocaleNameMaxChars + 1, L'a')));
    // Paths, separators, blanks, control characters and non-ASCII letters are no locale names.
    for (const wchar_t* name : {L"", L"..\\..\\x", L"de_DE", L"de DE", L"de-DE\r\n", L"C:", L"de.DE",
                                L"d\x00E9-DE", L"de\x0660"}) {
        EXPECT_FALSE(IsPlausibleLocaleName(name)) << static_cast<int>(std::wstring(name).size());
    }
}

} // namespace
