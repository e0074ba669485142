#pragma once

// Starting a program at the interactive user's ordinary (medium) integrity level from an elevated or
// LocalSystem command line.

#include <windows.h>

#include <cstdint>

// Starts the program at appPath with commandLine passed unchanged as its whole command line (no program
// name is put in front of it). unused is not read (callers pass 0).
//
// At medium integrity or below (or on a system without integrity levels) the program is started
// directly with CreateProcessW. Above medium it is started with a primary copy of the token of the
// process that owns the shell's desktop window (CreateProcessWithTokenW; the caller needs the
// impersonation privilege). If that start fails, the shell's "open" verb starts it hidden as a
// fallback, in the caller's own context, and only when the validation library accepts the file: the
// file is held, sharing read only, from the check until ShellExecuteW has returned. A rejected or
// uncheckable file is not started and "CreateProcessMediumIL ValidateAssembly fail" is logged.
//
// Returns 0 on success, otherwise a Win32 error code:
//   - the caller's integrity level cannot be read: that step's error; nothing started;
//   - no shell window, or its process or token cannot be opened or duplicated: the failing call's
//     error (no shell window gives the error of opening process id 0); nothing started;
//   - the fallback ran: the last-error value after ShellExecuteW (its own result is not examined);
//   - the fallback was refused: the last-error value after logging, or the failed start's error when
//     that value is 0 (a refusal is never reported as success); nothing started;
//   - a direct start fails: its error.
// The shell's token is used only when the shell runs in the caller's own session and at medium
// integrity (supervision/MediumIntegrityPlan.h): otherwise one line ("CreateProcessMediumIL shell token
// refused: ...") says why, nothing is started, not even through the fallback, and the result is
// ERROR_ACCESS_DENIED.
//
// processInfo, when given, receives the new process's record after a start through the token or a
// direct start, and the caller then owns its two handles; when null, they are closed here. The shell
// fallback fills no record: the caller's record keeps what it held. Main thread of a command-line run;
// touches no shared state.
DWORD CreateProcessMediumIL(const wchar_t* appPath, wchar_t* commandLine, std::uintptr_t unused,
                            PROCESS_INFORMATION* processInfo);

// The start with a token of the user's that CreateProcessMediumIL makes once it has borrowed and checked
// the shell's: CreateProcessWithTokenW with primaryToken, and the shell fallback for a trusted file when
// that fails. Results and processInfo as above.
DWORD StartWithUserToken(HANDLE primaryToken, const wchar_t* appPath, wchar_t* commandLine,
                         PROCESS_INFORMATION* processInfo);
