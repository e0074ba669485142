#pragma once

// String values as the installer and Explorer write them.

#include <windows.h>

#include <optional>
#include <string>

struct RegistryText {
    std::wstring text;
    DWORD byteCount = 0;  // as the read returned it, terminator included when stored
};

// Reads a value into a zeroed 1 024-byte buffer offering 512 bytes: a value longer than 255
// characters does not fit and counts as missing. The value type is not examined.
std::optional<RegistryText> ReadRegistryText(HKEY key, const wchar_t* name);

// Writes a REG_SZ value of byteCount bytes.
bool WriteRegistryText(HKEY key, const wchar_t* name, const RegistryText& value);
