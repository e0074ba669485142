#pragma once

// Whether the process serving the pipe belongs to the user at the console: the same session and the
// same user. Values only, no I/O.

#include <optional>
#include <string>

// The session a process runs in and the user its token names (a SID in string form, "S-1-5-..."), as
// far as they could be read: nullopt for what could not.
struct SessionUser {
    std::optional<unsigned long> session;
    std::optional<std::wstring> userSid;
};

// The session id that means "nobody at the console".
constexpr unsigned long kNoConsoleSession = 0xFFFFFFFFul;

// True only when everything of both could be read, the console has a session, the server runs in it,
// and both name the same, non-empty user SID (compared exactly). Fails closed on anything else.
bool IsConsoleUsersProcess(const SessionUser& server, const SessionUser& console);

// IsConsoleUsersProcess, and the pipe's instance was made in the console session as well: pipeSession
// (nullopt when it could not be read) equals the console's session. A process id names the instance's
// creator only while that process lives; a handle to the instance passed on keeps serving after it, and
// the console user's application may have been given the same id since.
bool IsConsoleUsersPipe(std::optional<unsigned long> pipeSession, const SessionUser& server,
                        const SessionUser& console);
