#pragma once

// The application's two shortcuts, registered by the installation under HKEY_LOCAL_MACHINE
// "Software\Halvex\Corvane" (64-bit view) as "ShortCutPath" and "Program_ShortCut_Path", renamed to
// the application's localized title or back to "Orvel.lnk". Nothing here logs or reports an error.

// What became of one rename.
enum class LinkRename {
    NothingToDo,      // a null path, or the two paths are the same text
    NoFileAtOldPath,  // nothing was there to rename; nothing was deleted
    Renamed,          // the file is now at the new path (a file there before was replaced in the same step)
    NotRenamed,       // the file is still at the old path
};

// Renames the file at oldPath to newPath, on the wide paths as given. A file already at newPath is
// replaced in the same step, so there is never a moment with neither shortcut; nothing is deleted when
// there is no file at oldPath; a rename that changes only letter case renames the file in place. Never
// through a link: NotRenamed when the old file, or any folder from the drive root down to either path's
// folder, is a link or not the path meant (a relative or device path included); the folders are held
// while the file is renamed by its handle. Any thread.
LinkRename RenameLinkFile(const wchar_t* oldPath, const wchar_t* newPath);

// Renames both registered shortcuts to the title of the service context (same folder, title + ".lnk")
// and stores their new paths; a shortcut whose rename did not happen keeps its stored path. Does
// nothing when the product key cannot be opened, "Program_ShortCut_Path" cannot be read, or the title
// is empty or cannot be a file name (a separator, : * ? " < > |, a control character, only dots). An
// unreadable "ShortCutPath" counts as empty. Main thread of a command-line run.
void RenameShortCut();

// Renames both registered shortcuts back to "Orvel.lnk" in their folders and stores the paths, the
// same way. Does nothing when the key cannot be opened or "Program_ShortCut_Path" cannot be read.
void RetoreShortCut();
