#pragma once

// The user logged on at the physical console.

#include <optional>
#include <string>

#include "base/RegistryText.h"

#include "base/Win32Resources.h"

// The primary token of the user logged on at the physical console (WTSQueryUserToken); invalid when
// nobody is there or the caller may not have it (only LocalSystem may).
UniqueHandle QueryConsoleUserToken();

// The console user's roaming application-data folder ("AppData" under the user's "Shell Folders" in
// HKEY_USERS, read as ReadShellFoldersAppData reads it), or nullopt when nobody is at the console or any
// step fails.
std::optional<RegistryText> ReadConsoleUserAppData();

// The console user's SID in string form (from the user token of the active console session), or
// nullopt when nobody is at the console or any step fails.
std::optional<std::wstring> ReadConsoleUserSid();

// The physical console's session and the account logged on there; user is empty when nobody is.
struct ConsoleSession {
    DWORD id = 0xFFFFFFFF;
    std::wstring domain;
    std::wstring user;
};
ConsoleSession ReadConsoleSession();

// The console user's SID in string form, looked up by the console session's account name: any caller
// may do that, while only LocalSystem may have the user's token (ReadConsoleUserSid). nullopt when nobody
// is at the console or any step fails.
std::optional<std::wstring> LookUpConsoleUserSid();

// The "AppData" value of a user's "Shell Folders" under HKEY_USERS, read with query access only (the user
// and administrators may), the keys opened one name at a time and never through a registry link (a key
// on the way that is a link fails the read). nullopt, with the registry's error in *error, when the key
// or value cannot be read.
std::optional<RegistryText> ReadShellFoldersAppData(const std::wstring& sid, long* error);
