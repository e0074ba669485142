#include <gtest/gtest.h>

#include "host/StatusText.h"

namespace {

TEST(StatusText, ExitCodeFollowsTheServiceState)
{
    EXPECT_EQ(StatusExitCode(std::nullopt), 4);  // not installed, or the state could not be read
    EXPECT_EQ(StatusExitCode(4u), 0);            // running
    EXPECT_EQ(StatusExitCode(7u), 0);            // paused: the service still does its work
    EXPECT_EQ(StatusExitCode(6u), 0);
    EXPECT_EQ(StatusExitCode(5u), 0);
    EXPECT_EQ(StatusExitCode(1u), 3);            // stopped
    EXPECT_EQ(StatusExitCode(2u), 3);            // not running yet
    EXPECT_EQ(StatusExitCode(3u), 3);            // on its way out
    EXPECT_EQ(StatusExitCode(0u), 3);
    EXPECT_EQ(StatusExitCode(99u), 3);
    EXPECT_EQ(ServiceStateText(2), "start pending");
    EXPECT_EQ(ServiceStateText(99), "state 99");
    EXPECT_EQ(StartTypeText(3), "demand start");
    EXPECT_EQ(StartTypeText(9), "start type 9");
}

TEST(StatusText, QuotedImagePathsAndTheExecutableTheyName)
{
    struct Case {
        const wchar_t* imagePath;
        ImagePathQuoting quoting;
        const wchar_t* executable;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\Corvane\\DemonService.exe\"", ImagePathQuoting::Quoted,
         L"C:\\Program Files\\Corvane\\DemonService.exe"},
        {L"\"C:\\a b\\x.exe\" -k", ImagePathQuoting::Quoted, L"C:\\a b\\x.exe"},
        {L"C:\\Program Files\\Corvane\\DemonService.exe", ImagePathQuoting::UnquotedWithBlank,
         L"C:\\Program Files\\Corvane\\DemonService.exe"},
        {L"C:\\Svc\\DemonService.EXE -k x y", ImagePathQuoting::Unquoted, L"C:\\Svc\\DemonService.EXE"},
        {L"C:\\my.exe.d\\svc.exe", ImagePathQuoting::Unquoted, L"C:\\my.exe.d\\svc.exe"},
        {L"C:\\Svc\\DemonService", ImagePathQuoting::Unquoted, L"C:\\Svc\\DemonService"},
        // An opening quote without its closing one is no quoting.
        {L"\"C:\\a b\\x.exe", ImagePathQuoting::UnquotedWithBlank, L"\"C:\\a b\\x.exe"},
        {L"\"", ImagePathQuoting::Unquoted, L"\""},
        {L"", ImagePathQuoting::Unquoted, L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyImagePath(c.imagePath), c.quoting) << testing::PrintToString(std::wstring(c.imagePath));
        EXPECT_EQ(ImagePathExecutable(c.imagePath), c.executable);
    }
    EXPECT_EQ(ImagePathQuotingText(ImagePathQuoting::Quoted), "yes");
    EXPECT_EQ(ImagePathQuotingText(ImagePathQuoting::Unquoted), "no");
}

TEST(StatusText, RecoveryActionsAndFailedReads)
{
    EXPECT_EQ(RecoveryActionsText(86400, {{1, 1000}, {1, 5000}, {1, 60000}}),
              "restart after 1 s, restart after 5 s, restart after 60 s; failures forgotten after 86400 s");
    EXPECT_EQ(RecoveryActionsText(0, {{0, 0}, {2, 1500}, {3, 0}, {9, 0}}),
              "nothing, reboot after 1500 ms, run a command after 0 s, action 9; failures forgotten after 0 s");
    EXPECT_EQ(RecoveryActionsText(86400, {}), "none");
    EXPECT_EQ(ReadFailureText(5), "access denied");
    EXPECT_EQ(ReadFailureText(124), "unavailable (error 124)");
}

TEST(StatusText, EachValueStaysOnItsOwnLine)
{
    EXPECT_EQ(StatusLine("service", "running"), "service: running\r\n");
    EXPECT_EQ(StatusLine("Service.Connected", ""), "Service.Connected: \r\n");
    // A value written by someone else cannot add a line that looks like the report's own.
    EXPECT_EQ(StatusLine("Service.Client_run", "x\r\nservice: running\x7f\t"),
              "Service.Client_run: x??service: running??\r\n");
    // UTF-8 passes unchanged.
    EXPECT_EQ(StatusLine("console user", "VM\\J\xc3\xbcrgen"), "console user: VM\\J\xc3\xbcrgen\r\n");
}

} // namespace
