// Building the context from the registry, the console user's profile and the resource library.

#include <gtest/gtest.h>

#include "ContextSandbox.h"
#include "DemonService.h"
#include "base/OwnImagePath.h"
#include "base/SettingsFile.h"

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

    // A reload that cannot read the folder keeps the paths it had.
    profile.ShellAppData().Delete();
    service->ReloadUserPaths();
    EXPECT_EQ(service->IniPath(), other.Path() + L"\\Corvane\\BrisaRDP.ini");
}

TEST_F(ContextTest, AFolderThatIsNoLocalDrivePathIsNeitherReadNorWrittenAndTheLogSaysWhyOnce)
{
    resourceFile.Set(InstallFolder() + L"ResText2052.dll");
    const std::wstring englishTitle = FreshContext()->m_appTitle;
    // The folders behind the refused forms hold a language and the log's marker: the profile's own folder
    // (reached through a device prefix or, by name, a share), and a folder on the sandbox's CD drive.
    struct CdromFolder {
        const std::wstring path = std::wstring(kCdromDrive) + L"orvel-roaming";
        ~CdromFolder() { RemoveTree(path); }
    } cdrom;
    ASSERT_EQ(::GetDriveTypeW(kCdromDrive), static_cast<UINT>(DRIVE_CDROM)) << "run scripts/sandbox.sh first";
    for (const std::wstring& roaming : {profile.RoamingFolder(), cdrom.path}) {
        CreateFolders(roaming + L"\\Corvane\\logs");
        WriteFileBytes(roaming + L"\\Corvane\\logs\\debug", "");
        IniWrite(roaming + L"\\Corvane\\BrisaRDP.ini", L"BrisaRDP", L"LANGUAGE", L"de-DE");
    }
    const std::string settings = ReadFileBytes(profile.IniPath());
    const std::wstring refused[] = {L"\\\\?\\" + profile.RoamingFolder(), L"\\\\host\\share\\Roaming", cdrom.path};
    for (const std::wstring& appData : refused) {
        SCOPED_TRACE(ToUtf8(appData));
        profile.ShellAppData().Set(appData);
        DemonService* service = FreshContext();
        EXPECT_TRUE(service->IniPath().empty());
        EXPECT_EQ(std::wstring(service->m_appTitle), englishTitle);
        service->WriteLog("DemonService", "refused folder", "x.cpp", 1, true);
        EXPECT_TRUE(profile.LogFiles().empty());
        EXPECT_EQ(ReadFileBytes(profile.IniPath()), settings);
        EXPECT_EQ(ListFolder(cdrom.path + L"\\Corvane\\logs"), std::vector<std::wstring>{L"debug"});
        EXPECT_EQ(ReadFileBytes(cdrom.path + L"\\Corvane\\BrisaRDP.ini"), settings);
    }

    // A reload to a refused folder while the log is open elsewhere names the reason, once for each folder.
    TempFolder other(L"other-user");
    profile.ShellAppData().Set(other.Path());
    DemonService* service = FreshContext();
    CreateFolders(other.Path() + L"\\Corvane\\logs");
    WriteFileBytes(other.Path() + L"\\Corvane\\logs\\debug", "");
    service->WriteLog("DemonService", "opened", "x.cpp", 1, false);
    for (const std::wstring& appData : {L"\\\\?\\" + profile.RoamingFolder(), cdrom.path}) {
        profile.ShellAppData().Set(appData);
        service->ReloadUserPaths();
        service->ReloadUserPaths();
        EXPECT_TRUE(service->IniPath().empty());
    }
    const std::vector<std::wstring> logs = ListFolder(other.Path() + L"\\Corvane\\logs");
    ASSERT_EQ(logs.size(), 2u);
    const std::wstring log = other.Path() + L"\\Corvane\\logs\\" + (logs[0] == L"debug" ? logs[1] : logs[0]);
    const std::string logged = ReadFileBytes(log);
    EXPECT_EQ(CountLines(logged, "User folder refused: a network or device path"), 1);
    EXPECT_EQ(CountLines(logged, "User folder refused: not on a local fixed drive"), 1);
    EXPECT_EQ(CountLines(logged, "User folder refused:"), 2);
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
    resourceFile.Set(TestDataFolder() + L"ResTextKeyEcho.dll");
    DemonService* service = FreshContext();
    EXPECT_STREQ(service->m_appTitle, L"Corvane Assistant");
    EXPECT_STREQ(service->m_sendboxMenuTitle, L"Add to Sendbox");

    // A library without LoadWString is not usable: no title, the default menu text.
    resourceFile.Set(TestDataFolder() + L"ResTextNoLoad.dll");
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
