#pragma once

// The full path of the running executable.

constexpr unsigned kOwnImagePathChars = 512;

// Fills buffer (kOwnImagePathChars characters) with the own image path, cut to 511 characters. A null
// buffer does nothing; when the query fails the buffer is left as it was.
void GetOwnImagePath(wchar_t* buffer);
