#include "base/ConsoleUser.h"

#include <windows.h>
#include <sddl.h>
#include <wtsapi32.h>

#include "base/Win32Resources.h"

namespace {

constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;
constexpr DWORD kTokenUserBufferBytes = 1024;
constexpr DWORD kDomainChars = 256;
// The keys from a user's hive root down to "Shell Folders", one name at a time.
constexpr const wchar_t* kShellFoldersPath[] = {L"SOFTWARE", L"Microsoft", L"Windows", L"CurrentVersion", L"Explorer",
                                                L"Shell Folders"};

// Opens HKEY_USERS\<sid>\...\Shell Folders for reading values only, one name at a time and never through
// a registry link: the hive is the user's, who may make any key of it a link to a key elsewhere (another
// user's, the machine's). A link is opened as itself, and has neither the next name below it nor the
// value, so the read fails. The registry's error in *error.
UniqueRegKey OpenShellFolders(const std::wstring& sid, long* error)
{
    UniqueRegKey key;
    *error = ::RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_QUERY_VALUE, key.put());
    for (const wchar_t* name : kShellFoldersPath) {
        if (*error != ERROR_SUCCESS) {
            return UniqueRegKey();
        }
        UniqueRegKey next;
        *error = ::RegOpenKeyExW(key.get(), name, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, next.put());
        key = std::move(next);
    }
    return *error == ERROR_SUCCESS ? std::move(key) : UniqueRegKey();
}

std::wstring SessionText(DWORD session, WTS_INFO_CLASS what)
{
    wchar_t* text = nullptr;
    DWORD bytes = 0;
    std::wstring result;
    if (::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, what, &text, &bytes) && text != nullptr) {
        result = text;
    }
    if (text != nullptr) {
        ::WTSFreeMemory(text);
    }
    return result;
}

} // namespace

UniqueHandle QueryConsoleUserToken()
{
    UniqueHandle token;
    const DWORD session = ::WTSGetActiveConsoleSessionId();
    if (session != kNoConsoleSession && !::WTSQueryUserToken(session, token.put())) {
        token.reset();
    }
    return token;
}

std::optional<std::wstring> ReadConsoleUserSid()
{
    UniqueHandle token = QueryConsoleUserToken();
    if (!token) {
        return std::nullopt;
    }
    alignas(8) BYTE userBuffer[kTokenUserBufferBytes] = {};
    DWORD needed = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, userBuffer, sizeof(userBuffer), &needed)) {
        return std::nullopt;
    }
    UniqueLocalWideString sidText;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid, sidText.put())) {
        return std::nullopt;
    }
    return std::wstring(sidText.get());
}

std::optional<RegistryText> ReadConsoleUserAppData()
{
    const std::optional<std::wstring> sid = ReadConsoleUserSid();
    if (!sid) {
        return std::nullopt;
    }
    long error = ERROR_SUCCESS;
    return ReadShellFoldersAppData(*sid, &error);
}

std::optional<RegistryText> ReadShellFoldersAppData(const std::wstring& sid, long* error)
{
    const UniqueRegKey shellFolders = OpenShellFolders(sid, error);
    if (*error != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::optional<RegistryText> appData = ReadRegistryText(shellFolders.get(), L"AppData");
    *error = appData ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    return appData;
}

ConsoleSession ReadConsoleSession()
{
    ConsoleSession session;
    session.id = ::WTSGetActiveConsoleSessionId();
    if (session.id != kNoConsoleSession) {
        session.user = SessionText(session.id, WTSUserName);
        session.domain = SessionText(session.id, WTSDomainName);
    }
    return session;
}

std::optional<std::wstring> LookUpConsoleUserSid()
{
    const ConsoleSession session = ReadConsoleSession();
    if (session.user.empty()) {
        return std::nullopt;
    }
    const std::wstring account = session.domain.empty() ? session.user : session.domain + L"\\" + session.user;
    alignas(8) BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidBytes = sizeof(sid);
    wchar_t accountDomain[kDomainChars] = {};
    DWORD domainChars = kDomainChars;
    SID_NAME_USE use = SidTypeUnknown;
    if (!::LookupAccountNameW(nullptr, account.c_str(), sid, &sidBytes, accountDomain, &domainChars, &use)) {
        return std::nullopt;
    }
    UniqueLocalWideString text;
    if (!::ConvertSidToStringSidW(sid, text.put())) {
        return std::nullopt;
    }
    return std::wstring(text.get());
}
