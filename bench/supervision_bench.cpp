// Timings of the application supervision under Wine, printed for bench/supervision_bench.sh (never
// asserted).
//   supervision_bench.exe [runs]
// Runs in a prefix laid out by scripts/sandbox.sh: the installed Corvane.exe (the stand-in) is the
// application. Each run starts it with RunCorvane and stops it with KillCorvane(0), and measures
//   launch: from the RunCorvane call to the stand-in's start record (its own tick count, 1 ms steps);
//   kill:   from the KillCorvane call to the process having ended (its handle signalled).
// Prints "key value" lines, one per run and measure, then "runs N".

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "DemonService.h"
#include "BenchSupport.h"
#include "base/Win32Resources.h"
#include "supervision/RunCorvane.h"

namespace {

constexpr ULONGLONG kStartTimeoutMs = 15000;
constexpr DWORD kExitTimeoutMs = 10000;

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 20;
    DemonService* service = DemonService::GetInstance();
    if (service == nullptr) {
        std::fprintf(stderr, "no service context\n");
        return 1;
    }
    const std::wstring appPath = service->AppPath();
    const harness::StandInApp app(appPath);
    const std::wstring journal = app.JournalPath();
    service->KillCorvane(0);

    int failures = 0;
    for (int run = 0; run < runs; ++run) {
        app.ClearJournal();
        const ULONGLONG called = ::GetTickCount64();
        const double callStart = bench::NowMs();
        RunCorvane(appPath.c_str(), 0);
        const double callEnd = bench::NowMs();

        const std::optional<bench::Record> start = bench::WaitStartRecord(journal, 0, called, kStartTimeoutMs);
        if (!start || start->pid == 0) {
            ++failures;
            continue;
        }
        UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, start->pid));
        std::printf("launch_ms %llu\n", start->tick - called);
        std::printf("launch_call_ms %.3f\n", callEnd - callStart);

        const double killStart = bench::NowMs();
        service->KillCorvane(0);
        const double killReturned = bench::NowMs();
        const bool ended = process && ::WaitForSingleObject(process.get(), kExitTimeoutMs) == WAIT_OBJECT_0;
        const double gone = bench::NowMs();
        if (!ended) {
            ++failures;
            continue;
        }
        std::printf("kill_ms %.3f\n", gone - killStart);
        std::printf("kill_call_ms %.3f\n", killReturned - killStart);
    }
    service->KillCorvane(0);
    std::printf("runs %d\nfailures %d\n", runs, failures);
    service->ReleaseHandles();
    DemonService::DestroyInstance();
    return 0;
}
