#pragma once

// The world in which the service keeps its link to the application: the "Orvel" service in Wine's
// service manager (or, for the in-process cases, a context of the test's own), a console user whose data
// folder is a fresh temp folder with the log switched on, and the installed stand-in application with no
// instance running and an empty journal. Every case leaves the service removed and the stand-in killed.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ContextSandbox.h"
#include "Sandbox.h"
#include "ServiceEvents.h"
#include "ServiceManager.h"
#include "StandInApp.h"
#include "StandInTest.h"
#include "base/Win32Resources.h"

namespace pipe_test {

using harness::kLogTimeoutMs;
using harness::kStartTimeoutMs;
using harness::kTerminatedExitCode;
constexpr DWORD kConnectTimeoutMs = kStartTimeoutMs;
// The lost-connection rule waits 1 s before it acts, and the client 1 s before its next attempt.
constexpr DWORD kNextConnectTimeoutMs = 10000;

constexpr char kClientTag[] = "ServiceClient";
constexpr char kServiceTag[] = "DemonService";

using harness::LogLine;

// The command line of an instance that the service started in background mode.
std::wstring BackgroundCommandLine(const harness::StandInApp& app);
bool IsStart(const harness::JournalRecord& record);
DWORD Pid(const harness::JournalRecord& record);

// Shared by the service-manager cases and the in-process ones: the user's folder, the log, the stand-in.
class LinkTest : public harness::StandInTest {
protected:
    std::vector<LogLine> Logged() const { return profile.LogLines(); }
    int CountLogged(const char* tag, const std::string& message) const;
    int CountLoggedPrefix(const char* tag, const std::string& prefix) const;
    // Waits until the message has been logged at least count times.
    bool WaitLogged(const char* tag, const std::string& message, int count = 1,
                    DWORD timeoutMs = kLogTimeoutMs) const;

    // Waits for the client's next connect attempt after the last "ReadFile fail": a failed open ("handle ==
    // INVALID_HANDLE_VALUE 1", the first after a verified connection) or a server to verify ("serverPath:").
    // The client makes it only once the lost-connection rule has done all it was going to do, so whatever
    // the rule did not do by then, it does not do.
    bool WaitNextConnectAttempt() const;

    // The messages of one tag in order, from the first one equal to `from` on.
    std::vector<std::string> MessagesFrom(const char* tag, const std::string& from) const;

    // The "Connected" key is a verified client's last act before its first read: once it is there, the
    // client waits in its read (or is about to, which a stop meets the same way).
    bool WaitReading() const;
    void SetCorvaneKey(const wchar_t* key, const std::wstring& value) const;

    // Starts an instance of the stand-in directly; it idles and serves the pipe.
    UniqueHandle StartApp(DWORD* processId) const;

    // Waits until the client of process clientId is connected to the instance appId and has verified it
    // (one more "ValidateAssembly result is true" than before); false on a timeout.
    bool WaitVerified(DWORD appId, DWORD clientId);

    // Start records of instances other than the ones given, once the first one has come.
    std::vector<harness::JournalRecord> WaitForOtherStarts(const std::vector<DWORD>& known, DWORD timeoutMs,
                                                             std::size_t count = 1) const;

    // The journal record of a step that the stand-in has run (its tick says when).
    harness::JournalRecord WaitStep(const wchar_t* step, DWORD processId, DWORD timeoutMs = kLogTimeoutMs) const;

    int m_verified = 0;
    // What the service reports to the event log from this case on.
    const harness::ServiceEvents events;
};

// The service installed and started in Wine's service manager. It reads the console user's folder (this
// case's temp folder) when it starts.
class ServiceLinkTest : public LinkTest {
protected:
    void SetUp() override;
    void TearDown() override;

    void StartService();
    // Starts an instance and waits until the service has verified it.
    UniqueHandle StartVerifiedApp(DWORD* processId);

    static DWORD ServiceProcessId() { return harness::ServiceProcessId(); }

    DWORD servicePid = 0;
};

} // namespace pipe_test
