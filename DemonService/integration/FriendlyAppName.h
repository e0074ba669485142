#pragma once

// The application's display name in the shell's MuiCache, the per-user cache from which Explorer takes
// the name it shows for an executable.

// Writes appTitle (the localized application title; empty without a resource library) as "<appPath>
// .FriendlyAppName" under HKEY_CURRENT_USER's MuiCache and, when the running process's user has a SID
// longer than 8 characters (not LocalSystem or another well-known account), under that user's classes
// MuiCache in HKEY_USERS. An earlier REG_SZ value of the name is deleted before the write. A key that has
// to be created is created volatile (its missing parents as ordinary keys). Both hives are the user's: a
// registry link on the way to either key is never followed, and that write is not made
// (integration/ShellKeys.h). Nothing is reported; a path too long for the value name writes nothing.
// Any thread.
void UpdateFriendlyAppName(const wchar_t* appPath, const wchar_t* appTitle);
