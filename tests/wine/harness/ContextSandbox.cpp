#include "ContextSandbox.h"

#include <gtest/gtest.h>


namespace harness {

namespace {

// The lines of a text, without their line ends ("\n" or "\r\n").
std::vector<std::string> TextLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace

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

std::vector<LogLine> UserProfileSandbox::LogLines() const { return ParseLog(LogText()); }

std::wstring UserProfileSandbox::ServiceKey(const wchar_t* name) const { return IniRead(IniPath(), L"Service", name); }

std::wstring UserProfileSandbox::CrashCount() const { return IniRead(CrashCounterPath(), L"SC", L"crash"); }

bool UserProfileSandbox::SetCrashCount(const std::wstring& value) const
{
    return IniWrite(CrashCounterPath(), L"SC", L"crash", value);
}

std::vector<LogLine> ParseLog(const std::string& text)
{
    std::vector<LogLine> lines;
    for (const std::string& line : TextLines(text)) {
        // The header is "MM-DD hh:mm:ss mmm, <file>:<line> <tag>  "; a message may itself begin with a blank.
        constexpr std::size_t kSourceAt = 20;
        if (line.find(", ") != kSourceAt - 2) {
            continue;
        }
        const std::size_t tagAt = line.find(' ', kSourceAt);
        const std::size_t tagEnd = tagAt == std::string::npos ? std::string::npos : line.find("  ", tagAt + 1);
        if (tagEnd != std::string::npos) {
            lines.push_back(LogLine{line.substr(tagAt + 1, tagEnd - tagAt - 1), line.substr(tagEnd + 2)});
        }
    }
    return lines;
}

int CountLines(const std::string& text, const std::string& needle)
{
    int count = 0;
    for (const std::string& line : TextLines(text)) {
        count += line.find(needle) != std::string::npos ? 1 : 0;
    }
    return count;
}

} // namespace harness
