// Where the time of a crash restart goes, printed for bench/restart_breakdown_bench.sh (never asserted).
//   restart_breakdown_bench.exe [runs]
// Runs in a prefix laid out by scripts/sandbox.sh, with a service context of its own built from the
// sandbox (the console user's data folder, the installed stand-in Corvane.exe as the application). Each
// run times, with the performance counter, every step that lies between a broken pipe and the restarted
// application's start, one by one and in the order the crash rule takes them, twice: with the log off
// (no "debug" marker: every log call rewrites the "Debug" and "Log_Path" keys instead) and with it on
// (every line written and flushed to disk):
//   log_*         one log call;
//   ini_read      one key of section "Corvane" read (the rule reads "exit", "hibernating", "HideToTray");
//   crash_count   the crash counter read and written back plus one;
//   scan          KillCorvane(0) with no instance running: the process snapshot and its walk;
//   token_env     the console session, the user's token and the environment block built from it;
//   run_call      RunCorvane itself (the previous step again, then the process creation);
//   launch        from the RunCorvane call to the stand-in's start record (the new process's own start);
// and the whole restart path as the service takes it, less the 1 s wait: path_*.
// Prints "key value" lines, one per run and step.

#include <windows.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "BenchSupport.h"
#include "DemonService.h"
#include "base/Win32Resources.h"
#include "base/DiagnosticLog.h"
#include "base/SettingsFile.h"
#include "supervision/CrashCount.h"
#include "supervision/RunCorvane.h"

namespace {

constexpr ULONGLONG kStartTimeoutMs = 15000;

template <typename Step>
void Time(const std::string& key, Step step)
{
    const double begin = bench::NowMs();
    step();
    std::printf("%s %.3f\n", key.c_str(), bench::NowMs() - begin);
}

// Waits for the launched stand-in's start record; prints the delays from `called` (tick count) to it
// and to the program's entry into its own code.
void Launched(const std::wstring& journal, ULONGLONG called, const std::string& key)
{
    const std::optional<bench::Record> start = bench::WaitStartRecord(journal, 0, called, kStartTimeoutMs);
    if (start && start->tick != 0) {
        std::printf("%s %llu\n", key.c_str(), start->tick - called);
    }
    if (start && start->entry != 0) {
        std::printf("%s_entry %llu\n", key.c_str(), start->entry - called);
    }
}

// Process creation alone, in this process's session and environment, with the given flags.
void CreateDirect(const std::wstring& appPath, DWORD flags)
{
    std::wstring commandLine = appPath + L" /mode:background";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created = {};
    if (::CreateProcessW(appPath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                         &created)) {
        UniqueHandle process(created.hProcess);
        UniqueHandle thread(created.hThread);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 15;
    DemonService* service = DemonService::GetInstance();
    if (service == nullptr) {
        std::fprintf(stderr, "no service context\n");
        return 1;
    }
    const std::wstring appPath = service->AppPath();
    const harness::StandInApp app(appPath);
    const std::wstring journal = app.JournalPath();
    const std::wstring marker = service->DataDir() + L"\\logs\\debug";
    service->KillCorvane(0);

    for (const bool logOn : {false, true}) {
        const std::string suffix = logOn ? "_log_on" : "_log_off";
        ::CreateDirectoryW(service->DataDir().c_str(), nullptr);
        ::CreateDirectoryW((service->DataDir() + L"\\logs").c_str(), nullptr);
        if (logOn) {
            UniqueFileHandle(::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
        } else {
            ::DeleteFileW(marker.c_str());
        }
        service->CloseLogFile();
        for (int run = 0; run < runs; ++run) {
            Time("log" + suffix, [] { LOG_CLIENT("ReadFile fail"); });
            Time("ini_read" + suffix, [] { ReadCorvaneInt(L"exit"); });
            Time("crash_count" + suffix, [] {
                int crashes = 0;
                ReadCrashCount(&crashes);
                WriteCrashCount(static_cast<unsigned>(crashes) + 1);
            });
            Time("scan" + suffix, [service] { service->KillCorvane(0); });
            Time("token_env" + suffix, [] {
                UniqueHandle token;
                UniqueEnvironmentBlock environment;
                if (::WTSQueryUserToken(::WTSGetActiveConsoleSessionId(), token.put())) {
                    ::CreateEnvironmentBlock(environment.put(), token.get(), FALSE);
                }
            });

            app.ClearJournal();
            ULONGLONG called = ::GetTickCount64();
            Time("run_call" + suffix, [&appPath] { RunCorvane(appPath.c_str(), 1); });
            Launched(journal, called, "launch" + suffix);
            service->KillCorvane(0);

            // Creation alone, with the service's flags and without a new console.
            for (const DWORD flags : {DWORD{0x430}, DWORD{0x030}}) {
                const std::string key = flags == 0x430 ? "create_0x430" : "create_0x030";
                app.ClearJournal();
                called = ::GetTickCount64();
                Time(key + "_call" + suffix, [&appPath, flags] { CreateDirect(appPath, flags); });
                Launched(journal, called, key + suffix);
                service->KillCorvane(0);
            }

            // The path as the service takes it after a crash (the 1 s wait left out), to the start record.
            app.ClearJournal();
            called = ::GetTickCount64();
            Time("path_to_call" + suffix, [service] {
                LOG_CLIENT("ReadFile fail");
                ReadCorvaneInt(L"exit");
                ReadCorvaneInt(L"hibernating");
                LOG_CLIENT("CVA_exit == EXIT_COMMAND_SEND_NONE");
                int crashes = 0;
                ReadCrashCount(&crashes);
                WriteCrashCount(static_cast<unsigned>(crashes) + 1);
                service->ReStartCorvane(true);
            });
            Launched(journal, called, "path" + suffix);
            service->KillCorvane(0);
        }
    }
    ::DeleteFileW(marker.c_str());
    service->KillCorvane(0);
    service->ReleaseHandles();
    DemonService::DestroyInstance();
    return 0;
}
