#pragma once

// The service run: main routine, control handler, run routine and stop sequence. The routines the
// system calls let no exception out.

#include <windows.h>

// Given to StartServiceCtrlDispatcherW for "Orvel".
void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) noexcept;
// The HandlerEx routine. Works inline on the dispatcher's thread; returns NO_ERROR for every control.
DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) noexcept;
// The body of a service run; returns when the run is over.
void RunService();
// The stop sequence: resets the "Service" keys, stops the client, closes the log and reports
// SERVICE_STOPPED. True when that report succeeded. Safe to run on two threads at once.
bool StopService();
// Thread routine started when the application asks the service to stop for an update: stops and
// removes the service.
DWORD WINAPI StopForUpdateThread(LPVOID parameter) noexcept;
