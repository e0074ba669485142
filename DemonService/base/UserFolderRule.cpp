#include "base/UserFolderRule.h"

#include "base/AsciiCase.h"

namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool StartsWithDriveRoot(const std::wstring& path)
{
    return path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
}

bool HasDevicePrefix(const std::wstring& path)
{
    // "\\" covers "\\?\", "\\.\" and network paths; "\??\" is the native form of a device path.
    return path.compare(0, 2, L"\\\\") == 0 || path.compare(0, 4, L"\\??\\") == 0;
}

// The components after the drive root; false when one is empty, "." or "..", or holds a forward slash
// (which the system reads as a separator too).
bool SplitComponents(const std::wstring& path, std::vector<std::wstring>* components)
{
    std::size_t start = 3;
    while (start < path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        const std::wstring component = path.substr(start, end - start);
        if (component.empty() || component == L"." || component == L".." ||
            component.find(L'/') != std::wstring::npos) {
            return false;
        }
        components->push_back(component);
        start = end + 1;
    }
    return true;
}

} // namespace

std::wstring WithoutTrailingBackslashes(std::wstring path)
{
    while (path.size() > 3 && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

FolderRefusal JudgeUserFolder(const std::wstring& path, bool onFixedDrive, bool rootNamesItself)
{
    if (HasDevicePrefix(path)) {
        return FolderRefusal::DevicePrefix;
    }
    if (!StartsWithDriveRoot(path)) {
        return FolderRefusal::NotAbsolute;
    }
    std::vector<std::wstring> components;
    if (!SplitComponents(WithoutTrailingBackslashes(path), &components)) {
        return FolderRefusal::DotComponent;
    }
    if (components.empty()) {
        return FolderRefusal::DriveRoot;
    }
    if (!onFixedDrive) {
        return FolderRefusal::NotFixedDrive;
    }
    return rootNamesItself ? FolderRefusal::None : FolderRefusal::OtherDrive;
}

const char* FolderRefusalReason(FolderRefusal refusal)
{
    switch (refusal) {
    case FolderRefusal::None:
        return "accepted";
    case FolderRefusal::NotAbsolute:
        return "not an absolute path on a drive";
    case FolderRefusal::DevicePrefix:
        return "a network or device path";
    case FolderRefusal::DotComponent:
        return "an empty, \".\" or \"..\" component";
    case FolderRefusal::DriveRoot:
        return "a drive root";
    case FolderRefusal::NotFixedDrive:
        return "not on a local fixed drive";
    case FolderRefusal::OtherDrive:
        return "a drive that stands for a folder elsewhere";
    }
    return "refused";
}

std::wstring DriveRootOf(const std::wstring& path)
{
    if (path.size() < 2 || !IsAsciiLetter(path[0]) || path[1] != L':') {
        return std::wstring();
    }
    return path.substr(0, 2) + L"\\";
}

std::vector<std::wstring> FolderChainFor(const std::wstring& folder, const std::wstring& top)
{
    const std::wstring target = WithoutTrailingBackslashes(folder);
    std::vector<std::wstring> components;
    if (HasDevicePrefix(target) || !StartsWithDriveRoot(target) || !SplitComponents(target, &components)) {
        return {};
    }
    const std::wstring root = target.substr(0, 3);
    std::vector<std::wstring> chain{root};
    std::wstring path = root;
    for (const std::wstring& component : components) {
        path += (path.size() > 3 ? L"\\" : L"") + component;
        chain.push_back(path);
    }
    if (top.empty()) {
        return chain;
    }
    const std::wstring start = WithoutTrailingBackslashes(top);
    std::vector<std::wstring> topComponents;
    if (HasDevicePrefix(start) || !StartsWithDriveRoot(start) || !SplitComponents(start, &topComponents)) {
        return chain;
    }
    for (std::size_t i = 0; i < chain.size(); ++i) {
        if (SameIgnoringAsciiCase(chain[i], start)) {
            return std::vector<std::wstring>(chain.begin() + static_cast<std::ptrdiff_t>(i), chain.end());
        }
    }
    return chain;
}

bool NamesMeantPath(const std::wstring& finalPath, const std::wstring& meantPath)
{
    std::wstring reported = finalPath;
    if (reported.compare(0, 4, kLongPrefix) == 0 && StartsWithDriveRoot(reported.substr(4))) {
        reported.erase(0, 4);
    }
    if (!StartsWithDriveRoot(reported) || !StartsWithDriveRoot(meantPath)) {
        return false;
    }
    return SameIgnoringAsciiCase(WithoutTrailingBackslashes(reported), WithoutTrailingBackslashes(meantPath));
}

UserFolderIdentity ChooseUserFolderIdentity(bool haveConsoleUserToken, const CallerToken& caller)
{
    if (haveConsoleUserToken) {
        return UserFolderIdentity::ConsoleUser;
    }
    if (caller.localSystem) {
        return UserFolderIdentity::Nobody;
    }
    return caller.consoleUser && !caller.elevated ? UserFolderIdentity::OwnToken : UserFolderIdentity::OtherCaller;
}
