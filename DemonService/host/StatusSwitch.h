#pragma once

// -status: prints "name: value" lines about this installation on standard output (the service's state,
// registration and recovery actions, the application and its signature check, the console user's data
// folder, settings keys, log and crash count, the event source) and returns kStatusExitRunning,
// kStatusExitNotRunning or kStatusExitNotInstalled (host/StatusText.h). It only reads: it needs no service
// context, writes no registry value or file and logs nothing, and reports what it may not read as
// "access denied". Any caller, elevated or not.
int RunStatusSwitch();
