// The user's folder comes from the user's own hive: judge it, build the chain of folders to hold and
// compare reported paths with it as the service does. The input is UTF-16 text; its first unit splits
// it into the folder and the profile folder.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/UserFolderRule.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
    const std::wstring body = text.empty() ? std::wstring() : text.substr(1);
    const size_t split = text.empty() ? 0 : (static_cast<size_t>(text[0]) % (body.size() + 1));
    const std::wstring folder = body.substr(0, split);
    const std::wstring top = body.substr(split);

    const FolderRefusal refusal = JudgeUserFolder(folder, true, true);
    const std::vector<std::wstring> chain = FolderChainFor(folder, top);
    // Every accepted folder has a chain, and the chain ends in the folder itself.
    if (refusal == FolderRefusal::None && (chain.empty() || !NamesMeantPath(chain.back(), folder))) {
        std::abort();
    }
    for (size_t i = 1; i < chain.size(); ++i) {
        // Each folder lies below the one before it.
        if (chain[i].size() <= chain[i - 1].size() ||
            !NamesMeantPath(chain[i].substr(0, chain[i - 1].size()), chain[i - 1])) {
            std::abort();
        }
    }
    (void)FolderRefusalReason(refusal);
    (void)DriveRootOf(folder);
    (void)NamesMeantPath(top, folder);
    return 0;
}
