// Starting the application in the console user's session, through the real session, token and
// process calls.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Sandbox.h"
#include "SupervisionFixture.h"
#include "supervision/RunCorvane.h"

using namespace supervision_test;
using harness::Field;
using harness::JournalRecord;
using harness::StandInApp;

namespace {

std::wstring CurrentDirectory()
{
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    return folder;
}

std::wstring OwnUserName()
{
    wchar_t name[257] = {};
    DWORD size = 257;
    ::GetUserNameW(name, &size);
    return name;
}

// The folder the process runs in, as the system reports a current directory (no trailing backslash).
std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

class RunCorvaneTest : public SupervisionTest {
protected:
    JournalRecord LaunchAndWaitForStart(const StandInApp& which, int background)
    {
        which.ClearJournal();
        RunCorvane(which.ExePath().c_str(), background);
        std::vector<JournalRecord> starts;
        EXPECT_TRUE(which.WaitForStarts(1, kStartTimeoutMs, &starts)) << "background " << background;
        return starts.empty() ? JournalRecord() : starts.front();
    }
};

TEST_F(RunCorvaneTest, StartsTheApplicationOnTheUsersDesktopWithItsQuotedPathInItsFolder)
{
    const std::wstring quoted = L"\"" + app.ExePath() + L"\"";
    const struct {
        int background;
        std::wstring commandLine;
    } cases[] = {
        {0, quoted},
        {1, quoted + L" /mode:background"},
        {2, quoted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.background);
        ::SetCurrentDirectoryW(L"C:\\");
        const JournalRecord start = LaunchAndWaitForStart(app, c.background);
        EXPECT_EQ(Field(start, L"cmdline"), c.commandLine);
        EXPECT_EQ(Field(start, L"exe"), app.ExePath());
        EXPECT_EQ(Field(start, L"cwd"), FolderOf(app.ExePath()));
        EXPECT_EQ(Field(start, L"session"), L"1");
        EXPECT_EQ(Field(start, L"desktop"), L"winsta0\\default");
        EXPECT_EQ(Field(start, L"user"), OwnUserName());
        // The folder is the caller's current directory from now on, not only the new process's.
        EXPECT_EQ(CurrentDirectory(), FolderOf(app.ExePath()));
        EXPECT_EQ(app.KillAll(), 1u);
    }
    EXPECT_EQ(CountLogged("RunCorvane"), 3);
    EXPECT_EQ(CountLogged("RunCorvane fail"), 0);
}

TEST_F(RunCorvaneTest, TheApplicationGetsTheUsersEnvironmentNotTheCallers)
{
    wchar_t saved[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"APPDATA", saved, MAX_PATH);
    const std::wstring callersOnly = L"C:\\callers-own-appdata";
    ::SetEnvironmentVariableW(L"APPDATA", callersOnly.c_str());

    const JournalRecord start = LaunchAndWaitForStart(app, 0);
    ::SetEnvironmentVariableW(L"APPDATA", saved[0] != L'\0' ? saved : nullptr);

    const std::wstring appData = Field(start, L"appdata");
    EXPECT_FALSE(appData.empty());
    EXPECT_NE(appData, callersOnly);
}

TEST_F(RunCorvaneTest, BlanksInThePathNeverSelectAnotherProgram)
{
    // "<temp>\Two Words\Corvane.exe" with "<temp>\Two.exe" beside its folder: read unquoted, the command
    // line would start Two.exe.
    harness::TempFolder root(L"launch");
    const std::wstring appFolder = root / L"Two Words";
    harness::CreateFolders(appFolder);
    ASSERT_TRUE(::CopyFileW(app.ExePath().c_str(), (appFolder + L"\\Corvane.exe").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(app.ExePath().c_str(), (root / L"Two.exe").c_str(), FALSE));
    const StandInApp spaced(appFolder + L"\\Corvane.exe");
    const StandInApp decoy(root / L"Two.exe");
    ScopeExit cleanUp([&] {
        ::SetCurrentDirectoryW(L"C:\\");
        spaced.KillAll();
        decoy.KillAll();
    });

    const JournalRecord start = LaunchAndWaitForStart(spaced, 1);
    EXPECT_EQ(Field(start, L"exe"), spaced.ExePath());
    EXPECT_EQ(Field(start, L"cmdline"), L"\"" + spaced.ExePath() + L"\" /mode:background");
    EXPECT_EQ(Field(start, L"cwd"), appFolder);
    // RunCorvane has returned: whatever it started is running now.
    EXPECT_EQ(spaced.RunningProcesses().size(), 1u);
    EXPECT_TRUE(decoy.RunningProcesses().empty());
    EXPECT_TRUE(decoy.Starts().empty());
}

TEST_F(RunCorvaneTest, NullPathIsLoggedAfterTheSessionQueryAndStartsNothing)
{
    RunCorvane(nullptr, 1);
    EXPECT_EQ(Logged(), (std::vector<std::string>{"RunCorvane", "RunCorvane path is NULL"}));
    EXPECT_TRUE(app.RunningProcesses().empty());
    EXPECT_TRUE(app.Starts().empty());
}

TEST_F(RunCorvaneTest, APathTooLongForTheCommandLineIsRefusedNotCut)
{
    // The installed path with blanks after it: cut to the buffer, it would still name the application.
    const std::wstring longPath = app.ExePath() + std::wstring(600, L' ');
    RunCorvane(longPath.c_str(), 1);
    EXPECT_EQ(Logged(), (std::vector<std::string>{"RunCorvane", "RunCorvane fail"}));
    EXPECT_TRUE(app.RunningProcesses().empty());
    EXPECT_TRUE(app.Starts().empty());
}

TEST_F(RunCorvaneTest, AProgramThatCannotBeStartedLogsTheFailureOnceAndKeepsNoHandle)
{
    harness::TempFolder root(L"launch");
    ScopeExit leaveFolder([] { ::SetCurrentDirectoryW(L"C:\\"); });
    const std::wstring missing = root / L"Corvane.exe";
    RunCorvane(missing.c_str(), 0);
    EXPECT_EQ(Logged(), (std::vector<std::string>{"RunCorvane", "RunCorvane fail"}));
    // The folder was entered all the same: the working folder is set before the start is tried.
    EXPECT_EQ(CurrentDirectory(), root.Path());

    // Token and environment block are given back on the failure path. Handle tables hand out the lowest
    // free entry, so a handle kept by each of many failed starts pushes a new handle's value up.
    const auto lowestFreeHandle = [] {
        UniqueHandle probe(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        return reinterpret_cast<std::uintptr_t>(probe.get());
    };
    const std::uintptr_t before = lowestFreeHandle();
    constexpr int kAttempts = 50;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        RunCorvane(missing.c_str(), attempt % 2);
    }
    const std::uintptr_t after = lowestFreeHandle();
    EXPECT_LT(after, before + (kAttempts / 2) * kHandleStep);
    EXPECT_EQ(CountLogged("RunCorvane fail"), 51);
}

} // namespace
