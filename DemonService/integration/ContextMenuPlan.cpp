#include "integration/ContextMenuPlan.h"

namespace {

std::optional<std::wstring> FitOrNothing(std::wstring text, std::size_t capacity)
{
    if (text.size() >= capacity) {
        return std::nullopt;
    }
    return text;
}

void AddDeviceSubmenu(std::vector<std::wstring>& keys, const std::wstring& root)
{
    const std::wstring entries = root + L"\\shell";
    for (int device = 0; device <= kLastDeviceEntry; ++device) {
        const std::wstring entry = entries + L"\\device" + std::to_wstring(device);
        keys.push_back(entry + L"\\Command");
        keys.push_back(entry);
    }
    keys.push_back(entries + L"\\Corvane_Scan\\Command");
    keys.push_back(entries + L"\\Corvane_Scan");
    keys.push_back(entries);
    keys.push_back(root);
}

} // namespace

std::optional<std::wstring> SharingIconValue(const std::wstring& appPath)
{
    return FitOrNothing(L"\"" + appPath + L"\"", kSharingIconChars);
}

std::optional<std::wstring> SharingCommandValue(const std::wstring& appPath)
{
    return FitOrNothing(L"\"" + appPath + L"\"" + kSharingArguments, kSharingCommandChars);
}

std::wstring SharingTitleValue(const std::wstring& title)
{
    return title.substr(0, kSharingTitleChars - 1);
}

bool PackageNameMatches(const std::wstring& fullName, const std::wstring& partialName)
{
    return !partialName.empty() && fullName.find(partialName) != std::wstring::npos;
}

std::vector<std::wstring> ContextMenuKeysToRemove()
{
    std::vector<std::wstring> keys;
    AddDeviceSubmenu(keys, L"*\\shell\\Corvane");
    keys.push_back(kSharingCommandKey);
    keys.push_back(kSharingKey);
    AddDeviceSubmenu(keys, L"Directory\\shell\\Corvane");
    return keys;
}
