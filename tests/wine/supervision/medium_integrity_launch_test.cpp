// Starting a program at the user's integrity level from an elevated command line: every Wine process
// reports high integrity, so the program is started with the token of the shell window's owner, here
// the stand-in shell (the direct route is covered by the native test of the choice).

#include <windows.h>

#include <cstdint>
#include <string>

#include "StandInShell.h"
#include "SupervisionFixture.h"
#include "supervision/MediumIntegrityLaunch.h"

using namespace supervision_test;
using harness::Field;
using harness::JournalRecord;
using harness::NumberField;

namespace {

constexpr std::size_t kCommandLineChars = 64;

// Handle tables hand out the lowest free entry: a handle kept by each of many calls pushes a new
// handle's value up.
std::uintptr_t LowestFreeHandle()
{
    UniqueHandle probe(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return reinterpret_cast<std::uintptr_t>(probe.get());
}

class MediumIntegrityLaunchTest : public SupervisionTest {
protected:
    DWORD Launch(PROCESS_INFORMATION* record)
    {
        wchar_t commandLine[kCommandLineChars] = L"/nocheck:y";
        return CreateProcessMediumIL(app.ExePath().c_str(), commandLine, 0, record);
    }

    bool WaitForStartOf(DWORD processId, JournalRecord* start)
    {
        return app.WaitForRecord(
            [processId](const JournalRecord& record) {
                return Field(record, L"event") == L"start" && NumberField(record, L"pid") == processId;
            },
            kStartTimeoutMs, start);
    }

    // What a failed launch met: who owns the shell window now, and whether the stand-in shell still runs.
    std::string ShellState() const
    {
        DWORD exitCode = 0;
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell.ProcessId()));
        const bool ended = !process || !::GetExitCodeProcess(process.get(), &exitCode) || exitCode != STILL_ACTIVE;
        return "shell window owned by process " + std::to_string(harness::ShellWindowProcessId()) +
               ", stand-in shell " + std::to_string(shell.ProcessId()) +
               (ended ? " ended (exit code " + std::to_string(exitCode) + ")" : " running");
    }

    harness::StandInShell shell;
};

TEST_F(MediumIntegrityLaunchTest, TheShellsTokenStartsTheProgramWithTheCommandLineAloneAndHandsOverItsHandles)
{
    ASSERT_TRUE(shell.Start());
    PROCESS_INFORMATION record = {};
    ASSERT_EQ(Launch(&record), 0u) << ShellState();
    UniqueHandle process(record.hProcess);
    UniqueHandle thread(record.hThread);

    // The record's handles are the caller's and name the new process.
    ASSERT_NE(record.dwProcessId, 0u);
    EXPECT_EQ(::GetProcessId(process.get()), record.dwProcessId);
    EXPECT_EQ(::GetThreadId(thread.get()), record.dwThreadId);
    JournalRecord start;
    ASSERT_TRUE(WaitForStartOf(record.dwProcessId, &start));
    // No program name in front: the shell fallback would have put the quoted path there.
    EXPECT_EQ(Field(start, L"cmdline"), L"/nocheck:y");
    EXPECT_EQ(Field(start, L"exe"), app.ExePath());
    EXPECT_EQ(CountLogged("CreateProcessMediumIL ValidateAssembly fail"), 0);
}

TEST_F(MediumIntegrityLaunchTest, WithoutARecordNoHandleOfTheNewProcessStaysOpen)
{
    ASSERT_TRUE(shell.Start());
    ASSERT_EQ(Launch(nullptr), 0u) << ShellState();  // warms up whatever the first start allocates once
    ASSERT_TRUE(app.WaitForStarts(1, kStartTimeoutMs));
    app.KillAll();

    const std::uintptr_t before = LowestFreeHandle();
    constexpr int kStarts = 8;
    for (int i = 0; i < kStarts; ++i) {
        ASSERT_EQ(Launch(nullptr), 0u) << ShellState();
    }
    const std::uintptr_t after = LowestFreeHandle();
    EXPECT_TRUE(app.WaitForStarts(1 + kStarts, kStartTimeoutMs));
    // Two handles (process and thread) kept per start would move the lowest free handle by 16 entries.
    EXPECT_LT(after, before + kStarts * kHandleStep);
}

TEST_F(MediumIntegrityLaunchTest, WithoutAShellWindowNothingStartsAndTheResultIsAnError)
{
    ASSERT_EQ(harness::ShellWindowProcessId(), 0u) << "a shell window is left from elsewhere";
    PROCESS_INFORMATION record = {};
    EXPECT_NE(Launch(&record), 0u);
    EXPECT_EQ(record.hProcess, nullptr);
    EXPECT_EQ(record.dwProcessId, 0u);
    // The start is synchronous: a process made by the call would exist now.
    EXPECT_TRUE(app.RunningProcesses().empty());
    EXPECT_TRUE(app.Starts().empty());
    EXPECT_EQ(CountLogged("CreateProcessMediumIL ValidateAssembly fail"), 0);
}

} // namespace
