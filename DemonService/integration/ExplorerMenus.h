#pragma once

// Explorer's context menus: the sharing entry on every file that the service writes each time it runs,
// and the application's menus that it removes each time it stops.

#include <string>

// Whether an installed package's full name holds partialName (letter case counts); the first such
// package's name goes to fullName, which is emptied first. False (and "failed open reg key" logged with
// tag "FindPackageFullNameByPartialName") when the package list cannot be read. Any thread.
bool FindPackageFullNameByPartialName(const wchar_t* partialName, std::wstring& fullName);

// Writes the sharing entry ("*\shell\FileDock" with "Icon" and "MUIVerb", its "command" with the quoted
// application path and the share switches) unless the application's shell-extension package is
// installed, which then owns the entry: nothing is written or removed. A key that has to be created is
// created volatile; a key that cannot be opened or created loses only its own values. Values that do
// not fit their fixed buffers are not written. menuTitle is the localized entry text ("MUIVerb"); null
// gives the default text. Service run thread.
void UpdateFileDockFileMenu(const wchar_t* appPath, const wchar_t* menuTitle);

// Deletes the application's device submenus (files and folders, devices 0 to 255 and the scan entry)
// and the sharing entry, innermost keys first, under HKEY_CLASSES_ROOT and under the console user's own
// classes (HKEY_USERS\<SID>\Software\Classes), where the application, running as the user, writes its
// submenu. Keys are deleted only when empty of subkeys, so anything else below them stays, and with it
// its parents. A registry link on the way to a key is never followed: the link and what lies below it
// stay (integration/ShellKeys.h). The sharing entry is written under the same rule. Results are
// ignored. Any thread.
void RemoveContextMenus();
