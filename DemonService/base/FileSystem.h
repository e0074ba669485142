#pragma once

// False for a null path; otherwise whether FindFirstFileW finds an entry for the path.
bool FileExists(const wchar_t* path);
