#pragma once

// A test's own console-user folder and a freshly built service context.

#include <string>
#include <vector>

#include "DemonService.h"
#include "Sandbox.h"

namespace harness {

// One line of the service's log: its tag and its message (the text after the header).
struct LogLine {
    std::string tag;
    std::string message;
};

// Points the console user's roaming folder ("Shell Folders" "AppData") at a fresh temp folder, and
// keeps the install key's remembered "AppData" as it was. Builds no context by itself.
class UserProfileSandbox {
public:
    UserProfileSandbox();
    ~UserProfileSandbox();

    const std::wstring& RoamingFolder() const { return m_root.Path(); }
    std::wstring DataDir() const { return m_root.Path() + L"\\Corvane"; }
    std::wstring IniPath() const { return DataDir() + L"\\BrisaRDP.ini"; }
    std::wstring LogFolder() const { return DataDir() + L"\\logs"; }
    // The crash counter beside the settings file.
    std::wstring CrashCounterPath() const { return DataDir() + L"\\BrisaData.ini"; }
    // A "Service" key of the settings file, and the counted crashes ("SC" "crash"); kMissing when absent.
    std::wstring ServiceKey(const wchar_t* name) const;
    std::wstring CrashCount() const;
    bool SetCrashCount(const std::wstring& value) const;

    // Creates the "debug" marker that switches the log on.
    void EnableLog() const;
    // The text of the only day-named log file (empty when there is none).
    std::string LogText() const;
    // Its lines, whatever their tag. A message that itself holds a line end continues on lines without a
    // header, which are left out.
    std::vector<LogLine> LogLines() const;
    std::vector<std::wstring> LogFiles() const;

    RegistryValueGuard& ShellAppData() { return m_shellAppData; }
    RegistryValueGuard& StoredAppData() { return m_storedAppData; }

private:
    TempFolder m_root;
    RegistryValueGuard m_shellAppData;
    RegistryValueGuard m_storedAppData;
};

// Destroys any context and builds a new one from the registry as it is now.
DemonService* FreshContext();
// Destroys the context (its log file is closed with it).
void DropContext();

// Expects the "Service" keys that the stop sequence leaves in a settings file.
void ExpectStopKeys(const std::wstring& iniPath);

// The lines of a log text with a header, as LogLines reads them.
std::vector<LogLine> ParseLog(const std::string& text);
// Counts the lines of text that contain needle.
int CountLines(const std::string& text, const std::string& needle);

} // namespace harness
