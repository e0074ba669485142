#include <gtest/gtest.h>

#include <climits>

#include "link/CommandTable.h"

namespace {

TEST(CommandTable, EachCommandByItsOwnMatchingRule)
{
    EXPECT_EQ(MatchPipeCommand("c:anything"), PipeCommand::CrashNotice);
    EXPECT_EQ(MatchPipeCommand("app_exit:1234"), PipeCommand::ExitNotice);
    EXPECT_EQ(MatchPipeCommand("app_exit:"), PipeCommand::ExitNotice);
    EXPECT_EQ(MatchPipeCommand("stop_for_update"), PipeCommand::StopForUpdate);
    EXPECT_EQ(MatchPipeCommand("hibernate"), PipeCommand::Hibernate);
    EXPECT_EQ(MatchPipeCommand("OpenFireWall:1"), PipeCommand::OpenFirewall);
    EXPECT_EQ(MatchPipeCommand("\"OpenFireWall\":0,\"ports\":\"80\""), PipeCommand::OpenFirewall);
    EXPECT_EQ(MatchPipeCommand("CloseFireWall"), PipeCommand::CloseFirewall);
    EXPECT_EQ(MatchPipeCommand("InstallCameraDriver"), PipeCommand::InstallCameraDriver);
    EXPECT_EQ(MatchPipeCommand("InstallBrisaDriveDriver"), PipeCommand::InstallBrisaDriveDriver);
    EXPECT_EQ(MatchPipeCommand("InstallScreenShareDriver"), PipeCommand::InstallScreenShareDriver);
}

TEST(CommandTable, ExactCommandsRefuseAnythingAppended)
{
    for (const char* message : {"hibernate\r\n", "hibernate ", "Hibernate", "stop_for_update\n", "CloseFireWall ",
                                "InstallCameraDriver2", "hibernateresume", "c", "C:x", "app_exit", "xOpenFireWall",
                                "\"openFireWall\"", ""}) {
        EXPECT_EQ(MatchPipeCommand(message), PipeCommand::None) << '"' << message << '"';
    }
    EXPECT_EQ(MatchPipeCommand(nullptr), PipeCommand::None);
}

TEST(CommandTable, TheFirstRowWins)
{
    EXPECT_EQ(MatchPipeCommand("c:app_exit:5"), PipeCommand::CrashNotice);
    // Two messages read together match only as a prefix command.
    EXPECT_EQ(MatchPipeCommand("app_exit:5hibernate"), PipeCommand::ExitNotice);
    EXPECT_EQ(MatchPipeCommand("OpenFireWall:1CloseFireWall"), PipeCommand::OpenFirewall);
}

TEST(CommandTable, ExitNoticeProcessId)
{
    EXPECT_EQ(ExitNoticeProcessId("app_exit:1234"), 1234);
    EXPECT_EQ(ExitNoticeProcessId("app_exit:"), 0);
    EXPECT_EQ(ExitNoticeProcessId("app_exit:abc"), 0);
    EXPECT_EQ(ExitNoticeProcessId("app_exit:  -5"), -5);
    EXPECT_EQ(ExitNoticeProcessId("app_exit:77xyz"), 77);
    EXPECT_EQ(ExitNoticeProcessId("app_exit:99999999999"), INT_MAX);
    EXPECT_EQ(ExitNoticeProcessId("app_exit:-99999999999"), INT_MIN);
    EXPECT_EQ(ExitNoticeProcessId("c:app_exit:9"), 0);  // after the first colon
}

TEST(CommandTable, FirewallRequestText)
{
    EXPECT_TRUE(FirewallRequestRestricted("OpenFireWall:1"));
    EXPECT_FALSE(FirewallRequestRestricted("OpenFireWall:0"));
    EXPECT_FALSE(FirewallRequestRestricted("\"OpenFireWall\": 1"));
    EXPECT_TRUE(FirewallRequestRestricted("\"OpenFireWall\":10"));
    EXPECT_TRUE(FirewallRequestRestricted("\"OpenFireWall\":0,\"ports\":\"a:1\""));
    EXPECT_EQ(FirewallRequestJson("\"OpenFireWall\":1,\"ports\":\"80\""), "{\"OpenFireWall\":1,\"ports\":\"80\"}");
    EXPECT_TRUE(IsQuotedRequest("\"OpenFireWall\""));
    EXPECT_FALSE(IsQuotedRequest("OpenFireWall"));
}

} // namespace
