#include "base/ResourceTexts.h"

#include <windows.h>

#include "base/LocaleName.h"
#include "base/SettingsFile.h"
#include "base/Win32Resources.h"

namespace {

// The resource library's exports.
using InitResFn = int (*)(HMODULE module);
using SetCurrentLanguageFn = int (*)(const wchar_t* language);
using LoadWStringFn = int (*)(const wchar_t* key, int capacity, wchar_t* text);

constexpr DWORD kLanguageChars = 128;
// By its full path; what it imports from its own folder and System32 only.
constexpr DWORD kLibraryLoadFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
static_assert(kLibraryLoadFlags == 0x900, "the library's folder and System32, nothing else");

bool CanOpen(const std::wstring& path)
{
    if (path.empty()) {
        return false;
    }
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

std::wstring ChooseLanguage(const std::wstring& iniPath)
{
    const std::wstring language = ReadIniText(iniPath, kBrisaRdpSection, L"LANGUAGE", kLanguageChars);
    // The settings file is the user's: only a name that looks like a locale, and one the system knows,
    // reaches the library; anything else counts as no choice.
    if (IsPlausibleLocaleName(language) && ::IsValidLocaleName(language.c_str())) {
        return language;
    }
    // The first of the user's preferred UI languages; the list is double-null terminated.
    wchar_t preferred[kLanguageChars] = {};
    ULONG count = 0;
    ULONG chars = kLanguageChars;
    if (!::GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, preferred, &chars)) {
        return std::wstring();
    }
    preferred[kLanguageChars - 1] = L'\0';
    return preferred;
}

std::wstring LoadText(LoadWStringFn loadWString, const wchar_t* key, const wchar_t* fallback)
{
    wchar_t text[kResourceTextChars + 1] = {};
    loadWString(key, kResourceTextChars, text);
    text[kResourceTextChars] = L'\0';
    if (text[0] == L'\0' || std::wstring(text) == key) {
        return fallback;
    }
    return text;
}

} // namespace

LocalizedTexts LoadLocalizedTexts(const std::wstring& resourceDllPath, const std::wstring& serviceFolder,
                                  const std::wstring& iniPath, const LibraryFolderCheck& folderCheck)
{
    LocalizedTexts texts;
    texts.menuTitle = kDefaultMenuTitle;

    std::wstring libraryPath = resourceDllPath;
    if (!CanOpen(libraryPath)) {
        std::wstring folder = serviceFolder;
        if (!folder.empty() && folder.back() == L'\\') {
            folder.pop_back();
        }
        libraryPath = folder + L"\\" + L"ResText2052.dll";
    }

    // The library runs in LocalSystem: only from a folder that nobody else may change, and what it
    // imports only from that folder and System32.
    const std::size_t lastSeparator = libraryPath.find_last_of(L"\\/");
    texts.folderRefusal = folderCheck(lastSeparator == std::wstring::npos ? std::wstring()
                                                                      : libraryPath.substr(0, lastSeparator + 1));
    if (!texts.folderRefusal.empty()) {
        return texts;
    }
    UniqueModule library(::LoadLibraryExW(libraryPath.c_str(), nullptr, kLibraryLoadFlags));
    if (!library) {
        return texts;
    }
    auto initRes = reinterpret_cast<InitResFn>(reinterpret_cast<void*>(::GetProcAddress(library.get(), "InitRes")));
    auto loadWString =
        reinterpret_cast<LoadWStringFn>(reinterpret_cast<void*>(::GetProcAddress(library.get(), "LoadWString")));
    if (initRes == nullptr || loadWString == nullptr) {
        return texts;
    }
    initRes(library.get());

    auto setLanguage = reinterpret_cast<SetCurrentLanguageFn>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "SetCurrentLanguage")));
    if (setLanguage != nullptr) {
        const std::wstring language = ChooseLanguage(iniPath);
        setLanguage(language.c_str());
    }

    texts.appTitle = LoadText(loadWString, L"app_title", kDefaultAppTitle);
    texts.menuTitle = LoadText(loadWString, L"sendbox_file_menu_share_title", kDefaultMenuTitle);
    return texts;
}
