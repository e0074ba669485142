#pragma once

// Whether the process serving the pipe runs from the application's install folder. Values only, no I/O.

#include <string>
#include <vector>

// True when imagePath names a file in the folder of appPath (the text up to its last backslash) or in a
// folder below it. Both are full Win32 paths; '/' counts as a separator; letter case is ignored for
// ASCII letters only (any other difference in case refuses). Component by component, so
// "C:\Program Files\Corvane2\x.exe" is not below "C:\Program Files\Corvane\". Fails closed: an empty
// path, an appPath without a folder, and any path with a "." or ".." component, an empty component
// (other than the two leading ones of "\\server\share") or a component ending in a dot or a blank (which
// Windows would silently drop) give false. So does an install folder that is a root ("C:\", a share
// "\\server\share\", "\\?\C:\") or is not a full path: no root, no install folder.
bool IsInInstallFolder(const std::wstring& imagePath, const std::wstring& appPath);

// The folder of a file's path with its trailing separator ('\\' or '/'); empty for a bare name.
std::wstring FolderPartOf(const std::wstring& path);

// The folder (with or without its trailing separator) and every folder above it up to its root,
// nearest first, each written with backslashes and a trailing one: "C:\A\B\" gives "C:\A\B\", "C:\A\",
// "C:\". Roots are "C:\", "\\server\share\", "\\?\C:\" (or "\\.\C:\") and "\\?\UNC\server\share\".
// Empty, so that nothing is judged to be closed, for a path without such a root or with a component
// that normalisation would rewrite (as IsInInstallFolder refuses them).
std::vector<std::wstring> FoldersUpToRoot(const std::wstring& folder);
