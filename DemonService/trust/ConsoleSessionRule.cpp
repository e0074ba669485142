#include "trust/ConsoleSessionRule.h"

bool IsConsoleUsersProcess(const SessionUser& server, const SessionUser& console)
{
    if (!server.session || !console.session || !server.userSid || !console.userSid) {
        return false;
    }
    if (*console.session == kNoConsoleSession || *server.session != *console.session) {
        return false;
    }
    return !console.userSid->empty() && *server.userSid == *console.userSid;
}

bool IsConsoleUsersPipe(std::optional<unsigned long> pipeSession, const SessionUser& server, const SessionUser& console)
{
    return IsConsoleUsersProcess(server, console) && pipeSession && *pipeSession == *console.session;
}
