// Starting a program at the user's integrity level from an elevated command line. Every Wine process
// reports high integrity, so the token of the shell window's owner (here the stand-in shell) is borrowed
// and then refused, as an elevated shell's token is; the start with a user's token that follows a
// token that passes is shown with this process's own (the direct route, and the check of the borrowed
// token, are covered by the native tests of the choices).

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

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

// A primary copy of this process's own token: the user's, as the shell's would be.
UniqueHandle OwnPrimaryToken()
{
    UniqueHandle own;
    UniqueHandle primary;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE, own.put())) {
        ::DuplicateTokenEx(own.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, primary.put());
    }
    return primary;
}

class MediumIntegrityLaunchTest : public SupervisionTest {
protected:
    DWORD Launch(PROCESS_INFORMATION* record)
    {
        wchar_t commandLine[kCommandLineChars] = L"/nocheck:y";
        return CreateProcessMediumIL(app.ExePath().c_str(), commandLine, 0, record);
    }

    DWORD LaunchWithUserToken(const std::wstring& path, PROCESS_INFORMATION* record)
    {
        wchar_t commandLine[kCommandLineChars] = L"/nocheck:y";
        const UniqueHandle token = OwnPrimaryToken();
        EXPECT_TRUE(token.valid());
        return StartWithUserToken(token.get(), path.c_str(), commandLine, record);
    }

    bool WaitForStartOf(DWORD processId, JournalRecord* start)
    {
        return app.WaitForRecord(
            [processId](const JournalRecord& record) {
                return Field(record, L"event") == L"start" && NumberField(record, L"pid") == processId;
            },
            kStartTimeoutMs, start);
    }

    harness::StandInShell shell;
};

TEST_F(MediumIntegrityLaunchTest, AShellAboveMediumIntegrityLendsNoTokenNothingStartsAndTheLogSaysWhy)
{
    ASSERT_TRUE(shell.Start());
    PROCESS_INFORMATION record = {};
    EXPECT_EQ(Launch(&record), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(record.hProcess, nullptr);
    EXPECT_EQ(record.dwProcessId, 0u);
    // The start is synchronous, and the fallback is not tried either.
    EXPECT_TRUE(app.RunningProcesses().empty());
    EXPECT_TRUE(app.Starts().empty());
    EXPECT_EQ(Logged(), std::vector<std::string>{
                            "CreateProcessMediumIL shell token refused: its integrity level 0x3000 is not medium"});
}

TEST_F(MediumIntegrityLaunchTest, AUsersTokenStartsTheProgramWithTheCommandLineAloneAndHandsOverItsHandles)
{
    PROCESS_INFORMATION record = {};
    ASSERT_EQ(LaunchWithUserToken(app.ExePath(), &record), 0u);
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
    ASSERT_EQ(LaunchWithUserToken(app.ExePath(), nullptr), 0u);  // warms up whatever the first start allocates once
    ASSERT_TRUE(app.WaitForStarts(1, kStartTimeoutMs));
    app.KillAll();

    const std::uintptr_t before = LowestFreeHandle();
    constexpr int kStarts = 8;
    const UniqueHandle token = OwnPrimaryToken();
    for (int i = 0; i < kStarts; ++i) {
        wchar_t commandLine[kCommandLineChars] = L"/nocheck:y";
        ASSERT_EQ(StartWithUserToken(token.get(), app.ExePath().c_str(), commandLine, nullptr), 0u);
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

// A document the shell opens with the stand-in application, which a user's token cannot start as a
// program: the start falls back to the shell's "open" verb.
class FileTypeGuard {
public:
    FileTypeGuard()
    {
        SetDefault(L".orveltest", L"OrvelTestFile");
        SetDefault(L"OrvelTestFile\\shell\\open\\command", L"\"" + harness::AppExePath() + L"\" \"%1\"");
    }
    ~FileTypeGuard()
    {
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L".orveltest");
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"OrvelTestFile");
    }

private:
    static void SetDefault(const wchar_t* key, const std::wstring& value)
    {
        UniqueRegKey created;
        ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, created.put(), nullptr);
        ::RegSetValueExW(created.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
};

TEST_F(MediumIntegrityLaunchTest, AFileTheValidatorRejectsIsNeverStartedThroughTheShellFallback)
{
    FileTypeGuard fileType;
    harness::TempFolder folder(L"untrusted");
    const std::wstring document = folder / L"Untrusted.orveltest";
    harness::WriteFileBytes(document, "not a program\r\n");

    // The fallback's own effect, without the check: the shell opens the document with the stand-in.
    ::ShellExecuteW(nullptr, L"open", document.c_str(), L"/nocheck:y", nullptr, SW_HIDE);
    ASSERT_TRUE(app.WaitForStarts(1, kStartTimeoutMs)) << "the shell does not open the test document";
    app.Reset();

    PROCESS_INFORMATION record = {};
    EXPECT_NE(LaunchWithUserToken(document, &record), 0u);
    EXPECT_EQ(record.hProcess, nullptr);
    EXPECT_EQ(Logged(), std::vector<std::string>{"CreateProcessMediumIL ValidateAssembly fail"});
    EXPECT_TRUE(app.RunningProcesses().empty());
    EXPECT_TRUE(app.Starts().empty());
}

} // namespace
