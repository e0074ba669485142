#include <gtest/gtest.h>

#include <climits>

#include "link/PipeMessage.h"

namespace {

TEST(PipeMessage, EachCommandByItsOwnMatchingRule)
{
    EXPECT_EQ(ParsePipeMessage("c:anything").command, PipeCommand::CrashNotice);
    EXPECT_EQ(ParsePipeMessage("app_exit:1234").command, PipeCommand::ExitNotice);
    EXPECT_EQ(ParsePipeMessage("app_exit:").command, PipeCommand::ExitNotice);
    EXPECT_EQ(ParsePipeMessage("stop_for_update").command, PipeCommand::StopForUpdate);
    EXPECT_EQ(ParsePipeMessage("hibernate").command, PipeCommand::Hibernate);
    EXPECT_EQ(ParsePipeMessage("OpenFireWall:1").command, PipeCommand::OpenFirewall);
    EXPECT_EQ(ParsePipeMessage("\"OpenFireWall\":0,\"ports\":\"80\"").command, PipeCommand::OpenFirewall);
    EXPECT_EQ(ParsePipeMessage("CloseFireWall").command, PipeCommand::CloseFirewall);
    EXPECT_EQ(ParsePipeMessage("InstallCameraDriver").command, PipeCommand::InstallCameraDriver);
    EXPECT_EQ(ParsePipeMessage("InstallBrisaDriveDriver").command, PipeCommand::InstallBrisaDriveDriver);
    EXPECT_EQ(ParsePipeMessage("InstallScreenShareDriver").command, PipeCommand::InstallScreenShareDriver);
}

TEST(PipeMessage, ExactCommandsRefuseAnythingAppended)
{
    for (const char* message : {"hibernate\r\n", "hibernate ", "Hibernate", "stop_for_update\n", "CloseFireWall ",
                                "InstallCameraDriver2", "hibernateresume", "c", "C:x", "app_exit", "xOpenFireWall",
                                "\"openFireWall\"", ""}) {
        EXPECT_EQ(ParsePipeMessage(message).command, PipeCommand::None) << '"' << message << '"';
    }
    EXPECT_EQ(ParsePipeMessage(nullptr).command, PipeCommand::None);
}

TEST(PipeMessage, TheFirstRowWins)
{
    EXPECT_EQ(ParsePipeMessage("c:app_exit:5").command, PipeCommand::CrashNotice);
    // Two messages read together match only as a prefix command.
    EXPECT_EQ(ParsePipeMessage("app_exit:5hibernate").command, PipeCommand::ExitNotice);
    EXPECT_EQ(ParsePipeMessage("OpenFireWall:1CloseFireWall").command, PipeCommand::OpenFirewall);
}

TEST(PipeMessage, AnExitNoticeCarriesTheNumberAfterTheFirstColon)
{
    EXPECT_EQ(ParsePipeMessage("app_exit:1234").exitProcessId, 1234);
    EXPECT_EQ(ParsePipeMessage("app_exit:").exitProcessId, 0);
    EXPECT_EQ(ParsePipeMessage("app_exit:abc").exitProcessId, 0);
    EXPECT_EQ(ParsePipeMessage("app_exit:  -5").exitProcessId, -5);
    EXPECT_EQ(ParsePipeMessage("app_exit:77xyz").exitProcessId, 77);
    EXPECT_EQ(ParsePipeMessage("app_exit:99999999999").exitProcessId, INT_MAX);
    EXPECT_EQ(ParsePipeMessage("app_exit:-99999999999").exitProcessId, INT_MIN);
    // Other commands carry no process id, nor a firewall request.
    for (const char* message : {"c:app_exit:9", "c:OpenFireWall:1", "CloseFireWall", "hibernate"}) {
        const PipeMessage parsed = ParsePipeMessage(message);
        EXPECT_EQ(parsed.exitProcessId, 0) << message;
        EXPECT_FALSE(parsed.firewall.restrictPublic) << message;
        EXPECT_TRUE(parsed.firewall.localPorts.empty()) << message;
    }
}

TEST(PipeMessage, AnOpenRequestCarriesItsRestrictedFlagAndPortsText)
{
    struct Case {
        const char* message;
        bool restricted;
        const char* ports;
    };
    for (const Case& c : {
             Case{"OpenFireWall:1", true, ""},
             Case{"OpenFireWall:0", false, ""},
             Case{"OpenFireWall", false, ""},
             Case{"\"OpenFireWall\":1,\"ports\":\"80,443\"", true, "80,443"},
             Case{"\"OpenFireWall\":0,\"PORTS\":\"5000-5010\"", false, "5000-5010"},
             Case{"\"OpenFireWall\": 1,\"ports\":\"80\"", false, "80"},
             Case{"\"OpenFireWall\":10", true, ""},
             Case{"\"OpenFireWall\":0,\"ports\":\"a:1\"", true, "a:1"},
             Case{"\"OpenFireWall\":0,\"ports\":80", false, ""},
             Case{"\"OpenFireWall\":1,ports", true, ""},  // not JSON: no ports, still a request
             // An unquoted request carries no ports, whatever follows.
             Case{"OpenFireWall:0,\"ports\":\"80\"", false, ""},
         }) {
        const PipeMessage parsed = ParsePipeMessage(c.message);
        EXPECT_EQ(parsed.command, PipeCommand::OpenFirewall) << c.message;
        EXPECT_EQ(parsed.firewall.restrictPublic, c.restricted) << c.message;
        EXPECT_EQ(parsed.firewall.localPorts, c.ports) << c.message;
        EXPECT_EQ(parsed.exitProcessId, 0) << c.message;
    }
}

} // namespace
