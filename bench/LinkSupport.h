#pragma once

// What the benchmarks of the application link add to the harness: the installed service serving the
// installed stand-in (set up, connected, cleared away), journal records waited for as often as a timing
// needs, and the service's handles counted from outside.

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "BenchSupport.h"
#include "Sandbox.h"
#include "ServiceManager.h"
#include "StandInApp.h"
#include "base/Win32Resources.h"

namespace bench_link {

constexpr DWORD kWaitMs = 20000;
// Handle values are multiples of 4; Wine hands out the lowest free one, so a service with a few hundred
// handles stays far below this.
constexpr ULONG_PTR kHighestProbedHandle = 0x10000;

using bench::Record;

// The installed stand-in application.
inline const harness::StandInApp& App()
{
    static const harness::StandInApp app;
    return app;
}

inline void Print(const char* key, double value)
{
    std::printf("%s %.3f\n", key, value);
    std::fflush(stdout);
}

inline int CountRecords(const std::function<bool(const Record&)>& match)
{
    int count = 0;
    for (const Record& record : bench::ReadJournal(App().JournalPath())) {
        count += match(record) ? 1 : 0;
    }
    return count;
}

inline bool WaitRecord(const std::function<bool(const Record&)>& match, Record* found, DWORD timeoutMs = kWaitMs)
{
    return harness::WaitFor(
        [&] {
            for (const Record& record : bench::ReadJournal(App().JournalPath())) {
                if (match(record)) {
                    *found = record;
                    return true;
                }
            }
            return false;
        },
        timeoutMs, 2);
}

// Handles of another process, found by duplicating every possible value.
inline int ProbeHandleCount(HANDLE process)
{
    int count = 0;
    for (ULONG_PTR value = 4; value <= kHighestProbedHandle; value += 4) {
        HANDLE copy = nullptr;
        if (::DuplicateHandle(process, reinterpret_cast<HANDLE>(value), ::GetCurrentProcess(), &copy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS)) {
            UniqueHandle owned(copy);
            ++count;
        }
    }
    return count;
}

// Sends the stop control and waits, as often as a timing needs, until the service has stopped.
inline bool StopService()
{
    return harness::SendServiceControl(SERVICE_CONTROL_STOP) &&
           harness::WaitFor([] { return harness::ServiceState() == SERVICE_STOPPED; }, kWaitMs, 2);
}

// ---- The link: the service serving the stand-in --------------------------------------------------------------

struct Link {
    DWORD servicePid = 0;
    DWORD appPid = 0;
    UniqueHandle app;
};

// Where every run begins and ends: no service, no stand-in, no inbox left over, an empty journal. The
// service goes first, so that the stand-in's end is no crash for it to restart.
inline void ClearStage()
{
    harness::RemoveOrvelIfPresent();
    App().Reset();
}

// Installs the service from the install folder and waits until it runs; its process id goes into link.
inline bool InstallService(Link* link)
{
    if (harness::RunServiceExe(L"-install") != 0u || !harness::WaitForServiceState(SERVICE_RUNNING, kWaitMs)) {
        return false;
    }
    link->servicePid = harness::ServiceProcessId();
    return true;
}

// Waits for the service's client (link.servicePid) to connect to the stand-in (link.appPid).
inline bool WaitConnected(const Link& link)
{
    Record found;
    return WaitRecord(
        [&link](const Record& r) {
            return r.event == "client-connected" && r.pid == link.appPid && r.client == link.servicePid;
        },
        &found);
}

// Starts the stand-in and waits for the installed service's client to connect to it.
inline bool StartConnectedApp(Link* link)
{
    link->app = App().Start(std::wstring(), &link->appPid);
    return link->app && WaitConnected(*link);
}

// A key of the application's section of the user's settings file; no value: the key is removed.
inline void SetCorvaneKey(const wchar_t* key, const wchar_t* value)
{
    const std::wstring settings = harness::UserSettingsPath();
    if (value == nullptr) {
        harness::IniDelete(settings, harness::kCorvaneSection, key);
    } else {
        harness::IniWrite(settings, harness::kCorvaneSection, key, value);
    }
}

} // namespace bench_link
