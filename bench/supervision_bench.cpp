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
#include <cstdlib>
#include <string>

#include "DemonService.h"
#include "BenchSupport.h"
#include "base/Win32Resources.h"
#include "supervision/RunCorvane.h"

namespace {

constexpr ULONGLONG kStartTimeoutMs = 15000;
constexpr DWORD kExitTimeoutMs = 10000;

// The first complete start record of the journal: its process id and tick count.
bool FindStart(const std::wstring& journal, DWORD* processId, ULONGLONG* tick)
{
    const std::string text = bench::ReadWholeFile(journal);
    std::size_t begin = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; begin = end + 1, end = text.find('\n', begin)) {
        const std::string line = text.substr(begin, end - begin);
        if (bench::JournalField(line, "event") == "start") {
            *processId = static_cast<DWORD>(std::strtoul(bench::JournalField(line, "pid").c_str(), nullptr, 10));
            *tick = std::strtoull(bench::JournalField(line, "tick").c_str(), nullptr, 10);
            return true;
        }
    }
    return false;
}

void RemoveJournal(const std::wstring& journal)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (::DeleteFileW(journal.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND) {
            return;
        }
        ::Sleep(10);
    }
}

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
    const std::wstring journal = appPath.substr(0, appPath.rfind(L'\\')) + L"\\Corvane.journal";
    service->KillCorvane(0);

    int failures = 0;
    for (int run = 0; run < runs; ++run) {
        RemoveJournal(journal);
        const ULONGLONG called = ::GetTickCount64();
        const double callStart = bench::NowMs();
        RunCorvane(appPath.c_str(), 0);
        const double callEnd = bench::NowMs();

        DWORD processId = 0;
        ULONGLONG started = 0;
        while (!FindStart(journal, &processId, &started) && ::GetTickCount64() - called < kStartTimeoutMs) {
            ::Sleep(1);
        }
        if (processId == 0) {
            ++failures;
            continue;
        }
        UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
        std::printf("launch_ms %llu\n", started - called);
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
