#pragma once

// What the service accepts as the user's folder, which folders it holds open on the way to a file
// there, and whose rights it works with. Values only, no I/O: the drive type and the final path of an
// open handle are asked by the caller and passed in.

#include <string>
#include <vector>

// Why a folder is not worked in; None when it is accepted.
enum class FolderRefusal {
    None,
    NotAbsolute,    // not a drive letter, a colon and a backslash at the start
    DevicePrefix,   // "\\" (a network path), "\\?\", "\\.\" or "\??\"
    DotComponent,   // a "." or ".." component, or an empty one ("\\" inside the path)
    DriveRoot,      // the root of a drive itself: a folder that every user may fill, no one's own
    NotFixedDrive,  // the drive is not a local fixed drive
    OtherDrive,     // the drive stands for a folder elsewhere (a substituted drive): its root's final
                    // path names another place
};

// Judges a folder path that came from outside. Accepted only as an absolute path on a drive letter,
// below its root, without a device or network prefix and without "." or ".." components, on a drive
// that the caller found to be a local fixed drive (onFixedDrive) whose root the system names as itself
// (rootNamesItself), both asked of the path's drive root (see DriveRootOf). Trailing backslashes do not
// count: "C:\Users\me\" is "C:\Users\me".
FolderRefusal JudgeUserFolder(const std::wstring& path, bool onFixedDrive, bool rootNamesItself);
// The part of a log line that says why (for example "not on a local fixed drive").
const char* FolderRefusalReason(FolderRefusal refusal);

// "C:\" for a path that starts with a drive letter and a colon; empty otherwise.
std::wstring DriveRootOf(const std::wstring& path);

// The path without its trailing backslashes, except the one of a drive root ("C:\").
std::wstring WithoutTrailingBackslashes(std::wstring path);

// The folders to hold, outermost first, on the way down to folder (itself included): from top when top
// is folder or one of its ancestors (letter case ignored), else from the drive root. Trailing
// backslashes do not count. Empty when folder is not an absolute drive path free of "." and ".."
// components. An empty top, or one that is no such path, means the drive root.
std::vector<std::wstring> FolderChainFor(const std::wstring& folder, const std::wstring& top);

// Whether the path that the system reports for an open handle names the path that was meant: a "\\?\"
// prefix before a drive letter, trailing backslashes and ASCII letter case do not count. Any other
// difference (a link's target, a short name, another volume's form) does.
bool NamesMeantPath(const std::wstring& finalPath, const std::wstring& meantPath);

// Whose rights work in the user's folder.
enum class UserFolderIdentity {
    ConsoleUser,  // impersonate the console user with the token the system gave
    OwnToken,     // the caller works with its own token: the console user himself, not elevated
    Nobody,       // nothing is done there: LocalSystem without the console user's token
    OtherCaller,  // nothing is done there: a run elevated, or as another user than the console's
};

// What a caller's own token says, for a caller that did not get the console user's token. Each fact
// that could not be read holds its default, the one that lets the caller do the least.
struct CallerToken {
    bool localSystem = true;
    bool consoleUser = false;  // its user is the user at the physical console
    bool elevated = true;      // it carries an administrator's full rights
};

// A caller with the console user's token (only LocalSystem obtains it) works as that user. Any other
// caller works with its own token only when that token is the console user's own and not elevated: a
// folder that a user names is never opened with an administrator's rights or another user's, which
// would reach what the user may not (a network share that receives the administrator's logon, a
// system folder that the administrator may write).
UserFolderIdentity ChooseUserFolderIdentity(bool haveConsoleUserToken, const CallerToken& caller);
