#pragma once

// Reads who runs the process serving the pipe, and who is at the console, for IsConsoleUsersProcess.

#include <windows.h>

#include <optional>

#include "trust/ConsoleSessionRule.h"

// The session of the process processId (ProcessIdToSessionId) and the user of its token (TokenUser).
// process is an open handle to that same process with query access: while it is held, the id cannot
// name another process. Whatever cannot be read stays nullopt. Any thread.
SessionUser ReadProcessSessionUser(HANDLE process, DWORD processId);

// The active console session (WTSGetActiveConsoleSessionId) and the user of the console user's token
// (WTSQueryUserToken: only LocalSystem may have it), both nullopt unless the token belongs to that
// session; the SID nullopt when it cannot be read. Any thread.
SessionUser ReadConsoleSessionUser();

// True when the process runs in the active console session as the console user and pipeSession (the
// session in which the pipe's instance was made, GetNamedPipeServerSessionId) is that session too;
// false on any failure.
bool IsServedByConsoleUser(HANDLE process, DWORD processId, std::optional<unsigned long> pipeSession);
