// The installer's last step, "-runCorvane": the application starts for the user at the user's level,
// through the token of the shell window's owner, and only when that shell runs at the user's level in
// the caller's session (under Wine it never does: every process runs at high integrity).

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

TEST_F(RunCorvaneSwitchTest, AShellAboveMediumIntegrityStartsNothingAndTheLogSaysWhy)
{
    // Every Wine process runs at high integrity, the stand-in shell too: its token is not lent.
    ASSERT_TRUE(shell.Start());
    for (const wchar_t* argument : {L"-runCorvane", L"/RunCorvane"}) {
        EXPECT_EQ(RunSwitch(argument), 0u) << ToUtf8(argument);
    }
    // The switch returns 2 s after its start call; a started process would exist by now. (The line that
    // says why is shown where the launch is called in-process.)
    EXPECT_TRUE(app.RunningProcesses().empty());
    EXPECT_TRUE(app.Starts().empty());
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

} // namespace
