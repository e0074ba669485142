#pragma once

#include <string>

// The crash counter: section "SC", key "crash" of BrisaData.ini beside the settings file, raised once
// for every restart after the application ended without notice. Kept for the application and for
// diagnosis; the service never resets it.

// Reads the counter into *count. False, with *count untouched, when the key is missing or empty, or no
// context exists.
bool ReadCrashCount(int* count);
// The same for the counter beside a given settings file, without the context.
bool ReadCrashCountAt(const std::wstring& settingsPath, int* count);

// Writes count as decimal text ("%d"); the file and key are created by the first write. True when the
// write succeeded; false, with nothing written, when no settings path is known.
bool WriteCrashCount(unsigned count);
