#include "integration/ShellKeys.h"

#include "integration/RegistryKeyPath.h"

namespace {

static_assert(KEY_ALL_ACCESS == 0xF003F, "full access");
static_assert(REG_OPTION_VOLATILE == 1, "volatile option");

LONG CreateKey(HKEY root, const std::wstring& subkey, DWORD options, UniqueRegKey& key)
{
    return ::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
}

} // namespace

LONG OpenOrCreateVolatileKey(HKEY root, const std::wstring& subkey, UniqueRegKey& key)
{
    const LONG opened = ::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (opened != ERROR_FILE_NOT_FOUND) {
        return opened;
    }
    // RegCreateKeyExW would give every key it creates the leaf's volatility: the ancestors come first,
    // one by one, as ordinary keys (an existing one is only opened).
    for (const std::wstring& parent : ParentKeyPaths(subkey)) {
        UniqueRegKey ancestor;
        LONG created = CreateKey(root, parent, REG_OPTION_NON_VOLATILE, ancestor);
        if (created == ERROR_CHILD_MUST_BE_VOLATILE) {
            created = CreateKey(root, parent, REG_OPTION_VOLATILE, ancestor);
        }
        if (created != ERROR_SUCCESS) {
            return created;
        }
    }
    return CreateKey(root, subkey, REG_OPTION_VOLATILE, key);
}

LONG WriteStringValue(HKEY key, const wchar_t* name, const std::wstring& text)
{
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}
