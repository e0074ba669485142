#pragma once

// Working in the console user's data folder. The folder comes from the user's own hive and the user
// controls what lies in it, while the service runs as LocalSystem. Two lines of defence:
//
// 1. Every file operation there runs while the thread impersonates the console user
//    (ConsoleUserImpersonation), so the user's own rights bound what a planted link can reach.
// 2. Nothing the service writes there follows a link (PinnedFolder, PinnedFile): a folder that is a
//    reparse point, and a file that is a reparse point or has a second hard link, are refused. What
//    passes is held open, without delete sharing, until the write is done, so that it cannot be renamed
//    away and replaced by a link between the check and the write. This line alone guards the write when
//    nobody is at the console (no user token).
//
// A refused location gets nothing written; callers go on as after any failed write.

#include <windows.h>

#include <string>

#include "base/Win32Resources.h"

// Impersonates the user at the physical console on the calling thread for the scope's life, with the
// token that WTSQueryUserToken gives (only LocalSystem obtains it). Nested scopes on one thread share
// the outermost one's impersonation; the outermost reverts on every path. allowed() is false only
// when a user token was had but could not be put on the thread: a check that could not be made is a
// "no", and the caller then does nothing in the folder. With nobody at the console (or a caller that
// may not have the token) there is nothing to impersonate and allowed() is true.
class ConsoleUserImpersonation {
public:
    ConsoleUserImpersonation();
    ~ConsoleUserImpersonation();
    ConsoleUserImpersonation(const ConsoleUserImpersonation&) = delete;
    ConsoleUserImpersonation& operator=(const ConsoleUserImpersonation&) = delete;

    bool allowed() const { return m_allowed; }

private:
    bool m_allowed = true;
    bool m_reverts = false;
};

// An existing folder held open (without delete sharing) once it has been found to be a plain folder:
// neither the path's attributes nor the opened folder's show a reparse point. valid() is false for a
// refused or missing folder.
class PinnedFolder {
public:
    explicit PinnedFolder(const std::wstring& path);
    bool valid() const { return m_folder.valid(); }

private:
    UniqueFileHandle m_folder;
};

// A file held open (without delete sharing) once it has been found to be a plain file with one name:
// no reparse point (by path or by handle, the link itself opened, never its target) and exactly one
// hard link. With createIfMissing an absent file is created empty first, by this very open, so no link
// can be planted under its name between the check and the write. valid() is false when refused.
class PinnedFile {
public:
    PinnedFile(const std::wstring& path, bool createIfMissing);
    bool valid() const { return m_file.valid(); }

private:
    UniqueFileHandle m_file;
};

// Whether an open file or folder is a single-named plain one: not a reparse point, and for a file one
// hard link. Fails closed: false when its information cannot be read.
bool IsPlainOpenFile(HANDLE file, bool isFolder);

// The folder part of a path, without its trailing backslash; empty when the path has none.
std::wstring FolderOf(const std::wstring& path);
