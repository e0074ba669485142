#pragma once

// "Check, then start" without a gap: every program the service starts after asking the validation
// library about it goes through here, so the file that was checked is the file that is started.

#include <functional>

// Holds the file at path open (read access, sharing read only: while held it cannot be written,
// replaced, renamed or deleted), asks ValidateAssemblyFile about it and, only when the answer is 0,
// calls start; the file stays held until start has returned.
// Returns the validation answer: 0 when start ran. A file that cannot be held is not checked and not
// started; the result is then a non-zero Win32 error code. Fails closed: any non-zero result means the
// program was not started. Any thread.
int ValidateThenStart(const wchar_t* path, const std::function<void()>& start);
