#include "base/FileSystem.h"

#include "base/Win32Resources.h"

bool FileExists(const wchar_t* path)
{
    if (path == nullptr) {
        return false;
    }
    WIN32_FIND_DATAW found = {};
    UniqueFindHandle find(::FindFirstFileW(path, &found));
    return find.valid();
}
