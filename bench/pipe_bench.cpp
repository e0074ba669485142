// Figures of the application link under Wine, printed for bench/pipe_bench.sh (never asserted).
//   pipe_bench.exe <restart runs> <stop runs> <idle runs> <idle seconds> <cycles>
// Runs in a prefix laid out by scripts/sandbox.sh, with the "Orvel" service installed and started from the
// sandbox and the installed stand-in Corvane.exe as the application, driven through its inbox and read
// through its journal (tick counts of one clock, 1 ms steps). Phases, each printing "key value" lines:
//   restart: the connected application crashes without notice; from its "crash" record to the start
//            record of the instance the service starts again, less the prescribed 1000 ms (restart_ms),
//            and to that instance's entry into its own code (restart_entry_ms), which leaves out the
//            stand-in's own start-up before it writes the record (restart_standin_ms);
//   idle:    "idle_begin N" / "idle_end N" around <idle seconds> of connected silence; the script reads the
//            service's CPU time from /proc meanwhile (Wine's GetProcessTimes says nothing of other processes);
//   handles: <cycles> connect-and-break cycles (the application drops the connection; "exit" = 1 makes the
//            break no crash, and the client reconnects a second later), then as many cycles in which the
//            client itself is replaced ("hibernate" before the break). The service's handles are counted
//            after the first cycle and after the last by probing its handle values with DuplicateHandle
//            (Wine's GetProcessHandleCount answers 0); GetProcessHandleCount's answer is printed too;
//   stop:    the service is started, connected and blocked in its read; from the stop control to
//            SERVICE_STOPPED (stop_ms).
// The service is removed and every instance of the stand-in ended at the end.

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "LinkSupport.h"
#include "base/Win32Resources.h"

namespace {

constexpr ULONGLONG kCrashRestartDelayMs = 1000;

using namespace bench_link;

// ---- Phases ---------------------------------------------------------------------------------------------------

int RestartPhase(Link& link, int runs)
{
    int failures = 0;
    SetCorvaneKey(L"exit", L"0");
    SetCorvaneKey(L"hibernating", L"0");
    for (int run = 0; run < runs; ++run) {
        const DWORD crashed = link.appPid;
        if (!App().AppendInbox(L"crash")) {
            return failures + runs - run;
        }
        Record crash;
        Record start;
        const bool seen = WaitRecord([crashed](const Record& r) { return r.event == "crash" && r.pid == crashed; }, &crash) &&
                          WaitRecord([crashed](const Record& r) { return r.event == "start" && r.pid != crashed; }, &start);
        if (!seen) {
            ++failures;
            break;
        }
        Print("restart_ms", static_cast<double>(start.tick - crash.tick) - static_cast<double>(kCrashRestartDelayMs));
        if (start.entry != 0) {
            Print("restart_entry_ms",
                  static_cast<double>(start.entry - crash.tick) - static_cast<double>(kCrashRestartDelayMs));
            Print("restart_standin_ms", static_cast<double>(start.tick - start.entry));
        }
        link.app.reset(::OpenProcess(SYNCHRONIZE, FALSE, start.pid));
        link.appPid = start.pid;
        if (!WaitConnected(link)) {
            ++failures;
            break;
        }
        App().ClearJournal();
    }
    return failures;
}

void IdlePhase(int runs, int seconds)
{
    for (int run = 1; run <= runs; ++run) {
        std::printf("idle_begin %d\n", run);
        std::fflush(stdout);
        ::Sleep(static_cast<DWORD>(seconds) * 1000);
        std::printf("idle_end %d\n", run);
        std::fflush(stdout);
    }
}

// One cycle: the application drops the connection (after "hibernate" when replaceClient), and the service's
// client is connected again.
bool Cycle(const Link& link, bool replaceClient)
{
    const auto connected = [&link](const Record& r) {
        return r.event == "client-connected" && r.pid == link.appPid && r.client == link.servicePid;
    };
    const int before = CountRecords(connected);
    if (!App().AppendInbox(replaceClient ? L"send hibernate; sleep 150; disconnect" : L"disconnect")) {
        return false;
    }
    return harness::WaitFor([&] { return CountRecords(connected) > before; }, kWaitMs, 2);
}

int HandlePhase(const Link& link, int cycles, bool replaceClient, const char* prefix)
{
    UniqueHandle service(::OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_INFORMATION, FALSE, link.servicePid));
    if (!service) {
        std::printf("%s_unreadable 1\n", prefix);
        return 1;
    }
    int failures = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        if (!Cycle(link, replaceClient)) {
            ++failures;
            break;
        }
        if (cycle == 1 || cycle == cycles) {
            // Let the reconnected client settle into its read before counting.
            ::Sleep(300);
            DWORD reported = 0;
            ::GetProcessHandleCount(service.get(), &reported);
            const std::string key = std::string(prefix) + (cycle == 1 ? "_after_first" : "_after_last");
            Print(key.c_str(), ProbeHandleCount(service.get()));
            Print((key + "_reported").c_str(), reported);
        }
        if (cycle % 20 == 0) {
            App().ClearJournal();
        }
    }
    std::printf("%s_cycles %d\n", prefix, cycles);
    return failures;
}

int StopPhase(Link& link, int runs)
{
    int failures = 0;
    for (int run = 0; run < runs; ++run) {
        App().ClearJournal();
        if (!harness::StartOrvel() || !harness::WaitForServiceState(SERVICE_RUNNING, kWaitMs)) {
            ++failures;
            continue;
        }
        link.servicePid = harness::ServiceProcessId();
        UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, link.servicePid));
        if (!WaitConnected(link)) {
            ++failures;
            continue;
        }
        ::Sleep(500);
        const double begin = bench::NowMs();
        const bool stopped = StopService();
        const double end = bench::NowMs();
        if (!stopped) {
            ++failures;
            continue;
        }
        Print("stop_ms", end - begin);
        if (process) {
            ::WaitForSingleObject(process.get(), kWaitMs);
        }
    }
    return failures;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int restartRuns = argc > 1 ? std::max(0, _wtoi(argv[1])) : 15;
    const int stopRuns = argc > 2 ? std::max(0, _wtoi(argv[2])) : 7;
    const int idleRuns = argc > 3 ? std::max(0, _wtoi(argv[3])) : 3;
    const int idleSeconds = argc > 4 ? std::max(1, _wtoi(argv[4])) : 60;
    const int cycles = argc > 5 ? std::max(1, _wtoi(argv[5])) : 200;

    ClearStage();

    int failures = 0;
    Link link;
    if (!InstallService(&link)) {
        std::printf("failures 1\n");
        return 1;
    }
    if (!StartConnectedApp(&link)) {
        std::printf("failures 1\n");
        ClearStage();
        return 1;
    }

    failures += RestartPhase(link, restartRuns);
    IdlePhase(idleRuns, idleSeconds);

    // Breaks that are no crash: the client only reconnects.
    SetCorvaneKey(L"exit", L"1");
    failures += HandlePhase(link, cycles, false, "handles");
    failures += HandlePhase(link, cycles, true, "handles_replaced");
    SetCorvaneKey(L"exit", L"0");

    // The service stops while connected; it is started again for each run.
    {
        UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, link.servicePid));
        StopService();
        if (process) {
            ::WaitForSingleObject(process.get(), kWaitMs);
        }
    }
    failures += StopPhase(link, stopRuns);

    ClearStage();
    SetCorvaneKey(L"exit", nullptr);
    SetCorvaneKey(L"hibernating", nullptr);
    std::printf("failures %d\n", failures);
    return 0;
}
