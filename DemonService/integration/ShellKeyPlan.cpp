#include "integration/ShellKeyPlan.h"

#include <cwctype>

std::vector<std::wstring> KeyPathComponents(const std::wstring& keyPath)
{
    std::vector<std::wstring> names;
    std::size_t begin = 0;
    while (begin <= keyPath.size()) {
        std::size_t end = keyPath.find(L'\\', begin);
        if (end == std::wstring::npos) {
            end = keyPath.size();
        }
        if (end > begin) {
            names.push_back(keyPath.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return names;
}

std::optional<std::wstring> UserClassesHiveOfLink(const std::wstring& linkTarget, const std::wstring& sid)
{
    if (sid.empty() || sid.find(L'\\') != std::wstring::npos) {
        return std::nullopt;
    }
    const std::wstring hive = sid + L"_Classes";
    const std::wstring expected = L"\\REGISTRY\\USER\\" + hive;
    if (linkTarget.size() != expected.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (std::towupper(linkTarget[i]) != std::towupper(expected[i])) {
            return std::nullopt;
        }
    }
    return hive;
}
