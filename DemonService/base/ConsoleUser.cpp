#include "base/ConsoleUser.h"

#include <windows.h>
#include <sddl.h>
#include <wtsapi32.h>

#include "base/Win32Resources.h"

namespace {

constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;
constexpr DWORD kTokenUserBufferBytes = 1024;
constexpr wchar_t kShellFoldersSuffix[] = L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

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
    const std::wstring subkey = *sid + kShellFoldersSuffix;
    UniqueRegKey shellFolders;
    if (::RegOpenKeyExW(HKEY_USERS, subkey.c_str(), 0, KEY_ALL_ACCESS, shellFolders.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return ReadRegistryText(shellFolders.get(), L"AppData");
}

std::optional<RegistryText> ReadShellFoldersAppData(const std::wstring& sid, long* error)
{
    const std::wstring subkey = sid + kShellFoldersSuffix;
    UniqueRegKey shellFolders;
    *error = ::RegOpenKeyExW(HKEY_USERS, subkey.c_str(), 0, KEY_QUERY_VALUE, shellFolders.put());
    if (*error != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::optional<RegistryText> appData = ReadRegistryText(shellFolders.get(), L"AppData");
    *error = appData ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    return appData;
}
