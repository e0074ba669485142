#include "base/UserFolderAccess.h"

#include <sddl.h>
#include <userenv.h>

#include "base/ConsoleUser.h"

namespace {

constexpr DWORD kTokenUserBufferBytes = 1024;
constexpr DWORD kFinalPathChars = 1024;

std::wstring ProfileFolderOf(HANDLE token)
{
    wchar_t folder[MAX_PATH] = {};
    DWORD chars = MAX_PATH;
    return ::GetUserProfileDirectoryW(token, folder, &chars) ? std::wstring(folder) : std::wstring();
}

std::wstring OwnProfileFolder()
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return std::wstring();
    }
    return ProfileFolderOf(token.get());
}

} // namespace

ConsoleUserImpersonation::ConsoleUserImpersonation()
{
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, m_previous.put()) &&
        ::GetLastError() != ERROR_NO_TOKEN) {
        return;
    }
    // The console user's token is asked for, and the identity chosen, as the process itself.
    if (m_previous) {
        if (!::RevertToSelf()) {
            return;
        }
        m_restores = true;
    }
    UniqueHandle token = QueryConsoleUserToken();
    m_identity = ChooseUserFolderIdentity(token.valid(), token.valid() ? CallerToken() : ReadCallerToken());
    switch (m_identity) {
    case UserFolderIdentity::ConsoleUser:
        if (::ImpersonateLoggedOnUser(token.get())) {
            m_restores = true;
            m_allowed = true;
            m_profileFolder = ProfileFolderOf(token.get());
        }
        break;
    case UserFolderIdentity::OwnToken:
        m_allowed = true;
        m_profileFolder = OwnProfileFolder();
        break;
    case UserFolderIdentity::Nobody:
    case UserFolderIdentity::OtherCaller:
        break;
    }
}

ConsoleUserImpersonation::~ConsoleUserImpersonation()
{
    // No token to give back is the process's own identity.
    const bool restored = !m_restores || (m_previous ? ::SetThreadToken(nullptr, m_previous.get()) != FALSE
                                                     : ::RevertToSelf() != FALSE);
    if (!restored) {
        // A thread that cannot return to the identity it had must not go on as the user.
        ::TerminateProcess(::GetCurrentProcess(), ERROR_CANNOT_IMPERSONATE);
    }
}

HeldFolderChain ConsoleUserImpersonation::HoldFolder(const std::wstring& folder) const
{
    if (!m_allowed || CheckUserFolder(folder) != FolderRefusal::None) {
        return HeldFolderChain(std::wstring(), std::wstring());
    }
    return HeldFolderChain(folder, m_profileFolder);
}

CallerToken ReadCallerToken()
{
    CallerToken caller;
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return caller;
    }
    alignas(8) BYTE userBuffer[kTokenUserBufferBytes] = {};
    DWORD needed = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, userBuffer, sizeof(userBuffer), &needed)) {
        return caller;
    }
    PSID user = reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid;
    caller.localSystem = ::IsWellKnownSid(user, WinLocalSystemSid) != FALSE;

    TOKEN_ELEVATION elevation = {};
    caller.elevated = !::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &needed) ||
                      elevation.TokenIsElevated != 0;
    if (caller.localSystem || caller.elevated) {
        return caller;  // whoever the console user is, nothing is done with this token
    }
    UniqueLocalWideString userText;
    const std::optional<std::wstring> consoleUser = LookUpConsoleUserSid();
    caller.consoleUser = consoleUser && ::ConvertSidToStringSidW(user, userText.put()) &&
                         ::CompareStringOrdinal(userText.get(), -1, consoleUser->c_str(), -1, TRUE) == CSTR_EQUAL;
    return caller;
}

FolderRefusal CheckUserFolder(const std::wstring& folder)
{
    const std::wstring root = DriveRootOf(folder);
    const bool fixed = !root.empty() && ::GetDriveTypeW(root.c_str()) == DRIVE_FIXED;
    // A substituted drive is a link to a folder of another drive: its root's final path names that folder.
    bool rootNamesItself = false;
    if (fixed) {
        UniqueFileHandle rootFolder(::CreateFileW(root.c_str(), FILE_READ_ATTRIBUTES,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        wchar_t finalPath[kFinalPathChars] = {};
        const DWORD length = rootFolder ? ::GetFinalPathNameByHandleW(rootFolder.get(), finalPath, kFinalPathChars,
                                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)
                                        : 0;
        rootNamesItself = length > 0 && length < kFinalPathChars && NamesMeantPath(finalPath, root);
    }
    return JudgeUserFolder(folder, fixed, rootNamesItself);
}

std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t lastBackslash = path.rfind(L'\\');
    return lastBackslash == std::wstring::npos ? std::wstring() : path.substr(0, lastBackslash);
}
