#pragma once

// Test-side view of the stand-in companion application (Corvane.exe) and its files, and of the user's
// settings file it writes.
//
// The stand-in is driven through files beside its executable:
//   Corvane.script   the steps its next start runs (the service starts it with a fixed command line)
//   Corvane.inbox    steps appended here are run by a running instance within about 100 ms
//   Corvane.journal  what it did: one record per start, step and pipe event
// Its step language is described in standins/CorvaneApp/README.md.
//
// Every helper is safe to call from any test thread; none throws. Waits poll (WaitFor of Sandbox.h) and
// give up at their timeout.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ProcessImages.h"
#include "Sandbox.h"
#include "StandInJournal.h"
#include "base/Win32Resources.h"

namespace harness {

// ---- The installed stand-in (AppExePath() of Sandbox.h) ----------------------------------------------

class StandInApp {
public:
    explicit StandInApp(std::wstring exePath = AppExePath());
    // A stand-in that journals to a file of its own choosing rather than beside itself.
    StandInApp(std::wstring exePath, std::wstring journalPath);

    const std::wstring& ExePath() const { return m_exePath; }
    std::wstring Folder() const;
    std::wstring JournalPath() const;
    std::wstring ScriptPath() const;
    std::wstring InboxPath() const;
    bool Installed() const;

    // Corvane.script, read by the next start. once: the file starts with "#once" and the start that reads
    // it deletes it, so later starts run no script. Written whole (a temporary file renamed into place).
    bool WriteScript(const std::wstring& steps, bool once = true) const;
    bool RemoveScript() const;

    // Appends steps (one line; several steps separated by ';' or line ends) for a running instance. If no
    // instance is running, the next one takes them at its first poll.
    bool AppendInbox(const std::wstring& steps) const;
    bool RemoveInbox() const;

    // Starts the stand-in directly (not through the service), in its own folder: the command line is the
    // quoted path, then arguments when not empty. Returns the process handle (invalid on failure).
    UniqueHandle Start(const std::wstring& arguments = std::wstring(), DWORD* processId = nullptr) const;
    // Starts it with exactly this command line (the service, for one, passes the path unquoted).
    UniqueHandle StartCommandLine(const std::wstring& commandLine, DWORD* processId = nullptr) const;
    // Starts it with --script and the steps as one argument, quoted so that the program receives them
    // exactly.
    UniqueHandle StartWithScript(const std::wstring& steps, DWORD* processId = nullptr) const;

    // The journal now; empty when there is none.
    std::vector<JournalRecord> ReadJournal() const;
    // Empties the journal (under the writers' lock, so no record is cut).
    bool ClearJournal() const;
    // The start records.
    std::vector<JournalRecord> Starts() const;
    // Waits until the journal holds at least count start records; starts receives them.
    bool WaitForStarts(size_t count, DWORD timeoutMs, std::vector<JournalRecord>* starts = nullptr) const;
    // Waits until some record satisfies match; found receives the first one.
    bool WaitForRecord(const std::function<bool(const JournalRecord&)>& match, DWORD timeoutMs,
                       JournalRecord* found = nullptr) const;
    // Waits for a record with this event (from this process, unless processId is 0).
    bool WaitForEvent(const std::wstring& event, DWORD processId, DWORD timeoutMs,
                      JournalRecord* found = nullptr) const;

    // Running instances of this executable (by full image path, letter case ignored).
    std::vector<DWORD> RunningProcesses() const;
    // Terminates every instance and waits for them to end; returns how many were terminated.
    size_t KillAll(DWORD timeoutMs = 5000) const;

    // Leaves no trace for the next test: kills every instance, removes script and inbox, clears the journal.
    void Reset() const;

private:
    std::wstring m_exePath;
    std::wstring m_journalPath;
};

// %APPDATA%\Corvane\BrisaRDP.ini of the test process, which is where the stand-in writes its "ini" steps
// when it runs as the same user.
std::wstring UserSettingsPath();

// Quotes one command-line argument so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);

} // namespace harness
