// The shell's names and values: the sharing entry, the keys the stop removes, the shortcut paths, the
// friendly-name entries and the choice of how a program is started at medium integrity.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "integration/ContextMenuPlan.h"
#include "integration/FriendlyNamePlan.h"
#include "integration/ShellKeyPlan.h"
#include "integration/ShortcutPlan.h"
#include "supervision/MediumIntegrityPlan.h"

namespace {

TEST(SharingEntry, TheCommandQuotesTheApplicationPathSoBlanksNeverSelectAShorterProgram)
{
    EXPECT_EQ(SharingCommandValue(L"C:\\Program Files\\A\\app.exe"),
              std::wstring(L"\"C:\\Program Files\\A\\app.exe\" /cmd:6 /f:\"%1\""));
    EXPECT_EQ(SharingIconValue(L"C:\\A\\app.exe"), std::wstring(L"\"C:\\A\\app.exe\""));
}

TEST(SharingEntry, APathTooLongForItsBufferIsNotWrittenCut)
{
    // 2 quotes + path + terminator in 256 units; 2 quotes + path + 15 argument units + terminator in 512.
    EXPECT_TRUE(SharingIconValue(std::wstring(253, L'a')).has_value());
    EXPECT_FALSE(SharingIconValue(std::wstring(254, L'a')).has_value());
    EXPECT_TRUE(SharingCommandValue(std::wstring(494, L'a')).has_value());
    EXPECT_FALSE(SharingCommandValue(std::wstring(495, L'a')).has_value());
    EXPECT_EQ(SharingTitleValue(std::wstring(300, L't')).size(), 127u);
}

TEST(SharingEntry, OnlyThePackageNameWithTheExactLetterCaseMatches)
{
    EXPECT_TRUE(PackageNameMatches(L"Halvex.OrvelExtInstaller_1.0.0.0_x64__abc", kShellExtensionPackage));
    EXPECT_FALSE(PackageNameMatches(L"Halvex.orvelextinstaller_1.0.0.0_x64__abc", kShellExtensionPackage));
    EXPECT_FALSE(PackageNameMatches(L"Halvex.Other", kShellExtensionPackage));
    EXPECT_FALSE(PackageNameMatches(L"anything", L""));
}

TEST(ContextMenuRemoval, DeletesEveryKeyInnermostFirstInTheFixedOrder)
{
    const std::vector<std::wstring> keys = ContextMenuKeysToRemove();
    ASSERT_EQ(keys.size(), 1034u);
    EXPECT_EQ(keys[0], L"*\\shell\\Corvane\\shell\\device0\\Command");
    EXPECT_EQ(keys[1], L"*\\shell\\Corvane\\shell\\device0");
    EXPECT_EQ(keys[510], L"*\\shell\\Corvane\\shell\\device255\\Command");
    EXPECT_EQ(keys[511], L"*\\shell\\Corvane\\shell\\device255");
    const std::vector<std::wstring> middle(keys.begin() + 512, keys.begin() + 518);
    EXPECT_EQ(middle, (std::vector<std::wstring>{
                          L"*\\shell\\Corvane\\shell\\Corvane_Scan\\Command",
                          L"*\\shell\\Corvane\\shell\\Corvane_Scan",
                          L"*\\shell\\Corvane\\shell",
                          L"*\\shell\\Corvane",
                          L"*\\shell\\FileDock\\command",
                          L"*\\shell\\FileDock",
                      }));
    EXPECT_EQ(keys[518], L"Directory\\shell\\Corvane\\shell\\device0\\Command");
    EXPECT_EQ(keys[1029], L"Directory\\shell\\Corvane\\shell\\device255");
    EXPECT_EQ(keys[1033], L"Directory\\shell\\Corvane");

    // Each key comes after all its subkeys in the list, and no name repeats or needs more than 255 units.
    std::set<std::wstring> seen;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_TRUE(seen.insert(keys[i]).second) << i;
        EXPECT_LT(keys[i].size(), 256u);
        for (std::size_t later = i + 1; later < keys.size(); ++later) {
            EXPECT_NE(keys[later].rfind(keys[i] + L"\\", 0), 0u) << "subkey after its parent: " << later;
        }
    }
    // No device above 255: such an entry keeps its submenu.
    EXPECT_EQ(seen.count(L"*\\shell\\Corvane\\shell\\device256"), 0u);
}

TEST(VolatileKeys, AKeyPathIsWalkedOneNameAtATimeOutermostFirst)
{
    EXPECT_EQ(KeyPathComponents(L"*\\shell\\FileDock\\command"),
              (std::vector<std::wstring>{L"*", L"shell", L"FileDock", L"command"}));
    EXPECT_EQ(KeyPathComponents(L"Leaf"), (std::vector<std::wstring>{L"Leaf"}));
    EXPECT_EQ(KeyPathComponents(L"\\a\\\\b\\"), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_TRUE(KeyPathComponents(L"").empty());
}

TEST(VolatileKeys, OnlyALinkToTheSameUsersClassesHiveIsTakenForTheSystemsOwn)
{
    const std::wstring sid = L"S-1-5-21-1-2-3-1001";
    EXPECT_EQ(UserClassesHiveOfLink(L"\\REGISTRY\\USER\\S-1-5-21-1-2-3-1001_Classes", sid),
              std::optional<std::wstring>(L"S-1-5-21-1-2-3-1001_Classes"));
    EXPECT_EQ(UserClassesHiveOfLink(L"\\Registry\\User\\s-1-5-21-1-2-3-1001_classes", sid),
              std::optional<std::wstring>(L"S-1-5-21-1-2-3-1001_Classes"));
    for (const wchar_t* target : {L"\\Registry\\Machine\\Software\\Classes",
                                  L"\\REGISTRY\\USER\\S-1-5-21-1-2-3-1002_Classes",
                                  L"\\REGISTRY\\USER\\S-1-5-21-1-2-3-1001_Classes\\x",
                                  L"\\REGISTRY\\USER\\S-1-5-21-1-2-3-1001", L""}) {
        EXPECT_FALSE(UserClassesHiveOfLink(target, sid).has_value());
    }
    EXPECT_FALSE(UserClassesHiveOfLink(L"\\REGISTRY\\USER\\_Classes", L"").has_value());
}

TEST(ShortcutPaths, ATitledShortcutStaysInItsFolder)
{
    EXPECT_EQ(TitledShortcutPath(L"C:\\D\\Orvel.lnk", L"Corvane Assistant"),
              std::wstring(L"C:\\D\\Corvane Assistant.lnk"));
    EXPECT_EQ(TitledShortcutPath(L"C:\\With Blanks\\x.lnk", L"Corvane \u52A9\u624B"),
              std::wstring(L"C:\\With Blanks\\Corvane \u52A9\u624B.lnk"));
    EXPECT_EQ(ShortcutPathInSameFolder(L"C:\\D\\Corvane Assistant.lnk", kRestoredShortcutName),
              std::wstring(L"C:\\D\\Orvel.lnk"));
    // No folder: an empty new path, as the registry then stores.
    EXPECT_EQ(TitledShortcutPath(L"", L"Corvane"), std::wstring());
    EXPECT_EQ(TitledShortcutPath(L"Orvel.lnk", L"Corvane"), std::wstring());
}

TEST(ShortcutPaths, ATitleAFileNameCannotHoldRenamesNothing)
{
    for (const wchar_t* title : {L"", L"..\\..\\Startup\\x", L"a/b", L"C:x", L"a*", L"a?", L"say \"hi\"", L"<a>",
                                 L"a|b", L".", L"...", L"tab\there"}) {
        EXPECT_FALSE(IsUsableShortcutTitle(title));
        EXPECT_FALSE(TitledShortcutPath(L"C:\\D\\Orvel.lnk", title).has_value());
    }
    EXPECT_TRUE(IsUsableShortcutTitle(L"Corvane v1.2"));
    EXPECT_TRUE(IsUsableShortcutTitle(L".hidden"));
}

TEST(ShortcutPaths, APathTooLongForItsBufferRenamesNothing)
{
    const std::wstring folder = L"C:\\" + std::wstring(500, L'f') + L"\\";
    EXPECT_TRUE(TitledShortcutPath(folder + L"x.lnk", L"abc").has_value());           // 504 + 7 = 511 units
    EXPECT_FALSE(TitledShortcutPath(folder + L"x.lnk", L"abcd").has_value());          // 512 units
}

TEST(ShortcutPaths, TheStoredPathNeverNamesAMissingFileBecauseARenameFailed)
{
    EXPECT_EQ(StoredShortcutPath(L"C:\\D\\Orvel.lnk", L"C:\\D\\T.lnk", true, true), L"C:\\D\\T.lnk");
    EXPECT_EQ(StoredShortcutPath(L"C:\\D\\Orvel.lnk", L"C:\\D\\T.lnk", true, false), L"C:\\D\\Orvel.lnk");
    // Nothing was there to rename: the new name is stored, as the installer's value says where it goes.
    EXPECT_EQ(StoredShortcutPath(L"C:\\D\\Orvel.lnk", L"C:\\D\\T.lnk", false, false), L"C:\\D\\T.lnk");
}

TEST(FriendlyName, TheClassesEntryIsOnlyForSidsLongerThanEightCharacters)
{
    EXPECT_EQ(ClassesMuiCacheKey(L"S-1-5-21-0-0-0-1000"),
              std::wstring(L"S-1-5-21-0-0-0-1000_Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache"));
    EXPECT_FALSE(ClassesMuiCacheKey(L"S-1-5-18").has_value());
    EXPECT_FALSE(ClassesMuiCacheKey(L"S-1-5-190").value().empty());
    EXPECT_FALSE(ClassesMuiCacheKey(L"").has_value());
}

TEST(FriendlyName, TheValueNameIsThePathAndItsSuffixOrNothingWhenItDoesNotFit)
{
    EXPECT_EQ(FriendlyValueName(L"C:\\A\\app.exe"), std::wstring(L"C:\\A\\app.exe.FriendlyAppName"));
    EXPECT_TRUE(FriendlyValueName(std::wstring(239, L'p')).has_value());
    EXPECT_FALSE(FriendlyValueName(std::wstring(240, L'p')).has_value());
}

TEST(MediumIntegrityLaunch, OnlyACallerAboveMediumBorrowsTheShellsToken)
{
    EXPECT_EQ(ChooseMediumLaunchRoute(true, 0x1000), MediumLaunchRoute::Direct);
    EXPECT_EQ(ChooseMediumLaunchRoute(true, 0x2000), MediumLaunchRoute::Direct);
    EXPECT_EQ(ChooseMediumLaunchRoute(true, 0x2100), MediumLaunchRoute::ShellToken);
    EXPECT_EQ(ChooseMediumLaunchRoute(true, 0x3000), MediumLaunchRoute::ShellToken);
    EXPECT_EQ(ChooseMediumLaunchRoute(true, 0x4000), MediumLaunchRoute::ShellToken);
    // Before Vista there are no levels to step down from.
    EXPECT_EQ(ChooseMediumLaunchRoute(false, 0x4000), MediumLaunchRoute::Direct);
}

TEST(MediumIntegrityLaunch, TheShellsTokenIsBorrowedOnlyInTheCallersSessionAndAtMediumIntegrity)
{
    const ShellTokenFacts usable{1ul, 1ul, 0x2000ul};
    EXPECT_EQ(JudgeShellToken(usable), ShellTokenVerdict::Usable);
    EXPECT_EQ(ShellTokenRefusalLine(ShellTokenVerdict::Usable, usable), "");
    // Another user's shell, seen from a console in session 1.
    const ShellTokenFacts other{2ul, 1ul, 0x2000ul};
    EXPECT_EQ(JudgeShellToken(other), ShellTokenVerdict::OtherSession);
    EXPECT_EQ(ShellTokenRefusalLine(JudgeShellToken(other), other),
              "CreateProcessMediumIL shell token refused: it runs in session 2, the caller in session 1");
    // An elevated shell (as every process under Wine), a system one, a low one.
    for (const unsigned long rid : {0x3000ul, 0x4000ul, 0x2100ul, 0x1000ul}) {
        EXPECT_EQ(JudgeShellToken({1ul, 1ul, rid}), ShellTokenVerdict::NotMedium) << rid;
    }
    EXPECT_EQ(ShellTokenRefusalLine(ShellTokenVerdict::NotMedium, {1ul, 1ul, 0x3000ul}),
              "CreateProcessMediumIL shell token refused: its integrity level 0x3000 is not medium");
    // What could not be read refuses.
    EXPECT_EQ(JudgeShellToken({std::nullopt, 1ul, 0x2000ul}), ShellTokenVerdict::SessionUnknown);
    EXPECT_EQ(JudgeShellToken({1ul, std::nullopt, 0x2000ul}), ShellTokenVerdict::SessionUnknown);
    EXPECT_EQ(JudgeShellToken({1ul, 1ul, std::nullopt}), ShellTokenVerdict::IntegrityUnknown);
    EXPECT_EQ(ShellTokenRefusalLine(ShellTokenVerdict::IntegrityUnknown, {1ul, 1ul, std::nullopt}),
              "CreateProcessMediumIL shell token refused: its integrity level cannot be read");
}

} // namespace
