#pragma once

// Where the crash counter lives: BrisaData.ini beside the settings file. Values only, no I/O.

#include <string>

constexpr wchar_t kCrashCounterFileName[] = L"BrisaData.ini";

// The settings path up to, not including, its last backslash, followed by "\BrisaData.ini". Empty when
// the settings path names no folder (empty, no backslash, or only one at its very first character):
// without a known user folder there is no counter, and the caller writes nothing.
std::wstring CrashCounterPathFor(const std::wstring& settingsPath);
