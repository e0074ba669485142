#pragma once

// How the application is recognised among running processes: by its exact image path. Values only,
// no I/O.

#include <cstddef>
#include <optional>
#include <string>

// The image name of an executable path: the text after its last backslash. Empty when the path has no
// backslash (or ends in one): such a path names no process.
std::wstring ImageNameOf(const std::wstring& path);

// Whether the text in a fixed buffer of `capacity` units, up to its first zero unit, equals expected
// unit by unit (letter case counts). A buffer without a zero unit within its capacity, an empty
// expected text or a null buffer matches nothing.
bool FixedTextEquals(const wchar_t* buffer, std::size_t capacity, const std::wstring& expected);

// Whether an instance of the application may be ended when every instance is: only one that runs in the
// console session (the service starts the application only there, and an instance in another session
// is another user's). processSession nullopt (it could not be read) or no console session: no.
bool IsEndedWithEveryInstance(std::optional<unsigned long> processSession, unsigned long consoleSession);
