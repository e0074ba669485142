// The daily log: its marker file, its settings keys, its line format, and the panic log.

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "ContextSandbox.h"
#include "base/DiagnosticLog.h"

using namespace harness;

namespace {

class DiagnosticLogTest : public ::testing::Test {
protected:
    UserProfileSandbox profile;
    DemonService* service = FreshContext();

};

std::wstring TodaysLogName()
{
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    wchar_t name[64] = {};
    std::swprintf(name, 64, L"%d-%02d-%02d_service.log", now.wYear, now.wMonth, now.wDay);
    return name;
}

TEST_F(DiagnosticLogTest, WithoutTheMarkerLinesAreDroppedAndTheKeysSayOff)
{
    LogMessage("DemonService", "dropped", "DemonService\\DemonService.cpp", 10);
    EXPECT_TRUE(profile.LogFiles().empty());
    EXPECT_TRUE(PathExists(profile.LogFolder()));  // the folders are made on the way
    EXPECT_EQ(profile.ServiceKey(L"Debug"), L"0");
    EXPECT_EQ(profile.ServiceKey(L"Log_Path"), L"");
    EXPECT_EQ(profile.ServiceKey(L"write_log"), harness::kMissing);
}

TEST_F(DiagnosticLogTest, WithTheMarkerTheDayNamedFileGetsExactLines)
{
    profile.EnableLog();
    const std::wstring logPath = profile.LogFolder() + L"\\" + TodaysLogName();
    WriteFileBytes(logPath, "earlier line\r\n");

    LogMessage("ServiceClient", "hello world", "DemonService\\DemonServiceClient.cpp", 77);
    LogMessage("DemonService", "", "plain.cpp", 5);

    EXPECT_EQ(profile.ServiceKey(L"Debug"), L"1");
    EXPECT_EQ(profile.ServiceKey(L"write_log"), L"1");
    EXPECT_EQ(profile.ServiceKey(L"Log_Path"), logPath);

    const std::string text = ReadFileBytes(logPath);
    const std::regex expected("earlier line\r\n"
                              "\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{3}, DemonServiceClient\\.cpp:77 ServiceClient  "
                              "hello world\r\n"
                              "\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{3}, plain\\.cpp:5 DemonService  \r\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(DiagnosticLogTest, NullTagOrMessageProducesNothing)
{
    profile.EnableLog();
    service->WriteLog(nullptr, "message", "f.cpp", 1, false);
    service->WriteLog("tag", nullptr, "f.cpp", 1, true);
    EXPECT_TRUE(profile.LogFiles().empty());
    EXPECT_EQ(profile.ServiceKey(L"Debug"), harness::kMissing);
}

TEST_F(DiagnosticLogTest, TheMarkerIsLookedAtOnlyWhileTheFileIsClosed)
{
    LogMessage("DemonService", "before marker", "f.cpp", 1);
    profile.EnableLog();
    LogMessage("DemonService", "after marker", "f.cpp", 2);
    ::DeleteFileW((profile.LogFolder() + L"\\debug").c_str());
    LogMessage("DemonService", "marker gone, file still open", "f.cpp", 3);

    const std::string text = profile.LogText();
    EXPECT_EQ(CountLines(text, "before marker"), 0);
    EXPECT_EQ(CountLines(text, "after marker"), 1);
    EXPECT_EQ(CountLines(text, "marker gone, file still open"), 1);

    // Closed again (as the stop sequence does), the missing marker switches it off.
    service->CloseLogFile();
    LogMessage("DemonService", "after close", "f.cpp", 4);
    EXPECT_EQ(CountLines(profile.LogText(), "after close"), 0);
}

TEST_F(DiagnosticLogTest, APanicEntryOpensTheLogWithoutTheMarker)
{
    WritePanicLog("RegisterServiceCtrlHandlerEx fail", true);
    LogMessage("DemonService", "ordinary after panic", "f.cpp", 9);
    const std::string text = profile.LogText();
    EXPECT_TRUE(std::regex_search(text, std::regex(", :-1 PANIC  RegisterServiceCtrlHandlerEx fail\r\n"))) << text;
    EXPECT_EQ(CountLines(text, "ordinary after panic"), 1);
    EXPECT_EQ(profile.ServiceKey(L"write_log"), L"1");
}

TEST_F(DiagnosticLogTest, ConcurrentWritersLeaveWholeLines)
{
    profile.EnableLog();
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i) {
                char message[64];
                std::snprintf(message, sizeof(message), "writer %d line %d", t, i);
                LogMessage("DemonService", message, "f.cpp", t);
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    std::istringstream lines(profile.LogText());
    std::string line;
    int count = 0;
    const std::regex whole("\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{3}, f\\.cpp:\\d DemonService  writer \\d line \\d+\r");
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLinesEach);
}

TEST(PanicLog, EntriesRunOnInOneLineUnderAppData)
{
    TempFolder appData(L"panic");
    const char* previous = std::getenv("APPDATA");
    const std::string saved = previous != nullptr ? previous : "";
    _putenv_s("APPDATA", ToUtf8(appData.Path()).c_str());

    WritePanicLog("StartServiceCtrlDispatcher fail", false);
    WritePanicLog("second", false);
    WritePanicLog("", false);
    WritePanicLog(nullptr, false);
    _putenv_s("APPDATA", saved.c_str());

    const std::string text = ReadFileBytes(appData / L"Corvane\\logs\\service_panic.log");
    const std::regex expected("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  \\d{3}=====StartServiceCtrlDispatcher fail"
                              "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  \\d{3}=====second");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

} // namespace
