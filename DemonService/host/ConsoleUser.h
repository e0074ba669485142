#pragma once

// The user logged on at the physical console.

#include <optional>
#include <string>

#include "host/RegistryText.h"

// The console user's roaming application-data folder ("AppData" under the user's "Shell Folders" in
// HKEY_USERS), or nullopt when nobody is at the console or any step fails.
std::optional<RegistryText> ReadConsoleUserAppData();

// The console user's SID in string form (from the user token of the active console session), or
// nullopt when nobody is at the console or any step fails.
std::optional<std::wstring> ReadConsoleUserSid();
