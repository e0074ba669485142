#pragma once

// Registry keys that the service keeps for the shell: written again on every run, so a key it has to
// create is created volatile and vanishes at the next restart of Windows.

#include <windows.h>

#include <string>

#include "base/Win32Resources.h"

// Opens root\subkey with KEY_ALL_ACCESS. When the open fails with ERROR_FILE_NOT_FOUND, the missing
// ancestors are created as ordinary (lasting) keys first and then subkey itself volatile, so other
// software can still keep lasting keys beside it (a volatile parent refuses lasting children). An
// ancestor below a volatile key can only be volatile and is created so. A key that exists keeps its
// volatility. Returns the open's or the failing creation's error; key holds the key on success. Any
// thread.
LONG OpenOrCreateVolatileKey(HKEY root, const std::wstring& subkey, UniqueRegKey& key);

// Writes a REG_SZ value whose data size counts the terminating null.
LONG WriteStringValue(HKEY key, const wchar_t* name, const std::wstring& text);
