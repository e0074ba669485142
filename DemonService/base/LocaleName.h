#pragma once

// Whether a language name from the user's settings file may be handed to the resource library: values
// only, no I/O.

#include <cstddef>
#include <string>

// The longest locale name the platform knows (LOCALE_NAME_MAX_LENGTH less its terminator).
constexpr std::size_t kLocaleNameMaxChars = 84;

// True when name looks like a locale name: 1 to kLocaleNameMaxChars characters, each an ASCII letter,
// digit or hyphen. Whether the platform knows the locale is a separate question (IsValidLocaleName).
bool IsPlausibleLocaleName(const std::wstring& name);
