#include "trust/UserWritableFolderRule.h"

#include "trust/InstallFolderRule.h"

namespace {

using namespace folder_rights;

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

constexpr char kNothingTrusted[] = ": nothing in it is trusted or started";

std::uint32_t MapGeneric(std::uint32_t mask)
{
    std::uint32_t mapped = mask & ~(kGenericAll | kGenericExecute | kGenericWrite | kGenericRead);
    mapped |= (mask & kGenericRead) != 0 ? kFileGenericRead : 0;
    mapped |= (mask & kGenericWrite) != 0 ? kFileGenericWrite : 0;
    mapped |= (mask & kGenericExecute) != 0 ? kFileGenericExecute : 0;
    mapped |= (mask & kGenericAll) != 0 ? kFileAllAccess : 0;
    return mapped;
}

FolderVerdict Verdict(FolderVerdict::Outcome outcome, const std::wstring& sid = std::wstring())
{
    FolderVerdict verdict;
    verdict.outcome = outcome;
    verdict.sid = sid;
    return verdict;
}

} // namespace

bool IsTrustedAccount(const std::wstring& sid, const std::wstring& ownAccountSid)
{
    return sid == kLocalSystemSid || sid == kAdministratorsSid || sid == kTrustedInstallerSid ||
           (!ownAccountSid.empty() && sid == ownAccountSid);
}

FolderVerdict JudgeFolderSecurity(const FolderSecurity& security, FolderPlace place, const std::wstring& ownAccountSid)
{
    using Outcome = FolderVerdict::Outcome;
    if (security.state == FolderSecurity::State::Unreadable || security.ownerSid.empty()) {
        return Verdict(Outcome::Unreadable);
    }
    if (security.state == FolderSecurity::State::NullList) {
        return Verdict(Outcome::Writable, kEveryoneSid);
    }
    const std::uint32_t rights = place == FolderPlace::Itself ? kChangeFolder : kReplaceChild;
    std::uint32_t deniedToEveryone = 0;
    for (const AccessEntry& entry : security.entries) {
        if (entry.inheritOnly || entry.kind == AccessEntry::Kind::Ignored) {
            continue;
        }
        if (entry.kind == AccessEntry::Kind::Unknown) {
            return Verdict(Outcome::Unreadable);
        }
        const std::uint32_t mapped = MapGeneric(entry.mask);
        if (entry.kind == AccessEntry::Kind::Deny) {
            if (entry.sid == kEveryoneSid) {
                deniedToEveryone |= mapped;
            }
            continue;
        }
        if ((mapped & rights & ~deniedToEveryone) != 0 && !IsTrustedAccount(entry.sid, ownAccountSid)) {
            return Verdict(Outcome::Writable, entry.sid);
        }
    }
    if (!IsTrustedAccount(security.ownerSid, ownAccountSid)) {
        return Verdict(Outcome::Owned, security.ownerSid);
    }
    return Verdict(Outcome::Closed);
}

FolderChainVerdict JudgeFolderChain(const std::wstring& folder,
                                    const std::function<FolderSecurity(const std::wstring&)>& readSecurity,
                                    const std::wstring& ownAccountSid)
{
    FolderChainVerdict result;
    result.opened = folder;
    const std::vector<std::wstring> chain = FoldersUpToRoot(folder);
    if (chain.empty()) {
        return result;
    }
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const FolderPlace place = i == 0 ? FolderPlace::Itself : FolderPlace::Above;
        const FolderVerdict verdict = JudgeFolderSecurity(readSecurity(chain[i]), place, ownAccountSid);
        if (verdict.outcome != FolderVerdict::Outcome::Closed) {
            result.verdict = verdict;
            result.place = place;
            result.opened = i == 0 ? folder : chain[i];
            return result;
        }
    }
    result.verdict = Verdict(FolderVerdict::Outcome::Closed);
    return result;
}

std::string UserGroupName(const std::wstring& sid)
{
    if (sid == kEveryoneSid) {
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

std::string FolderRefusalLine(const std::string& folder, const std::string& opened, FolderPlace place,
                              const FolderVerdict& verdict)
{
    using Outcome = FolderVerdict::Outcome;
    if (verdict.outcome == Outcome::Closed) {
        return std::string();
    }
    const std::string who = UserGroupName(verdict.sid);
    std::string line = "Folder " + folder;
    if (place == FolderPlace::Itself) {
        switch (verdict.outcome) {
        case Outcome::Writable:
            line += " is writable by " + who;
            break;
        case Outcome::Owned:
            line += " is owned by " + who;
            break;
        default:
            line += " has an access list that cannot be read";
            break;
        }
    } else {
        line += " lies in " + opened;
        switch (verdict.outcome) {
        case Outcome::Writable:
            line += ", which " + who + " may change";
            break;
        case Outcome::Owned:
            line += ", which is owned by " + who;
            break;
        default:
            line += ", whose access list cannot be read";
            break;
        }
    }
    return line + kNothingTrusted;
}
