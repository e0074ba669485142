#include "ContextSandbox.h"

#include <gtest/gtest.h>

#include <sstream>

namespace harness {

UserProfileSandbox::UserProfileSandbox()
    : m_root(L"profile"),
      m_shellAppData(HKEY_USERS, ShellFoldersKey(), L"AppData"),
      m_storedAppData(HKEY_LOCAL_MACHINE, kInstallKey, L"AppData")
{
    m_shellAppData.Set(m_root.Path());
}

UserProfileSandbox::~UserProfileSandbox()
{
    DropContext();
}

void UserProfileSandbox::EnableLog() const
{
    CreateFolders(LogFolder());
    WriteFileBytes(LogFolder() + L"\\debug", "");
}

std::vector<std::wstring> UserProfileSandbox::LogFiles() const
{
    std::vector<std::wstring> logs;
    for (const std::wstring& name : ListFolder(LogFolder())) {
        if (name.size() > 12 && name.compare(name.size() - 12, 12, L"_service.log") == 0) {
            logs.push_back(name);
        }
    }
    return logs;
}

std::string UserProfileSandbox::LogText() const
{
    const std::vector<std::wstring> logs = LogFiles();
    return logs.empty() ? std::string() : ReadFileBytes(LogFolder() + L"\\" + logs.front());
}

DemonService* FreshContext()
{
    DropContext();
    return DemonService::GetInstance();
}

void DropContext()
{
    DemonService::DestroyInstance();
}

void ExpectStopKeys(const std::wstring& iniPath)
{
    const auto key = [&iniPath](const wchar_t* name) { return IniRead(iniPath, L"Service", name); };
    EXPECT_EQ(key(L"Running"), L"0");
    EXPECT_EQ(key(L"Debug"), L"0");
    EXPECT_EQ(key(L"write_log"), L"0");
    EXPECT_EQ(key(L"Log_Path"), L"");
    EXPECT_EQ(key(L"StartClient"), L"Stop");
    EXPECT_EQ(key(L"CDemonServiceClient"), L"Stop");
    EXPECT_EQ(key(L"Client_run"), L"Stop");
    EXPECT_EQ(key(L"Connected"), L"Disconnected");
}

int CountLines(const std::string& text, const std::string& needle)
{
    int count = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(needle) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

} // namespace harness
