#pragma once

// Working in the console user's data folder. The folder comes from the user's own hive and the user
// controls what lies in it, while the service runs as LocalSystem. Three lines of defence:
//
// 1. Nothing is done there with the service's own rights. Every file operation runs while the thread
//    impersonates the console user (ConsoleUserImpersonation), so the user's own rights bound what a
//    planted link can reach; LocalSystem without that user's token does nothing there at all. A
//    command-line run works with its own token only when that is the console user's own and not
//    elevated; an administrator's run, elevated or as another user, does nothing there.
// 2. The folder is worked in only when it is an absolute path below the root of a local fixed drive
//    that is no substituted drive (JudgeUserFolder in base/UserFolderRule.h).
// 3. Nothing written there follows a link: the folders from the user's profile folder down to the file
//    are held (base/HeldFolderChain.h) until the write is done, and the file itself is opened and
//    checked by its handle.
//
// A refused location gets nothing written; callers go on as after any failed write.

#include <windows.h>

#include <string>

#include "base/HeldFolderChain.h"
#include "base/UserFolderRule.h"
#include "base/Win32Resources.h"

// Takes on, on the calling thread for the scope's life, the identity that works in the user's folder:
// the user at the physical console, with the token that WTSQueryUserToken gives (only LocalSystem
// obtains it); without that token, a caller that is the console user, not elevated, keeps its own, and
// anyone else may do nothing (ChooseUserFolderIdentity). The choice is made with the process's own
// identity, and the scope gives the thread back whatever token it had before (none, or an enclosing
// scope's) on every path; a thread that cannot be given it back ends the process rather than go on with
// the wrong identity. allowed() is false when nothing may be done in the folder: no identity that may
// work there, a token that could not be put on the thread, or a token before it that could not be read
// (a check that could not be made is a "no"); identity() says which was chosen.
class ConsoleUserImpersonation {
public:
    ConsoleUserImpersonation();
    ~ConsoleUserImpersonation();
    ConsoleUserImpersonation(const ConsoleUserImpersonation&) = delete;
    ConsoleUserImpersonation& operator=(const ConsoleUserImpersonation&) = delete;

    bool allowed() const { return m_allowed; }
    UserFolderIdentity identity() const { return m_identity; }

    // Holds the chain of folders down to folder, a folder of the user's: from the profile folder of the
    // identity taken on (from the drive root when that is not an ancestor). Invalid, with nothing held,
    // when nothing may be done, or folder is not accepted as a user folder (see JudgeUserFolder).
    HeldFolderChain HoldFolder(const std::wstring& folder) const;

private:
    bool m_allowed = false;
    UserFolderIdentity m_identity = UserFolderIdentity::Nobody;
    bool m_restores = false;     // the thread's token was changed; m_previous goes back on it at the end
    UniqueHandle m_previous;     // the thread's token before the scope; none when it had none
    std::wstring m_profileFolder;
};

// What the process's own token says (user, elevation, whether its user is the console's); a fact that
// cannot be read holds the value that lets the caller do the least.
CallerToken ReadCallerToken();

// Whether folder is accepted as the user's folder (FolderRefusal::None) or why not; the drive's type,
// and the final path of its root, are asked of the system.
FolderRefusal CheckUserFolder(const std::wstring& folder);

// The folder part of a path, without its trailing backslash; empty when the path has none.
std::wstring FolderOf(const std::wstring& path);
