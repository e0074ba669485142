#include <gtest/gtest.h>

#include "trust/ConsoleSessionRule.h"
#include "trust/InstallFolderRule.h"
#include "trust/UserWritableFolderRule.h"

namespace {

constexpr wchar_t kApp[] = L"C:\\Program Files\\Corvane\\Corvane.exe";

TEST(InstallFolderRule, ImagesInTheInstallFolderOrBelowItAreInWhateverTheirLetterCase)
{
    EXPECT_TRUE(IsInInstallFolder(kApp, kApp));
    EXPECT_TRUE(IsInInstallFolder(L"c:\\PROGRAM FILES\\corvane\\Corvane.exe", kApp));
    EXPECT_TRUE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\lockerPlugin\\LockerPlugin.exe", kApp));
    EXPECT_TRUE(IsInInstallFolder(L"C:/Program Files/Corvane/Other.exe", kApp));
    EXPECT_TRUE(IsInInstallFolder(L"\\\\host\\share\\Corvane\\Corvane.exe", L"\\\\HOST\\share\\Corvane\\Corvane.exe"));
}

TEST(InstallFolderRule, ImagesElsewhereAreOutEvenWhenTheirPathBeginsWithTheSameText)
{
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane2\\Corvane.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\CorvaneX.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"D:\\Program Files\\Corvane\\Corvane.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Users\\u\\Corvane.exe", kApp));
    // Case folding is ASCII only: no other letter is taken for its capital.
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\\u00e9\\Corvane.exe", L"C:\\Program Files\\\u00c9\\Corvane.exe"));
}

TEST(InstallFolderRule, AnythingThatNormalisationWouldRewriteIsRefused)
{
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\..\\Evil\\x.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\.\\x.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\\\x.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane.\\x.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane \\x.exe", kApp));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Program Files\\Corvane\\x.exe", L"C:\\Program Files\\Corvane\\..\\Corvane.exe"));
    // Nothing to compare: no image path, no install folder, or the folder is a bare root.
    EXPECT_FALSE(IsInInstallFolder(L"", kApp));
    EXPECT_FALSE(IsInInstallFolder(kApp, L""));
    EXPECT_FALSE(IsInInstallFolder(kApp, L"Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"\\x.exe", L"\\Corvane.exe"));
}

TEST(InstallFolderRule, ARootIsNoInstallFolderSoNoSignedFileOnTheDriveOrShareIsTrustedThroughIt)
{
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Windows\\x.exe", L"C:\\Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"C:\\Corvane.exe", L"C:\\Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"c:/Users/u/x.exe", L"C:/Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"\\\\host\\share\\x.exe", L"\\\\host\\share\\Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"\\\\?\\C:\\x\\x.exe", L"\\\\?\\C:\\Corvane.exe"));
    EXPECT_FALSE(IsInInstallFolder(L"\\\\?\\UNC\\host\\share\\x.exe", L"\\\\?\\UNC\\host\\share\\Corvane.exe"));
    // No root at all: a relative install folder names no folder on any drive.
    EXPECT_FALSE(IsInInstallFolder(L"Corvane\\x.exe", L"Corvane\\Corvane.exe"));
    // One level below a root is a folder like any other.
    EXPECT_TRUE(IsInInstallFolder(L"C:\\Corvane\\x.exe", L"C:\\Corvane\\Corvane.exe"));
    EXPECT_TRUE(IsInInstallFolder(L"\\\\?\\C:\\Corvane\\x.exe", L"\\\\?\\C:\\Corvane\\Corvane.exe"));
}

// Only the console user's own application may command the service.
TEST(ConsoleSessionRule, OnlyAServerInTheConsoleSessionRunAsTheConsoleUserPasses)
{
    const std::wstring user = L"S-1-5-21-1-2-3-1001";
    const SessionUser console{1ul, user};
    EXPECT_TRUE(IsConsoleUsersProcess({1ul, user}, console));
    EXPECT_FALSE(IsConsoleUsersProcess({2ul, user}, console));                        // fast user switching
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, L"S-1-5-21-1-2-3-1002"}, console));      // another user, same session
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, L"S-1-5-21-1-2-3-10010"}, console));
    // Anything that could not be read is a refusal, on either side.
    EXPECT_FALSE(IsConsoleUsersProcess({std::nullopt, user}, console));
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, std::nullopt}, console));
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, user}, {std::nullopt, user}));
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, user}, {1ul, std::nullopt}));
    EXPECT_FALSE(IsConsoleUsersProcess({1ul, L""}, {1ul, L""}));
    // Nobody at the console: no server is the console user's.
    EXPECT_FALSE(IsConsoleUsersProcess({kNoConsoleSession, user}, {kNoConsoleSession, user}));
}

// A folder that every local user may write to is no ground for trusting what is in it.
namespace rights = folder_rights;
using Kind = AccessEntry::Kind;
using Outcome = UserWriteVerdict::Outcome;

constexpr wchar_t kEveryone[] = L"S-1-1-0";
constexpr wchar_t kInteractive[] = L"S-1-5-4";
constexpr wchar_t kAuthenticated[] = L"S-1-5-11";
constexpr wchar_t kUsers[] = L"S-1-5-32-545";
constexpr wchar_t kSystem[] = L"S-1-5-18";
constexpr wchar_t kAdministrators[] = L"S-1-5-32-544";
constexpr std::uint32_t kReadExecute = 0x001200A9;
constexpr std::uint32_t kModify = 0x001301BF;
constexpr std::uint32_t kFullControl = 0x001F01FF;

FolderSecurity Listed(std::vector<AccessEntry> entries, const std::wstring& owner = kAdministrators)
{
    FolderSecurity security;
    security.state = FolderSecurity::State::Read;
    security.ownerSid = owner;
    security.entries = std::move(entries);
    return security;
}

TEST(UserWritableFolderRule, AnInstalledProgramsFolderAndWinesSynthesizedListAreClosed)
{
    // As under Program Files: users read and execute; what they may do below is inherit-only.
    const FolderSecurity programFiles = Listed({{Kind::Allow, kFullControl, false, kSystem},
                                                {Kind::Allow, kFullControl, false, kAdministrators},
                                                {Kind::Allow, kReadExecute, false, kUsers},
                                                {Kind::Allow, rights::kGenericAll, true, L"S-1-3-0"},
                                                {Kind::Allow, rights::kGenericAll, true, kUsers},
                                                {Kind::Allow, kReadExecute, false, kAuthenticated}});
    EXPECT_EQ(JudgeUserWriteAccess(programFiles).outcome, Outcome::Closed);
    EXPECT_EQ(UserWriteRefusalLine("C:\\Program Files\\Corvane\\", JudgeUserWriteAccess(programFiles)), "");
    const FolderSecurity wine = Listed({{Kind::Allow, kFullControl, false, L"S-1-5-21-0-0-0-1000"},
                                        {Kind::Allow, kFullControl, false, kSystem},
                                        {Kind::Allow, kReadExecute, false, kEveryone}},
                                       L"S-1-5-21-0-0-0-1000");
    EXPECT_EQ(JudgeUserWriteAccess(wine).outcome, Outcome::Closed);
    // An empty list grants nobody anything.
    EXPECT_EQ(JudgeUserWriteAccess(Listed({})).outcome, Outcome::Closed);
}

TEST(UserWritableFolderRule, AnyWriteOrCreateRightOfAnyGroupOfEveryUserIsARefusalThatNamesTheGroup)
{
    const std::pair<const wchar_t*, const char*> groups[] = {
        {kEveryone, "Everyone"},
        {kAuthenticated, "Authenticated Users"},
        {kUsers, "BUILTIN\\Users"},
        {kInteractive, "INTERACTIVE"}};
    const std::uint32_t writes[] = {rights::kAddFile,  rights::kAddSubfolder, rights::kDeleteChild,  rights::kWriteDac,
                                    rights::kWriteOwner, rights::kGenericWrite, rights::kGenericAll, kModify};
    for (const auto& group : groups) {
        for (std::uint32_t write : writes) {
            SCOPED_TRACE(std::string(group.second) + " " + std::to_string(write));
            const UserWriteVerdict verdict = JudgeUserWriteAccess(Listed({{Kind::Allow, kFullControl, false, kSystem},
                                                                          {Kind::Allow, kReadExecute | write, false,
                                                                           group.first}}));
            EXPECT_EQ(verdict.outcome, Outcome::Writable);
            EXPECT_EQ(UserWriteRefusalLine("C:\\Corvane\\", verdict),
                      std::string("Folder C:\\Corvane\\ is writable by ") + group.second +
                          ": nothing in it is trusted or started");
        }
    }
    // Rights that let nobody plant or change anything are no refusal, nor is any right of another trustee.
    EXPECT_EQ(JudgeUserWriteAccess(Listed({{Kind::Allow, kReadExecute | rights::kWriteAttributes | rights::kWriteEa |
                                                             rights::kGenericRead | rights::kGenericExecute,
                                            false, kUsers},
                                           {Kind::Allow, kFullControl, false, L"S-1-5-21-1-2-3-1001"}}))
                  .outcome,
              Outcome::Closed);
    // A group that owns the folder may always rewrite its list.
    EXPECT_EQ(JudgeUserWriteAccess(Listed({{Kind::Allow, kReadExecute, false, kUsers}}, kUsers)).groupSid, kUsers);
}

TEST(UserWritableFolderRule, TheFirstEntryThatNamesARightDecidesItInTheListsOrder)
{
    // Denied first, for every group of every user: a later grant of the same rights is no grant.
    const std::uint32_t everyWrite =
        rights::kGenericWrite | rights::kDeleteChild | rights::kWriteDac | rights::kWriteOwner;
    EXPECT_EQ(JudgeUserWriteAccess(Listed({{Kind::Deny, everyWrite, false, kEveryone},
                                           {Kind::Allow, kFullControl, false, kUsers}}))
                  .outcome,
              Outcome::Closed);
    // Granted first: a later deny takes nothing back.
    const UserWriteVerdict grantedFirst = JudgeUserWriteAccess(
        Listed({{Kind::Allow, kModify, false, kAuthenticated}, {Kind::Deny, kFullControl, false, kEveryone}}));
    EXPECT_EQ(grantedFirst.outcome, Outcome::Writable);
    EXPECT_EQ(grantedFirst.groupSid, kAuthenticated);
    // A deny of some write rights leaves the others granted.
    EXPECT_EQ(JudgeUserWriteAccess(Listed({{Kind::Deny, rights::kAddFile, false, kEveryone},
                                           {Kind::Allow, rights::kAddFile | rights::kAddSubfolder, false, kUsers}}))
                  .groupSid,
              kUsers);
    // Inherit-only denies and conditional (ignored) ones protect nothing here.
    EXPECT_EQ(JudgeUserWriteAccess(Listed({{Kind::Deny, kFullControl, true, kEveryone},
                                           {Kind::Ignored, kFullControl, false, kEveryone},
                                           {Kind::Allow, kModify, false, kInteractive}}))
                  .outcome,
              Outcome::Writable);
}

TEST(UserWritableFolderRule, NoListMeansEveryoneMayWriteAndAListThatCannotBeReadOrJudgedIsARefusal)
{
    FolderSecurity noList;
    noList.state = FolderSecurity::State::NullList;
    EXPECT_EQ(UserWriteRefusalLine("D:\\app\\", JudgeUserWriteAccess(noList)),
              "Folder D:\\app\\ is writable by Everyone: nothing in it is trusted or started");
    const std::string unreadable =
        "Folder D:\\app\\ has an access list that cannot be read: nothing in it is trusted or started";
    EXPECT_EQ(UserWriteRefusalLine("D:\\app\\", JudgeUserWriteAccess(FolderSecurity{})), unreadable);
    EXPECT_EQ(UserWriteRefusalLine("D:\\app\\", JudgeUserWriteAccess(Listed({{Kind::Allow, kReadExecute, false, kUsers},
                                                                              {Kind::Unknown, 0, false, L""}}))),
              unreadable);
}

} // namespace
