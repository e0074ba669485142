#include <gtest/gtest.h>

#include "base/UserFolderRule.h"

namespace {

using Chain = std::vector<std::wstring>;

// The rule with the drive's facts as the system gives them for an ordinary local disk.
FolderRefusal Judge(const std::wstring& path) { return JudgeUserFolder(path, true, true); }

TEST(UserFolderRule, OnlyAnAbsolutePathOnALocalFixedDriveIsAccepted)
{
    EXPECT_EQ(Judge(L"C:\\Users\\u\\AppData\\Roaming"), FolderRefusal::None);
    EXPECT_EQ(Judge(L"d:\\Profiles\\\u00FCser name\\"), FolderRefusal::None);
    EXPECT_EQ(Judge(L"C:\\Users\\u\\AppData\\Roaming\\\\"), FolderRefusal::None);
    EXPECT_EQ(JudgeUserFolder(L"C:\\Users\\u\\AppData\\Roaming", false, true), FolderRefusal::NotFixedDrive);
    // A substituted drive: its root is a folder of another drive.
    EXPECT_EQ(JudgeUserFolder(L"S:\\AppData\\Roaming", true, false), FolderRefusal::OtherDrive);
    // A drive root is no one's own folder, however it is written.
    for (const wchar_t* root : {L"C:\\", L"C:\\\\", L"e:\\\\\\"}) {
        EXPECT_EQ(Judge(root), FolderRefusal::DriveRoot) << root;
    }

    for (const wchar_t* device : {L"\\\\host\\share\\AppData", L"\\\\?\\C:\\Users\\u", L"\\\\.\\C:\\Users\\u",
                                  L"\\??\\C:\\Users\\u", L"\\\\?\\UNC\\host\\share"}) {
        EXPECT_EQ(Judge(device), FolderRefusal::DevicePrefix) << device;
    }
    for (const wchar_t* relative : {L"", L"Users\\u", L"\\Users\\u", L"C:Users\\u", L"C:", L"1:\\x", L"C:/Users"}) {
        EXPECT_EQ(Judge(relative), FolderRefusal::NotAbsolute) << relative;
    }
    for (const wchar_t* dotted : {L"C:\\Users\\..\\Windows", L"C:\\Users\\.\\u", L"C:\\Users\\u\\..",
                                  L"C:\\Users\\\\u", L"C:\\Users/..\\u"}) {
        EXPECT_EQ(Judge(dotted), FolderRefusal::DotComponent) << dotted;
    }
    // A name that merely holds dots is an ordinary name.
    EXPECT_EQ(Judge(L"C:\\Users\\u.v\\...x"), FolderRefusal::None);
}

TEST(UserFolderRule, TheChainRunsFromTheProfileFolderWhenItIsAnAncestorElseFromTheDriveRoot)
{
    EXPECT_EQ(FolderChainFor(L"C:\\Users\\u\\AppData\\Roaming\\Corvane", L"c:\\users\\U\\"),
              (Chain{L"C:\\Users\\u", L"C:\\Users\\u\\AppData", L"C:\\Users\\u\\AppData\\Roaming",
                     L"C:\\Users\\u\\AppData\\Roaming\\Corvane"}));
    // A sibling with a longer name is no ancestor.
    EXPECT_EQ(FolderChainFor(L"C:\\Users\\uv\\x", L"C:\\Users\\u"),
              (Chain{L"C:\\", L"C:\\Users", L"C:\\Users\\uv", L"C:\\Users\\uv\\x"}));
    EXPECT_EQ(FolderChainFor(L"D:\\Data\\", L"C:\\Users\\u"), (Chain{L"D:\\", L"D:\\Data"}));
    EXPECT_EQ(FolderChainFor(L"D:\\Data", L""), (Chain{L"D:\\", L"D:\\Data"}));
    EXPECT_EQ(FolderChainFor(L"D:\\Data", L"\\\\host\\share"), (Chain{L"D:\\", L"D:\\Data"}));
    EXPECT_EQ(FolderChainFor(L"C:\\", L""), (Chain{L"C:\\"}));
    EXPECT_EQ(FolderChainFor(L"C:\\Users\\u", L"C:\\Users\\u"), (Chain{L"C:\\Users\\u"}));
    // Nothing to hold for a path that is not an absolute drive path free of dot components.
    for (const wchar_t* refused : {L"", L"Users\\u", L"\\\\host\\share\\x", L"\\\\?\\C:\\x", L"C:\\a\\..\\b"}) {
        EXPECT_TRUE(FolderChainFor(refused, L"").empty()) << refused;
    }
}

TEST(UserFolderRule, TheFinalPathMustNameTheMeantPath)
{
    // As the system reports it: a long-path prefix, the disk's letter case.
    EXPECT_TRUE(NamesMeantPath(L"\\\\?\\C:\\Users\\u\\AppData", L"c:\\users\\U\\appdata\\"));
    EXPECT_TRUE(NamesMeantPath(L"\\\\?\\C:\\", L"C:\\"));
    EXPECT_TRUE(NamesMeantPath(L"C:\\x\\f.ini", L"C:\\x\\f.ini"));
    // A link's target, a short name, a network or volume form, a non-ASCII case change.
    EXPECT_FALSE(NamesMeantPath(L"\\\\?\\C:\\elsewhere\\Roaming", L"C:\\Users\\u\\AppData\\Roaming"));
    EXPECT_FALSE(NamesMeantPath(L"\\\\?\\C:\\PROGRA~1", L"C:\\Program Files"));
    EXPECT_FALSE(NamesMeantPath(L"\\\\?\\UNC\\host\\share\\x", L"\\\\host\\share\\x"));
    EXPECT_FALSE(NamesMeantPath(L"\\Device\\HarddiskVolume1\\x", L"C:\\x"));
    EXPECT_FALSE(NamesMeantPath(L"\\\\?\\C:\\\u00DCser", L"C:\\\u00FCser"));
    EXPECT_FALSE(NamesMeantPath(L"", L"C:\\x"));
}

TEST(UserFolderRule, OnlyTheConsoleUserNotElevatedWorksThereWithItsOwnToken)
{
    const auto facts = [](bool localSystem, bool consoleUser, bool elevated) {
        CallerToken caller;
        caller.localSystem = localSystem;
        caller.consoleUser = consoleUser;
        caller.elevated = elevated;
        return caller;
    };
    // Whoever holds the console user's token (only LocalSystem can) works as that user.
    EXPECT_EQ(ChooseUserFolderIdentity(true, facts(true, false, true)), UserFolderIdentity::ConsoleUser);
    EXPECT_EQ(ChooseUserFolderIdentity(true, CallerToken()), UserFolderIdentity::ConsoleUser);
    EXPECT_EQ(ChooseUserFolderIdentity(false, facts(true, false, true)), UserFolderIdentity::Nobody);
    // A command-line run: the console user's own run, not elevated, and nobody else.
    EXPECT_EQ(ChooseUserFolderIdentity(false, facts(false, true, false)), UserFolderIdentity::OwnToken);
    EXPECT_EQ(ChooseUserFolderIdentity(false, facts(false, true, true)), UserFolderIdentity::OtherCaller);
    EXPECT_EQ(ChooseUserFolderIdentity(false, facts(false, false, true)), UserFolderIdentity::OtherCaller);
    EXPECT_EQ(ChooseUserFolderIdentity(false, facts(false, false, false)), UserFolderIdentity::OtherCaller);
    // Facts that could not be read let the caller do nothing.
    EXPECT_NE(ChooseUserFolderIdentity(false, CallerToken()), UserFolderIdentity::OwnToken);
    EXPECT_EQ(DriveRootOf(L"e:\\x\\y"), L"e:\\");
    EXPECT_EQ(DriveRootOf(L"\\\\host\\share"), L"");
}

} // namespace
