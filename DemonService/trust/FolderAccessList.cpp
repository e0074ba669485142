#include "trust/FolderAccessList.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "base/AnsiText.h"
#include "base/Win32Resources.h"

namespace {

// The rule names the platform's bits by their values: pinned here, where the platform's names are known.
static_assert(folder_rights::kAddFile == FILE_ADD_FILE && folder_rights::kAddFile == FILE_WRITE_DATA, "add file");
static_assert(folder_rights::kAddSubfolder == FILE_ADD_SUBDIRECTORY && folder_rights::kAddSubfolder == FILE_APPEND_DATA,
              "add subfolder");
static_assert(folder_rights::kDeleteChild == FILE_DELETE_CHILD, "delete child");
static_assert(folder_rights::kWriteDac == WRITE_DAC && folder_rights::kWriteOwner == WRITE_OWNER, "write DAC, owner");
static_assert(folder_rights::kGenericAll == GENERIC_ALL && folder_rights::kGenericWrite == GENERIC_WRITE &&
                  folder_rights::kGenericRead == GENERIC_READ && folder_rights::kGenericExecute == GENERIC_EXECUTE,
              "generic rights");
static_assert(folder_rights::kReadData == FILE_READ_DATA && folder_rights::kReadEa == FILE_READ_EA &&
                  folder_rights::kWriteEa == FILE_WRITE_EA && folder_rights::kExecute == FILE_EXECUTE &&
                  folder_rights::kReadAttributes == FILE_READ_ATTRIBUTES &&
                  folder_rights::kWriteAttributes == FILE_WRITE_ATTRIBUTES,
              "file rights");
static_assert(folder_rights::kDelete == DELETE && folder_rights::kReadControl == READ_CONTROL &&
                  folder_rights::kSynchronize == SYNCHRONIZE,
              "standard rights");

bool SidText(PSID sid, std::wstring* text)
{
    UniqueLocalWideString converted;
    if (sid == nullptr || !::IsValidSid(sid) || !::ConvertSidToStringSidW(sid, converted.put())) {
        return false;
    }
    *text = converted.get();
    return true;
}

// The entry kinds of a file system access list that share ACCESS_ALLOWED_ACE's layout.
bool ReadEntry(const ACE_HEADER* header, AccessEntry* entry)
{
    entry->inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        entry->kind = AccessEntry::Kind::Allow;
        break;
    case ACCESS_DENIED_ACE_TYPE:
        entry->kind = AccessEntry::Kind::Deny;
        break;
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        entry->kind = AccessEntry::Kind::Ignored;
        return true;
    default:
        entry->kind = AccessEntry::Kind::Unknown;
        return true;
    }
    const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    entry->mask = allowed->Mask;
    return SidText(const_cast<DWORD*>(&allowed->SidStart), &entry->sid);
}

} // namespace

FolderSecurity ReadFolderSecurity(const std::wstring& folder)
{
    FolderSecurity security;
    PSID owner = nullptr;
    PACL list = nullptr;
    UniqueLocalMemory descriptor;
    // The folder itself, named without its trailing separator (a drive's root keeps it).
    std::wstring target = folder;
    if (target.size() > 3 && (target.back() == L'\\' || target.back() == L'/')) {
        target.pop_back();
    }
    const DWORD result = ::GetNamedSecurityInfoW(target.c_str(), SE_FILE_OBJECT,
                                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                                 nullptr, &list, nullptr, descriptor.put());
    if (result != ERROR_SUCCESS || !descriptor) {
        return security;
    }
    if (!SidText(owner, &security.ownerSid)) {
        return security;
    }
    if (list == nullptr) {
        security.state = FolderSecurity::State::NullList;
        return security;
    }
    for (DWORD i = 0; i < list->AceCount; ++i) {
        void* ace = nullptr;
        AccessEntry entry;
        if (!::GetAce(list, i, &ace) || !ReadEntry(static_cast<const ACE_HEADER*>(ace), &entry)) {
            security.entries.clear();
            return security;
        }
        security.entries.push_back(entry);
    }
    security.state = FolderSecurity::State::Read;
    return security;
}

std::string UserWriteRefusal(const std::wstring& folder)
{
    const UserWriteVerdict verdict =
        folder.empty() ? UserWriteVerdict{} : JudgeUserWriteAccess(ReadFolderSecurity(folder));
    return UserWriteRefusalLine(ToAnsi(folder), verdict);
}
