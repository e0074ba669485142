#include "trust/InstallFolderRule.h"

#include <vector>

#include "base/AsciiCase.h"

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

// How many leading components name the root of a split full path: 1 for "C:", 4 for "\\server\share"
// and "\\?\C:" (or "\\.\C:"), 6 for "\\?\UNC\server\share". 0 for anything else (a relative path,
// or one rooted on no drive): no root is known, so no folder below one.
std::size_t RootComponents(const std::vector<std::wstring>& components)
{
    const auto isDrive = [](const std::wstring& name) {
        return name.size() == 2 && name[1] == L':' &&
               ((name[0] >= L'A' && name[0] <= L'Z') || (name[0] >= L'a' && name[0] <= L'z'));
    };
    if (components.empty()) {
        return 0;
    }
    if (!components[0].empty()) {
        return isDrive(components[0]) ? 1 : 0;
    }
    if (components.size() < 4 || !components[1].empty()) {
        return 0;
    }
    if (components[2] == L"?" || components[2] == L".") {
        if (isDrive(components[3])) {
            return 4;
        }
        const std::wstring& unc = components[3];
        const bool isUnc = unc.size() == 3 && (unc[0] == L'U' || unc[0] == L'u') &&
                           (unc[1] == L'N' || unc[1] == L'n') && (unc[2] == L'C' || unc[2] == L'c');
        return isUnc && components.size() >= 6 ? 6 : 0;
    }
    return 4;
}

} // namespace

std::wstring FolderPartOf(const std::wstring& path)
{
    const std::size_t lastSeparator = path.find_last_of(L"\\/");
    return lastSeparator == std::wstring::npos ? std::wstring() : path.substr(0, lastSeparator + 1);
}

std::vector<std::wstring> FoldersUpToRoot(const std::wstring& folder)
{
    std::wstring trimmed = folder;
    while (!trimmed.empty() && (trimmed.back() == L'\\' || trimmed.back() == L'/')) {
        trimmed.pop_back();
    }
    std::vector<std::wstring> components;
    std::vector<std::wstring> chain;
    if (trimmed.empty() || !SplitPlain(trimmed, &components)) {
        return chain;
    }
    const std::size_t root = RootComponents(components);
    if (root == 0) {
        return chain;
    }
    std::wstring path;
    std::vector<std::wstring> prefixes;
    for (std::size_t i = 0; i < components.size(); ++i) {
        path += components[i];
        path += L'\\';
        if (i + 1 >= root) {
            prefixes.push_back(path);
        }
    }
    chain.assign(prefixes.rbegin(), prefixes.rend());
    return chain;
}

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
    // A root is no install folder: trusting it would trust every signed file on the drive or share.
    const std::size_t root = RootComponents(folder);
    if (root == 0 || folder.size() <= root || image.size() <= folder.size()) {
        return false;
    }
    for (std::size_t i = 0; i < folder.size(); ++i) {
        if (!SameIgnoringAsciiCase(folder[i], image[i])) {
            return false;
        }
    }
    return true;
}
