#pragma once

// Registry key paths taken apart: values only, no I/O.

#include <string>
#include <vector>

// The ancestors of a key path below its root, outermost first: "a\b\c" gives "a" and "a\b". Empty
// parts (doubled or trailing backslashes) are not keys and are skipped.
std::vector<std::wstring> ParentKeyPaths(const std::wstring& keyPath);
