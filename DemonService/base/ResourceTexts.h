#pragma once

// The localized texts that the service writes into the shell, from the application's resource library.

#include <functional>
#include <string>

struct LocalizedTexts {
    std::wstring appTitle;   // empty when the library cannot be used
    std::wstring menuTitle;
    std::string folderRefusal;  // the log line of a library left unloaded because of its folder
};

// Whether LocalSystem may load a library from a folder: empty when it may, else the log line that says
// why not.
using LibraryFolderCheck = std::function<std::string(const std::wstring& folder)>;

constexpr wchar_t kDefaultAppTitle[] = L"Corvane Assistant";
constexpr wchar_t kDefaultMenuTitle[] = L"Add to Sendbox";
constexpr int kResourceTextChars = 128;

// Loads the library (resourceDllPath when it can be opened, else ResText2052.dll in serviceFolder) by
// its full path, only when folderCheck has nothing against its folder, and with the search for what it
// imports limited to its own folder and System32 (never the current folder or the PATH), selects the
// language ("LANGUAGE" of section "BrisaRDP" in iniPath when it is a locale name the system
// knows, else the user's first preferred UI language), reads both texts and unloads the library again.
// Missing texts take their defaults; an unusable or refused library leaves the title empty and gives
// the default menu text (a refused one with its line in folderRefusal).
LocalizedTexts LoadLocalizedTexts(const std::wstring& resourceDllPath, const std::wstring& serviceFolder,
                                  const std::wstring& iniPath, const LibraryFolderCheck& folderCheck);
