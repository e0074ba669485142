#pragma once

// Where the crash counter lives: BrisaData.ini beside the settings file. Values only, no I/O.

#include <string>

constexpr wchar_t kCrashCounterFileName[] = L"BrisaData.ini";

// The settings path up to, not including, its last backslash, followed by "\BrisaData.ini". Without a
// backslash, or with only one at its very first character, the folder is empty and the result is
// "\BrisaData.ini" itself.
std::wstring CrashCounterPathFor(const std::wstring& settingsPath);
