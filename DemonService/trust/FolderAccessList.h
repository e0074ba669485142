#pragma once

// Reads a folder's owner and access list for the rule that keeps trust away from folders every local
// user may write to.

#include <string>

#include "trust/UserWritableFolderRule.h"

// The folder's owner and access list through GetNamedSecurityInfoW. Unreadable when the call fails or
// an entry cannot be read; NullList when the folder has no access list. Any thread.
FolderSecurity ReadFolderSecurity(const std::wstring& folder);

// Empty when folder (with or without its trailing backslash) is closed to every local user's writes;
// otherwise the one log line that names it and the group that may write there (or says that its access
// list cannot be read). Fails closed: an empty folder name is refused. Any thread.
std::string UserWriteRefusal(const std::wstring& folder);
