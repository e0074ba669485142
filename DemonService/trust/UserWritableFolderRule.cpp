#include "trust/UserWritableFolderRule.h"

namespace {

using namespace folder_rights;

constexpr wchar_t kEveryone[] = L"S-1-1-0";
constexpr wchar_t kInteractive[] = L"S-1-5-4";
constexpr wchar_t kAuthenticatedUsers[] = L"S-1-5-11";
constexpr wchar_t kBuiltinUsers[] = L"S-1-5-32-545";

// What a generic right means for a file or a folder.
constexpr std::uint32_t kStandardRead = kReadControl;
constexpr std::uint32_t kFileGenericRead = kStandardRead | kReadData | kReadAttributes | kReadEa | kSynchronize;
constexpr std::uint32_t kFileGenericWrite =
    kStandardRead | kAddFile | kWriteAttributes | kWriteEa | kAddSubfolder | kSynchronize;
constexpr std::uint32_t kFileGenericExecute = kStandardRead | kReadAttributes | kExecute | kSynchronize;
constexpr std::uint32_t kFileAllAccess = 0x001F01FF;

bool IsEveryUsersGroup(const std::wstring& sid)
{
    return sid == kEveryone || sid == kInteractive || sid == kAuthenticatedUsers || sid == kBuiltinUsers;
}

std::uint32_t MapGeneric(std::uint32_t mask)
{
    std::uint32_t mapped = mask & ~(kGenericAll | kGenericExecute | kGenericWrite | kGenericRead);
    mapped |= (mask & kGenericRead) != 0 ? kFileGenericRead : 0;
    mapped |= (mask & kGenericWrite) != 0 ? kFileGenericWrite : 0;
    mapped |= (mask & kGenericExecute) != 0 ? kFileGenericExecute : 0;
    mapped |= (mask & kGenericAll) != 0 ? kFileAllAccess : 0;
    return mapped;
}

} // namespace

UserWriteVerdict JudgeUserWriteAccess(const FolderSecurity& security)
{
    UserWriteVerdict verdict;
    if (security.state == FolderSecurity::State::Unreadable) {
        return verdict;
    }
    if (security.state == FolderSecurity::State::NullList) {
        verdict.outcome = UserWriteVerdict::Outcome::Writable;
        verdict.groupSid = kEveryone;
        return verdict;
    }
    std::uint32_t granted = 0;
    std::uint32_t denied = 0;
    std::wstring firstWriter;
    for (const AccessEntry& entry : security.entries) {
        if (entry.inheritOnly || entry.kind == AccessEntry::Kind::Ignored) {
            continue;
        }
        if (entry.kind == AccessEntry::Kind::Unknown) {
            return verdict;
        }
        if (!IsEveryUsersGroup(entry.sid)) {
            continue;
        }
        const std::uint32_t undecided = MapGeneric(entry.mask) & ~(granted | denied);
        if (entry.kind == AccessEntry::Kind::Deny) {
            denied |= undecided;
        } else {
            granted |= undecided;
            if ((undecided & kUserWrite) != 0 && firstWriter.empty()) {
                firstWriter = entry.sid;
            }
        }
    }
    if ((granted & kUserWrite) != 0) {
        verdict.outcome = UserWriteVerdict::Outcome::Writable;
        verdict.groupSid = firstWriter;
    } else if (IsEveryUsersGroup(security.ownerSid)) {
        verdict.outcome = UserWriteVerdict::Outcome::Writable;
        verdict.groupSid = security.ownerSid;
    } else {
        verdict.outcome = UserWriteVerdict::Outcome::Closed;
    }
    return verdict;
}

std::string UserGroupName(const std::wstring& sid)
{
    if (sid == kEveryone) {
        return "Everyone";
    }
    if (sid == kInteractive) {
        return "INTERACTIVE";
    }
    if (sid == kAuthenticatedUsers) {
        return "Authenticated Users";
    }
    if (sid == kBuiltinUsers) {
        return "BUILTIN\\Users";
    }
    std::string text;
    for (wchar_t c : sid) {
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return text;
}

std::string UserWriteRefusalLine(const std::string& folder, const UserWriteVerdict& verdict)
{
    switch (verdict.outcome) {
    case UserWriteVerdict::Outcome::Closed:
        return std::string();
    case UserWriteVerdict::Outcome::Writable:
        return "Folder " + folder + " is writable by " + UserGroupName(verdict.groupSid) +
               ": nothing in it is trusted or started";
    case UserWriteVerdict::Outcome::Unreadable:
        break;
    }
    return "Folder " + folder + " has an access list that cannot be read: nothing in it is trusted or started";
}
