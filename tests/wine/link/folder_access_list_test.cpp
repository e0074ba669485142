// The reading of a folder's owner and access list, entry by entry, over lists the platform builds from
// SDDL in memory (Wine's own folders all carry one synthesized list), and the folder rule over the
// chain of real folders up to the drive's root.

#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "Sandbox.h"
#include "base/Win32Resources.h"
#include "trust/FolderAccessList.h"

using namespace harness;

namespace {

constexpr wchar_t kStandardUser[] = L"S-1-5-21-1-2-3-1001";

FolderSecurity FromSddl(const std::wstring& sddl)
{
    UniqueLocalMemory descriptor;
    EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                       descriptor.put(), nullptr))
        << ToUtf8(sddl);
    return ReadDescriptorSecurity(descriptor.get());
}

FolderVerdict JudgeSddl(const std::wstring& sddl)
{
    return JudgeFolderSecurity(FromSddl(sddl), FolderPlace::Itself, L"");
}

TEST(FolderAccessListTest, OnlyTheEntriesThatApplyToTheFolderItselfOpenIt)
{
    // Users may change what is created below (inherit-only), not the folder: closed.
    const FolderSecurity below = FromSddl(L"O:BAD:(A;OICIIO;FA;;;BU)(A;;0x1200a9;;;BU)(A;OICI;FA;;;SY)");
    ASSERT_EQ(below.state, FolderSecurity::State::Read);
    ASSERT_EQ(below.entries.size(), 3u);
    EXPECT_TRUE(below.entries[0].inheritOnly);
    EXPECT_FALSE(below.entries[1].inheritOnly);
    EXPECT_EQ(below.entries[0].sid, L"S-1-5-32-545");
    EXPECT_EQ(below.entries[0].mask, static_cast<std::uint32_t>(FILE_ALL_ACCESS));
    EXPECT_EQ(JudgeFolderSecurity(below, FolderPlace::Itself, L"").outcome, FolderVerdict::Outcome::Closed);
    // The same grant inherited by what is below and applying to the folder itself: open.
    const FolderVerdict applies = JudgeSddl(L"O:BAD:(A;OICI;0x1301bf;;;BU)(A;OICI;FA;;;SY)");
    EXPECT_EQ(applies.outcome, FolderVerdict::Outcome::Writable);
    EXPECT_EQ(applies.sid, L"S-1-5-32-545");
    // A standard user's generic full control.
    EXPECT_EQ(JudgeSddl(std::wstring(L"O:BAD:(A;;GA;;;") + kStandardUser + L")").sid, kStandardUser);
}

TEST(FolderAccessListTest, TheListIsReadInItsOrderSoADenyBeforeAnAllowHoldsOnlyForEveryone)
{
    const FolderSecurity denied = FromSddl(L"O:BAD:(D;;FA;;;WD)(A;;FA;;;BU)");
    ASSERT_EQ(denied.entries.size(), 2u);
    EXPECT_EQ(denied.entries[0].kind, AccessEntry::Kind::Deny);
    EXPECT_EQ(denied.entries[1].kind, AccessEntry::Kind::Allow);
    EXPECT_EQ(JudgeFolderSecurity(denied, FolderPlace::Itself, L"").outcome, FolderVerdict::Outcome::Closed);
    EXPECT_EQ(JudgeSddl(L"O:BAD:(A;;FA;;;BU)(D;;FA;;;WD)").outcome, FolderVerdict::Outcome::Writable);
    EXPECT_EQ(JudgeSddl(L"O:BAD:(D;;FA;;;IU)(A;;0x1301bf;;;AU)").sid, L"S-1-5-11");
}

TEST(FolderAccessListTest, TheOwnerIsReadAndANullListIsEveryones)
{
    const FolderSecurity owned = FromSddl(std::wstring(L"O:") + kStandardUser + L"D:(A;;FA;;;SY)");
    EXPECT_EQ(owned.ownerSid, kStandardUser);
    const FolderVerdict verdict = JudgeFolderSecurity(owned, FolderPlace::Itself, L"");
    EXPECT_EQ(verdict.outcome, FolderVerdict::Outcome::Owned);
    EXPECT_EQ(verdict.sid, kStandardUser);
    EXPECT_EQ(JudgeSddl(L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;SY)").outcome,
              FolderVerdict::Outcome::Closed);

    // No list at all (a list present but null): everyone has every right.
    SECURITY_DESCRIPTOR descriptor = {};
    BYTE system[SECURITY_MAX_SID_SIZE] = {};
    DWORD systemSize = sizeof(system);
    ASSERT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize));
    ASSERT_TRUE(::SetSecurityDescriptorOwner(&descriptor, system, FALSE));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    const FolderSecurity noList = ReadDescriptorSecurity(&descriptor);
    EXPECT_EQ(noList.state, FolderSecurity::State::NullList);
    EXPECT_EQ(JudgeFolderSecurity(noList, FolderPlace::Above, L"").sid, L"S-1-1-0");
    // Nothing to read is no list that anybody could be judged by.
    std::vector<AccessEntry> entries(1);
    EXPECT_FALSE(ReadAccessEntries(nullptr, &entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(ReadDescriptorSecurity(nullptr).state, FolderSecurity::State::Unreadable);
    EXPECT_EQ(FromSddl(L"D:(A;;FA;;;SY)").state, FolderSecurity::State::Unreadable);
}

TEST(FolderAccessListTest, AFolderIsClosedOnlyWhenItAndEveryFolderAboveItAreAndTheLineNamesTheOneThatIsNot)
{
    // Under Wine every file belongs to the account that runs every process, an administrator here.
    EXPECT_EQ(OwnAdministratorAccountSid(), kUserSid);
    EXPECT_EQ(ReadFolderSecurity(L"C:\\").ownerSid, kUserSid);
    TempFolder folder(L"orvel chain");
    const std::wstring below = folder / L"below\\";
    CreateFolders(below);
    EXPECT_EQ(UserWriteRefusal(below), "");
    EXPECT_EQ(UserWriteRefusal(InstallFolder()), "");

    ASSERT_TRUE(OpenFolderToEveryone(folder.Path()));
    EXPECT_EQ(UserWriteRefusal(folder.Path() + L"\\"),
              "Folder " + ToUtf8(folder.Path()) + "\\ is writable by Everyone: nothing in it is trusted or started");
    EXPECT_EQ(UserWriteRefusal(below), "Folder " + ToUtf8(below) + " lies in " + ToUtf8(folder.Path()) +
                                           "\\, which Everyone may change: nothing in it is trusted or started");
    // A folder whose list cannot be read (it is not there) is refused, and so is what would lie below it.
    const std::wstring missing = below + L"missing\\";
    EXPECT_EQ(UserWriteRefusal(missing),
              "Folder " + ToUtf8(missing) + " has an access list that cannot be read: nothing in it is trusted or started");
    EXPECT_EQ(UserWriteRefusal(L"relative\\folder\\"),
              "Folder relative\\folder\\ has an access list that cannot be read: nothing in it is trusted or started");
}

} // namespace
