#include <gtest/gtest.h>

#include "base/OwnImagePath.h"
#include "integration/DriverInstallPlan.h"

namespace {

const std::wstring kInstall = L"C:\\Program Files\\Corvane\\";

TEST(DriverCommandLines, CameraRunsQuoteDevconAndTheInfButNotTheIdentifier)
{
    const auto remove = CameraRemoveStart(kInstall + L"devcon.exe");
    const auto install = CameraInstallStart(kInstall + L"devcon.exe", kInstall + L"drivers\\camera\\CvCamera.inf");
    ASSERT_TRUE(remove && install);
    EXPECT_EQ(remove->path, kInstall + L"devcon.exe");
    EXPECT_EQ(remove->program, L"\"C:\\Program Files\\Corvane\\devcon.exe\"");
    EXPECT_EQ(remove->arguments, L"remove corvanecamera");
    EXPECT_EQ(install->program, remove->program);
    EXPECT_EQ(install->arguments, L"install \"C:\\Program Files\\Corvane\\drivers\\camera\\CvCamera.inf\" corvanecamera");
}

TEST(DriverCommandLines, DriveBridgeIsQuotedFromThePipeAndBareFromTheCommandLine)
{
    const auto piped = DiskBridgeStart(kInstall + L"CvDiskBridge.exe");
    ASSERT_TRUE(piped);
    EXPECT_EQ(piped->program, L"\"C:\\Program Files\\Corvane\\CvDiskBridge.exe\"");
    EXPECT_EQ(piped->arguments, L"/i d");

    const auto switched = CloudyDriverStart(L"C:\\Svc dir\\DemonService.exe");
    ASSERT_TRUE(switched);
    EXPECT_EQ(switched->path, L"C:\\Svc dir\\CvDiskBridge.exe");
    EXPECT_EQ(switched->program, switched->path);
    EXPECT_EQ(switched->arguments, L"/i d");
    EXPECT_FALSE(CloudyDriverStart(L"DemonService.exe"));
    EXPECT_FALSE(CloudyDriverStart(L""));
}

TEST(DriverCommandLines, ScreenShareRunsCarryTheFolderUnquotedAfterTheComma)
{
    EXPECT_EQ(ScreenShareArguments(kInstall, false),
              L"-uninstall_SS,C:\\Program Files\\Corvane\\drivers\\screenshare\\");
    EXPECT_EQ(ScreenShareArguments(kInstall, true), L"-install_SS,C:\\Program Files\\Corvane\\drivers\\screenshare\\");

    const auto start = ScreenShareStart(kInstall, L"-install_SS,x");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->path, kInstall + L"drivers\\screenshare\\DisplayDriverSetup64.exe");
    EXPECT_EQ(start->program, L"\"" + start->path + L"\"");
    EXPECT_EQ(start->arguments, L"-install_SS,x");
}

TEST(DriverCommandLines, PathsThatWouldStartAnotherProgramAreRefused)
{
    // Empty, or a quote that would end the quoted text early.
    EXPECT_FALSE(CameraRemoveStart(L""));
    EXPECT_FALSE(CameraRemoveStart(L"C:\\A\" \"C:\\B\\devcon.exe"));
    EXPECT_FALSE(CameraInstallStart(kInstall + L"devcon.exe", L""));
    EXPECT_FALSE(CameraInstallStart(kInstall + L"devcon.exe", L"C:\\x.inf\" evil"));
    EXPECT_FALSE(DiskBridgeStart(L"C:\\A\"B.exe"));
    // An unknown service folder would make the installer path relative to the current folder.
    EXPECT_FALSE(ScreenShareStart(L"", L"-install_SS,"));
    EXPECT_FALSE(ScreenShareStart(L"C:\\Svc", L"-install_SS,"));
    EXPECT_FALSE(ScreenShareStart(L"C:\\S\"vc\\", L"-install_SS,"));
}

TEST(DriverCommandLines, TheCommandLineBridgeIsRefusedAtItsBufferNeverCut)
{
    auto imageOf = [](std::size_t folderLength, const std::wstring& name) {
        return L"C:\\" + std::wstring(folderLength - 4, L'f') + L"\\" + name;
    };
    const std::size_t nameLength = sizeof(kDiskBridgeName) / sizeof(wchar_t) - 1;
    // The longest folder whose bridge path and terminator fill the 512 characters exactly.
    const std::size_t longestFolder = kCloudyDriverPathChars - 1 - nameLength;
    const auto fits = CloudyDriverStart(imageOf(longestFolder, L"a.exe"));
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->path.size(), kCloudyDriverPathChars - 1);
    EXPECT_FALSE(CloudyDriverStart(imageOf(longestFolder + 1, L"a.exe")));

    // An own image path that fills its buffer may have been cut: its folder is not the service's.
    const std::wstring filled = imageOf(100, std::wstring(kOwnImagePathChars - 1 - 100, L'n'));
    ASSERT_EQ(filled.size(), kOwnImagePathChars - 1);
    EXPECT_FALSE(CloudyDriverStart(filled));
    EXPECT_TRUE(CloudyDriverStart(filled.substr(0, filled.size() - 1)));
}

TEST(DriverCommandLines, StartLogLineIsCutTo255Bytes)
{
    EXPECT_EQ(DriverStartLogLine("remove", "\"C:\\A\\devcon.exe\"", "remove corvanecamera", 42),
              "remove \"C:\\A\\devcon.exe\" remove corvanecamera ret: 42");
    EXPECT_EQ(DriverStartLogLine("install", "\"x\"", "-install_SS,C:\\", 0), "install \"x\" -install_SS,C:\\ ret: 0");

    const std::string longArguments(400, 'a');
    const std::string cut = DriverStartLogLine("install", "\"x\"", longArguments, 1);
    EXPECT_EQ(cut.size(), kDriverLogLineSize - 1);
    EXPECT_EQ(cut, ("install \"x\" " + longArguments).substr(0, kDriverLogLineSize - 1));
}

} // namespace
