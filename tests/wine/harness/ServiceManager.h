#pragma once

// The "Orvel" service in Wine's service manager, as a test sees it.

#include <windows.h>

#include <optional>
#include <string>

namespace harness {

struct ServiceConfig {
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::wstring imagePath;
    std::wstring account;
};

bool ServiceExists();
std::optional<ServiceConfig> QueryServiceConfiguration();
// Current state, or 0 when the service cannot be queried.
DWORD ServiceState();
// The process that runs the service, or 0 when it runs in none (or cannot be queried).
DWORD ServiceProcessId();
bool WaitForServiceState(DWORD state, DWORD timeoutMs);
// Sends a control code; false when the manager refused it.
bool SendServiceControl(DWORD control);
bool StartOrvel();
// Stops (if running) and deletes the service, whatever state it is in, and waits until it is gone.
void RemoveOrvelIfPresent();

// Runs the installed DemonService.exe with one argument and returns its exit code.
std::optional<DWORD> RunServiceExe(const std::wstring& argument, DWORD timeoutMs = 60000);

// The same, also giving what it printed on standard output.
struct ServiceExeRun {
    std::optional<DWORD> exitCode;
    std::string output;
};
ServiceExeRun RunServiceExeForOutput(const std::wstring& argument, DWORD timeoutMs = 60000);

// The same in a Wine process of its own whose file and settings-file calls are traced
// (WINEDEBUG=+file,+profile): every path that it opens or asks about shows in trace. Wine writes its
// trace to the process's Unix stderr, which a Windows parent cannot redirect, so the run goes through
// the Unix shell; the exit code is nullopt when the run did not end in time.
struct TracedServiceExeRun {
    std::optional<DWORD> exitCode;
    std::string output;
    std::string trace;
};
TracedServiceExeRun RunServiceExeTraced(const std::wstring& argument, DWORD timeoutMs = 60000);

} // namespace harness
