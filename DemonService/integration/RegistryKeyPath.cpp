#include "integration/RegistryKeyPath.h"

std::vector<std::wstring> ParentKeyPaths(const std::wstring& keyPath)
{
    std::vector<std::wstring> parents;
    for (std::size_t at = keyPath.find(L'\\'); at != std::wstring::npos; at = keyPath.find(L'\\', at + 1)) {
        if (at > 0 && keyPath[at - 1] != L'\\') {
            parents.push_back(keyPath.substr(0, at));
        }
    }
    return parents;
}
