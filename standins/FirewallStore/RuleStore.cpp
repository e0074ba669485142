#include "RuleStore.h"

#include <algorithm>
#include <cwchar>

#include "base/Win32Resources.h"

namespace {

constexpr DWORD kMaxKeyNameChars = 256;
constexpr DWORD kMaxValueBytes = 64 * 1024;
constexpr int kKeyNameDigits = 8;

bool ReadString(HKEY key, const wchar_t* name, std::wstring* value)
{
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
        size > kMaxValueBytes) {
        return false;
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &size) != ERROR_SUCCESS) {
        return false;
    }
    text.resize(std::wcslen(text.c_str()));
    *value = text;
    return true;
}

void ReadDword(HKEY key, const wchar_t* name, DWORD* value)
{
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS &&
        type == REG_DWORD) {
        *value = data;
    }
}

LSTATUS WriteString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS WriteDword(HKEY key, const wchar_t* name, DWORD value)
{
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

std::vector<std::wstring> RuleKeyNames(HKEY rules)
{
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMaxKeyNameChars] = {};
        DWORD length = kMaxKeyNameChars;
        if (::RegEnumKeyExW(rules, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::vector<StoredRule> LoadRules()
{
    std::vector<StoredRule> rules;
    UniqueRegKey root;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRulesKey, 0, KEY_READ, root.put()) != ERROR_SUCCESS) {
        return rules;
    }
    for (const std::wstring& keyName : RuleKeyNames(root.get())) {
        UniqueRegKey key;
        if (::RegOpenKeyExW(root.get(), keyName.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
            continue;
        }
        StoredRule rule;
        rule.key = keyName;
        rule.hasName = ReadString(key.get(), L"Name", &rule.name);
        ReadString(key.get(), L"Grouping", &rule.grouping);
        ReadString(key.get(), L"Description", &rule.description);
        ReadString(key.get(), L"ApplicationName", &rule.applicationName);
        ReadDword(key.get(), L"Direction", &rule.direction);
        ReadDword(key.get(), L"Action", &rule.action);
        ReadDword(key.get(), L"Protocol", &rule.protocol);
        ReadDword(key.get(), L"Profiles", &rule.profiles);
        ReadDword(key.get(), L"Enabled", &rule.enabled);
        ReadDword(key.get(), L"EdgeTraversalOptions", &rule.edgeTraversalOptions);
        rule.hasLocalPorts = ReadString(key.get(), L"LocalPorts", &rule.localPorts);
        rules.push_back(rule);
    }
    return rules;
}

HRESULT AppendRule(const StoredRule& rule)
{
    UniqueRegKey root;
    LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRulesKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       root.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    unsigned long next = 0;
    const std::vector<std::wstring> names = RuleKeyNames(root.get());
    if (!names.empty()) {
        next = std::wcstoul(names.back().c_str(), nullptr, 10) + 1;
    }
    wchar_t keyName[kKeyNameDigits + 1] = {};
    std::swprintf(keyName, kKeyNameDigits + 1, L"%08lu", next);
    // "Enabled" is written last: a reader in another process that sees it sees the whole rule.
    UniqueRegKey key;
    status = ::RegCreateKeyExW(root.get(), keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    HKEY k = key.get();
    if ((status = WriteString(k, L"Name", rule.name)) != ERROR_SUCCESS ||
        (status = WriteString(k, L"Grouping", rule.grouping)) != ERROR_SUCCESS ||
        (status = WriteString(k, L"Description", rule.description)) != ERROR_SUCCESS ||
        (status = WriteString(k, L"ApplicationName", rule.applicationName)) != ERROR_SUCCESS ||
        (status = WriteDword(k, L"Direction", rule.direction)) != ERROR_SUCCESS ||
        (status = WriteDword(k, L"Action", rule.action)) != ERROR_SUCCESS ||
        (status = WriteDword(k, L"Protocol", rule.protocol)) != ERROR_SUCCESS ||
        (status = WriteDword(k, L"Profiles", rule.profiles)) != ERROR_SUCCESS ||
        (status = WriteDword(k, L"EdgeTraversalOptions", rule.edgeTraversalOptions)) != ERROR_SUCCESS ||
        (rule.hasLocalPorts && (status = WriteString(k, L"LocalPorts", rule.localPorts)) != ERROR_SUCCESS) ||
        (status = WriteDword(k, L"Enabled", rule.enabled)) != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
}

HRESULT DeleteRule(const std::wstring& key)
{
    UniqueRegKey root;
    LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRulesKey, 0, KEY_ALL_ACCESS, root.put());
    if (status == ERROR_SUCCESS) {
        status = ::RegDeleteKeyW(root.get(), key.c_str());
    }
    return HRESULT_FROM_WIN32(status);
}

bool LiveEnumerator()
{
    DWORD live = 0;
    UniqueRegKey root;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStoreRootKey, 0, KEY_READ, root.put()) == ERROR_SUCCESS) {
        ReadDword(root.get(), kLiveEnumeratorValue, &live);
    }
    return live == 1;
}
