#pragma once

// Where the application's shortcuts go when they are renamed to its title or restored, and which path
// the registry keeps afterwards: values only, no I/O.

#include <cstddef>
#include <optional>
#include <string>

// The fixed name the installation gives the shortcuts.
constexpr wchar_t kRestoredShortcutName[] = L"Orvel.lnk";
constexpr wchar_t kShortcutExtension[] = L".lnk";
// Capacity of a new shortcut path, terminator included.
constexpr std::size_t kShortcutPathChars = 512;

// Whether a title can be a file name as it stands: not empty, no path separator, none of
// : * ? " < > |, no control character, and not only dots. Anything else could put the renamed shortcut
// outside its own folder or fail half-way.
bool IsUsableShortcutTitle(const std::wstring& title);

// The shortcut's folder (up to and including its last backslash) followed by name. Empty when the
// path has no backslash. nullopt when the result does not fit kShortcutPathChars: nothing is renamed
// then.
std::optional<std::wstring> ShortcutPathInSameFolder(const std::wstring& shortcutPath, const std::wstring& name);

// The path a shortcut gets for a title: ShortcutPathInSameFolder with the title and ".lnk"; nullopt
// when the title is not usable (IsUsableShortcutTitle) or the path does not fit.
std::optional<std::wstring> TitledShortcutPath(const std::wstring& shortcutPath, const std::wstring& title);

// The path the registry keeps after a rename was tried: the old path while a shortcut is still there
// because the rename did not happen, the new path otherwise. A stored path never names a missing file
// because of a failed rename.
std::wstring StoredShortcutPath(const std::wstring& oldPath, const std::wstring& newPath, bool shortcutWasAtOldPath,
                                bool renamed);
