// The driver installers: what the application's three install commands start, and with which command
// line; installers that the validation library refuses are never started; and the command-line switch
// that starts the drive bridge beside the service. The sandbox's service folder, C:\Program Files\Corvane\,
// holds a blank.

#include <algorithm>
#include <cstdlib>

#include "DriverInstallers.h"
#include "PipeFixture.h"

using namespace pipe_test;
using harness::Field;
using harness::JournalRecord;
using harness::StartArguments;

namespace {

constexpr wchar_t kDevcon[] = L"devcon.exe";
constexpr wchar_t kDiskBridge[] = L"CvDiskBridge.exe";
constexpr wchar_t kDisplaySetup[] = L"drivers\\screenshare\\DisplayDriverSetup64.exe";

const std::wstring kFolder = harness::InstallFolder();

// The signed build of an installer, as the build made it.
std::wstring BuiltInstaller(const std::wstring& relative)
{
    const std::wstring testData = harness::TestDataFolder();
    return testData.substr(0, testData.size() - std::wstring(L"testdata\\").size()) + L"sandbox\\" + relative;
}

// An installed installer replaced by a copy the library must refuse, put back when the guard goes.
class SwappedInstaller {
public:
    SwappedInstaller(const std::wstring& relative, const wchar_t* variant) : m_path(kFolder + relative)
    {
        const std::wstring name = relative.substr(relative.rfind(L'\\') + 1);
        const std::wstring copy = harness::TestDataFolder() + L"installers\\" + variant + L"\\" + name;
        EXPECT_TRUE(::CopyFileW(copy.c_str(), m_path.c_str(), FALSE)) << harness::ToUtf8(copy);
    }
    ~SwappedInstaller() { ::CopyFileW(BuiltInstaller(m_path.substr(kFolder.size())).c_str(), m_path.c_str(), FALSE); }

private:
    std::wstring m_path;
};

class DriverInstallTest : public ServiceLinkTest {
protected:
    void SetUp() override
    {
        ServiceLinkTest::SetUp();
        ASSERT_TRUE(installers.Installed()) << "run scripts/sandbox.sh after building the installers";
        ASSERT_TRUE(installers.ClearJournal());
    }

    // The service running and connected to an idle instance of the stand-in application.
    void Connect()
    {
        StartService();
        connected = StartVerifiedApp(&appId);
    }

    void Send(const std::wstring& command) { ASSERT_TRUE(app.AppendInbox(L"send " + command)); }

    // (program, argument text) of the installer starts once count have come, in journal order.
    std::vector<std::pair<std::wstring, std::wstring>> WaitStarts(std::size_t count)
    {
        std::vector<JournalRecord> starts;
        EXPECT_TRUE(installers.WaitForStarts(count, kStartTimeoutMs, &starts));
        std::vector<std::pair<std::wstring, std::wstring>> seen;
        for (const JournalRecord& start : starts) {
            seen.emplace_back(Field(start, L"exe"), StartArguments(start));
        }
        return seen;
    }

    // The result logged with a start line "<text> ret: <n>" of the tag (-1000 when there is none).
    int LoggedResult(const char* tag, const std::string& text)
    {
        const std::string prefix = text + " ret: ";
        int result = -1000;
        harness::WaitFor(
            [&] {
                for (const LogLine& line : Logged()) {
                    if (line.tag == tag && line.message.compare(0, prefix.size(), prefix) == 0) {
                        result = std::atoi(line.message.c_str() + prefix.size());
                        return true;
                    }
                }
                return false;
            },
            kLogTimeoutMs);
        return result;
    }

    harness::StandInApp installers = harness::InstalledInstaller(kDevcon);
    UniqueHandle connected;
    DWORD appId = 0;
};

using Starts = std::vector<std::pair<std::wstring, std::wstring>>;

Starts Sorted(Starts starts)
{
    std::sort(starts.begin(), starts.end());
    return starts;
}

TEST_F(DriverInstallTest, EachInstallCommandStartsItsInstallerWithExactlyItsCommandLine)
{
    Connect();
    const std::string folder = harness::ToUtf8(kFolder);

    // devcon twice, without waiting between the runs: the two may journal in either order.
    Send(L"InstallCameraDriver");
    const std::wstring devcon = kFolder + kDevcon;
    EXPECT_EQ(Sorted(WaitStarts(2)),
              Sorted({{devcon, L"remove corvanecamera"},
                      {devcon, L"install \"" + kFolder + L"drivers\\camera\\CvCamera.inf\" corvanecamera"}}));
    EXPECT_GT(LoggedResult("InstallCameraDriver", "remove \"" + folder + "devcon.exe\" remove corvanecamera"), 32);
    EXPECT_GT(LoggedResult("InstallCameraDriver", "install \"" + folder + "devcon.exe\" install \"" + folder +
                                                      "drivers\\camera\\CvCamera.inf\" corvanecamera"),
              32);

    ASSERT_TRUE(installers.ClearJournal());
    Send(L"InstallBrisaDriveDriver");
    EXPECT_EQ(WaitStarts(1), Starts({{kFolder + kDiskBridge, L"/i d"}}));
    EXPECT_GT(LoggedResult("InstallBrisaDriveDriver", "install \"" + folder + "CvDiskBridge.exe\" /i d"), 32);

    // The service folder follows the comma unquoted, blank and all.
    ASSERT_TRUE(installers.ClearJournal());
    Send(L"InstallScreenShareDriver");
    const std::wstring setup = kFolder + kDisplaySetup;
    const std::wstring screenShare = kFolder + L"drivers\\screenshare\\";
    EXPECT_EQ(Sorted(WaitStarts(2)),
              Sorted({{setup, L"-uninstall_SS," + screenShare}, {setup, L"-install_SS," + screenShare}}));
    EXPECT_TRUE(WaitLogged("InstallSSDriver", " end..."));
    const std::string quotedSetup = "install \"" + harness::ToUtf8(setup) + "\" ";
    EXPECT_EQ(MessagesFrom("InstallSSDriver", " start..."), (std::vector<std::string>{" start...", " end..."}));
    EXPECT_EQ(MessagesFrom("InstallVirtualDriverBase", quotedSetup + "-uninstall_SS," + harness::ToUtf8(screenShare) +
                                                           " ret: 1"),
              (std::vector<std::string>{quotedSetup + "-uninstall_SS," + harness::ToUtf8(screenShare) + " ret: 1",
                                        quotedSetup + "-install_SS," + harness::ToUtf8(screenShare) + " ret: 1"}));
}

TEST_F(DriverInstallTest, AnUnsignedOrForeignSignedInstallerIsNeverStartedAndLogsItsOneLine)
{
    Connect();
    int round = 0;
    for (const wchar_t* variant : {L"unsigned", L"other-publisher"}) {
        SCOPED_TRACE(harness::ToUtf8(variant));
        ++round;
        const SwappedInstaller devcon(kDevcon, variant);
        const SwappedInstaller bridge(kDiskBridge, variant);
        const SwappedInstaller setup(kDisplaySetup, variant);
        Send(L"InstallCameraDriver");
        EXPECT_TRUE(WaitLogged(kServiceTag, "InstallCameraDriver ValidateAssembly result is fail", round));
        Send(L"InstallBrisaDriveDriver");
        EXPECT_TRUE(WaitLogged(kServiceTag, "InstallBrisaDriveDriver ValidateAssembly result is fail", round));
        // Both screen-share runs are checked, and refused, each on its own.
        Send(L"InstallScreenShareDriver");
        EXPECT_TRUE(WaitLogged("InstallSSDriver", " end...", round));
        EXPECT_EQ(CountLogged(kServiceTag, "InstallVirtualDriverBase ValidateAssembly result is fail"), 2 * round);
    }
    // The signed bridge is back: its start is the first and only one the journal holds.
    Send(L"InstallBrisaDriveDriver");
    EXPECT_EQ(WaitStarts(1), Starts({{kFolder + kDiskBridge, L"/i d"}}));
    EXPECT_EQ(CountLogged(kServiceTag, "InstallBrisaDriveDriver ValidateAssembly result is fail"), 2);
    EXPECT_EQ(installers.Starts().size(), 1u);
    EXPECT_EQ(CountLogged(kServiceTag, "InstallCameraDriver ValidateAssembly result is fail"), 2);
    for (const char* tag : {"InstallCameraDriver", "InstallVirtualDriverBase"}) {
        EXPECT_EQ(CountLoggedPrefix(tag, ""), 0) << tag;
    }
    // Each refusal is also an error event naming the installer, reported before the bridge's start.
    const std::vector<harness::ReportedInsert> reported = events.Reported();
    const auto refusals = [&](const std::wstring& path) {
        int count = 0;
        for (std::size_t i = 0; i + 1 < reported.size(); ++i) {
            count += reported[i].level == "err" && reported[i].text == path &&
                             reported[i + 1].text.rfind(L"its signature check failed", 0) == 0
                         ? 1
                         : 0;
        }
        return count;
    };
    EXPECT_EQ(refusals(kFolder + kDevcon), 2);
    EXPECT_EQ(refusals(kFolder + kDiskBridge), 2);
    EXPECT_EQ(refusals(kFolder + kDisplaySetup), 4);
}

// The switch runs in the command-line process, from wherever that executable lies.
TEST_F(LinkTest, InstallCloudyDriverSwitchStartsTheBridgeBesideTheServiceUnquotedAndLogsNothing)
{
    const harness::StandInApp installers = harness::InstalledInstaller(kDiskBridge);
    ASSERT_TRUE(installers.ClearJournal());
    // A service folder of its own, with a blank, away from the install folder the registry names.
    harness::TempFolder service(L"orvel service");
    for (const wchar_t* file : {L"DemonService.exe", L"Halvex.SignatureCheck.Native.dll"}) {
        ASSERT_TRUE(::CopyFileW((kFolder + file).c_str(), (service / file).c_str(), FALSE));
    }
    const std::wstring bridge = service / kDiskBridge;
    const auto runSwitch = [&](const wchar_t* word) {
        EXPECT_EQ(harness::RunAndWait(service / L"DemonService.exe", word, 60000), 0u);
    };

    runSwitch(L"-installCloudyDriver"); // no bridge there: nothing at all
    const std::wstring unsignedCopy = harness::TestDataFolder() + L"installers\\unsigned\\CvDiskBridge.exe";
    ASSERT_TRUE(::CopyFileW(unsignedCopy.c_str(), bridge.c_str(), FALSE));
    runSwitch(L"/InstallCloudyDriver");
    EXPECT_TRUE(WaitLogged(kServiceTag, "InstallCloudyDriver ValidateAssembly fail"));

    ASSERT_TRUE(::CopyFileW(BuiltInstaller(kDiskBridge).c_str(), bridge.c_str(), FALSE));
    runSwitch(L"-InstallCloudyDriver");
    std::vector<JournalRecord> starts;
    ASSERT_TRUE(installers.WaitForStarts(1, kStartTimeoutMs, &starts));
    EXPECT_EQ(starts.size(), 1u);
    EXPECT_EQ(Field(starts.front(), L"exe"), bridge);
    EXPECT_EQ(StartArguments(starts.front()), L"/i d");
    // One line in all: the refusal's.
    EXPECT_EQ(Logged().size(), 1u);
    EXPECT_TRUE(harness::WaitFor([&] { return ::DeleteFileW(bridge.c_str()) != FALSE; }, kLogTimeoutMs));
}

} // namespace
