#pragma once

// Reads a folder's owner and access list, and the chain of folders above it, for the rule that keeps
// trust away from folders that any account but the system's may change.

#include <windows.h>

#include <string>
#include <vector>

#include "trust/UserWritableFolderRule.h"

// The entries of an access list in their order, as the rule needs them: which kind, which rights, for
// which SID, and whether it applies to the folder itself or only to what is created below it
// (inherit-only). False, with entries cleared, when list is null or an entry cannot be read. Any thread.
bool ReadAccessEntries(const ACL* list, std::vector<AccessEntry>* entries);

// The owner and the access list of a security descriptor. Unreadable when descriptor is null, its owner
// or list cannot be read, or it has no owner; NullList when it has no access list. Any thread.
FolderSecurity ReadDescriptorSecurity(PSECURITY_DESCRIPTOR descriptor);

// The folder's owner and access list through GetNamedSecurityInfoW; Unreadable when the call fails.
// Any thread.
FolderSecurity ReadFolderSecurity(const std::wstring& folder);

// The account this process runs as, when that account is an administrator (its token holds the
// Administrators group enabled: LocalSystem, or an elevated administrator); empty otherwise or when it
// cannot be read. Any thread.
std::wstring OwnAdministratorAccountSid();

// Empty when folder (with or without its trailing backslash) and every folder above it up to its root
// are closed to every account but the trusted ones (JudgeFolderChain); otherwise the one log line that
// names it, the folder that opened it and the SID that may change it (or says that an owner or an
// access list cannot be read). Fails closed: an empty folder, or one without a root, is refused.
// Any thread.
std::string UserWriteRefusal(const std::wstring& folder);
