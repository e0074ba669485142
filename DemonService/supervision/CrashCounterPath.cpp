#include "supervision/CrashCounterPath.h"

std::wstring CrashCounterPathFor(const std::wstring& settingsPath)
{
    const std::size_t lastBackslash = settingsPath.rfind(L'\\');
    std::wstring path = lastBackslash == std::wstring::npos ? std::wstring() : settingsPath.substr(0, lastBackslash);
    path += L'\\';
    path += kCrashCounterFileName;
    return path;
}
