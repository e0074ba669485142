#include "integration/Shortcuts.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/HeldFolderChain.h"
#include "base/RegistryText.h"
#include "base/SharedState.h"
#include "base/UserFolderAccess.h"
#include "base/Win32Resources.h"
#include "integration/ShellKeys.h"
#include "integration/ShortcutPlan.h"

namespace {

constexpr wchar_t kProductKey[] = L"Software\\Halvex\\Corvane";
constexpr wchar_t kFirstShortcutValue[] = L"ShortCutPath";
constexpr wchar_t kSecondShortcutValue[] = L"Program_ShortCut_Path";

bool IsFile(const wchar_t* path)
{
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

struct RegisteredShortcuts {
    UniqueRegKey key;
    std::wstring first;
    std::wstring second;
};

std::optional<RegisteredShortcuts> OpenRegisteredShortcuts()
{
    RegisteredShortcuts shortcuts;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                        shortcuts.key.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    if (const std::optional<RegistryText> first = ReadRegistryText(shortcuts.key.get(), kFirstShortcutValue)) {
        shortcuts.first = first->text;
    }
    const std::optional<RegistryText> second = ReadRegistryText(shortcuts.key.get(), kSecondShortcutValue);
    if (!second) {
        return std::nullopt;
    }
    shortcuts.second = second->text;
    return shortcuts;
}

// Renames one shortcut and gives the path the registry keeps for it.
std::wstring MoveShortcut(const std::wstring& oldPath, const std::wstring& newPath)
{
    const bool wasThere = IsFile(oldPath.c_str());
    const LinkRename result = RenameLinkFile(oldPath.c_str(), newPath.c_str());
    return StoredShortcutPath(oldPath, newPath, wasThere, result == LinkRename::Renamed);
}

} // namespace

LinkRename RenameLinkFile(const wchar_t* oldPath, const wchar_t* newPath)
{
    if (oldPath == nullptr || newPath == nullptr || std::wstring(oldPath) == newPath) {
        return LinkRename::NothingToDo;
    }
    if (!IsFile(oldPath)) {
        return LinkRename::NoFileAtOldPath;
    }
    // Another user may be able to write these folders: no folder from the drive root down to either
    // path's folder may be a link, and all stay held while the file, opened itself and never a link's
    // target, is renamed by its handle.
    const HeldFolderChain oldFolders(FolderOf(oldPath), std::wstring());
    const HeldFolderChain newFolders(FolderOf(newPath), std::wstring());
    if (!oldFolders.valid() || !newFolders.valid()) {
        return LinkRename::NotRenamed;
    }
    UniqueFileHandle file(::CreateFileW(oldPath, DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file || !IsOpenedAsMeant(file.get(), oldPath, false)) {
        return LinkRename::NotRenamed;
    }
    // Paths that differ only in letter case name the same file: replacing would mean deleting the
    // shortcut itself, so the file is only renamed. Otherwise one step replaces what is at newPath.
    const bool sameFile = ::CompareStringOrdinal(oldPath, -1, newPath, -1, TRUE) == CSTR_EQUAL;
    const std::size_t nameBytes = std::wcslen(newPath) * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes, 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = sameFile ? FALSE : TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, newPath, nameBytes);
    const BOOL renamed = ::SetFileInformationByHandle(file.get(), FileRenameInfo, rename,
                                                      static_cast<DWORD>(buffer.size()));
    return renamed ? LinkRename::Renamed : LinkRename::NotRenamed;
}

void RenameShortCut()
{
    std::optional<RegisteredShortcuts> shortcuts = OpenRegisteredShortcuts();
    const SharedState* service = SharedState::Get();
    if (!shortcuts || service == nullptr) {
        return;
    }
    const std::wstring title = service->m_appTitle;
    // A title that cannot name a file (or no title at all) renames and writes nothing.
    if (!IsUsableShortcutTitle(title)) {
        return;
    }
    // Each shortcut on its own: one whose new path would not fit keeps its file and its stored path.
    const std::optional<std::wstring> firstTarget = TitledShortcutPath(shortcuts->first, title);
    const std::optional<std::wstring> secondTarget = TitledShortcutPath(shortcuts->second, title);
    const std::wstring firstStored = firstTarget ? MoveShortcut(shortcuts->first, *firstTarget) : shortcuts->first;
    const std::wstring secondStored = secondTarget ? MoveShortcut(shortcuts->second, *secondTarget) : shortcuts->second;
    WriteStringValue(shortcuts->key.get(), kFirstShortcutValue, firstStored);
    WriteStringValue(shortcuts->key.get(), kSecondShortcutValue, secondStored);
}

void RetoreShortCut()
{
    std::optional<RegisteredShortcuts> shortcuts = OpenRegisteredShortcuts();
    if (!shortcuts) {
        return;
    }
    const std::optional<std::wstring> firstTarget = ShortcutPathInSameFolder(shortcuts->first, kRestoredShortcutName);
    const std::optional<std::wstring> secondTarget = ShortcutPathInSameFolder(shortcuts->second, kRestoredShortcutName);
    const std::wstring firstStored = firstTarget ? MoveShortcut(shortcuts->first, *firstTarget) : shortcuts->first;
    const std::wstring secondStored = secondTarget ? MoveShortcut(shortcuts->second, *secondTarget) : shortcuts->second;
    WriteStringValue(shortcuts->key.get(), kFirstShortcutValue, firstStored);
    WriteStringValue(shortcuts->key.get(), kSecondShortcutValue, secondStored);
}
