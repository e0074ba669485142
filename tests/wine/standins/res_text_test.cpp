// The stand-in resource library and its two variants answer as the service's start-up expects.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "harness/StandInApp.h"

using namespace harness;

namespace {

using InitResFn = int (*)(HMODULE);
using SetCurrentLanguageFn = int (*)(const wchar_t*);
using LoadWStringFn = int (*)(const wchar_t*, int, wchar_t*);
using InspectFn = int (*)(wchar_t*, int);

template <typename Fn>
Fn Export(HMODULE library, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

std::wstring Load(LoadWStringFn load, const wchar_t* key)
{
    wchar_t text[128] = {};
    load(key, 128, text);
    return text;
}

std::wstring Inspect(HMODULE library, const char* name)
{
    wchar_t text[512] = {};
    Export<InspectFn>(library, name)(text, 512);
    return text;
}

TEST(ResTextTest, InstalledLibraryChoosesItsTableByLanguageNameIgnoringCase)
{
    UniqueModule library(::LoadLibraryW((InstallFolder() + L"ResText2052.dll").c_str()));
    ASSERT_TRUE(library.valid()) << "run scripts/sandbox.sh";
    auto initRes = Export<InitResFn>(library.get(), "InitRes");
    auto setLanguage = Export<SetCurrentLanguageFn>(library.get(), "SetCurrentLanguage");
    auto load = Export<LoadWStringFn>(library.get(), "LoadWString");
    ASSERT_TRUE(initRes && setLanguage && load);

    EXPECT_EQ(initRes(library.get()), 1);
    EXPECT_EQ(Load(load, L"app_title"), L"Corvane Companion");

    EXPECT_EQ(setLanguage(L"ZH-cn"), 1);
    EXPECT_EQ(Load(load, L"app_title"), L"Corvane \u52A9\u624B");
    EXPECT_EQ(Load(load, L"sendbox_file_menu_share_title"), L"\u7528 Corvane \u5206\u4EAB");
    EXPECT_EQ(setLanguage(L"de-DE"), 1);
    EXPECT_EQ(Load(load, L"sendbox_file_menu_share_title"), L"Mit Corvane teilen");
    EXPECT_EQ(setLanguage(L"fr-FR"), 0);
    EXPECT_EQ(Load(load, L"app_title"), L"Corvane Companion");
    EXPECT_EQ(Load(load, L"no_such_key"), L"no_such_key");

    EXPECT_EQ(Inspect(library.get(), "ResTextLastLanguage"), L"fr-FR");
    EXPECT_EQ(Inspect(library.get(), "ResTextCallTrace").rfind(L"InitRes(self),LoadWString,SetCurrentLanguage", 0), 0u);
}

TEST(ResTextTest, LoadWStringStaysWithinItsCapacity)
{
    UniqueModule library(::LoadLibraryW((InstallFolder() + L"ResText2052.dll").c_str()));
    ASSERT_TRUE(library.valid());
    auto load = Export<LoadWStringFn>(library.get(), "LoadWString");
    ASSERT_TRUE(load);

    wchar_t text[8] = {L'#', L'#', L'#', L'#', L'#', L'#', L'#', L'#'};
    EXPECT_EQ(load(L"app_title", 5, text), 4);
    EXPECT_EQ(std::wstring(text), L"Corv");
    EXPECT_EQ(text[5], L'#');

    wchar_t untouched[2] = {L'#', L'#'};
    EXPECT_EQ(load(L"app_title", 0, untouched), 0);
    EXPECT_EQ(load(L"app_title", -1, untouched), 0);
    EXPECT_EQ(untouched[0], L'#');
    EXPECT_EQ(load(L"app_title", 16, nullptr), 0);
    EXPECT_EQ(load(L"app_title", 1, untouched), 0);
    EXPECT_EQ(untouched[0], L'\0');
}

TEST(ResTextTest, TestVariantsEchoTheKeyOrLackLoadWString)
{
    UniqueModule echo(::LoadLibraryW((TestDataFolder() + L"ResTextKeyEcho.dll").c_str()));
    ASSERT_TRUE(echo.valid()) << ToUtf8(TestDataFolder() + L"ResTextKeyEcho.dll");
    auto load = Export<LoadWStringFn>(echo.get(), "LoadWString");
    ASSERT_TRUE(load);
    EXPECT_EQ(Load(load, L"app_title"), L"app_title");

    UniqueModule noLoad(::LoadLibraryW((TestDataFolder() + L"ResTextNoLoad.dll").c_str()));
    ASSERT_TRUE(noLoad.valid());
    EXPECT_NE(Export<InitResFn>(noLoad.get(), "InitRes"), nullptr);
    EXPECT_NE(Export<SetCurrentLanguageFn>(noLoad.get(), "SetCurrentLanguage"), nullptr);
    EXPECT_EQ(Export<LoadWStringFn>(noLoad.get(), "LoadWString"), nullptr);
}

} // namespace
