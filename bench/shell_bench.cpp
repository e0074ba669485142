// Timings of the shell integration under Wine, printed for bench/shell_bench.sh (never asserted).
//   shell_bench.exe <ShellWindow.exe> [runs]
// Runs in a prefix laid out by scripts/sandbox.sh, with the stand-in shell window started here:
//   runcorvane: wall time of "DemonService.exe -runCorvane" (its 2 s pause included), process start to end
//               (under Wine the stand-in shell runs at high integrity, as every process there: its token
//               is borrowed, checked and refused, and nothing starts);
//   bare:       a bare CreateProcessW of the same stand-in, from the call to its start record (its tick);
//   menus:      UpdateFileDockFileMenu + UpdateFriendlyAppName, the run loop's additions to a start;
//   remove:     RemoveContextMenus (1 034 deletions) with none of the keys present, and with all present.
// Prints "key value" lines, one per run and measure, then "runs N".

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "BenchSupport.h"
#include "DemonService.h"
#include "base/Win32Resources.h"
#include "integration/ContextMenuPlan.h"
#include "integration/ExplorerMenus.h"
#include "integration/FriendlyAppName.h"

namespace {

constexpr DWORD kTimeoutMs = 30000;

void CreateAllMenuKeys()
{
    for (const std::wstring& key : ContextMenuKeysToRemove()) {
        UniqueRegKey created;
        ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.put(),
                          nullptr);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: shell_bench.exe <ShellWindow.exe> [runs]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 10;
    DemonService* service = DemonService::GetInstance();
    if (service == nullptr) {
        return 1;
    }
    const std::wstring appPath = service->AppPath();
    const std::wstring folder = appPath.substr(0, appPath.rfind(L'\\'));
    const harness::StandInApp app(appPath);
    const std::wstring journal = app.JournalPath();
    const std::wstring serviceExe = folder + L"\\DemonService.exe";

    UniqueHandle shell = harness::StandInApp(argv[1]).Start();
    for (int wait = 0; wait < 200 && ::GetShellWindow() == nullptr; ++wait) {
        ::Sleep(10);
    }
    int failures = ::GetShellWindow() == nullptr ? 1 : 0;
    app.Reset();

    for (int run = 0; run < runs; ++run) {
        const double begin = bench::NowMs();
        const bool ended = harness::RunAndWait(serviceExe, L"-runCorvane", kTimeoutMs).has_value();
        const double end = bench::NowMs();
        if (ended && !bench::FindStartRecord(journal)) {
            std::printf("runcorvane_ms %.3f\n", end - begin);
        } else {
            ++failures;
        }
        app.Reset();

        DWORD processId = 0;
        const ULONGLONG called = ::GetTickCount64();
        UniqueHandle bare = app.Start(std::wstring(), &processId);
        const std::optional<bench::Record> start =
            bare ? bench::WaitStartRecord(journal, processId, called, kTimeoutMs) : std::nullopt;
        if (start && start->tick != 0) {
            std::printf("bare_ms %llu\n", start->tick - called);
        } else {
            ++failures;
        }
        app.Reset();

        const double menusBegin = bench::NowMs();
        UpdateFileDockFileMenu(appPath.c_str(), service->m_sendboxMenuTitle);
        UpdateFriendlyAppName(appPath.c_str(), service->m_appTitle);
        std::printf("menus_ms %.3f\n", bench::NowMs() - menusBegin);

        const double emptyBegin = bench::NowMs();
        RemoveContextMenus();
        std::printf("remove_empty_ms %.3f\n", bench::NowMs() - emptyBegin);
        CreateAllMenuKeys();
        const double fullBegin = bench::NowMs();
        RemoveContextMenus();
        std::printf("remove_full_ms %.3f\n", bench::NowMs() - fullBegin);
    }

    if (::GetShellWindow() != nullptr) {
        ::PostMessageW(::GetShellWindow(), WM_CLOSE, 0, 0);
        ::WaitForSingleObject(shell.get(), kTimeoutMs);
    }
    std::printf("runs %d\nfailures %d\n", runs, failures);
    service->ReleaseHandles();
    DemonService::DestroyInstance();
    return 0;
}
