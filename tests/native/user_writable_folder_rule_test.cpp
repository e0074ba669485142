// A folder that LocalSystem starts programs from or loads libraries from is closed only when nobody but
// the system's own accounts may change it or any folder above it.

#include <gtest/gtest.h>

#include <map>

#include "trust/UserWritableFolderRule.h"

namespace {

namespace rights = folder_rights;
using Kind = AccessEntry::Kind;
using Outcome = FolderVerdict::Outcome;

constexpr wchar_t kInteractive[] = L"S-1-5-4";
constexpr wchar_t kAuthenticated[] = L"S-1-5-11";
constexpr wchar_t kUsers[] = L"S-1-5-32-545";
constexpr wchar_t kStandardUser[] = L"S-1-5-21-1-2-3-1001";
constexpr wchar_t kDomainUsers[] = L"S-1-5-21-1-2-3-513";
constexpr wchar_t kLocal[] = L"S-1-2-0";
constexpr wchar_t kLocalAccount[] = L"S-1-5-113";
constexpr wchar_t kCreatorOwner[] = L"S-1-3-0";
constexpr std::uint32_t kReadExecute = 0x001200A9;
constexpr std::uint32_t kModify = 0x001301BF;
constexpr std::uint32_t kFullControl = 0x001F01FF;

FolderSecurity Listed(std::vector<AccessEntry> entries, const std::wstring& owner = kAdministratorsSid)
{
    FolderSecurity security;
    security.state = FolderSecurity::State::Read;
    security.ownerSid = owner;
    security.entries = std::move(entries);
    return security;
}

FolderVerdict Judge(const FolderSecurity& security, FolderPlace place = FolderPlace::Itself)
{
    return JudgeFolderSecurity(security, place, std::wstring());
}

// As under Program Files: the system's accounts change it, users read and execute, and what anyone
// may do below it is inherit-only.
FolderSecurity ProgramFiles()
{
    return Listed({{Kind::Allow, kFullControl, false, kTrustedInstallerSid},
                   {Kind::Allow, kModify, false, kLocalSystemSid},
                   {Kind::Allow, rights::kGenericAll, true, kLocalSystemSid},
                   {Kind::Allow, kModify, false, kAdministratorsSid},
                   {Kind::Allow, kReadExecute, false, kUsers},
                   {Kind::Allow, rights::kGenericAll, true, kCreatorOwner},
                   {Kind::Allow, rights::kGenericAll, true, kUsers}},
                  kTrustedInstallerSid);
}

// As a drive's root: authenticated users may create folders in it, and modify what lies below (inherit-only).
FolderSecurity DriveRoot()
{
    return Listed({{Kind::Allow, kFullControl, false, kAdministratorsSid},
                   {Kind::Allow, kFullControl, false, kLocalSystemSid},
                   {Kind::Allow, kReadExecute, false, kUsers},
                   {Kind::Allow, kModify, true, kAuthenticated},
                   {Kind::Allow, rights::kAddSubfolder, false, kAuthenticated}},
                  kLocalSystemSid);
}

TEST(UserWritableFolderRule, TheSystemsOwnAccountsMayChangeAClosedFolderAndNobodyElse)
{
    EXPECT_EQ(Judge(ProgramFiles()).outcome, Outcome::Closed);
    EXPECT_EQ(Judge(DriveRoot(), FolderPlace::Above).outcome, Outcome::Closed);
    // An empty list grants nobody anything.
    EXPECT_EQ(Judge(Listed({})).outcome, Outcome::Closed);

    // Any other trustee that may write, create, delete inside, delete or rename it, rewrite its list or
    // take it over opens it: a standard user, Domain Users, LOCAL, Local account and the usual groups.
    const std::uint32_t changes[] = {rights::kAddFile,  rights::kAddSubfolder, rights::kDeleteChild,
                                     rights::kDelete,   rights::kWriteDac,     rights::kWriteOwner,
                                     rights::kGenericWrite, rights::kGenericAll, kModify};
    for (const wchar_t* sid : {kStandardUser, kDomainUsers, kLocal, kLocalAccount, kEveryoneSid, kUsers, kInteractive,
                               kCreatorOwner}) {
        for (std::uint32_t change : changes) {
            SCOPED_TRACE(std::to_string(change));
            const FolderVerdict verdict =
                Judge(Listed({{Kind::Allow, kFullControl, false, kLocalSystemSid},
                              {Kind::Allow, kReadExecute | change, false, sid}}));
            EXPECT_EQ(verdict.outcome, Outcome::Writable);
            EXPECT_EQ(verdict.sid, sid);
        }
    }
    // Rights that let nobody plant or change anything are no refusal.
    EXPECT_EQ(Judge(Listed({{Kind::Allow,
                             kReadExecute | rights::kWriteAttributes | rights::kWriteEa | rights::kGenericRead |
                                 rights::kGenericExecute,
                             false, kStandardUser}}))
                  .outcome,
              Outcome::Closed);
}

TEST(UserWritableFolderRule, AnOwnerThatIsNotTheSystemsOpensTheFolderWhateverItsList)
{
    const FolderVerdict owned = Judge(Listed({{Kind::Allow, kReadExecute, false, kUsers}}, kStandardUser));
    EXPECT_EQ(owned.outcome, Outcome::Owned);
    EXPECT_EQ(owned.sid, kStandardUser);
    EXPECT_EQ(Judge(Listed({}, kUsers), FolderPlace::Above).outcome, Outcome::Owned);
    for (const wchar_t* owner : {kLocalSystemSid, kAdministratorsSid, kTrustedInstallerSid}) {
        EXPECT_EQ(Judge(Listed({}, owner)).outcome, Outcome::Closed);
    }
}

TEST(UserWritableFolderRule, OnlyADenyForEveryoneShieldsARightAndOnlyWhenItComesFirst)
{
    const std::uint32_t everyChange = rights::kGenericWrite | rights::kDeleteChild | rights::kDelete |
                                      rights::kWriteDac | rights::kWriteOwner;
    EXPECT_EQ(Judge(Listed({{Kind::Deny, everyChange, false, kEveryoneSid},
                            {Kind::Allow, kFullControl, false, kUsers}}))
                  .outcome,
              Outcome::Closed);
    // A batch or network logon holds no INTERACTIVE: the grant to Authenticated Users applies to it.
    const FolderVerdict notInteractive = Judge(Listed({{Kind::Deny, kFullControl, false, kInteractive},
                                                       {Kind::Allow, kModify, false, kAuthenticated}}));
    EXPECT_EQ(notInteractive.outcome, Outcome::Writable);
    EXPECT_EQ(notInteractive.sid, kAuthenticated);
    // Granted first: a later deny takes nothing back. A deny of some rights leaves the others.
    EXPECT_EQ(Judge(Listed({{Kind::Allow, kModify, false, kAuthenticated}, {Kind::Deny, kFullControl, false, kEveryoneSid}}))
                  .sid,
              kAuthenticated);
    EXPECT_EQ(Judge(Listed({{Kind::Deny, rights::kAddFile, false, kEveryoneSid},
                            {Kind::Allow, rights::kAddFile | rights::kAddSubfolder, false, kUsers}}))
                  .sid,
              kUsers);
    // Inherit-only denies and conditional (ignored) ones shield nothing; inherit-only grants open nothing.
    EXPECT_EQ(Judge(Listed({{Kind::Deny, kFullControl, true, kEveryoneSid},
                            {Kind::Ignored, kFullControl, false, kEveryoneSid},
                            {Kind::Allow, kModify, false, kInteractive}}))
                  .outcome,
              Outcome::Writable);
    EXPECT_EQ(Judge(Listed({{Kind::Allow, kFullControl, true, kStandardUser}})).outcome, Outcome::Closed);
}

TEST(UserWritableFolderRule, AboveTheFolderOnlyWhatRemovesOrRenamesItsChildrenOrTakesItOverCounts)
{
    // Creating files or folders in a parent replaces nothing below it.
    EXPECT_EQ(Judge(Listed({{Kind::Allow, rights::kAddFile | rights::kAddSubfolder, false, kUsers}}), FolderPlace::Above)
                  .outcome,
              Outcome::Closed);
    for (std::uint32_t change : {rights::kDeleteChild, rights::kDelete, rights::kWriteDac, rights::kWriteOwner, kModify}) {
        EXPECT_EQ(Judge(Listed({{Kind::Allow, change, false, kUsers}}), FolderPlace::Above).outcome, Outcome::Writable)
            << change;
    }
}

TEST(UserWritableFolderRule, NoListIsEveryonesAndWhatCannotBeReadOrJudgedIsARefusal)
{
    FolderSecurity noList;
    noList.state = FolderSecurity::State::NullList;
    noList.ownerSid = kAdministratorsSid;
    EXPECT_EQ(Judge(noList).sid, kEveryoneSid);
    EXPECT_EQ(Judge(FolderSecurity{}).outcome, Outcome::Unreadable);
    EXPECT_EQ(Judge(Listed({}, L"")).outcome, Outcome::Unreadable);
    EXPECT_EQ(Judge(Listed({{Kind::Allow, kReadExecute, false, kUsers}, {Kind::Unknown, 0, false, L""}})).outcome,
              Outcome::Unreadable);
}

TEST(UserWritableFolderRule, TheAccountThatJudgesMayBeTrustedWhenItIsAnAdministrator)
{
    const FolderSecurity ownFolder = Listed({{Kind::Allow, kFullControl, false, kStandardUser}}, kStandardUser);
    EXPECT_EQ(JudgeFolderSecurity(ownFolder, FolderPlace::Itself, kStandardUser).outcome, Outcome::Closed);
    EXPECT_EQ(JudgeFolderSecurity(ownFolder, FolderPlace::Itself, L"S-1-5-21-1-2-3-1002").outcome, Outcome::Writable);
    EXPECT_FALSE(IsTrustedAccount(L"", L""));
}

TEST(UserWritableFolderRule, EveryFolderUpToTheRootMustBeClosedAndTheLineNamesTheOneThatIsNot)
{
    std::map<std::wstring, FolderSecurity> disk = {{L"C:\\", DriveRoot()},
                                                   {L"C:\\Program Files\\", ProgramFiles()},
                                                   {L"C:\\Program Files\\Corvane\\", ProgramFiles()}};
    std::vector<std::wstring> read;
    const auto reader = [&](const std::wstring& folder) {
        read.push_back(folder);
        const auto found = disk.find(folder);
        return found != disk.end() ? found->second : FolderSecurity{};
    };
    const std::wstring folder = L"C:\\Program Files\\Corvane\\";
    FolderChainVerdict chain = JudgeFolderChain(folder, reader, L"");
    EXPECT_EQ(chain.verdict.outcome, Outcome::Closed);
    EXPECT_EQ(read, (std::vector<std::wstring>{folder, L"C:\\Program Files\\", L"C:\\"}));
    EXPECT_EQ(FolderRefusalLine("C:\\Program Files\\Corvane\\", "", chain.place, chain.verdict), "");

    // A user who may delete children of the parent renames the folder away and puts back one of theirs.
    disk[L"C:\\Program Files\\"] = Listed({{Kind::Allow, rights::kDeleteChild, false, kStandardUser}});
    chain = JudgeFolderChain(folder, reader, L"");
    EXPECT_EQ(chain.verdict.outcome, Outcome::Writable);
    EXPECT_EQ(FolderRefusalLine("C:\\Program Files\\Corvane\\", "C:\\Program Files\\", chain.place, chain.verdict),
              "Folder C:\\Program Files\\Corvane\\ lies in C:\\Program Files\\, which S-1-5-21-1-2-3-1001 may change: "
              "nothing in it is trusted or started");
    EXPECT_EQ(chain.opened, L"C:\\Program Files\\");
    disk[L"C:\\Program Files\\"] = Listed({}, kUsers);
    chain = JudgeFolderChain(folder, reader, L"");
    EXPECT_EQ(FolderRefusalLine("C:\\P\\C\\", "C:\\P\\", chain.place, chain.verdict),
              "Folder C:\\P\\C\\ lies in C:\\P\\, which is owned by BUILTIN\\Users: nothing in it is trusted or started");
    disk.erase(L"C:\\Program Files\\");
    chain = JudgeFolderChain(folder, reader, L"");
    EXPECT_EQ(FolderRefusalLine("C:\\P\\C\\", "C:\\P\\", chain.place, chain.verdict),
              "Folder C:\\P\\C\\ lies in C:\\P\\, whose access list cannot be read: nothing in it is trusted or started");

    // The folder itself is named as it was given.
    disk[L"C:\\Program Files\\"] = ProgramFiles();
    disk[folder] = Listed({{Kind::Allow, kModify, false, kUsers}});
    chain = JudgeFolderChain(L"C:/Program Files/Corvane", reader, L"");
    EXPECT_EQ(chain.opened, L"C:/Program Files/Corvane");
    EXPECT_EQ(FolderRefusalLine("C:/Program Files/Corvane", "", chain.place, chain.verdict),
              "Folder C:/Program Files/Corvane is writable by BUILTIN\\Users: nothing in it is trusted or started");
    disk[folder] = Listed({}, kStandardUser);
    chain = JudgeFolderChain(folder, reader, L"");
    EXPECT_EQ(FolderRefusalLine("D:\\app\\", "", chain.place, chain.verdict),
              "Folder D:\\app\\ is owned by S-1-5-21-1-2-3-1001: nothing in it is trusted or started");

    // No chain to read, nothing read.
    read.clear();
    chain = JudgeFolderChain(L"Corvane\\", reader, L"");
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(FolderRefusalLine("Corvane\\", "", chain.place, chain.verdict),
              "Folder Corvane\\ has an access list that cannot be read: nothing in it is trusted or started");
}

} // namespace
