#pragma once

// The events that services of the prefix report, as a test sees them. Wine keeps no event log; it
// writes each insert string that ReportEventW is given as one line on its "eventlog" channel (warn for
// warnings, err for errors, trace for the rest), and the session start sends the service manager's
// stderr, which every service inherits, to <prefix>\services-stderr.log. An object reads what was
// appended after its construction.

#include <windows.h>

#include <string>
#include <vector>

#include "Sandbox.h"

namespace harness {

// One insert string as ReportEventW was given it, with its event's level ("warn", "err", "trace").
struct ReportedInsert {
    std::string level;
    std::wstring text;
};

class ServiceEvents {
public:
    ServiceEvents();

    // Where the services' stderr goes (a Z:\ path), and whether the session start set it up.
    static std::wstring CapturePath();
    static bool Capturing();

    // The inserts reported since construction, in order.
    std::vector<ReportedInsert> Reported() const;
    // How many events of the level carried exactly these inserts, one after another.
    int Count(const char* level, const std::vector<std::wstring>& inserts) const;
    // Waits until Count reaches count; false on a timeout.
    bool WaitFor(const char* level, const std::vector<std::wstring>& inserts, int count = 1,
                 DWORD timeoutMs = kStartTimeoutMs) const;

private:
    unsigned long long m_start = 0;
};

} // namespace harness
