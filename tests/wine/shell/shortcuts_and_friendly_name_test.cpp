// The application's shortcuts and its name in Explorer: the installer's switches rename the two
// registered shortcuts to the localized title and back, and every run of the executable writes the
// title into the shell's name cache.

#include <gtest/gtest.h>

#include <string>

#include "ContextSandbox.h"
#include "ShellFixture.h"
#include "StandInApp.h"

using namespace harness;
using namespace shell_test;

namespace {

// The shortcut's file name, behind the folder it lies in.
constexpr wchar_t kOrvelLink[] = L"\\Orvel.lnk";
constexpr wchar_t kFirstValue[] = L"ShortCutPath";
constexpr wchar_t kSecondValue[] = L"Program_ShortCut_Path";
// Titles of the stand-in resource library.
constexpr wchar_t kEnglishTitle[] = L"Corvane Companion";
constexpr wchar_t kChineseTitle[] = L"Corvane \u52A9\u624B";
constexpr wchar_t kGermanTitle[] = L"Corvane Begleiter";

class ShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        first = root / L"Start Menu Programs";
        second = root / L"Desk top";
        CreateFolders(first);
        CreateFolders(second);
        CreateFolders(profile.DataDir());
        Language(L"en-US");
    }

    void Language(const wchar_t* name) { IniWrite(profile.IniPath(), L"BrisaRDP", L"LANGUAGE", name); }

    // Registers two shortcuts, each with its own content so that a mix-up shows.
    void Register(const std::wstring& firstPath, const std::wstring& secondPath)
    {
        firstStored.Set(firstPath);
        secondStored.Set(secondPath);
    }

    std::wstring Stored(const wchar_t* value) const { return ReadText(HKEY_LOCAL_MACHINE, kInstallKey, value); }
    static std::string Content(const std::wstring& path) { return PathExists(path) ? ReadFileBytes(path) : "<none>"; }

    UserProfileSandbox profile;
    TempFolder root{L"shortcuts"};
    std::wstring first;
    std::wstring second;
    RegistryValueGuard firstStored{HKEY_LOCAL_MACHINE, kInstallKey, kFirstValue};
    RegistryValueGuard secondStored{HKEY_LOCAL_MACHINE, kInstallKey, kSecondValue};
};

TEST_F(ShortcutsTest, BothShortcutsTakeTheTitleAndComeBackAndASecondRunChangesNothing)
{
    WriteFileBytes(first + kOrvelLink, "first");
    WriteFileBytes(second + kOrvelLink, "second");
    Register(first + kOrvelLink, second + kOrvelLink);
    const std::wstring firstTitled = first + L"\\" + kEnglishTitle + L".lnk";
    const std::wstring secondTitled = second + L"\\" + kEnglishTitle + L".lnk";

    for (const wchar_t* argument : {L"-renameShortCut", L"/RenameShortCut"}) {
        SCOPED_TRACE(ToUtf8(argument));
        EXPECT_EQ(RunSwitch(argument), 0u);
        EXPECT_EQ(Content(firstTitled), "first");
        EXPECT_EQ(Content(secondTitled), "second");
        EXPECT_EQ(ListFolder(first).size(), 1u);
        EXPECT_EQ(ListFolder(second).size(), 1u);
        EXPECT_EQ(Stored(kFirstValue), firstTitled);
        EXPECT_EQ(Stored(kSecondValue), secondTitled);
    }
    for (const wchar_t* argument : {L"-retoreShortCut", L"/RetoreShortCut"}) {
        SCOPED_TRACE(ToUtf8(argument));
        EXPECT_EQ(RunSwitch(argument), 0u);
        EXPECT_EQ(Content(first + kOrvelLink), "first");
        EXPECT_EQ(Content(second + kOrvelLink), "second");
        EXPECT_EQ(ListFolder(first).size(), 1u);
        EXPECT_EQ(Stored(kFirstValue), first + kOrvelLink);
        EXPECT_EQ(Stored(kSecondValue), second + kOrvelLink);
    }
}

TEST_F(ShortcutsTest, ATitleAndAFolderOutsideTheAnsiCodePageAreRenamedLikeAnyOther)
{
    // The premise: the ANSI code page cannot hold these characters.
    BOOL lossy = FALSE;
    char narrow[64] = {};
    ::WideCharToMultiByte(CP_ACP, 0, kChineseTitle, -1, narrow, sizeof(narrow), nullptr, &lossy);
    ASSERT_TRUE(lossy) << "code page " << ::GetACP();

    Language(L"zh-CN");
    const std::wstring folder = root / L"\u6587\u4EF6 Ordner";
    CreateFolders(folder);
    WriteFileBytes(folder + kOrvelLink, "first");
    WriteFileBytes(second + kOrvelLink, "second");
    Register(folder + kOrvelLink, second + kOrvelLink);

    EXPECT_EQ(RunSwitch(L"-renameShortCut"), 0u);
    EXPECT_EQ(Content(folder + L"\\" + kChineseTitle + L".lnk"), "first");
    EXPECT_EQ(Content(second + L"\\" + kChineseTitle + L".lnk"), "second");
    EXPECT_EQ(ListFolder(folder).size(), 1u);
    EXPECT_EQ(Stored(kFirstValue), folder + L"\\" + kChineseTitle + L".lnk");

    EXPECT_EQ(RunSwitch(L"-retoreShortCut"), 0u);
    EXPECT_EQ(Content(folder + kOrvelLink), "first");
    EXPECT_EQ(ListFolder(folder).size(), 1u);
}

TEST_F(ShortcutsTest, AFileAtTheNewPathIsReplacedInOneStepAndNothingIsDeletedWithoutAShortcut)
{
    const std::wstring firstTitled = first + L"\\" + kEnglishTitle + L".lnk";
    const std::wstring secondTitled = second + L"\\" + kEnglishTitle + L".lnk";
    WriteFileBytes(first + kOrvelLink, "first");
    WriteFileBytes(firstTitled, "stale");
    // No shortcut at the second registered path, but a file of the title's name beside it.
    WriteFileBytes(secondTitled, "someone else's");
    Register(first + kOrvelLink, second + kOrvelLink);

    EXPECT_EQ(RunSwitch(L"-renameShortCut"), 0u);
    EXPECT_EQ(Content(firstTitled), "first");
    EXPECT_EQ(ListFolder(first).size(), 1u);
    EXPECT_EQ(Content(secondTitled), "someone else's");
    EXPECT_EQ(Stored(kSecondValue), secondTitled);
}

TEST_F(ShortcutsTest, AShortcutThatCannotBeRenamedKeepsItsStoredPath)
{
    // A folder of the title's name: no file can replace it.
    CreateFolders(first + L"\\" + kEnglishTitle + L".lnk");
    WriteFileBytes(first + kOrvelLink, "first");
    WriteFileBytes(second + kOrvelLink, "second");
    Register(first + kOrvelLink, second + kOrvelLink);

    EXPECT_EQ(RunSwitch(L"-renameShortCut"), 0u);
    EXPECT_EQ(Content(first + kOrvelLink), "first");
    EXPECT_EQ(Stored(kFirstValue), first + kOrvelLink);
    // The other shortcut goes its own way.
    EXPECT_EQ(Stored(kSecondValue), second + L"\\" + kEnglishTitle + L".lnk");
}

TEST_F(ShortcutsTest, AShortcutFolderThatIsALinkOrLiesBelowOneRenamesNothingAndStoresNothing)
{
    // The first folder is itself a link; the second lies below a folder that is one.
    TempFolder elsewhere(L"shortcut-targets");
    CreateFolders(elsewhere / L"first");
    CreateFolders(elsewhere / L"above\\second");
    WriteFileBytes(elsewhere / L"first\\Orvel.lnk", "first");
    WriteFileBytes(elsewhere / L"above\\second\\Orvel.lnk", "second");
    const std::wstring linkedFirst = root / L"Linked Programs";
    ASSERT_TRUE(MakeUnixLink(elsewhere / L"first", linkedFirst, true));
    ASSERT_TRUE(MakeUnixLink(elsewhere / L"above", root / L"Linked above", true));
    const std::wstring linkedSecond = root / L"Linked above\\second";
    Register(linkedFirst + kOrvelLink, linkedSecond + kOrvelLink);

    EXPECT_EQ(RunSwitch(L"-renameShortCut"), 0u);
    EXPECT_EQ(ListFolder(elsewhere / L"first"), std::vector<std::wstring>{L"Orvel.lnk"});
    EXPECT_EQ(ListFolder(elsewhere / L"above\\second"), std::vector<std::wstring>{L"Orvel.lnk"});
    EXPECT_EQ(Stored(kFirstValue), linkedFirst + kOrvelLink);
    EXPECT_EQ(Stored(kSecondValue), linkedSecond + kOrvelLink);
}

TEST_F(ShortcutsTest, ARenameThatChangesOnlyTheLetterCaseKeepsTheShortcut)
{
    WriteFileBytes(first + L"\\corvane COMPANION.lnk", "first");
    WriteFileBytes(second + kOrvelLink, "second");
    Register(first + L"\\corvane COMPANION.lnk", second + kOrvelLink);

    EXPECT_EQ(RunSwitch(L"-renameShortCut"), 0u);
    // The one file, under the new name (Wine keeps the old letter case on disk; Windows takes the new).
    EXPECT_EQ(Content(first + L"\\" + kEnglishTitle + L".lnk"), "first");
    EXPECT_EQ(ListFolder(first).size(), 1u);
    EXPECT_EQ(Stored(kFirstValue), first + L"\\" + kEnglishTitle + L".lnk");
}

TEST_F(ShortcutsTest, WithoutATitleNothingIsRenamedOrWritten)
{
    // A resource library without LoadWString: the title stays empty.
    RegistryValueGuard resourceFile(HKEY_LOCAL_MACHINE, kInstallKey, L"ResourceFile");
    resourceFile.Set((harness::TestDataFolder() + L"ResTextNoLoad.dll"));
    WriteFileBytes(first + kOrvelLink, "first");
    Register(first + kOrvelLink, L"C:\\elsewhere\\Orvel.lnk");

    EXPECT_EQ(RunSwitch(L"-renameShortCut"), 0u);
    EXPECT_EQ(Content(first + kOrvelLink), "first");
    EXPECT_EQ(Stored(kSecondValue), L"C:\\elsewhere\\Orvel.lnk");
}

TEST_F(ShortcutsTest, AMissingFirstValueLeavesTheSecondShortcutToBeRenamed)
{
    WriteFileBytes(second + kOrvelLink, "second");
    Register(L"", second + kOrvelLink);
    firstStored.Delete();

    EXPECT_EQ(RunSwitch(L"-renameShortCut"), 0u);
    EXPECT_EQ(Content(second + L"\\" + kEnglishTitle + L".lnk"), "second");
    EXPECT_EQ(Stored(kFirstValue), L"");
}

constexpr wchar_t kUserShellKey[] = L"SOFTWARE\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell";
const std::wstring kUserMuiCache = std::wstring(kUserShellKey) + L"\\MuiCache";
const std::wstring kClassesMuiCache =
    std::wstring(kUserSid) + L"_Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache";

TEST(FriendlyNameTest, EveryRunNamesTheApplicationForTheUserAndTheUsersClasses)
{
    UserProfileSandbox profile;
    CreateFolders(profile.DataDir());
    IniWrite(profile.IniPath(), L"BrisaRDP", L"LANGUAGE", L"de-DE");
    DeleteTree(HKEY_CURRENT_USER, kUserShellKey);
    DeleteTree(HKEY_USERS, kClassesMuiCache);
    const std::wstring valueName = AppExePath() + L".FriendlyAppName";
    // An earlier name is replaced.
    CreateKey(HKEY_USERS, kClassesMuiCache);
    ::RegSetKeyValueW(HKEY_USERS, kClassesMuiCache.c_str(), valueName.c_str(), REG_SZ, L"Old", sizeof(L"Old"));

    // Any start of the executable, a switch or not.
    EXPECT_EQ(RunSwitch(L"-noSuchSwitch"), 0u);
    EXPECT_EQ(ReadText(HKEY_CURRENT_USER, kUserMuiCache, valueName.c_str()), kGermanTitle);
    // The sandbox user's SID is long (S-1-5-21-...): its classes get the entry too.
    EXPECT_EQ(ReadText(HKEY_USERS, kClassesMuiCache, valueName.c_str()), kGermanTitle);
    // The cache key is made volatile, the parents made for it are not.
    EXPECT_TRUE(IsVolatile(HKEY_CURRENT_USER, kUserMuiCache));
    EXPECT_FALSE(IsVolatile(HKEY_CURRENT_USER, kUserShellKey));
    DeleteTree(HKEY_USERS, kClassesMuiCache);
}

TEST(FriendlyNameTest, ALinkOnTheWayToTheUsersCacheIsNeverFollowedAndTheClassesCacheIsStillWritten)
{
    UserProfileSandbox profile;
    CreateFolders(profile.DataDir());
    IniWrite(profile.IniPath(), L"BrisaRDP", L"LANGUAGE", L"de-DE");
    DeleteTree(HKEY_CURRENT_USER, kUserShellKey);
    DeleteTree(HKEY_USERS, kClassesMuiCache);
    const std::wstring targets = kLinkTargets;
    CreateKey(HKEY_LOCAL_MACHINE, targets + L"\\Shell\\MuiCache");
    // A parent of the cache key, not the key itself, is the link.
    PlantedRegistryLink shell(HKEY_CURRENT_USER, kUserShellKey, std::wstring(kLinkTargetsNative) + L"\\Shell");
    ASSERT_TRUE(shell.Planted());

    // The run is over when the executable has returned.
    EXPECT_EQ(RunSwitch(L"-noSuchSwitch"), 0u);
    const std::wstring valueName = AppExePath() + L".FriendlyAppName";
    EXPECT_TRUE(shell.StillALink());
    EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, targets + L"\\Shell\\MuiCache", valueName.c_str()), harness::kMissing);
    EXPECT_EQ(ReadText(HKEY_USERS, kClassesMuiCache, valueName.c_str()), kGermanTitle);
    DeleteTree(HKEY_USERS, kClassesMuiCache);
    DeleteTree(HKEY_LOCAL_MACHINE, targets);
}

} // namespace
