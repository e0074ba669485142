#include "supervision/CrashCountPlan.h"

std::wstring CrashCounterPathFor(const std::wstring& settingsPath)
{
    const std::size_t lastBackslash = settingsPath.rfind(L'\\');
    if (lastBackslash == std::wstring::npos || lastBackslash == 0) {
        return std::wstring();
    }
    std::wstring path = settingsPath.substr(0, lastBackslash);
    path += L'\\';
    path += kCrashCounterFileName;
    return path;
}
