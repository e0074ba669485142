#pragma once

// Registry keys that the service keeps for the shell: written again on every run, so a key it has to
// create is created volatile and vanishes at the next restart of Windows.
//
// Many of them lie in hives that a user owns (HKEY_USERS\<SID>, the user's classes), where the user can
// make any key a registry link to a key elsewhere, a machine key included. The service never writes or
// deletes through such a link: every key on the way down is opened by itself with REG_OPTION_OPEN_LINK,
// one name at a time, and a link met anywhere on the path ends the walk there. The link is left as it is;
// the first one met in a process is logged ("registry link left alone: <root>\<path>"). The one link the
// system itself keeps there, a user hive's Software\Classes to that same user's classes hive, is not
// followed either: the walk goes on in that hive, opened from HKEY_USERS.

#include <windows.h>

#include <string>
#include <vector>

#include "base/Win32Resources.h"

// What the functions below return for a path that runs through a registry link.
constexpr LONG kRegistryLinkRefused = ERROR_CANT_ACCESS_FILE;

// Opens root\subkey with KEY_ALL_ACCESS. When a key on the way is missing, the missing ancestors are
// created as ordinary (lasting) keys and subkey itself volatile, so other software can still keep lasting
// keys beside it (a volatile parent refuses lasting children). An ancestor below a volatile key can only
// be volatile and is created so. A key that exists keeps its volatility. Returns the failing open's or
// creation's error, or kRegistryLinkRefused; key holds the key on success. Any thread.
LONG OpenOrCreateVolatileKey(HKEY root, const std::wstring& subkey, UniqueRegKey& key);

// Deletes each of the keys root\prefix<key>, in the order given; a key is deleted only when it has no
// subkeys, and one that is missing, has subkeys, or lies at or below a registry link is left. Results are
// not reported. Any thread.
void DeleteEmptyKeys(HKEY root, const std::wstring& prefix, const std::vector<std::wstring>& keys);

// The running process's user SID as text; empty on failure.
std::wstring ProcessUserSid();

// Writes a REG_SZ value whose data size counts the terminating null.
LONG WriteStringValue(HKEY key, const wchar_t* name, const std::wstring& text);
