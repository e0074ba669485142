// Finding the application by its exact image path among real processes, and stopping it.

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "Sandbox.h"
#include "SupervisionFixture.h"

using namespace supervision_test;
using harness::StandInApp;

namespace {

class RunningCheckAndKillTest : public SupervisionTest {
protected:
    // A copy of the application under the same file name in a folder of its own.
    void InstallLookAlike()
    {
        harness::CreateFolders(lookAlikeFolder.Path());
        ASSERT_TRUE(::CopyFileW(app.ExePath().c_str(), lookAlike.ExePath().c_str(), FALSE));
    }

    void TearDown() override
    {
        lookAlike.KillAll();
        SupervisionTest::TearDown();
    }

    std::vector<std::string> Logged(const std::string& prefix) const
    {
        std::vector<std::string> lines;
        for (const std::string& line : SupervisionTest::Logged()) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    using SupervisionTest::Logged;

    harness::TempFolder lookAlikeFolder{L"lookalike"};
    StandInApp lookAlike{lookAlikeFolder / L"Corvane.exe"};
};

TEST_F(RunningCheckAndKillTest, NothingRunningIsReportedAndKillEndsQuietly)
{
    EXPECT_FALSE(service->CheckCorvaneIsRunning());
    service->KillCorvane(0);
    EXPECT_EQ(Logged(), (std::vector<std::string>{"CheckCorvaneIsRunning start", "CheckCorvaneIsRunning end",
                                                  "KillCorvane end"}));
}

TEST_F(RunningCheckAndKillTest, TwoInstancesAreFoundAndKillTerminatesBoth)
{
    DWORD firstId = 0;
    DWORD secondId = 0;
    UniqueHandle first = StartInstance(app, &firstId);
    UniqueHandle second = StartInstance(app, &secondId);

    EXPECT_TRUE(service->CheckCorvaneIsRunning());
    service->KillCorvane(0);

    DWORD exitCode = 0;
    EXPECT_TRUE(Ended(first.get(), &exitCode));
    EXPECT_EQ(exitCode, kTerminatedExitCode);
    EXPECT_TRUE(Ended(second.get(), &exitCode));
    EXPECT_EQ(exitCode, kTerminatedExitCode);

    std::vector<std::string> terminated = Logged("Terminate Process ");
    std::sort(terminated.begin(), terminated.end());
    std::vector<std::string> expected = {Format("Terminate Process %lu", firstId),
                                         Format("Terminate Process %lu", secondId)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(terminated, expected);
    const std::vector<std::string> lines = Logged();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "KillCorvane end");
    EXPECT_FALSE(service->CheckCorvaneIsRunning());
}

TEST_F(RunningCheckAndKillTest, SameFileNameInAnotherFolderIsNeitherReportedNorTerminated)
{
    InstallLookAlike();
    DWORD lookAlikeId = 0;
    UniqueHandle other = StartInstance(lookAlike, &lookAlikeId);

    EXPECT_FALSE(service->CheckCorvaneIsRunning());
    service->KillCorvane(0);
    // Its id names it exactly, yet it is not the application: the search by path follows instead.
    service->KillCorvane(static_cast<int>(lookAlikeId));
    // Every termination is logged as it is made; none was.
    EXPECT_TRUE(harness::IsRunning(other.get()));
    EXPECT_TRUE(Logged("Terminate Process").empty());
    EXPECT_TRUE(Logged("Corvane exit fail").empty());
    EXPECT_EQ(CountLogged("KillCorvane end"), 2);
}

TEST_F(RunningCheckAndKillTest, APathSpelledWithOtherLetterCaseIsNotTheApplication)
{
    DWORD id = 0;
    UniqueHandle running = StartInstance(app, &id);
    std::wstring upper = app.ExePath();
    std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t c) { return static_cast<wchar_t>(::towupper(c)); });
    for (const std::wstring& other : {upper, app.ExePath().substr(0, app.ExePath().size() - 4) + L".EXE"}) {
        service->m_appPath = other;
        EXPECT_FALSE(service->CheckCorvaneIsRunning());
        service->KillCorvane(0);
        service->KillCorvane(static_cast<int>(id));
    }
    // Every termination is logged as it is made; none was.
    EXPECT_TRUE(harness::IsRunning(running.get()));
    EXPECT_TRUE(Logged("Terminate Process").empty());
    EXPECT_TRUE(Logged("Corvane exit fail").empty());
}

TEST_F(RunningCheckAndKillTest, KillByIdTerminatesThatInstanceOnly)
{
    DWORD firstId = 0;
    DWORD secondId = 0;
    UniqueHandle first = StartInstance(app, &firstId);
    UniqueHandle second = StartInstance(app, &secondId);

    service->KillCorvane(static_cast<int>(firstId));

    DWORD exitCode = 0;
    EXPECT_TRUE(Ended(first.get(), &exitCode));
    EXPECT_EQ(exitCode, kTerminatedExitCode);
    EXPECT_TRUE(harness::IsRunning(second.get()));
    EXPECT_EQ(Logged(), (std::vector<std::string>{Format("Corvane exit fail and  TerminateProcess %lu", firstId)}));
}

TEST_F(RunningCheckAndKillTest, KillByAForeignIdLeavesThatProcessAndStopsTheApplicationByPath)
{
    InstallLookAlike();
    DWORD foreignId = 0;
    DWORD appId = 0;
    UniqueHandle foreign = StartInstance(lookAlike, &foreignId);
    UniqueHandle application = StartInstance(app, &appId);

    service->KillCorvane(static_cast<int>(foreignId));

    DWORD exitCode = 0;
    EXPECT_TRUE(Ended(application.get(), &exitCode));
    EXPECT_EQ(exitCode, kTerminatedExitCode);
    EXPECT_TRUE(harness::IsRunning(foreign.get()));
    EXPECT_EQ(Logged(), (std::vector<std::string>{Format("Terminate Process %lu", appId), "KillCorvane end"}));
}

TEST_F(RunningCheckAndKillTest, KillByAnIdNoProcessHasSearchesByPath)
{
    DWORD appId = 0;
    UniqueHandle application = StartInstance(app, &appId);
    // Process ids are multiples of four: this one is never given out.
    service->KillCorvane(0x7FFFFFFF);
    EXPECT_TRUE(Ended(application.get()));
    EXPECT_EQ(Logged(), (std::vector<std::string>{Format("Terminate Process %lu", appId), "KillCorvane end"}));
}

TEST_F(RunningCheckAndKillTest, ANegativeIdActsAsZero)
{
    DWORD appId = 0;
    UniqueHandle application = StartInstance(app, &appId);
    service->KillCorvane(-5);
    EXPECT_TRUE(Ended(application.get()));
    EXPECT_EQ(Logged(), (std::vector<std::string>{Format("Terminate Process %lu", appId), "KillCorvane end"}));
}

} // namespace
