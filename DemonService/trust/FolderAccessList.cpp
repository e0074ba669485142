#include "trust/FolderAccessList.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <new>

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

// A token's information of one class in a buffer of its own size; null when it cannot be read.
std::unique_ptr<BYTE[]> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what)
{
    DWORD needed = 0;
    ::GetTokenInformation(token, what, nullptr, 0, &needed);
    if (needed == 0) {
        return nullptr;
    }
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
    if (!buffer || !::GetTokenInformation(token, what, buffer.get(), needed, &needed)) {
        return nullptr;
    }
    return buffer;
}

} // namespace

bool ReadAccessEntries(const ACL* list, std::vector<AccessEntry>* entries)
{
    entries->clear();
    if (list == nullptr) {
        return false;
    }
    for (DWORD i = 0; i < list->AceCount; ++i) {
        void* ace = nullptr;
        AccessEntry entry;
        if (!::GetAce(const_cast<ACL*>(list), i, &ace) || !ReadEntry(static_cast<const ACE_HEADER*>(ace), &entry)) {
            entries->clear();
            return false;
        }
        entries->push_back(entry);
    }
    return true;
}

FolderSecurity ReadDescriptorSecurity(PSECURITY_DESCRIPTOR descriptor)
{
    FolderSecurity security;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (descriptor == nullptr || !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !SidText(owner, &security.ownerSid)) {
        security.ownerSid.clear();
        return security;
    }
    BOOL present = FALSE;
    PACL list = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted)) {
        return security;
    }
    if (!present || list == nullptr) {
        security.state = FolderSecurity::State::NullList;
        return security;
    }
    if (ReadAccessEntries(list, &security.entries)) {
        security.state = FolderSecurity::State::Read;
    }
    return security;
}

FolderSecurity ReadFolderSecurity(const std::wstring& folder)
{
    // The folder itself, named without its trailing separator; a drive's root keeps it ("C:" alone, or
    // "\\?\C:", would name the drive's current folder or the volume).
    std::wstring target = folder;
    if (target.size() > 1 && (target.back() == L'\\' || target.back() == L'/') && target[target.size() - 2] != L':') {
        target.pop_back();
    }
    UniqueLocalMemory descriptor;
    const DWORD result = ::GetNamedSecurityInfoW(target.c_str(), SE_FILE_OBJECT,
                                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                                 nullptr, nullptr, nullptr, descriptor.put());
    if (result != ERROR_SUCCESS || !descriptor) {
        return FolderSecurity();
    }
    return ReadDescriptorSecurity(descriptor.get());
}

std::wstring OwnAdministratorAccountSid()
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return std::wstring();
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD administratorsSize = sizeof(administrators);
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administratorsSize)) {
        return std::wstring();
    }
    const std::unique_ptr<BYTE[]> groups = TokenInformation(token.get(), TokenGroups);
    const std::unique_ptr<BYTE[]> user = TokenInformation(token.get(), TokenUser);
    if (!groups || !user) {
        return std::wstring();
    }
    const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.get());
    bool administrator = false;
    for (DWORD i = 0; i < list->GroupCount && !administrator; ++i) {
        const SID_AND_ATTRIBUTES& group = list->Groups[i];
        administrator = (group.Attributes & SE_GROUP_ENABLED) != 0 &&
                        (group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0 &&
                        ::EqualSid(group.Sid, administrators);
    }
    std::wstring sid;
    if (!administrator || !SidText(reinterpret_cast<const TOKEN_USER*>(user.get())->User.Sid, &sid)) {
        return std::wstring();
    }
    return sid;
}

std::string UserWriteRefusal(const std::wstring& folder)
{
    const std::wstring ownAccount = OwnAdministratorAccountSid();
    const FolderChainVerdict chain = JudgeFolderChain(folder, ReadFolderSecurity, ownAccount);
    return FolderRefusalLine(ToAnsi(folder), ToAnsi(chain.opened), chain.place, chain.verdict);
}
