#include "link/ValidatedStart.h"

#include <windows.h>

#include "base/Win32Resources.h"
#include "link/SignatureValidator.h"

int ValidateThenStart(const wchar_t* path, const std::function<void()>& start)
{
    if (path == nullptr || path[0] == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    // Others may read (the validation library, the loader of the new process) but not write, delete or
    // rename: the image cannot change between the answer and the start.
    const UniqueFileHandle held(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held) {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? static_cast<int>(error) : ERROR_OPEN_FAILED;
    }
    const int answer = ValidateAssemblyFile(path);
    if (answer == 0) {
        start();
    }
    return answer;
}
