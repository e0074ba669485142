// Explorer's menus as the running service leaves them: the sharing entry while it runs, and after its
// stop none of the application's menus, for the machine's classes and the console user's own.

#include <gtest/gtest.h>

#include <string>

#include "ContextSandbox.h"
#include "ServiceManager.h"
#include "ShellFixture.h"

using namespace harness;
using namespace shell_test;

namespace {

constexpr wchar_t kSharing[] = L"*\\shell\\FileDock";
constexpr wchar_t kSharingCommand[] = L"*\\shell\\FileDock\\command";
constexpr wchar_t kPackages[] =
    L"Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\AppModel\\PackageRepository\\Packages";
// The run loop's log lines: the entry is written, or left to the package.
constexpr char kWritten[] = "find msix name failed, will set sendbox reg key and vaule";
constexpr char kLeftToPackage[] = "find msix name success, return directly";

class ContextMenusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveOrvelIfPresent();
        ASSERT_FALSE(ServiceExists());
        // The menus' parents as a fresh machine has them: "*" without "shell", "Directory" without it.
        for (const wchar_t* root : {L"*\\shell", L"Directory\\shell"}) {
            DeleteTree(HKEY_CLASSES_ROOT, root);
            DeleteTree(HKEY_USERS, std::wstring(kUserSidClasses) + L"\\" + root);
        }
        DeleteTree(HKEY_CLASSES_ROOT, kPackages);
        profile.EnableLog();
        // The German entry text of the stand-in resource library.
        IniWrite(profile.IniPath(), L"BrisaRDP", L"LANGUAGE", L"de-DE");
    }
    void TearDown() override
    {
        RemoveOrvelIfPresent();
        DeleteTree(HKEY_CLASSES_ROOT, kPackages);
    }

    // Starts the service and waits for the line its run loop logs once the menu is done.
    void StartAndWaitForMenu(const char* line)
    {
        ASSERT_EQ(RunSwitch(L"-install"), 0u);
        ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, kLogTimeoutMs));
        ASSERT_TRUE(WaitFor([&] { return CountLines(profile.LogText(), line) == 1; }, kLogTimeoutMs))
            << profile.LogText();
        // The line comes before the writing; the command's value is written last.
        if (std::string(line) == kWritten) {
            ASSERT_TRUE(WaitFor([] { return ReadText(HKEY_CLASSES_ROOT, kSharingCommand, L"") != harness::kMissing; },
                                kLogTimeoutMs));
        }
    }

    void Stop()
    {
        ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
        ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, kLogTimeoutMs));
    }

    UserProfileSandbox profile;
};

TEST_F(ContextMenusTest, TheRunningServiceOffersSharingWithTheQuotedApplicationInVolatileKeys)
{
    StartAndWaitForMenu(kWritten);
    const std::wstring app = AppExePath();
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kSharing, L"Icon"), L"\"" + app + L"\"");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kSharing, L"MUIVerb"), L"Mit Corvane teilen");
    // The path has blanks ("Program Files"): unquoted, Explorer would try C:\Program.exe first.
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kSharingCommand, L""), L"\"" + app + L"\" /cmd:6 /f:\"%1\"");
    EXPECT_NE(CountLines(profile.LogText(), "FindPackageFullNameByPartialName  failed open reg key"), 0);

    // The two keys go at the next restart; the parent made for them stays an ordinary key, so other
    // software can still keep lasting entries beside them.
    EXPECT_TRUE(IsVolatile(HKEY_CLASSES_ROOT, kSharing));
    EXPECT_TRUE(IsVolatile(HKEY_CLASSES_ROOT, kSharingCommand));
    EXPECT_FALSE(IsVolatile(HKEY_CLASSES_ROOT, L"*\\shell"));
}

TEST_F(ContextMenusTest, TheShellExtensionPackageKeepsTheSharingEntryToItselfOnlyWithItsExactName)
{
    CreateKey(HKEY_CLASSES_ROOT, std::wstring(kPackages) + L"\\Halvex.OrvelExtInstaller_1.0.0.0_x64__8wekyb3d8bbwe");
    StartAndWaitForMenu(kLeftToPackage);
    EXPECT_EQ(CountLines(profile.LogText(),
                         "FindPackageFullNameByPartialName  find pkg full name:Halvex.OrvelExtInstaller_1.0.0.0_x64__8wekyb3d8bbwe"),
              1);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kSharing));
    Stop();
    RemoveOrvelIfPresent();

    DeleteTree(HKEY_CLASSES_ROOT, kPackages);
    CreateKey(HKEY_CLASSES_ROOT, std::wstring(kPackages) + L"\\Halvex.orvelextinstaller_1.0.0.0_x64__8wekyb3d8bbwe");
    StartAndWaitForMenu(kWritten);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kSharingCommand));
}

TEST_F(ContextMenusTest, AfterTheStopNoneOfTheApplicationsMenusIsLeftButForeignEntriesStay)
{
    // The device submenus as the application writes them, for files and folders, in the machine's
    // classes and in the console user's own; and one device entry beyond the service's 255.
    const std::wstring userClasses = std::wstring(kUserSidClasses) + L"\\";
    for (const std::wstring& prefix : {std::wstring(), userClasses}) {
        const HKEY root = prefix.empty() ? HKEY_CLASSES_ROOT : HKEY_USERS;
        for (const wchar_t* menu : {L"*\\shell\\Corvane\\shell\\", L"Directory\\shell\\Corvane\\shell\\"}) {
            for (int device = 0; device <= 256; ++device) {
                CreateKey(root, prefix + menu + L"device" + std::to_wstring(device) + L"\\Command");
            }
            CreateKey(root, prefix + menu + L"Corvane_Scan\\Command");
        }
    }
    StartAndWaitForMenu(kWritten);
    Stop();

    for (const std::wstring& prefix : {std::wstring(), userClasses}) {
        SCOPED_TRACE(ToUtf8(prefix));
        const HKEY root = prefix.empty() ? HKEY_CLASSES_ROOT : HKEY_USERS;
        for (const wchar_t* menu : {L"*\\shell\\Corvane\\shell\\", L"Directory\\shell\\Corvane\\shell\\"}) {
            int left = 0;
            for (int device = 0; device <= 255; ++device) {
                left += KeyExists(root, prefix + menu + L"device" + std::to_wstring(device)) ? 1 : 0;
            }
            EXPECT_EQ(left, 0) << ToUtf8(menu);
            EXPECT_FALSE(KeyExists(root, prefix + menu + L"Corvane_Scan"));
            // Device 256 is not the service's: it stays, and with it the submenu above it.
            EXPECT_TRUE(KeyExists(root, prefix + menu + L"device256\\Command"));
        }
        EXPECT_FALSE(KeyExists(root, prefix + kSharing));
    }
}

TEST_F(ContextMenusTest, RegistryLinksAmongTheMenusAreLeftAloneWhatTheyNameSurvivesAndTheRestIsStillRemoved)
{
    // What the links name: machine keys shaped like the menus, which a followed link would lose.
    const std::wstring targets = kLinkTargets;
    const std::wstring native = kLinkTargetsNative;
    CreateKey(HKEY_LOCAL_MACHINE, targets + L"\\Sharing\\command");
    CreateKey(HKEY_LOCAL_MACHINE, targets + L"\\Device\\Command");
    CreateKey(HKEY_LOCAL_MACHINE, targets + L"\\Folders\\Corvane\\shell\\device0\\Command");
    const std::wstring userClasses = std::wstring(kUserSidClasses) + L"\\";
    const std::wstring fileMenu = L"*\\shell\\Corvane\\shell\\";
    CreateKey(HKEY_USERS, userClasses + fileMenu + L"device0\\Command");
    CreateKey(HKEY_CLASSES_ROOT, fileMenu + L"device1\\Command");
    // The sharing entry (written while the service runs) a link; in the user's classes a device entry and
    // the parent of the whole folder menu links.
    PlantedRegistryLink sharing(HKEY_CLASSES_ROOT, kSharing, native + L"\\Sharing");
    PlantedRegistryLink device(HKEY_USERS, userClasses + fileMenu + L"device3", native + L"\\Device");
    PlantedRegistryLink folders(HKEY_USERS, userClasses + L"Directory\\shell", native + L"\\Folders");
    ASSERT_TRUE(sharing.Planted() && device.Planted() && folders.Planted());

    ASSERT_EQ(RunSwitch(L"-install"), 0u);
    ASSERT_TRUE(WaitFor(
        [&] { return CountLines(profile.LogText(), "registry link left alone: HKEY_CLASSES_ROOT\\*\\shell\\FileDock") == 1; },
        kLogTimeoutMs))
        << profile.LogText();
    Stop();
    // Once the process is gone, nothing more is written or deleted.
    RemoveOrvelIfPresent();

    EXPECT_TRUE(sharing.StillALink() && device.StillALink() && folders.StillALink());
    EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, targets + L"\\Sharing", L"Icon"), harness::kMissing);
    EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, targets + L"\\Sharing\\command", L""), harness::kMissing);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, targets + L"\\Device\\Command"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, targets + L"\\Folders\\Corvane\\shell\\device0\\Command"));
    EXPECT_FALSE(KeyExists(HKEY_USERS, userClasses + fileMenu + L"device0"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, fileMenu + L"device1"));
    DeleteTree(HKEY_LOCAL_MACHINE, targets);
}

} // namespace
