#pragma once

// Registry helpers of the shell tests: keys, their volatility, and a key tree put back as it was.

#include <windows.h>

#include <string>

#include "Sandbox.h"
#include "PlantedRegistryLink.h"
#include "ServiceManager.h"
#include "base/Win32Resources.h"

namespace shell_test {

inline const std::wstring kUserSidClasses = std::wstring(harness::kUserSid) + L"\\Software\\Classes";

inline bool KeyExists(HKEY root, const std::wstring& path)
{
    UniqueRegKey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// A volatile key refuses a lasting subkey (ERROR_CHILD_MUST_BE_VOLATILE): the one thing that tells a
// key that vanishes at restart from one that stays.
inline bool IsVolatile(HKEY root, const std::wstring& path)
{
    UniqueRegKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    UniqueRegKey probe;
    const LONG created = ::RegCreateKeyExW(key.get(), L"orvel-volatility-probe", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, probe.put(), nullptr);
    if (created == ERROR_SUCCESS) {
        probe.reset();
        ::RegDeleteKeyW(key.get(), L"orvel-volatility-probe");
    }
    return created == ERROR_CHILD_MUST_BE_VOLATILE;
}

inline void CreateKey(HKEY root, const std::wstring& path)
{
    UniqueRegKey key;
    ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                      nullptr);
}

inline void DeleteTree(HKEY root, const std::wstring& path) { ::RegDeleteTreeW(root, path.c_str()); }

inline std::wstring ReadText(HKEY root, const std::wstring& path, const wchar_t* name)
{
    return harness::ReadRegistryString(root, path, name).value_or(harness::kMissing);
}

using harness::PlantedRegistryLink;

// Where the planted links lead: a machine key that a user could not otherwise touch.
constexpr wchar_t kLinkTargets[] = L"Software\\OrvelLinkTargets";
constexpr wchar_t kLinkTargetsNative[] = L"\\Registry\\Machine\\Software\\OrvelLinkTargets";

// Runs the installed DemonService.exe with one switch; its exit code (0xFFFFFFFF when it hung).
inline DWORD RunSwitch(const std::wstring& argument)
{
    return harness::RunServiceExe(argument).value_or(0xFFFFFFFFu);
}

} // namespace shell_test
