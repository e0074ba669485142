// The paths and access lists that decide whether a server or an installer is trusted come from places a
// user may shape: the image path of whatever serves the pipe, the install key, a folder's access list.
// The first byte chooses the rule; the rest is its input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

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
}

// Entries of six bytes: kind, flags (bit 0: inherit only), a group index, and a mask of three bytes
// spread over the low and the generic rights.
void ListRule(const uint8_t* data, size_t size)
{
    static const wchar_t* const kSids[] = {L"S-1-1-0", L"S-1-5-4", L"S-1-5-11", L"S-1-5-32-545", L"S-1-5-18", L""};
    FolderSecurity security;
    security.state = size % 7 == 0 ? FolderSecurity::State::NullList : FolderSecurity::State::Read;
    security.ownerSid = size > 0 ? kSids[data[0] % 6] : L"";
    for (size_t i = 1; i + 6 <= size; i += 6) {
        AccessEntry entry;
        entry.kind = static_cast<AccessEntry::Kind>(data[i] % 4);
        entry.inheritOnly = (data[i + 1] & 1) != 0;
        entry.sid = kSids[data[i + 2] % 6];
        entry.mask = static_cast<std::uint32_t>(data[i + 3]) | (static_cast<std::uint32_t>(data[i + 4]) << 8) |
                     (static_cast<std::uint32_t>(data[i + 5]) << 24);
        security.entries.push_back(entry);
    }
    const UserWriteVerdict verdict = JudgeUserWriteAccess(security);
    // A refusal always has its log line, and trust never has one.
    if (UserWriteRefusalLine("C:\\x\\", verdict).empty() != (verdict.outcome == UserWriteVerdict::Outcome::Closed)) {
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
