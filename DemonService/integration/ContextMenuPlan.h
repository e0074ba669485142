#pragma once

// What the service writes into and removes from Explorer's context menus: key names and value texts
// only, no I/O. Every key lies under HKEY_CLASSES_ROOT (and, for removal, also under the console
// user's own classes).

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The sharing entry on every file.
constexpr wchar_t kSharingKey[] = L"*\\shell\\FileDock";
constexpr wchar_t kSharingCommandKey[] = L"*\\shell\\FileDock\\command";
// The entry text when there is no context.
constexpr wchar_t kDefaultSharingTitle[] = L"Add to Sendbox";
// The application's own switches for "share this file"; Explorer puts the file's path for %1.
constexpr wchar_t kSharingArguments[] = L" /cmd:6 /f:\"%1\"";

// Buffer capacities of the values, terminator included.
constexpr std::size_t kSharingIconChars = 256;
constexpr std::size_t kSharingTitleChars = 128;
constexpr std::size_t kSharingCommandChars = 512;

// The device submenu has one entry for each of the devices 0 to kLastDeviceEntry.
constexpr int kLastDeviceEntry = 255;

// The application's shell-extension package: while it is installed, the service leaves the sharing
// entry to it.
constexpr wchar_t kShellExtensionPackage[] = L"OrvelExtInstaller";
constexpr wchar_t kPackageListKey[] =
    L"Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\AppModel\\PackageRepository\\Packages";
constexpr std::size_t kPackageNameChars = 260;

// "Icon": the application path in double quotes. nullopt when it does not fit kSharingIconChars: a cut
// path would name another file.
std::optional<std::wstring> SharingIconValue(const std::wstring& appPath);

// The command's default value: the application path in double quotes (a path with blanks never lets
// Explorer start a shorter one), then kSharingArguments. nullopt when it does not fit
// kSharingCommandChars.
std::optional<std::wstring> SharingCommandValue(const std::wstring& appPath);

// "MUIVerb": the title, cut to kSharingTitleChars - 1 characters.
std::wstring SharingTitleValue(const std::wstring& title);

// Whether a package's full name holds the partial name (letter case counts). An empty partial name
// matches nothing.
bool PackageNameMatches(const std::wstring& fullName, const std::wstring& partialName);

// Every key the stop removes, innermost first, in the order of deletion: for files ("*\shell\Corvane")
// the device entries 0 to 255 (each "Command" before its entry), the scan entry, the submenu's
// container and root; then the sharing entry's command and key; then the same submenu for folders
// ("Directory\shell\Corvane"). 1 034 names; none is longer than 255 characters.
std::vector<std::wstring> ContextMenuKeysToRemove();
