#include "integration/FriendlyAppName.h"

#include <windows.h>

#include <optional>
#include <string>

#include "base/Win32Resources.h"
#include "integration/FriendlyNamePlan.h"
#include "integration/ShellKeys.h"

namespace {

constexpr DWORD kExistingValueBytes = 512;

static_assert(RRF_RT_REG_SZ == 2, "REG_SZ only");

void WriteFriendlyName(HKEY root, const std::wstring& subkey, const std::wstring& valueName, const std::wstring& title)
{
    UniqueRegKey key;
    if (OpenOrCreateVolatileKey(root, subkey, key) != ERROR_SUCCESS) {
        return;
    }
    wchar_t existing[kExistingValueBytes / sizeof(wchar_t)] = {};
    DWORD existingBytes = kExistingValueBytes;
    if (::RegGetValueW(key.get(), nullptr, valueName.c_str(), RRF_RT_REG_SZ, nullptr, existing, &existingBytes) ==
        ERROR_SUCCESS) {
        ::RegDeleteKeyValueW(key.get(), nullptr, valueName.c_str());
    }
    WriteStringValue(key.get(), valueName.c_str(), title);
}

} // namespace

void UpdateFriendlyAppName(const wchar_t* appPath, const wchar_t* appTitle)
{
    const std::wstring sid = ProcessUserSid().substr(0, kSidTextChars - 1);
    const std::wstring title = appTitle != nullptr ? appTitle : L"";
    const std::optional<std::wstring> valueName = FriendlyValueName(appPath != nullptr ? appPath : L"");
    if (!valueName) {
        return;
    }
    WriteFriendlyName(HKEY_CURRENT_USER, kUserMuiCacheKey, *valueName, title);
    if (const std::optional<std::wstring> classesKey = ClassesMuiCacheKey(sid)) {
        WriteFriendlyName(HKEY_USERS, *classesKey, *valueName, title);
    }
}
