// The installer's last step, "-runCorvane": the application starts for the user at the user's level,
// through the token of the shell window's owner (the stand-in shell), and only then.

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "ContextSandbox.h"
#include "ServiceManager.h"
#include "ShellFixture.h"
#include "StandInApp.h"
#include "StandInShell.h"
#include "StandInTest.h"

using namespace harness;
using namespace shell_test;
using harness::Field;
using harness::JournalRecord;

namespace {


class RunCorvaneSwitchTest : public harness::StandInTest {
protected:
    harness::StandInShell shell;
};

TEST_F(RunCorvaneSwitchTest, WithTheShellRunningTheApplicationStartsWithTheNoCheckSwitchAlone)
{
    ASSERT_TRUE(shell.Start());
    for (const wchar_t* argument : {L"-runCorvane", L"/RunCorvane"}) {
        SCOPED_TRACE(ToUtf8(argument));
        app.ClearJournal();
        EXPECT_EQ(RunSwitch(argument), 0u);
        std::vector<JournalRecord> starts;
        ASSERT_TRUE(app.WaitForStarts(1, kStartTimeoutMs, &starts));
        // Exactly the switch: a start through the shell's "open" verb would carry the quoted path first.
        EXPECT_EQ(Field(starts.front(), L"cmdline"), L"/nocheck:y");
        EXPECT_EQ(Field(starts.front(), L"exe"), AppExePath());
        EXPECT_EQ(app.KillAll(), 1u);
    }
}

TEST_F(RunCorvaneSwitchTest, ARunningApplicationIsStartedOnceMore)
{
    ASSERT_TRUE(shell.Start());
    DWORD runningId = 0;
    UniqueHandle running = app.Start(std::wstring(), &runningId);
    ASSERT_TRUE(app.WaitForStarts(1, kStartTimeoutMs));
    EXPECT_EQ(RunSwitch(L"-runCorvane"), 0u);
    std::vector<JournalRecord> starts;
    ASSERT_TRUE(app.WaitForStarts(2, kStartTimeoutMs, &starts));
    EXPECT_EQ(Field(starts.back(), L"cmdline"), L"/nocheck:y");
}

TEST_F(RunCorvaneSwitchTest, WithoutAShellWindowNothingStarts)
{
    ASSERT_EQ(harness::ShellWindowProcessId(), 0u);
    EXPECT_EQ(RunSwitch(L"-runCorvane"), 0u);
    // The switch returns 2 s after its start call; a started process would exist by now.
    EXPECT_TRUE(app.RunningProcesses().empty());
    EXPECT_TRUE(app.Starts().empty());
    EXPECT_EQ(CountLines(profile.LogText(), "CreateProcessMediumIL ValidateAssembly fail"), 0);
}

// A document the shell opens with the stand-in application, which the shell's token cannot start as a
// program: the start falls back to the shell's "open" verb.
class FileTypeGuard {
public:
    FileTypeGuard()
    {
        CreateKey(HKEY_CLASSES_ROOT, L".orveltest");
        ::RegSetKeyValueW(HKEY_CLASSES_ROOT, L".orveltest", nullptr, REG_SZ, L"OrvelTestFile",
                          sizeof(L"OrvelTestFile"));
        const std::wstring command = L"\"" + AppExePath() + L"\" \"%1\"";
        CreateKey(HKEY_CLASSES_ROOT, L"OrvelTestFile\\shell\\open\\command");
        ::RegSetKeyValueW(HKEY_CLASSES_ROOT, L"OrvelTestFile\\shell\\open\\command", nullptr, REG_SZ, command.c_str(),
                          static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    }
    ~FileTypeGuard()
    {
        DeleteTree(HKEY_CLASSES_ROOT, L".orveltest");
        DeleteTree(HKEY_CLASSES_ROOT, L"OrvelTestFile");
    }
};

TEST_F(RunCorvaneSwitchTest, AFileTheValidatorRejectsIsNeverStartedThroughTheShellFallback)
{
    FileTypeGuard fileType;
    TempFolder folder(L"untrusted");
    const std::wstring document = folder / L"Untrusted.orveltest";
    WriteFileBytes(document, "not a program\r\n");

    // The fallback's own effect, without the service: the shell opens the document with the stand-in.
    ::ShellExecuteW(nullptr, L"open", document.c_str(), L"/nocheck:y", nullptr, SW_HIDE);
    ASSERT_TRUE(app.WaitForStarts(1, kStartTimeoutMs)) << "the shell does not open the test document";
    app.Reset();

    RegistryValueGuard installedPath(HKEY_LOCAL_MACHINE, kInstallKey, L"path");
    installedPath.Set(document);
    ASSERT_TRUE(shell.Start());
    EXPECT_EQ(RunSwitch(L"-runCorvane"), 0u);

    EXPECT_EQ(CountLines(profile.LogText(), "DemonService  CreateProcessMediumIL ValidateAssembly fail"), 1)
        << profile.LogText();
    EXPECT_TRUE(app.RunningProcesses().empty());
    EXPECT_TRUE(app.Starts().empty());
}

} // namespace
