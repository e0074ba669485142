#pragma once

// The service's status as reported to the service control manager, and the run flag.

#include <windows.h>

#include <atomic>

constexpr wchar_t kServiceName[] = L"Orvel";

constexpr DWORD kServiceTypeReported = SERVICE_WIN32;                          // 0x30
constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE |
                                    SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT |
                                    SERVICE_ACCEPT_SESSIONCHANGE;               // 0xC7
constexpr DWORD kRunningWaitHint = 9000;
constexpr DWORD kPendingWaitHint = 500;

extern SERVICE_STATUS g_serviceStatus;
extern SERVICE_STATUS_HANDLE g_statusHandle;
// 1 while the service is to keep running; the run loop polls it.
extern std::atomic<int> g_running;

// Sets the current state, wait hint, check point 0 and exit codes 0 under one lock, and reports that
// record (no lock is held while the service manager is called). Without a status handle (command-line use) the report fails quietly and returns FALSE.
BOOL ReportServiceStatus(DWORD state, DWORD waitHint);
// Reports the current state again with wait hint 0.
BOOL ReportCurrentServiceState();
// Resets the record to its initial contents (type 0x30, start pending, controls 0xC7), not reported.
void InitServiceStatus();
DWORD CurrentServiceState();
