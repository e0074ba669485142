#pragma once

// The localized texts that the service writes into the shell, from the application's resource library.

#include <string>

struct LocalizedTexts {
    std::wstring appTitle;   // empty when the library cannot be used
    std::wstring menuTitle;
};

constexpr wchar_t kDefaultAppTitle[] = L"Corvane Assistant";
constexpr wchar_t kDefaultMenuTitle[] = L"Add to Sendbox";
constexpr int kResourceTextChars = 128;

// Loads the library (resourceDllPath when it can be opened, else ResText2052.dll in serviceFolder),
// selects the language ("LANGUAGE" of section "BrisaRDP" in iniPath when it is a locale name the system
// knows, else the user's first preferred UI language), reads both texts and unloads the library again.
// Missing texts take their defaults; an unusable library leaves the title empty and gives the default
// menu text.
LocalizedTexts LoadLocalizedTexts(const std::wstring& resourceDllPath, const std::wstring& serviceFolder,
                                  const std::wstring& iniPath);
