#include <gtest/gtest.h>

#include "base/InstallPaths.h"

namespace {

TEST(InstallPaths, SiblingsLieBesideTheInstalledApplication)
{
    const InstallPaths paths =
        ResolveInstallPaths(std::wstring(L"C:\\Apps\\Corvane\\Corvane.exe"), std::wstring(L"D:\\Res\\Text.dll"),
                            L"C:\\Svc\\svc.exe");
    EXPECT_EQ(paths.appPath, L"C:\\Apps\\Corvane\\Corvane.exe");
    EXPECT_EQ(paths.resourceDllPath, L"D:\\Res\\Text.dll");
    EXPECT_EQ(paths.devconPath, L"C:\\Apps\\Corvane\\devcon.exe");
    EXPECT_EQ(paths.cameraInfPath, L"C:\\Apps\\Corvane\\drivers\\camera\\CvCamera.inf");
    EXPECT_EQ(paths.lockerPluginPath, L"C:\\Apps\\Corvane\\lockerPlugin\\LockerPlugin.exe");
    EXPECT_EQ(paths.diskBridgePath, L"C:\\Apps\\Corvane\\CvDiskBridge.exe");
}

TEST(InstallPaths, WithoutAUsablePathTheServiceFolderStandsIn)
{
    for (const auto& pathValue : {std::optional<std::wstring>(), std::optional<std::wstring>(L"Corvane.exe")}) {
        const InstallPaths paths =
            ResolveInstallPaths(pathValue, std::wstring(L"D:\\Res\\Text.dll"), L"C:\\Svc\\svc.exe");
        EXPECT_EQ(paths.appPath, L"C:\\Svc\\Orvel.exe");
        EXPECT_EQ(paths.resourceDllPath, L"C:\\Svc\\ResText2052.dll");
        EXPECT_EQ(paths.devconPath, L"C:\\Svc\\devcon.exe");
        EXPECT_EQ(paths.diskBridgePath, L"C:\\Svc\\CvDiskBridge.exe");
    }
}

TEST(InstallPaths, NothingUsableAnywhereKeepsWhatWasRead)
{
    const InstallPaths paths = ResolveInstallPaths(std::wstring(L"Corvane.exe"), std::nullopt, L"svc.exe");
    EXPECT_EQ(paths.appPath, L"Corvane.exe");
    EXPECT_TRUE(paths.resourceDllPath.empty());
    EXPECT_TRUE(paths.devconPath.empty());
}

TEST(InstallPaths, UserFolderGivesDataFolderAndSettingsFileOrNothing)
{
    EXPECT_EQ(DataDirFor(L"C:\\Users\\u\\AppData\\Roaming"), L"C:\\Users\\u\\AppData\\Roaming\\Corvane");
    // A trailing backslash is a valid way to write the folder: it gives no empty component.
    EXPECT_EQ(DataDirFor(L"C:\\Users\\u\\AppData\\Roaming\\\\"), L"C:\\Users\\u\\AppData\\Roaming\\Corvane");
    EXPECT_EQ(IniPathFor(L"C:\\Users\\u\\AppData\\Roaming\\Corvane"),
              L"C:\\Users\\u\\AppData\\Roaming\\Corvane\\BrisaRDP.ini");
    // No user folder: no settings file at the root of a drive.
    EXPECT_TRUE(DataDirFor(L"").empty());
    EXPECT_TRUE(IniPathFor(L"").empty());
}

} // namespace
