// The paths and access lists that decide whether a server or an installer is trusted come from places a
// user may shape: the image path of whatever serves the pipe, the install key, a folder's access list.
// The first byte chooses the rule; the rest is its input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "trust/InstallFolderRule.h"
#include "trust/UserWritableFolderRule.h"

namespace {

// Two wide paths from the bytes, split at the first byte 0xFF: each byte one character, so that
// separators, colons, dots and question marks come often.
void PathRule(const uint8_t* data, size_t size)
{
    std::wstring image;
    std::wstring app;
    std::wstring* current = &image;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && current == &image) {
            current = &app;
            continue;
        }
        current->push_back(static_cast<wchar_t>(data[i]));
    }
    // Nothing is ever its own install folder's parent.
    if (IsInInstallFolder(image, app) && image.size() <= app.find_last_of(L"\\/")) {
        std::abort();
    }
    // A folder's chain climbs: each folder ends in a separator and holds the next one's path as its head.
    const std::vector<std::wstring> chain = FoldersUpToRoot(image);
    for (std::size_t i = 0; i < chain.size(); ++i) {
        if (chain[i].empty() || chain[i].back() != L'\\' ||
            (i > 0 && (chain[i].size() >= chain[i - 1].size() || chain[i - 1].compare(0, chain[i].size(), chain[i]) != 0))) {
            std::abort();
        }
    }
}

// Entries of six bytes: kind, flags (bit 0: inherit only), a group index, and a mask of three bytes
// spread over the low and the generic rights.
void ListRule(const uint8_t* data, size_t size)
{
    static const wchar_t* const kSids[] = {L"S-1-1-0", L"S-1-5-4", L"S-1-5-11", L"S-1-5-32-545", L"S-1-5-18", L"",
                                           L"S-1-5-32-544", L"S-1-5-21-1-2-3-1001"};
    FolderSecurity security;
    security.state = size % 7 == 0 ? FolderSecurity::State::NullList : FolderSecurity::State::Read;
    security.ownerSid = size > 0 ? kSids[data[0] % 8] : L"";
    for (size_t i = 1; i + 6 <= size; i += 6) {
        AccessEntry entry;
        entry.kind = static_cast<AccessEntry::Kind>(data[i] % 4);
        entry.inheritOnly = (data[i + 1] & 1) != 0;
        entry.sid = kSids[data[i + 2] % 8];
        entry.mask = static_cast<std::uint32_t>(data[i + 3]) | (static_cast<std::uint32_t>(data[i + 4]) << 8) |
                     (static_cast<std::uint32_t>(data[i + 5]) << 24);
        security.entries.push_back(entry);
    }
    const FolderPlace place = size % 2 == 0 ? FolderPlace::Itself : FolderPlace::Above;
    const FolderVerdict verdict = JudgeFolderSecurity(security, place, L"");
    // A refusal always has its log line, and trust never has one.
    const bool closed = verdict.outcome == FolderVerdict::Outcome::Closed;
    if (FolderRefusalLine("C:\\x\\", "C:\\", place, verdict).empty() != closed) {
        std::abort();
    }
    // Closed only when the owner is one of the system's accounts, for any list.
    if (verdict.outcome == FolderVerdict::Outcome::Closed && !IsTrustedAccount(security.ownerSid, L"")) {
        std::abort();
    }
    // Whatever closes the folder itself closes it as a parent: the rights that count above are fewer.
    if (place == FolderPlace::Itself && verdict.outcome == FolderVerdict::Outcome::Closed &&
        JudgeFolderSecurity(security, FolderPlace::Above, L"").outcome != FolderVerdict::Outcome::Closed) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    if ((data[0] & 1) == 0) {
        PathRule(data + 1, size - 1);
    } else {
        ListRule(data + 1, size - 1);
    }
    return 0;
}
