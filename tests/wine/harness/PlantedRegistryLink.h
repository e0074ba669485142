#pragma once

// Registry links that the tests plant where a user could.

#include <windows.h>

#include <string>

#include "base/Win32Resources.h"

namespace harness {

// A registry link planted for one case, as a user can make one in a hive of their own: the key at path
// names the key at target (a native path, "\Registry\Machine\..."). Removed again, the link itself and
// never what it names, when the case ends.
class PlantedRegistryLink {
public:
    PlantedRegistryLink(HKEY root, const std::wstring& path, const std::wstring& target) : m_root(root), m_path(path)
    {
        Remove();
        UniqueRegKey link;
        if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                              nullptr, link.put(), nullptr) == ERROR_SUCCESS) {
            m_planted = ::RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                         reinterpret_cast<const BYTE*>(target.c_str()),
                                         static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
        }
    }
    ~PlantedRegistryLink() { Remove(); }
    PlantedRegistryLink(const PlantedRegistryLink&) = delete;
    PlantedRegistryLink& operator=(const PlantedRegistryLink&) = delete;

    bool Planted() const { return m_planted; }
    // Whether the key at path is still this link.
    bool StillALink() const
    {
        UniqueRegKey link;
        DWORD type = REG_NONE;
        return ::RegOpenKeyExW(m_root, m_path.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, link.put()) ==
                   ERROR_SUCCESS &&
               ::RegQueryValueExW(link.get(), L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) ==
                   ERROR_SUCCESS &&
               type == REG_LINK;
    }

private:
    void Remove() const
    {
        using DeleteKeyFn = LONG(WINAPI*)(HANDLE);
        const auto deleteKey = reinterpret_cast<DeleteKeyFn>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
        UniqueRegKey link;
        if (deleteKey != nullptr && StillALink() &&
            ::RegOpenKeyExW(m_root, m_path.c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_QUERY_VALUE, link.put()) ==
                ERROR_SUCCESS) {
            deleteKey(link.get());
        }
    }

    HKEY m_root;
    std::wstring m_path;
    bool m_planted = false;
};

} // namespace harness
