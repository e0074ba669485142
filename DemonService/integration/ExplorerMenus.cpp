#include "integration/ExplorerMenus.h"

#include <windows.h>

#include <optional>

#include "base/ConsoleUser.h"
#include "base/DiagnosticLog.h"
#include "base/Win32Resources.h"
#include "integration/ContextMenuPlan.h"
#include "integration/ShellKeys.h"

namespace {

constexpr char kFindPackageTag[] = "FindPackageFullNameByPartialName";
constexpr char kMenuTag[] = "UpdateFileDockFileMenu ";
// Room for the log line prefix and a package name of kPackageNameChars units in UTF-8.
constexpr std::size_t kPackageLogBytes = 1024;
constexpr wchar_t kUserClassesSuffix[] = L"\\Software\\Classes";

static_assert(KEY_READ == 0x20019, "package list access");

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr,
                              nullptr);
    }
    return utf8;
}

// Opens or creates one key of the sharing entry and writes its values; a value without text is skipped.
void WriteSharingKey(const wchar_t* subkey, const wchar_t* firstName, const std::optional<std::wstring>& firstValue,
                     const wchar_t* secondName = nullptr, const std::optional<std::wstring>& secondValue = std::nullopt)
{
    UniqueRegKey key;
    if (OpenOrCreateVolatileKey(HKEY_CLASSES_ROOT, subkey, key) != ERROR_SUCCESS) {
        return;
    }
    if (firstValue) {
        WriteStringValue(key.get(), firstName, *firstValue);
    }
    if (secondName != nullptr && secondValue) {
        WriteStringValue(key.get(), secondName, *secondValue);
    }
}

} // namespace

bool FindPackageFullNameByPartialName(const wchar_t* partialName, std::wstring& fullName)
{
    fullName.clear();
    UniqueRegKey packages;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, kPackageListKey, 0, KEY_READ, packages.put()) != ERROR_SUCCESS) {
        LOG_TAGGED(kFindPackageTag, "failed open reg key");
        return false;
    }
    const std::wstring partial = partialName != nullptr ? partialName : L"";
    for (DWORD index = 0;; ++index) {
        wchar_t name[kPackageNameChars] = {};
        DWORD nameChars = kPackageNameChars;
        if (::RegEnumKeyExW(packages.get(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        const std::wstring candidate(name, nameChars);
        if (PackageNameMatches(candidate, partial)) {
            char line[kPackageLogBytes] = {};
            FormatBounded(line, sizeof(line), "find pkg full name:%s", ToUtf8(candidate).c_str());
            LOG_TAGGED(kFindPackageTag, line);
            fullName = candidate;
            break;
        }
    }
    return !fullName.empty();
}

void UpdateFileDockFileMenu(const wchar_t* appPath, const wchar_t* menuTitle)
{
    std::wstring packageName;
    if (FindPackageFullNameByPartialName(kShellExtensionPackage, packageName)) {
        LOG_TAGGED(kMenuTag, "find msix name success, return directly");
        return;
    }
    LOG_TAGGED(kMenuTag, "find msix name failed, will set sendbox reg key and vaule");

    const std::wstring path = appPath != nullptr ? appPath : L"";
    const std::wstring title = menuTitle != nullptr ? menuTitle : kDefaultSharingTitle;
    WriteSharingKey(kSharingKey, L"Icon", SharingIconValue(path), L"MUIVerb", SharingTitleValue(title));
    WriteSharingKey(kSharingCommandKey, nullptr, SharingCommandValue(path));
}

void RemoveContextMenus()
{
    const std::vector<std::wstring> keys = ContextMenuKeysToRemove();
    DeleteEmptyKeys(HKEY_CLASSES_ROOT, std::wstring(), keys);
    // The application runs as the user and can write its submenu only into the user's own classes,
    // which the service's view of the classes does not include. The user owns those keys: a registry link
    // among them is left alone, never followed to the key it names.
    if (const std::optional<std::wstring> sid = ReadConsoleUserSid()) {
        DeleteEmptyKeys(HKEY_USERS, *sid + kUserClassesSuffix + L"\\", keys);
    }
}
