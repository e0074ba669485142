#pragma once

// Whether a folder's access list lets every local user write there. LocalSystem starts programs from
// the install folder and trusts the process serving the pipe from it: a folder that any user may add
// files to (a DLL beside an installer) or whose access list any user may change is no ground for trust.
// Values only, no I/O.

#include <cstdint>
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
// Creating files or folders, writing, appending, deleting what is inside, changing the access list
// or the owner.
constexpr std::uint32_t kUserWrite = kAddFile | kAddSubfolder | kDeleteChild | kWriteDac | kWriteOwner;
} // namespace folder_rights

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
        Unreadable, // the security could not be read
        NullList,   // no access list at all: everyone has full access
    };
    State state = State::Unreadable;
    std::wstring ownerSid;
    std::vector<AccessEntry> entries;
};

struct UserWriteVerdict {
    enum class Outcome {
        Closed,     // no group of every local user may write: the folder may be trusted
        Writable,   // group may write
        Unreadable, // the security could not be read or judged
    };
    Outcome outcome = Outcome::Unreadable;
    std::wstring groupSid; // with Writable: the group that may write
};

// Walks the list in its order as an access check does for a user whose token holds Everyone,
// Authenticated Users, BUILTIN\Users and INTERACTIVE: generic rights are mapped to the folder's own,
// entries for other trustees and inherit-only entries are skipped, and each right is decided by the
// first entry that names it (a deny before an allow keeps it denied; an allow before a deny grants
// it). Writable when any right of folder_rights::kUserWrite ends up granted, or when one of the groups
// owns the folder (an owner may always rewrite the list), or when there is no list at all (groupSid
// Everyone). Unreadable, a refusal as well, when the security was not read or holds an entry of
// Unknown kind for the folder itself.
UserWriteVerdict JudgeUserWriteAccess(const FolderSecurity& security);

// The group's name as the log gives it ("Everyone", "Authenticated Users", "BUILTIN\Users",
// "INTERACTIVE"), or the SID itself for any other.
std::string UserGroupName(const std::wstring& sid);

// The one log line of a folder that is refused: its path and the group that may write there, or that
// its security could not be read. path comes as ANSI text. Empty for Closed.
std::string UserWriteRefusalLine(const std::string& folder, const UserWriteVerdict& verdict);
