#include "link/InstallFolderRule.h"

#include <vector>

namespace {

// Splits a path at its separators; nothing when a component is one that path normalisation would
// rewrite, so that the comparison below only ever sees names exactly as they stand on disk.
bool SplitPlain(const std::wstring& path, std::vector<std::wstring>* components)
{
    components->clear();
    std::wstring current;
    for (wchar_t c : path) {
        if (c == L'\\' || c == L'/') {
            components->push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    components->push_back(current);
    for (std::size_t i = 0; i < components->size(); ++i) {
        const std::wstring& name = (*components)[i];
        const bool uncHead = i < 2 && path.size() > 2 && (path[0] == L'\\' || path[0] == L'/') &&
                             (path[1] == L'\\' || path[1] == L'/');
        if (name.empty() ? !uncHead : (name.back() == L'.' || name.back() == L' ')) {
            return false;
        }
    }
    return true;
}

wchar_t FoldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

bool IsInInstallFolder(const std::wstring& imagePath, const std::wstring& appPath)
{
    const std::size_t lastSeparator = appPath.find_last_of(L"\\/");
    if (imagePath.empty() || lastSeparator == std::wstring::npos || lastSeparator == 0) {
        return false;
    }
    std::vector<std::wstring> folder;
    std::vector<std::wstring> image;
    if (!SplitPlain(appPath.substr(0, lastSeparator), &folder) || !SplitPlain(imagePath, &image)) {
        return false;
    }
    if (image.size() <= folder.size()) {
        return false;
    }
    for (std::size_t i = 0; i < folder.size(); ++i) {
        if (!SameName(folder[i], image[i])) {
            return false;
        }
    }
    return true;
}
