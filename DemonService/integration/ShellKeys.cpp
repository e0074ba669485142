#include "integration/ShellKeys.h"

#include <sddl.h>
#include <winternl.h>

#include <atomic>
#include <optional>
#include <utility>

#include "base/AnsiText.h"
#include "base/DiagnosticLog.h"
#include "integration/ShellKeyPlan.h"

namespace {

constexpr wchar_t kLinkValueName[] = L"SymbolicLinkValue";
constexpr std::size_t kLinkLogBytes = 1024;
// Keys on the way down are only looked into; where keys may have to be created, also created in.
constexpr REGSAM kPassAccess = KEY_QUERY_VALUE;
constexpr REGSAM kCreatePassAccess = KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY;

static_assert(KEY_ALL_ACCESS == 0xF003F, "full access");
static_assert(REG_OPTION_VOLATILE == 1, "volatile option");
static_assert(REG_OPTION_OPEN_LINK == 8, "the link itself is opened, never its target");
static_assert(REG_LINK == 6, "link value type");

constexpr std::size_t kLinkTargetChars = 256;
constexpr DWORD kTokenUserBytes = 256;

const wchar_t* RootName(HKEY root)
{
    if (root == HKEY_USERS) {
        return L"HKEY_USERS";
    }
    if (root == HKEY_CURRENT_USER) {
        return L"HKEY_CURRENT_USER";
    }
    if (root == HKEY_CLASSES_ROOT) {
        return L"HKEY_CLASSES_ROOT";
    }
    return L"HKEY_LOCAL_MACHINE";
}

void ReportLinkOnce(HKEY root, const std::vector<std::wstring>& names, std::size_t count)
{
    static std::atomic<bool> reported{false};
    if (reported.exchange(true)) {
        return;
    }
    std::wstring path = RootName(root);
    for (std::size_t i = 0; i < count && i < names.size(); ++i) {
        path += L"\\" + names[i];
    }
    LOG_SERVICE_F(kLinkLogBytes, "registry link left alone: %s", ToAnsi(path).c_str());
}

// A link key holds its target in "SymbolicLinkValue"; an ordinary key has no such value. Fails closed: a
// key whose values cannot be asked about counts as a link.
bool IsRegistryLink(HKEY key)
{
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    const LONG queried = ::RegQueryValueExW(key, kLinkValueName, nullptr, &type, nullptr, &bytes);
    return queried != ERROR_FILE_NOT_FOUND;
}

// Opens parent\name as the key itself (never a link's target) and, when create is set and it is missing,
// creates it with the given options. A key that was created is opened once more by name, as the link
// itself should one have been put there meanwhile. Link keys are refused.
LONG OpenOneKey(HKEY parent, const std::wstring& name, REGSAM access, bool create, DWORD createOptions,
                UniqueRegKey& key)
{
    LONG result = ::RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, access | KEY_QUERY_VALUE, key.put());
    if (result == ERROR_FILE_NOT_FOUND && create) {
        UniqueRegKey created;
        result = ::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, createOptions | REG_OPTION_OPEN_LINK,
                                   access | KEY_QUERY_VALUE, nullptr, created.put(), nullptr);
        if (result == ERROR_CHILD_MUST_BE_VOLATILE) {
            result = ::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_VOLATILE | REG_OPTION_OPEN_LINK,
                                       access | KEY_QUERY_VALUE, nullptr, created.put(), nullptr);
        }
        if (result == ERROR_SUCCESS) {
            created.reset();
            result = ::RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, access | KEY_QUERY_VALUE,
                                     key.put());
        }
    }
    if (result != ERROR_SUCCESS) {
        key.reset();
        return result;
    }
    if (IsRegistryLink(key.get())) {
        key.reset();
        return kRegistryLinkRefused;
    }
    return ERROR_SUCCESS;
}

// The keys from a root down to some depth, held open so that the next path with the same beginning goes
// on from where this one ended instead of from the root.
class KeyChain {
public:
    explicit KeyChain(HKEY root, bool create) : m_root(root), m_create(create) {}

    // The key of the first `count` names, each opened (or created) by OpenOneKey; null with the error set
    // when one is missing or refused.
    HKEY Open(const std::vector<std::wstring>& names, std::size_t count, LONG* error)
    {
        std::size_t kept = 0;
        while (kept < m_names.size() && kept < count && m_names[kept] == names[kept]) {
            ++kept;
        }
        m_names.resize(kept);
        m_keys.resize(kept);
        for (std::size_t i = kept; i < count; ++i) {
            UniqueRegKey next;
            *error = OpenOneKey(Top(), names[i], m_create ? kCreatePassAccess : kPassAccess, m_create,
                                REG_OPTION_NON_VOLATILE, next);
            if (*error == kRegistryLinkRefused) {
                *error = OpenUserClassesHive(names, i, next);
                if (*error == kRegistryLinkRefused) {
                    ReportLinkOnce(m_root, names, i + 1);
                }
            }
            if (*error != ERROR_SUCCESS) {
                return nullptr;
            }
            m_names.push_back(names[i]);
            m_keys.push_back(std::move(next));
        }
        *error = ERROR_SUCCESS;
        return Top();
    }

    HKEY Root() const { return m_root; }

private:
    // The one link that is the system's own: a user hive's Software\Classes, linked to that user's classes
    // hive. When names[index] is that key and its link names exactly the classes hive of the hive's user
    // (the SID of the HKEY_USERS key, or the running process's user for HKEY_CURRENT_USER), the walk goes
    // on in that hive, opened afresh from HKEY_USERS, never through the link. kRegistryLinkRefused for any
    // other link.
    LONG OpenUserClassesHive(const std::vector<std::wstring>& names, std::size_t index, UniqueRegKey& key) const
    {
        const bool usersRoot = m_root == HKEY_USERS && index == 2;
        const bool currentUserRoot = m_root == HKEY_CURRENT_USER && index == 1;
        if ((!usersRoot && !currentUserRoot) || ::_wcsicmp(names[index - 1].c_str(), L"Software") != 0 ||
            ::_wcsicmp(names[index].c_str(), L"Classes") != 0) {
            return kRegistryLinkRefused;
        }
        UniqueRegKey link;
        if (::RegOpenKeyExW(Top(), names[index].c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, link.put()) !=
            ERROR_SUCCESS) {
            return kRegistryLinkRefused;
        }
        wchar_t target[kLinkTargetChars] = {};
        DWORD type = REG_NONE;
        DWORD bytes = sizeof(target) - sizeof(wchar_t);
        if (::RegQueryValueExW(link.get(), kLinkValueName, nullptr, &type, reinterpret_cast<BYTE*>(target), &bytes) !=
                ERROR_SUCCESS ||
            type != REG_LINK) {
            return kRegistryLinkRefused;
        }
        const std::wstring sid = usersRoot ? names[0] : ProcessUserSid();
        const std::optional<std::wstring> hive =
            UserClassesHiveOfLink(std::wstring(target, bytes / sizeof(wchar_t)), sid);
        if (!hive) {
            return kRegistryLinkRefused;
        }
        return OpenOneKey(HKEY_USERS, *hive, m_create ? kCreatePassAccess : kPassAccess, false, 0, key);
    }

    HKEY Top() const { return m_keys.empty() ? m_root : m_keys.back().get(); }

    HKEY m_root;
    bool m_create;
    std::vector<std::wstring> m_names;
    std::vector<UniqueRegKey> m_keys;
};

// Opens (or creates) the last of names below the key of the ones before it.
LONG OpenLeaf(KeyChain& chain, const std::vector<std::wstring>& names, REGSAM access, bool create, UniqueRegKey& key)
{
    if (names.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    LONG error = ERROR_SUCCESS;
    const HKEY parent = chain.Open(names, names.size() - 1, &error);
    if (parent == nullptr) {
        return error;
    }
    error = OpenOneKey(parent, names.back(), access, create, REG_OPTION_VOLATILE, key);
    if (error == kRegistryLinkRefused) {
        ReportLinkOnce(chain.Root(), names, names.size());
    }
    return error;
}

} // namespace

std::wstring ProcessUserSid()
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return std::wstring();
    }
    alignas(8) BYTE userBuffer[kTokenUserBytes] = {};
    DWORD needed = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, userBuffer, sizeof(userBuffer), &needed)) {
        return std::wstring();
    }
    UniqueLocalWideString sidText;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid, sidText.put())) {
        return std::wstring();
    }
    return sidText.get();
}

LONG OpenOrCreateVolatileKey(HKEY root, const std::wstring& subkey, UniqueRegKey& key)
{
    const std::vector<std::wstring> names = KeyPathComponents(subkey);
    {
        KeyChain existing(root, false);
        const LONG opened = OpenLeaf(existing, names, KEY_ALL_ACCESS, false, key);
        if (opened != ERROR_FILE_NOT_FOUND) {
            return opened;
        }
    }
    KeyChain created(root, true);
    return OpenLeaf(created, names, KEY_ALL_ACCESS, true, key);
}

void DeleteEmptyKeys(HKEY root, const std::wstring& prefix, const std::vector<std::wstring>& keys)
{
    // Deletes the key that the handle names, the very key that was checked, whatever its name leads to
    // by now. ntdll is in every process.
    using DeleteKeyFn = NTSTATUS(NTAPI*)(HANDLE key);
    const auto deleteKey = reinterpret_cast<DeleteKeyFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    if (deleteKey == nullptr) {
        return;
    }
    KeyChain chain(root, false);
    for (const std::wstring& path : keys) {
        UniqueRegKey key;
        if (OpenLeaf(chain, KeyPathComponents(prefix + path), DELETE, false, key) == ERROR_SUCCESS) {
            // Refused for a key that still has subkeys, as RegDeleteKeyW would be.
            deleteKey(key.get());
        }
    }
}

LONG WriteStringValue(HKEY key, const wchar_t* name, const std::wstring& text)
{
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}
