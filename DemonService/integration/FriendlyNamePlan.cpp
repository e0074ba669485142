#include "integration/FriendlyNamePlan.h"

std::optional<std::wstring> FriendlyValueName(const std::wstring& appPath)
{
    std::wstring name = appPath + kFriendlyNameSuffix;
    if (name.size() >= kFriendlyValueNameChars) {
        return std::nullopt;
    }
    return name;
}

std::optional<std::wstring> ClassesMuiCacheKey(const std::wstring& sidText)
{
    if (sidText.size() <= kShortSidChars) {
        return std::nullopt;
    }
    std::wstring key = sidText + kClassesMuiCacheSuffix;
    if (key.size() >= kClassesKeyChars) {
        return std::nullopt;
    }
    return key;
}
