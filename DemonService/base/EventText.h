#pragma once

// What the service reports to the Application event log under the source "Orvel": each occurrence as
// an event id, a level and the insert strings of that id's template. The templates themselves are the
// message table compiled into DemonService.exe (host/EventMessages.mc); this file decides which id,
// which level and which inserts, with no I/O.
//
// The ids are stable: supporters filter on them and monitoring rules name them. Never renumber one;
// a new kind of event takes a new id.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/TrustRefusal.h"

enum class EventId : std::uint16_t {
    ServiceStarted = 1000,       // version
    ServiceStopped = 1001,       // version, cause
    ApplicationRestarted = 1002, // crash count, application path
    ServerRefused = 1003,        // server path, why
    InstallerNotStarted = 1004,  // installer path, reason
    FirewallOpened = 1005,       // rules added, restricted or not
    FirewallClosed = 1006,       // rules removed
    ServiceRecovered = 1007,     // version
    PanicEntry = 1008,           // the panic entry's text
    EventsHeldBack = 1009,       // how many, of which id, over how many seconds
};

// Every id, in order: the message table holds a template for each.
constexpr EventId kAllEventIds[] = {
    EventId::ServiceStarted,   EventId::ServiceStopped, EventId::ApplicationRestarted, EventId::ServerRefused,
    EventId::InstallerNotStarted, EventId::FirewallOpened, EventId::FirewallClosed, EventId::ServiceRecovered,
    EventId::PanicEntry,       EventId::EventsHeldBack,
};

// The event log's levels (the values of EVENTLOG_ERROR_TYPE, _WARNING_TYPE and _INFORMATION_TYPE).
enum class EventLevel : std::uint16_t {
    Error = 0x0001,
    Warning = 0x0002,
    Information = 0x0004,
};

// One event as it goes to the log: the inserts fill %1, %2, ... of the id's template in this order.
struct EventRecord {
    EventId id = EventId::ServiceStarted;
    EventLevel level = EventLevel::Information;
    std::vector<std::wstring> inserts;
    // What the rate limit counts it under besides its id (a refused server's path: each has a budget of
    // its own); empty for the id alone.
    std::wstring rateSubject;
};

// Why the service ended a run of its own accord.
enum class StopCause {
    Control,        // a stop sent through the service manager
    Shutdown,       // the system is shutting down
    StopForUpdate,  // the application asked for it before an update
};

// Why the process serving the application's pipe was not trusted.

// Why a driver installer was not started or did not start.
enum class InstallerProblem {
    NotValidated,  // its check failed or could not be made; code: the check's result
    StartFailed,   // it passed the check and the start failed; code: the shell's result
};

// The fixed words of the inserts, as the message table's readers see them.
const wchar_t* StopCauseText(StopCause cause);
const wchar_t* ServerRefusalText(TrustRefusal why);

EventRecord ServiceStartedEvent(const std::wstring& version);
EventRecord ServiceStoppedEvent(const std::wstring& version, StopCause cause);
EventRecord ServiceRecoveredEvent(const std::wstring& version);
EventRecord ApplicationRestartedEvent(long crashCount, const std::wstring& appPath);
EventRecord ServerRefusedEvent(const std::wstring& serverPath, TrustRefusal why);
// why: for NotValidated, what the check refused (a file the library rejected is "not signed").
EventRecord InstallerNotStartedEvent(const std::wstring& installerPath, InstallerProblem problem, long code,
                                     TrustRefusal why = TrustRefusal::NotSigned);
EventRecord FirewallOpenedEvent(long rulesAdded, bool restricted);
EventRecord FirewallClosedEvent(long rulesRemoved);
EventRecord PanicEntryEvent(const std::wstring& entry);
EventRecord EventsHeldBackEvent(EventId heldId, unsigned long heldCount, std::uint64_t periodMs);

// Text from outside the service (paths, pipe text, panic messages) as it may stand in an insert,
// escaped as the log escapes it (EscapeControlCharacters: control characters, invisible format
// characters such as the bidirectional overrides), so that an insert can never begin a line of its own,
// hide text or read as other text; cut to kMaxInsertChars characters, never inside an escape.
constexpr std::size_t kMaxInsertChars = 2048;
std::wstring EscapeEventInsert(const std::wstring& text);
