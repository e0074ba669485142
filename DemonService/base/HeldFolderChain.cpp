#include "base/HeldFolderChain.h"

#include "base/UserFolderRule.h"

namespace {

// FILE_LIST_DIRECTORY and FILE_TRAVERSE count for sharing checks, unlike FILE_READ_ATTRIBUTES alone.
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE;
constexpr DWORD kHoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;  // never FILE_SHARE_DELETE
constexpr DWORD kFinalPathChars = 1024;
constexpr DWORD kSingleLink = 1;

std::wstring FinalPathOf(HANDLE handle)
{
    std::wstring path(kFinalPathChars, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(handle, &path[0], kFinalPathChars,
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kFinalPathChars) {
        return std::wstring();
    }
    path.resize(length);
    return path;
}

// The path's own attributes: a link to a folder that the handle does not show as one may show here.
bool PathShowsPlain(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

UniqueFileHandle HoldFolder(const std::wstring& path)
{
    UniqueFileHandle folder(::CreateFileW(path.c_str(), kFolderAccess, kHoldShare, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (folder && (!IsOpenedAsMeant(folder.get(), path, true) || !PathShowsPlain(path))) {
        folder.reset();
        ::SetLastError(kHeldPathRefused);
    }
    return folder;
}

} // namespace

bool IsOpenedAsMeant(HANDLE handle, const std::wstring& path, bool isFolder)
{
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) {
        return false;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    if (((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != isFolder) {
        return false;
    }
    return NamesMeantPath(FinalPathOf(handle), path);
}

HeldFolderChain::HeldFolderChain(const std::wstring& folder, const std::wstring& top)
{
    const std::vector<std::wstring> chain = FolderChainFor(folder, top);
    std::vector<UniqueFileHandle> held;
    for (const std::wstring& path : chain) {
        UniqueFileHandle handle = HoldFolder(path);
        if (!handle) {
            return;
        }
        held.push_back(std::move(handle));
    }
    if (!chain.empty()) {
        m_folders = std::move(held);
        m_last = chain.back();
    }
}

bool HeldFolderChain::HoldChild(const std::wstring& folder, bool create)
{
    if (!valid()) {
        return false;
    }
    // Only a direct child of the last folder held: its parent cannot change while it is made and opened.
    const std::vector<std::wstring> chain = FolderChainFor(folder, m_last);
    if (chain.size() != 2 || !NamesMeantPath(chain.front(), m_last)) {
        return false;
    }
    if (create) {
        ::CreateDirectoryW(chain.back().c_str(), nullptr);
    }
    UniqueFileHandle handle = HoldFolder(chain.back());
    if (!handle) {
        return false;
    }
    m_folders.push_back(std::move(handle));
    m_last = chain.back();
    return true;
}

UniqueFileHandle OpenPlainFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        return file;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(file.get(), &info) || info.nNumberOfLinks != kSingleLink ||
        !IsOpenedAsMeant(file.get(), path, false) || !PathShowsPlain(path)) {
        file.reset();
        ::SetLastError(kHeldPathRefused);
    }
    return file;
}
