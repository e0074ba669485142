// Building the context from the registry, the console user's profile and the resource library.

#include <gtest/gtest.h>

#include <algorithm>

#include "ContextSandbox.h"
#include "PlantedRegistryLink.h"
#include "DemonService.h"
#include "base/ConsoleUser.h"
#include "base/OwnImagePath.h"
#include "base/DiagnosticLog.h"
#include "base/SettingsFile.h"
#include "supervision/CrashCount.h"

using namespace harness;

namespace {

class ContextTest : public ::testing::Test {
protected:
    UserProfileSandbox profile;
    RegistryValueGuard path{HKEY_LOCAL_MACHINE, kInstallKey, L"path"};
    RegistryValueGuard resourceFile{HKEY_LOCAL_MACHINE, kInstallKey, L"ResourceFile"};
};

TEST_F(ContextTest, InstallPathsComeFromTheInstallersKey)
{
    path.Set(L"C:\\Apps\\Corvane\\Corvane.exe");
    DemonService* service = FreshContext();
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->AppPath(), L"C:\\Apps\\Corvane\\Corvane.exe");
    EXPECT_EQ(service->m_devconPath, L"C:\\Apps\\Corvane\\devcon.exe");
    EXPECT_EQ(service->m_cameraInfPath, L"C:\\Apps\\Corvane\\drivers\\camera\\CvCamera.inf");
    EXPECT_EQ(service->m_lockerPluginPath, L"C:\\Apps\\Corvane\\lockerPlugin\\LockerPlugin.exe");
    EXPECT_EQ(service->m_diskBridgePath, L"C:\\Apps\\Corvane\\CvDiskBridge.exe");
}

TEST_F(ContextTest, WithoutAnInstallPathTheServiceFolderStandsIn)
{
    path.Delete();
    resourceFile.Set(L"C:\\Elsewhere\\Res.dll");
    DemonService* service = FreshContext();
    EXPECT_EQ(service->AppPath(), TestExeFolder() + L"Orvel.exe");
    EXPECT_EQ(service->m_resourceDllPath, TestExeFolder() + L"ResText2052.dll");
    EXPECT_EQ(service->m_diskBridgePath, TestExeFolder() + L"CvDiskBridge.exe");
}

TEST_F(ContextTest, UserFolderIsTheConsoleUsersAndIsRememberedInTheInstallKey)
{
    DemonService* service = FreshContext();
    EXPECT_EQ(service->DataDir(), profile.DataDir());
    EXPECT_EQ(service->IniPath(), profile.IniPath());
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, L"AppData"), profile.RoamingFolder());
}

// The console user's "Shell Folders" moved aside for one case, and put back as it was.
class ShellFoldersAside {
public:
    ShellFoldersAside()
    {
        UniqueRegKey saved;
        UniqueRegKey original;
        m_aside = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSaved, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, saved.put(),
                                    nullptr) == ERROR_SUCCESS &&
                  ::RegOpenKeyExW(HKEY_USERS, ShellFoldersKey().c_str(), 0, KEY_READ, original.put()) == ERROR_SUCCESS &&
                  ::RegCopyTreeW(original.get(), nullptr, saved.get()) == ERROR_SUCCESS;
        original.reset();
        m_aside = m_aside && ::RegDeleteTreeW(HKEY_USERS, ShellFoldersKey().c_str()) == ERROR_SUCCESS;
    }
    ~ShellFoldersAside()
    {
        UniqueRegKey saved;
        UniqueRegKey original;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSaved, 0, KEY_READ, saved.put()) == ERROR_SUCCESS &&
            ::RegCreateKeyExW(HKEY_USERS, ShellFoldersKey().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              original.put(), nullptr) == ERROR_SUCCESS) {
            ::RegCopyTreeW(saved.get(), nullptr, original.get());
        }
        saved.reset();
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSaved);
    }
    bool Aside() const { return m_aside; }

private:
    static constexpr wchar_t kSaved[] = L"Software\\OrvelSavedShellFolders";
    bool m_aside = false;
};

TEST_F(ContextTest, TheConsoleUsersFolderIsNeverReadThroughARegistryLinkInTheUsersHive)
{
    ASSERT_TRUE(ReadConsoleUserAppData());
    ASSERT_EQ(ReadConsoleUserAppData()->text, profile.RoamingFolder());
    // The user makes "Shell Folders" a link to a key of the machine's that names another folder.
    constexpr wchar_t kElsewhere[] = L"Software\\OrvelLinkTargets\\ShellFolders";
    UniqueRegKey target;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kElsewhere, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, target.put(),
                                nullptr),
              ERROR_SUCCESS);
    const std::wstring elsewhere = L"C:\\ProgramData\\Elsewhere";
    ::RegSetValueExW(target.get(), L"AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(elsewhere.c_str()),
                     static_cast<DWORD>((elsewhere.size() + 1) * sizeof(wchar_t)));
    {
        const ShellFoldersAside aside;
        ASSERT_TRUE(aside.Aside());
        const PlantedRegistryLink link(HKEY_USERS, ShellFoldersKey(),
                                       L"\\Registry\\Machine\\Software\\OrvelLinkTargets\\ShellFolders");
        ASSERT_TRUE(link.Planted());
        // Followed, the link would give the other folder.
        EXPECT_EQ(ReadRegistryString(HKEY_USERS, ShellFoldersKey(), L"AppData"), elsewhere);
        long error = ERROR_SUCCESS;
        EXPECT_FALSE(ReadConsoleUserAppData());
        EXPECT_FALSE(ReadShellFoldersAppData(kUserSid, &error));
        EXPECT_NE(error, ERROR_SUCCESS);
        EXPECT_NE(FreshContext()->DataDir(), elsewhere + L"\\Corvane");
        DropContext();
    }
    target.reset();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\OrvelLinkTargets");
    ASSERT_TRUE(ReadConsoleUserAppData());
    EXPECT_EQ(ReadConsoleUserAppData()->text, profile.RoamingFolder());
}

TEST_F(ContextTest, NobodyAtTheConsoleFallsBackOnTheRememberedFolderOrOnNothing)
{
    profile.ShellAppData().Delete();
    profile.StoredAppData().Set(L"C:\\Remembered");
    DemonService* service = FreshContext();
    EXPECT_EQ(service->DataDir(), L"C:\\Remembered\\Corvane");
    EXPECT_EQ(service->IniPath(), L"C:\\Remembered\\Corvane\\BrisaRDP.ini");

    // Neither known: no settings file at the root of a drive, and nothing written there.
    profile.StoredAppData().Delete();
    service = FreshContext();
    EXPECT_TRUE(service->DataDir().empty());
    EXPECT_TRUE(service->IniPath().empty());
    service->WriteLog("DemonService", "nowhere", "x.cpp", 1, true);
    EXPECT_FALSE(PathExists(L"C:\\Corvane"));
}

TEST_F(ContextTest, ReloadFollowsTheConsoleUserButLeavesTheRememberedFolder)
{
    DemonService* service = FreshContext();
    TempFolder other(L"other-user");
    profile.ShellAppData().Set(other.Path());
    service->ReloadUserPaths();
    EXPECT_EQ(service->IniPath(), other.Path() + L"\\Corvane\\BrisaRDP.ini");
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, L"AppData"), profile.RoamingFolder());

    // A reload that cannot read the next user's folder keeps nothing of the last user's.
    profile.ShellAppData().Delete();
    service->ReloadUserPaths();
    EXPECT_TRUE(service->IniPath().empty());
    EXPECT_TRUE(service->DataDir().empty());
}

TEST_F(ContextTest, ATrailingBackslashOnTheUsersFolderChangesNothing)
{
    profile.EnableLog();
    profile.ShellAppData().Set(profile.RoamingFolder() + L"\\");
    DemonService* service = FreshContext();
    EXPECT_EQ(service->DataDir(), profile.DataDir());
    EXPECT_EQ(service->IniPath(), profile.IniPath());
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, L"AppData"), profile.RoamingFolder() + L"\\");
    LogMessage("DemonService", "with a trailing backslash", "x.cpp", 1);
    EXPECT_TRUE(WriteServiceText(L"Running", L"1"));
    EXPECT_TRUE(WriteCrashCount(2));
    EXPECT_EQ(CountLines(profile.LogText(), "with a trailing backslash"), 1);
    EXPECT_EQ(profile.ServiceKey(L"Running"), L"1");
    EXPECT_EQ(profile.ServiceKey(L"write_log"), L"1");
    EXPECT_EQ(profile.CrashCount(), L"2");
}

TEST_F(ContextTest, AFolderThatIsNoLocalDrivePathIsNeitherReadNorWrittenNorRememberedAndTheLogSaysWhyOnce)
{
    resourceFile.Set(InstallFolder() + L"ResText2052.dll");
    const std::wstring englishTitle = FreshContext()->m_appTitle;
    // The folder behind the refused forms holds a language and the log's marker. A drive that stands for
    // C:\ (as a substituted drive does) reaches it too, and so does the drive root, C:\Corvane; a folder on
    // the sandbox's CD drive holds the same.
    struct CdromFolder {
        const std::wstring path = std::wstring(kCdromDrive) + L"orvel-roaming";
        ~CdromFolder() { RemoveTree(path); }
    } cdrom;
    ASSERT_EQ(::GetDriveTypeW(kCdromDrive), static_cast<UINT>(DRIVE_CDROM)) << "run scripts/sandbox.sh first";
    profile.EnableLog();
    IniWrite(profile.IniPath(), L"BrisaRDP", L"LANGUAGE", L"de-DE");
    CreateFolders(cdrom.path + L"\\Corvane\\logs");
    WriteFileBytes(cdrom.path + L"\\Corvane\\logs\\debug", "");
    IniWrite(cdrom.path + L"\\Corvane\\BrisaRDP.ini", L"BrisaRDP", L"LANGUAGE", L"de-DE");
    const std::string settings = ReadFileBytes(profile.IniPath());
    MappedDrive substituted(L'S', L"C:\\");
    ASSERT_TRUE(substituted.Mapped());
    const std::wstring throughOtherDrive = substituted.Root() + profile.RoamingFolder().substr(3);
    const std::pair<std::wstring, std::string> refused[] = {
        {L"\\\\?\\" + profile.RoamingFolder(), "a network or device path"},
        {L"\\\\host\\share\\Roaming", "a network or device path"},
        {L"C:\\", "a drive root"},
        {throughOtherDrive, "a drive that stands for a folder elsewhere"},
        {cdrom.path, "not on a local fixed drive"},
    };
    // The folder remembered in the install key stays as it was, and a console user whose folder is
    // refused does not get it either.
    ASSERT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, L"AppData"), profile.RoamingFolder());
    for (const auto& [appData, reason] : refused) {
        SCOPED_TRACE(ToUtf8(appData));
        profile.ShellAppData().Set(appData);
        DemonService* service = FreshContext();
        EXPECT_TRUE(service->IniPath().empty());
        EXPECT_EQ(std::wstring(service->m_appTitle), englishTitle);
        service->WriteLog("DemonService", "refused folder", "x.cpp", 1, true);
        EXPECT_TRUE(profile.LogFiles().empty());
        EXPECT_EQ(ReadFileBytes(profile.IniPath()), settings);
        EXPECT_FALSE(PathExists(L"C:\\Corvane"));
        EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, L"AppData"), profile.RoamingFolder());
        EXPECT_EQ(ListFolder(cdrom.path + L"\\Corvane\\logs"), std::vector<std::wstring>{L"debug"});
        EXPECT_EQ(ReadFileBytes(cdrom.path + L"\\Corvane\\BrisaRDP.ini"), settings);
    }

    // A reload to a refused folder names the reason once, in the log of the folder it leaves.
    TempFolder other(L"other-user");
    CreateFolders(other.Path() + L"\\Corvane\\logs");
    WriteFileBytes(other.Path() + L"\\Corvane\\logs\\debug", "");
    DemonService* service = FreshContext();
    for (const auto& [appData, reason] : refused) {
        for (int reload = 0; reload < 2; ++reload) {
            profile.ShellAppData().Set(other.Path());
            service->ReloadUserPaths();
            service->WriteLog("DemonService", "in the other folder", "x.cpp", 1, false);
            profile.ShellAppData().Set(appData);
            service->ReloadUserPaths();
            EXPECT_TRUE(service->IniPath().empty());
        }
    }
    const std::vector<std::wstring> logs = ListFolder(other.Path() + L"\\Corvane\\logs");
    ASSERT_EQ(logs.size(), 2u);
    const std::wstring log = other.Path() + L"\\Corvane\\logs\\" + (logs[0] == L"debug" ? logs[1] : logs[0]);
    const std::string text = ReadFileBytes(log);
    EXPECT_EQ(CountLines(text, "in the other folder"), 10);
    // Each refused folder is told once, under its reason.
    for (const auto& folder : refused) {
        const auto folders = std::count_if(std::begin(refused), std::end(refused),
                                           [&](const auto& entry) { return entry.second == folder.second; });
        EXPECT_EQ(CountLines(text, "User folder refused: " + folder.second), static_cast<int>(folders))
            << folder.second;
    }
    DropContext();
}

TEST_F(ContextTest, TextsComeFromTheResourceLibraryInTheChosenLanguage)
{
    resourceFile.Set(InstallFolder() + L"ResText2052.dll");
    DemonService* service = FreshContext();
    const std::wstring englishTitle = service->m_appTitle;
    EXPECT_FALSE(englishTitle.empty());
    EXPECT_NE(englishTitle, L"app_title");
    EXPECT_NE(std::wstring(service->m_sendboxMenuTitle), L"sendbox_file_menu_share_title");

    CreateFolders(profile.DataDir());
    IniWrite(profile.IniPath(), L"BrisaRDP", L"LANGUAGE", L"de-DE");
    service = FreshContext();
    EXPECT_NE(std::wstring(service->m_appTitle), englishTitle);
    EXPECT_FALSE(std::wstring(service->m_appTitle).empty());
}

TEST_F(ContextTest, MissingTextsTakeTheirDefaults)
{
    // Copied into the prefix: the build tree's own folders may be anyone's to change.
    TempFolder folder(L"orvel res");
    for (const wchar_t* name : {L"ResTextKeyEcho.dll", L"ResTextNoLoad.dll"}) {
        ASSERT_TRUE(::CopyFileW((TestDataFolder() + name).c_str(), (folder / name).c_str(), FALSE));
    }
    resourceFile.Set(folder / L"ResTextKeyEcho.dll");
    DemonService* service = FreshContext();
    EXPECT_STREQ(service->m_appTitle, L"Corvane Assistant");
    EXPECT_STREQ(service->m_sendboxMenuTitle, L"Add to Sendbox");

    // A library without LoadWString is not usable: no title, the default menu text.
    resourceFile.Set(folder / L"ResTextNoLoad.dll");
    service = FreshContext();
    EXPECT_STREQ(service->m_appTitle, L"");
    EXPECT_STREQ(service->m_sendboxMenuTitle, L"Add to Sendbox");
}

TEST_F(ContextTest, NoResourceLibraryAtAll)
{
    resourceFile.Set(L"C:\\nowhere\\ResText2052.dll");  // and none beside the test executable
    DemonService* service = FreshContext();
    EXPECT_STREQ(service->m_appTitle, L"");
    EXPECT_STREQ(service->m_sendboxMenuTitle, L"Add to Sendbox");
}

TEST_F(ContextTest, TheResourceLibraryIsLoadedOnlyFromAFolderThatNobodyElseMayChange)
{
    TempFolder folder(L"orvel res");
    const std::wstring library = folder / L"ResText2052.dll";
    ASSERT_TRUE(::CopyFileW((InstallFolder() + L"ResText2052.dll").c_str(), library.c_str(), FALSE));
    resourceFile.Set(library);
    EXPECT_FALSE(std::wstring(FreshContext()->m_appTitle).empty());

    // The same library where everyone may replace it or put a DLL beside it: not loaded, and the log,
    // once the context can write it, names the folder and who may change it.
    ASSERT_TRUE(OpenFolderToEveryone(folder.Path()));
    profile.EnableLog();
    DemonService* service = FreshContext();
    EXPECT_STREQ(service->m_appTitle, L"");
    EXPECT_STREQ(service->m_sendboxMenuTitle, L"Add to Sendbox");
    DropContext();
    EXPECT_EQ(CountLines(profile.LogText(), "DemonService  Folder " + ToUtf8(folder.Path()) +
                                                "\\ is writable by Everyone: nothing in it is trusted or started"),
              1)
        << profile.LogText();
}

TEST(ReadIniInt, ReadsLeadingDigitsAndLeavesTheValueWhenTheKeyIsMissing)
{
    TempFolder folder;
    const std::wstring ini = folder / L"numbers.ini";
    IniWrite(ini, L"S", L"mixed", L"12abc");
    IniWrite(ini, L"S", L"letters", L"abc");
    IniWrite(ini, L"S", L"negative", L" -3");
    IniWrite(ini, L"S", L"empty", L"");

    int value = 99;
    EXPECT_TRUE(ReadIniInt(ini.c_str(), L"S", L"mixed", &value));
    EXPECT_EQ(value, 12);
    EXPECT_TRUE(ReadIniInt(ini.c_str(), L"S", L"letters", &value));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(ReadIniInt(ini.c_str(), L"S", L"negative", &value));
    EXPECT_EQ(value, -3);
    value = 99;
    EXPECT_FALSE(ReadIniInt(ini.c_str(), L"S", L"absent", &value));
    EXPECT_FALSE(ReadIniInt(ini.c_str(), L"S", L"empty", &value));
    EXPECT_FALSE(ReadIniInt(L"", L"S", L"mixed", &value));
    EXPECT_EQ(value, 99);
}

TEST(OwnImagePath, IsTheRunningExecutable)
{
    wchar_t buffer[kOwnImagePathChars] = {};
    GetOwnImagePath(buffer);
    wchar_t expected[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, expected, MAX_PATH);
    EXPECT_EQ(_wcsicmp(buffer, expected), 0) << ToUtf8(buffer);
    GetOwnImagePath(nullptr);  // does nothing
}

} // namespace
