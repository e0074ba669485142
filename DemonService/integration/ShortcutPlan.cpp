#include "integration/ShortcutPlan.h"

bool IsUsableShortcutTitle(const std::wstring& title)
{
    if (title.empty() || title.find_first_not_of(L'.') == std::wstring::npos) {
        return false;
    }
    for (const wchar_t c : title) {
        if (c < L' ' || std::wstring(L"\\/:*?\"<>|").find(c) != std::wstring::npos) {
            return false;
        }
    }
    return true;
}

std::optional<std::wstring> ShortcutPathInSameFolder(const std::wstring& shortcutPath, const std::wstring& name)
{
    const std::size_t lastBackslash = shortcutPath.rfind(L'\\');
    if (lastBackslash == std::wstring::npos) {
        return std::wstring();
    }
    std::wstring path = shortcutPath.substr(0, lastBackslash + 1) + name;
    if (path.size() >= kShortcutPathChars) {
        return std::nullopt;
    }
    return path;
}

std::optional<std::wstring> TitledShortcutPath(const std::wstring& shortcutPath, const std::wstring& title)
{
    if (!IsUsableShortcutTitle(title)) {
        return std::nullopt;
    }
    return ShortcutPathInSameFolder(shortcutPath, title + kShortcutExtension);
}

std::wstring StoredShortcutPath(const std::wstring& oldPath, const std::wstring& newPath, bool shortcutWasAtOldPath,
                                bool renamed)
{
    return shortcutWasAtOldPath && !renamed ? oldPath : newPath;
}
