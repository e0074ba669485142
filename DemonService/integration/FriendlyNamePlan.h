#pragma once

// The shell's MuiCache entries that give the application its friendly name: names only, no I/O.

#include <cstddef>
#include <optional>
#include <string>

// Under HKEY_CURRENT_USER.
constexpr wchar_t kUserMuiCacheKey[] = L"SOFTWARE\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache";
// Under HKEY_USERS, after the SID text: the user's classes hive.
constexpr wchar_t kClassesMuiCacheSuffix[] = L"_Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache";
constexpr wchar_t kFriendlyNameSuffix[] = L".FriendlyAppName";

// Capacities, terminator included.
constexpr std::size_t kFriendlyValueNameChars = 256;
constexpr std::size_t kClassesKeyChars = 512;
constexpr std::size_t kSidTextChars = 128;
// SIDs of this length or shorter are well-known accounts (LocalSystem is S-1-5-18): they have no
// classes hive of their own.
constexpr std::size_t kShortSidChars = 8;

// The value name: the application path followed by ".FriendlyAppName". nullopt when it does not fit
// kFriendlyValueNameChars: a cut name would belong to another path.
std::optional<std::wstring> FriendlyValueName(const std::wstring& appPath);

// The HKEY_USERS key of the SID's classes MuiCache, or nullopt when the SID is kShortSidChars long or
// shorter (empty included) or the key name does not fit kClassesKeyChars.
std::optional<std::wstring> ClassesMuiCacheKey(const std::wstring& sidText);
