#include <gtest/gtest.h>

#include "host/CommandLineSwitch.h"

namespace {

TEST(CommandLineSwitch, EachWordWithEitherPrefixAndEitherFirstLetter)
{
    struct Case {
        const char* argument;
        CommandLineSwitch expected;
    };
    const Case cases[] = {
        {"-install", CommandLineSwitch::Install},
        {"/install", CommandLineSwitch::Install},
        {"-Install", CommandLineSwitch::Install},
        {"/Remove", CommandLineSwitch::Remove},
        {"-renameShortCut", CommandLineSwitch::RenameShortCut},
        {"-RetoreShortCut", CommandLineSwitch::RetoreShortCut},
        {"/installCloudyDriver", CommandLineSwitch::InstallCloudyDriver},
        {"-RunCorvane", CommandLineSwitch::RunCorvane},
        {"-status", CommandLineSwitch::Status},
        {"/status", CommandLineSwitch::Status},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseCommandLineSwitch(c.argument), c.expected) << c.argument;
    }
}

TEST(CommandLineSwitch, OtherSpellingsDoNothing)
{
    for (const char* argument : {"--install", "-INSTALL", "-installs", "-instal", "install", "-restoreShortCut",
                                 "-RESTORESHORTCUT", "-", "/", "", "-install ", "-runcorvane",
                                 "-Status", "-STATUS", "--status"}) {
        EXPECT_EQ(ParseCommandLineSwitch(argument), CommandLineSwitch::None) << '"' << argument << '"';
    }
    EXPECT_EQ(ParseCommandLineSwitch(nullptr), CommandLineSwitch::None);
}

TEST(CommandLineSwitch, OnlyDashAndSlashArePrefixes)
{
    EXPECT_TRUE(HasSwitchPrefix("-x"));
    EXPECT_TRUE(HasSwitchPrefix("/x"));
    EXPECT_FALSE(HasSwitchPrefix("install"));
    EXPECT_FALSE(HasSwitchPrefix("\\install"));
    EXPECT_FALSE(HasSwitchPrefix(nullptr));
}

} // namespace
