#pragma once

// The service's events in the Windows Application log, under the source "Orvel": the source's
// registration (done by -install, undone by -remove) and the one writer that every reporting site
// calls with a record from base/EventText.h. Events are reported whether or not the diagnostic log is
// on. Each id is rate-limited (base/EventRateLimit.h): what is held back is summed up in one event when
// its period ends, found by the run loop's tick or at the next event. Any thread; nothing here fails
// its caller.

#include <string>

#include "base/EventText.h"

constexpr wchar_t kEventSourceName[] = L"Orvel";
// Under HKEY_LOCAL_MACHINE: "EventMessageFile" (REG_EXPAND_SZ, this executable's full path) and
// "TypesSupported" (REG_DWORD 7).
constexpr wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Orvel";

// Registers the source with this executable as its message file; an existing registration is brought
// up to date. False (and logged) when the key cannot be written.
bool InstallEventSource();
// Deletes the source's key. True when it is gone, also when there was none.
bool RemoveEventSource();

// Reports one event, unless its id has used up its period (it is then counted).
void ReportToEventLog(const EventRecord& event);
// Reports the held-back counts of the periods that have ended.
void ReportHeldBackEvents();

// The start of a service run: "started" and, when the previous run of this boot ended without a clean
// stop, "recovered". The run is marked by a volatile key under the service's own registration
// (Services\Orvel\Running), created here and deleted by EndServiceRun: a key already there at a start
// means that the last run never got to its end. Without a registration nothing is marked.
void ReportServiceStarted();
// A clean end of a service run: the held-back counts of every open period, "stopped" with its cause,
// and the run's mark removed.
void ReportServiceStopped(StopCause cause);
// Removes the run's mark: the run ends cleanly without a stop request. Only a run that is ending calls
// it; a process that lingers after its stop must not, as the next run may have marked itself already.
void EndServiceRun();

// A panic entry, narrow text in the ANSI code page, as an error event. Null or empty reports nothing.
void ReportPanicEntry(const char* message);
