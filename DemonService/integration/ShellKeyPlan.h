#pragma once

// Registry key paths taken apart: values only, no I/O.

#include <optional>
#include <string>
#include <vector>

// The key names of a path, outermost first: "a\b\c" gives "a", "b" and "c". Empty parts are skipped.
std::vector<std::wstring> KeyPathComponents(const std::wstring& keyPath);

// Windows keeps a user's classes in a hive of their own, HKEY_USERS\<SID>_Classes, and links the key
// Software\Classes of the user's hive to it. The key name of that hive below HKEY_USERS when linkTarget
// (the link's "SymbolicLinkValue") names exactly the classes hive of sid ("\REGISTRY\USER\<sid>_Classes",
// letter case ignored); nullopt for any other target, and for an empty sid.
std::optional<std::wstring> UserClassesHiveOfLink(const std::wstring& linkTarget, const std::wstring& sid);
