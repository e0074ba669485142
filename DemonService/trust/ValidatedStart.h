#pragma once

// "Check, then start" without a gap: every program the service starts after asking the validation
// library about it goes through here, so the file that was checked is the file that is started.

#include <functional>
#include <string>
#include <vector>

#include "base/TrustRefusal.h"

// Holds the file at path open (read access, sharing read only: while held it cannot be written,
// replaced, renamed or deleted), asks ValidateAssemblyFile about it and, only when the answer is 0,
// calls start; the file stays held until start has returned.
// Returns the validation answer: 0 when start ran. A file that cannot be held is not checked and not
// started; the result is then a non-zero Win32 error code. Fails closed: any non-zero result means the
// program was not started. Any thread.
int ValidateThenStart(const wchar_t* path, const std::function<void()>& start);

// The same for a program that LocalSystem starts with its own rights (a driver installer): before the
// file is held and checked, its own folder and every folder of closedFolders must be closed to all but
// the system's accounts, up to their roots (UserWriteRefusal: a user who may add a DLL beside it would
// run code as LocalSystem). A folder that is not closed logs one line with the tag "DemonService"
// naming it and the SID that opened it; nothing is checked or started then, and the result is
// ERROR_ACCESS_DENIED.
// Returns as ValidateThenStart does; when why is given it receives the reason of a refusal (None when
// start ran; ValidatorUnusable for the library's "not available" answer). Any thread.
int ValidateThenStartInstaller(const wchar_t* path, const std::vector<std::wstring>& closedFolders,
                               const std::function<void()>& start, TrustRefusal* why = nullptr);
