#include "host/UserFolderAccess.h"

#include "host/ConsoleUser.h"

namespace {

// The depth of nested impersonation scopes on this thread; only the outermost changes the thread.
thread_local int t_impersonationDepth = 0;
thread_local bool t_impersonationAllowed = true;

constexpr DWORD kPinShare = FILE_SHARE_READ | FILE_SHARE_WRITE;  // never FILE_SHARE_DELETE
constexpr DWORD kSingleLink = 1;

bool PathShowsReparsePoint(const std::wstring& path, bool* exists)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    *exists = attributes != INVALID_FILE_ATTRIBUTES;
    return *exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

} // namespace

ConsoleUserImpersonation::ConsoleUserImpersonation()
{
    if (t_impersonationDepth++ > 0) {
        m_allowed = t_impersonationAllowed;
        return;
    }
    UniqueHandle token = QueryConsoleUserToken();
    if (token) {
        m_reverts = ::ImpersonateLoggedOnUser(token.get()) != FALSE;
        m_allowed = m_reverts;
    }
    t_impersonationAllowed = m_allowed;
}

ConsoleUserImpersonation::~ConsoleUserImpersonation()
{
    if (--t_impersonationDepth == 0) {
        t_impersonationAllowed = true;
        if (m_reverts && !::RevertToSelf()) {
            // A thread that cannot return to the service's own identity must not go on as the user.
            ::TerminateProcess(::GetCurrentProcess(), ERROR_CANNOT_IMPERSONATE);
        }
    }
}

bool IsPlainOpenFile(HANDLE file, bool isFolder)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(file, &info)) {
        return false;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder != isFolder) {
        return false;
    }
    return isFolder || info.nNumberOfLinks == kSingleLink;
}

PinnedFolder::PinnedFolder(const std::wstring& path)
{
    if (path.empty()) {
        return;
    }
    // Opened first and looked at after: the name cannot change hands in between.
    UniqueFileHandle folder(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kPinShare, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    bool exists = false;
    if (!folder || !IsPlainOpenFile(folder.get(), true) || PathShowsReparsePoint(path, &exists) || !exists) {
        return;
    }
    m_folder = std::move(folder);
}

PinnedFile::PinnedFile(const std::wstring& path, bool createIfMissing)
{
    if (path.empty()) {
        return;
    }
    UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kPinShare, nullptr,
                                        createIfMissing ? OPEN_ALWAYS : OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    bool exists = false;
    if (!file || !IsPlainOpenFile(file.get(), false) || PathShowsReparsePoint(path, &exists) || !exists) {
        return;
    }
    m_file = std::move(file);
}

std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t lastBackslash = path.rfind(L'\\');
    return lastBackslash == std::wstring::npos ? std::wstring() : path.substr(0, lastBackslash);
}
