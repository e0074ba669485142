#pragma once

// Folders held open on the way down to a file that someone else may be able to change, so that a path
// the service checked stays the path it uses. Each folder of the chain is opened with an access that
// takes part in sharing checks and without delete sharing: while it is held, nobody can rename it away
// or delete it and put a link in its place. Files and folders are shared for reading and writing, so
// the owner's own work there goes on meanwhile. A folder is accepted only when, by its handle, it is a
// folder and no reparse point, and the system's final path for the handle names the path that was
// meant (a link anywhere above it shows there as another path).
//
// Platform APIs that take only a path (the private-profile functions, a rename target) are called while
// the chain is held: then that path cannot be swapped in between.

#include <windows.h>

#include <string>
#include <vector>

#include "base/Win32Resources.h"

// The thread's last error after a folder or file opened but was refused as not the plain one meant:
// ERROR_STOPPED_ON_SYMLINK, which not every SDK's headers name.
constexpr DWORD kHeldPathRefused = 681;
#ifdef ERROR_STOPPED_ON_SYMLINK
static_assert(ERROR_STOPPED_ON_SYMLINK == kHeldPathRefused, "the system's number for a stop at a link");
#endif

class HeldFolderChain {
public:
    // Holds every folder from top down to folder, outermost first (see FolderChainFor in
    // base/UserFolderRule.h: top when it is an ancestor, else the drive root). valid() is false, with
    // nothing held, when folder is no absolute drive path or any folder is missing or refused. A folder
    // that is there but refused leaves kHeldPathRefused as the thread's last error; a missing one
    // leaves the open's own error.
    HeldFolderChain(const std::wstring& folder, const std::wstring& top);
    HeldFolderChain(HeldFolderChain&&) = default;
    HeldFolderChain& operator=(HeldFolderChain&&) = default;

    bool valid() const { return !m_folders.empty(); }

    // Holds one more folder, a direct child of the last one held, made first when create is set and it is
    // missing. False, with the chain left as it was and the last error as for the constructor, when it is
    // missing or refused; on an invalid chain nothing is made or held.
    bool HoldChild(const std::wstring& folder, bool create);

private:
    std::vector<UniqueFileHandle> m_folders;
    std::wstring m_last;
};

// Opens a file in a held folder with data access (access, share and disposition as for CreateFileW; the
// link itself opened, never its target) and keeps it only when, by its handle, it is a plain file with
// one hard link whose final path names path. Invalid when refused (the last error then
// kHeldPathRefused) or when the open fails (the open's own error).
UniqueFileHandle OpenPlainFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition);

// Whether an open handle names path (its final path, see NamesMeantPath) and is, by the handle, no
// reparse point and a folder or a file as isFolder says. Fails closed when anything cannot be read.
bool IsOpenedAsMeant(HANDLE handle, const std::wstring& path, bool isFolder);
