#include "base/OwnImagePath.h"

#include <windows.h>

#include <cwchar>

namespace {
constexpr DWORD kScratchChars = 1024;
}

void GetOwnImagePath(wchar_t* buffer)
{
    if (buffer == nullptr) {
        return;
    }
    wchar_t scratch[kScratchChars] = {};
    DWORD length = kScratchChars;
    if (!::QueryFullProcessImageNameW(::GetCurrentProcess(), 0, scratch, &length) || scratch[0] == L'\0') {
        return;
    }
    const std::size_t copy = length < kOwnImagePathChars - 1 ? length : kOwnImagePathChars - 1;
    std::wmemcpy(buffer, scratch, copy);
    buffer[copy] = L'\0';
}
