#include "base/UserFolderAccess.h"

#include <userenv.h>

#include "base/ConsoleUser.h"

namespace {

// The depth of nested impersonation scopes on this thread; only the outermost changes the thread.
thread_local int t_impersonationDepth = 0;
thread_local bool t_impersonationAllowed = true;
thread_local std::wstring t_profileFolder;

constexpr DWORD kTokenUserBufferBytes = 1024;

bool ProcessRunsAsLocalSystem()
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return true;  // unknown: treated as the identity that may do the least
    }
    alignas(8) BYTE userBuffer[kTokenUserBufferBytes] = {};
    DWORD needed = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, userBuffer, sizeof(userBuffer), &needed)) {
        return true;
    }
    return ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid, WinLocalSystemSid) != FALSE;
}

bool RunsAsLocalSystem()
{
    static const bool localSystem = ProcessRunsAsLocalSystem();
    return localSystem;
}

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
    if (t_impersonationDepth++ > 0) {
        m_allowed = t_impersonationAllowed;
        return;
    }
    UniqueHandle token = QueryConsoleUserToken();
    switch (ChooseUserFolderIdentity(token.valid(), RunsAsLocalSystem())) {
    case UserFolderIdentity::ConsoleUser:
        m_reverts = ::ImpersonateLoggedOnUser(token.get()) != FALSE;
        m_allowed = m_reverts;
        t_profileFolder = m_allowed ? ProfileFolderOf(token.get()) : std::wstring();
        break;
    case UserFolderIdentity::OwnToken:
        t_profileFolder = OwnProfileFolder();
        break;
    case UserFolderIdentity::Nobody:
        m_allowed = false;
        t_profileFolder.clear();
        break;
    }
    t_impersonationAllowed = m_allowed;
}

ConsoleUserImpersonation::~ConsoleUserImpersonation()
{
    if (--t_impersonationDepth == 0) {
        t_impersonationAllowed = true;
        t_profileFolder.clear();
        if (m_reverts && !::RevertToSelf()) {
            // A thread that cannot return to the service's own identity must not go on as the user.
            ::TerminateProcess(::GetCurrentProcess(), ERROR_CANNOT_IMPERSONATE);
        }
    }
}

HeldFolderChain ConsoleUserImpersonation::HoldFolder(const std::wstring& folder) const
{
    if (!m_allowed || CheckUserFolder(folder) != FolderRefusal::None) {
        return HeldFolderChain(std::wstring(), std::wstring());
    }
    return HeldFolderChain(folder, t_profileFolder);
}

FolderRefusal CheckUserFolder(const std::wstring& folder)
{
    const std::wstring root = DriveRootOf(folder);
    const bool fixed = !root.empty() && ::GetDriveTypeW(root.c_str()) == DRIVE_FIXED;
    return JudgeUserFolder(folder, fixed);
}

std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t lastBackslash = path.rfind(L'\\');
    return lastBackslash == std::wstring::npos ? std::wstring() : path.substr(0, lastBackslash);
}
