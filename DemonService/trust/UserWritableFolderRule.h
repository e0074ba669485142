#pragma once

// Whether a folder is closed to every account but the system's own. LocalSystem starts programs from
// the install folder, loads libraries from it and trusts the process serving the pipe from it: a folder
// that anyone else may add a file to (a DLL beside an installer), rewrite the list of, take over, or
// rename away and put back as their own is no ground for trust. The rule is an allowlist: only the
// accounts that the system itself runs as may hold such a right. Values only, no I/O.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The access bits that matter, with the values the platform gives them.
namespace folder_rights {
constexpr std::uint32_t kAddFile = 0x0002;         // also: write data
constexpr std::uint32_t kAddSubfolder = 0x0004;    // also: append data
constexpr std::uint32_t kReadData = 0x0001;
constexpr std::uint32_t kReadEa = 0x0008;
constexpr std::uint32_t kWriteEa = 0x0010;
constexpr std::uint32_t kExecute = 0x0020;
constexpr std::uint32_t kDeleteChild = 0x0040;
constexpr std::uint32_t kReadAttributes = 0x0080;
constexpr std::uint32_t kWriteAttributes = 0x0100;
constexpr std::uint32_t kDelete = 0x00010000;
constexpr std::uint32_t kReadControl = 0x00020000;
constexpr std::uint32_t kWriteDac = 0x00040000;
constexpr std::uint32_t kWriteOwner = 0x00080000;
constexpr std::uint32_t kSynchronize = 0x00100000;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericExecute = 0x20000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericRead = 0x80000000;
// What changes the folder in which a file lies: writing or creating files and folders in it, deleting
// what is inside, deleting or renaming the folder itself, changing its access list or its owner.
constexpr std::uint32_t kChangeFolder = kAddFile | kAddSubfolder | kDeleteChild | kDelete | kWriteDac | kWriteOwner;
// What changes a folder above it: removing or renaming what is inside (the folder below with it), or
// the folder itself, or granting oneself that right.
constexpr std::uint32_t kReplaceChild = kDeleteChild | kDelete | kWriteDac | kWriteOwner;
} // namespace folder_rights

// The well-known SIDs the rule names.
constexpr wchar_t kEveryoneSid[] = L"S-1-1-0";
constexpr wchar_t kLocalSystemSid[] = L"S-1-5-18";
constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";
constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// One entry of an access list, as far as the rule needs it.
struct AccessEntry {
    enum class Kind {
        Allow,   // grants mask to sid (a conditional grant counts as one: it may apply)
        Deny,    // denies mask to sid
        Ignored, // takes no part (a conditional deny, which may not apply, is never relied on)
        Unknown, // a kind whose trustee or meaning cannot be read: the list cannot be judged
    };
    Kind kind = Kind::Ignored;
    std::uint32_t mask = 0;
    bool inheritOnly = false; // applies only to what is created below, not to the folder itself
    std::wstring sid;         // "S-1-1-0", ...
};

// A folder's security as read: its owner and its access list.
struct FolderSecurity {
    enum class State {
        Read,       // entries (possibly none: nobody has access) and owner hold what was read
        Unreadable, // the owner or the list could not be read
        NullList,   // no access list at all: everyone has full access
    };
    State state = State::Unreadable;
    std::wstring ownerSid;
    std::vector<AccessEntry> entries;
};

// Where a judged folder stands: the folder that holds the file, or one above it (up to its root).
enum class FolderPlace { Itself, Above };

struct FolderVerdict {
    enum class Outcome {
        Closed,     // only trusted accounts may change it
        Writable,   // sid holds a right that changes it (Everyone when there is no list)
        Owned,      // sid, an account that is not trusted, owns it and so may rewrite its list
        Unreadable, // its owner or list could not be read or judged
    };
    Outcome outcome = Outcome::Unreadable;
    std::wstring sid;
};

// Whether sid is one of the accounts the system runs as (SYSTEM, Administrators, TrustedInstaller) or
// ownAccountSid, the account of the judging process when that account is an administrator (empty: none).
// For the service the latter is LocalSystem itself; for an elevated command line it is the
// administrator who runs it, who may change every such folder anyway.
bool IsTrustedAccount(const std::wstring& sid, const std::wstring& ownAccountSid);

// Walks the list in its order as an access check does: generic rights are mapped to a folder's own,
// inherit-only and ignored entries are skipped (they do not apply to the folder), and a deny counts
// only when it names Everyone, the one group that every token holds (a deny for INTERACTIVE does not
// stop a batch or network logon); it holds back the rights it names from every later grant. Writable
// with the first untrusted trustee that is then granted any right of folder_rights::kChangeFolder
// (place Itself) or folder_rights::kReplaceChild (place Above); Owned when the owner is untrusted;
// Writable for Everyone when there is no list. Unreadable, a refusal as well, when the security was not
// read, the owner is empty, or an entry that applies is of Unknown kind.
FolderVerdict JudgeFolderSecurity(const FolderSecurity& security, FolderPlace place, const std::wstring& ownAccountSid);

// The verdict on a folder's chain: the first folder of FoldersUpToRoot(folder) that is not closed, as
// read by readSecurity, or Closed when every one is. An empty chain is Unreadable. opened: the folder
// that decided (the folder itself for an empty chain).
struct FolderChainVerdict {
    FolderVerdict verdict;
    FolderPlace place = FolderPlace::Itself;
    std::wstring opened;
};
FolderChainVerdict JudgeFolderChain(const std::wstring& folder,
                                    const std::function<FolderSecurity(const std::wstring&)>& readSecurity,
                                    const std::wstring& ownAccountSid);

// The group's name as the log gives it ("Everyone", "Authenticated Users", "BUILTIN\Users",
// "INTERACTIVE"), or the SID itself for any other (characters outside printable ASCII as '?').
std::string UserGroupName(const std::wstring& sid);

// The one log line of a folder that is refused: its path, the folder that opened it when that is one
// above it, and the SID that may change it (or that a list cannot be read). Paths come as ANSI text.
// Empty for Closed.
std::string FolderRefusalLine(const std::string& folder, const std::string& opened, FolderPlace place,
                              const FolderVerdict& verdict);
