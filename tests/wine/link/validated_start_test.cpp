// Check, then start: from before the validation library is asked until the start has returned, the
// checked file cannot be overwritten, replaced, renamed or deleted, and the shell still starts it. The
// library lies beside this executable (ValidateAssemblyFile looks for it there); the file started is the
// driver installers' stand-in, which journals each start.

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "DriverInstallers.h"
#include "Sandbox.h"
#include "StandInApp.h"
#include "base/Win32Resources.h"
#include "trust/FolderAccessList.h"
#include "trust/ValidatedStart.h"

using namespace harness;

namespace {


std::wstring Installer(const wchar_t* variant)
{
    return TestDataFolder() + L"installers\\" + variant + L"\\CvDiskBridge.exe";
}

std::wstring SignedInstaller()
{
    const std::wstring testData = TestDataFolder();
    return testData.substr(0, testData.size() - std::wstring(L"testdata\\").size()) + L"sandbox\\CvDiskBridge.exe";
}

class ValidatedStartTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(journal.ClearJournal()); }

    TempFolder folder{L"orvel held"};
    const std::wstring installer = folder / L"CvDiskBridge.exe";
    const harness::StandInApp journal{installer, harness::InstallerJournalPath()};
};

TEST_F(ValidatedStartTest, WhileHeldTheInstallerCannotBeChangedAndTheShellStartsItBothWays)
{
    ASSERT_TRUE(::CopyFileW(SignedInstaller().c_str(), installer.c_str(), FALSE));
    const std::wstring replacement = folder / L"replacement.exe";
    ASSERT_TRUE(::CopyFileW(Installer(L"other-publisher").c_str(), replacement.c_str(), FALSE));
    const std::wstring quoted = L"\"" + installer + L"\"";

    bool started = false;
    const int answer = ValidateThenStart(installer.c_str(), [&] {
        started = true;
        EXPECT_FALSE(::CopyFileW(replacement.c_str(), installer.c_str(), FALSE));
        EXPECT_FALSE(::MoveFileExW(replacement.c_str(), installer.c_str(), MOVEFILE_REPLACE_EXISTING));
        EXPECT_FALSE(::MoveFileW(installer.c_str(), (folder / L"renamed.exe").c_str()));
        EXPECT_FALSE(::DeleteFileW(installer.c_str()));
        const UniqueFileHandle writer(::CreateFileW(installer.c_str(), GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_FALSE(writer.valid());

        const HINSTANCE instance = ::ShellExecuteW(nullptr, L"open", quoted.c_str(), L"held one", nullptr, SW_HIDE);
        EXPECT_GT(reinterpret_cast<INT_PTR>(instance), 32);
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        info.lpVerb = L"open";
        info.lpFile = quoted.c_str();
        info.lpParameters = L"held two";
        info.nShow = SW_HIDE;
        EXPECT_TRUE(::ShellExecuteExW(&info));
    });
    EXPECT_EQ(answer, 0);
    EXPECT_TRUE(started);

    std::vector<harness::JournalRecord> starts;
    ASSERT_TRUE(journal.WaitForStarts(2, kStartTimeoutMs, &starts));
    for (const harness::JournalRecord& start : starts) {
        EXPECT_EQ(harness::Field(start, L"exe"), installer);
    }
    EXPECT_EQ(ReadFileBytes(installer), ReadFileBytes(SignedInstaller()));
    // Released once the start has returned (and the started programs have ended).
    EXPECT_TRUE(WaitFor([&] { return ::DeleteFileW(installer.c_str()) != FALSE; }, kStartTimeoutMs));
}

TEST_F(ValidatedStartTest, AFileThatIsRefusedOrCannotBeHeldIsNeverStarted)
{
    bool started = false;
    const auto start = [&] { started = true; };
    for (const wchar_t* variant : {L"unsigned", L"other-publisher"}) {
        ASSERT_TRUE(::CopyFileW(Installer(variant).c_str(), installer.c_str(), FALSE));
        EXPECT_NE(ValidateThenStart(installer.c_str(), start), 0) << ToUtf8(variant);
    }
    ASSERT_TRUE(::CopyFileW(SignedInstaller().c_str(), installer.c_str(), FALSE));
    {
        // Someone writing to it: it cannot be held read-only, so it is not even checked.
        const UniqueFileHandle writer(::CreateFileW(installer.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer.valid());
        EXPECT_NE(ValidateThenStart(installer.c_str(), start), 0);
    }
    EXPECT_NE(ValidateThenStart((folder / L"missing.exe").c_str(), start), 0);
    EXPECT_NE(ValidateThenStart(L"", start), 0);
    EXPECT_NE(ValidateThenStart(nullptr, start), 0);
    EXPECT_FALSE(started);
    // The same file, once nobody writes to it, passes.
    EXPECT_EQ(ValidateThenStart(installer.c_str(), start), 0);
    EXPECT_TRUE(started);
}

TEST_F(ValidatedStartTest, AnInstallerStartsOnlyWhenEachOfItsFoldersHasAListThatIsReadAndClosedToEveryUser)
{
    ASSERT_TRUE(::CopyFileW(SignedInstaller().c_str(), installer.c_str(), FALSE));
    // The list Wine reports for a folder, read entry by entry: everyone reads and executes, nothing more.
    const FolderSecurity security = ReadFolderSecurity(folder / L"");
    ASSERT_EQ(security.state, FolderSecurity::State::Read);
    EXPECT_FALSE(security.ownerSid.empty());
    bool everyoneReads = false;
    for (const AccessEntry& entry : security.entries) {
        everyoneReads = everyoneReads || (entry.kind == AccessEntry::Kind::Allow && entry.sid == L"S-1-1-0" &&
                                          (entry.mask & FILE_GENERIC_READ) == FILE_GENERIC_READ);
    }
    EXPECT_TRUE(everyoneReads);
    EXPECT_EQ(UserWriteRefusal(folder / L""), "");

    // A folder whose list cannot be read is refused, and nothing is checked or started.
    bool started = false;
    const auto start = [&] { started = true; };
    const std::wstring missing = folder / L"missing\\";
    const std::string unreadable = " has an access list that cannot be read: nothing in it is trusted or started";
    EXPECT_EQ(UserWriteRefusal(missing), "Folder " + ToUtf8(missing) + unreadable);
    TrustRefusal why = TrustRefusal::None;
    EXPECT_EQ(ValidateThenStartInstaller(installer.c_str(), {missing}, start, &why), ERROR_ACCESS_DENIED);
    EXPECT_EQ(why, TrustRefusal::FolderWritableByUsers);
    EXPECT_FALSE(started);
    ASSERT_TRUE(::CopyFileW(Installer(L"unsigned").c_str(), installer.c_str(), FALSE));
    EXPECT_NE(ValidateThenStartInstaller(installer.c_str(), {}, start, &why), 0);
    EXPECT_EQ(why, TrustRefusal::NotSigned);
    EXPECT_FALSE(started);

    ASSERT_TRUE(::CopyFileW(SignedInstaller().c_str(), installer.c_str(), FALSE));
    EXPECT_EQ(ValidateThenStartInstaller(installer.c_str(), {folder / L""}, start, &why), 0);
    EXPECT_EQ(why, TrustRefusal::None);
    EXPECT_TRUE(started);
}

} // namespace
