#include "trust/ConsoleSessionCheck.h"

#include <sddl.h>

#include "base/ConsoleUser.h"
#include "base/Win32Resources.h"

namespace {

constexpr DWORD kTokenUserBufferBytes = 1024;

std::optional<std::wstring> TokenUserSid(HANDLE token)
{
    alignas(8) BYTE userBuffer[kTokenUserBufferBytes] = {};
    DWORD needed = 0;
    if (!::GetTokenInformation(token, TokenUser, userBuffer, sizeof(userBuffer), &needed)) {
        return std::nullopt;
    }
    UniqueLocalWideString sidText;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid, sidText.put())) {
        return std::nullopt;
    }
    return std::wstring(sidText.get());
}

} // namespace

SessionUser ReadProcessSessionUser(HANDLE process, DWORD processId)
{
    SessionUser identity;
    DWORD session = 0;
    if (::ProcessIdToSessionId(processId, &session)) {
        identity.session = session;
    }
    UniqueHandle token;
    if (::OpenProcessToken(process, TOKEN_QUERY, token.put())) {
        identity.userSid = TokenUserSid(token.get());
    }
    return identity;
}

SessionUser ReadConsoleSessionUser()
{
    SessionUser identity;
    const DWORD session = ::WTSGetActiveConsoleSessionId();
    if (session == kNoConsoleSession) {
        return identity;
    }
    const UniqueHandle token = QueryConsoleUserToken();
    DWORD tokenSession = kNoConsoleSession;
    DWORD size = 0;
    if (!token || !::GetTokenInformation(token.get(), TokenSessionId, &tokenSession, sizeof(tokenSession), &size)) {
        return identity;
    }
    // The console may have changed hands between the two questions: the token must be of the session
    // that was asked about, or neither is known.
    if (tokenSession == session) {
        identity.session = session;
        identity.userSid = TokenUserSid(token.get());
    }
    return identity;
}

bool IsServedByConsoleUser(HANDLE process, DWORD processId, std::optional<unsigned long> pipeSession)
{
    return IsConsoleUsersPipe(pipeSession, ReadProcessSessionUser(process, processId), ReadConsoleSessionUser());
}
