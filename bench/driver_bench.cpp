// Figures of the driver installation, printed for bench/driver_bench.sh (never asserted).
//   driver_bench.exe <camera runs> <validation runs>
// Runs in a prefix laid out by scripts/sandbox.sh, from a folder holding Halvex.SignatureCheck.Native.dll
// (as the service's folder does). Phases, each printing "key value" lines:
//   validate: for each installer of the install folder, with the library already loaded, the time of
//             ValidateAssemblyFile alone (validate_ms) and of the check-then-start hold around it with
//             nothing started (held_validate_ms), one line per call;
//   camera:   the "Orvel" service installed and started, the stand-in application connected; per run,
//             from the stand-in's "send InstallCameraDriver" record (the write has returned) to the later
//             of the two devcon start records (camera_ms), and to the earlier one (camera_first_ms).
//             Both journals take GetTickCount64 of this prefix, in 1 ms steps.
// The service is removed and every instance of the stand-in ended at the end.

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "BenchSupport.h"
#include "LinkSupport.h"
#include "harness/DriverInstallers.h"
#include "base/Win32Resources.h"
#include "trust/SignatureValidator.h"
#include "trust/ValidatedStart.h"

namespace {

using namespace bench_link;


void ValidatePhase(int runs)
{
    for (const wchar_t* name : {L"devcon.exe", L"CvDiskBridge.exe", L"drivers\\screenshare\\DisplayDriverSetup64.exe"}) {
        const std::wstring path = harness::InstallFolder() + name;
        if (ValidateAssemblyFile(path.c_str()) != 0) {
            std::printf("failures 1\n");
            continue;
        }
        for (int run = 0; run < runs; ++run) {
            double start = bench::NowMs();
            const int plain = ValidateAssemblyFile(path.c_str());
            const double plainMs = bench::NowMs() - start;
            start = bench::NowMs();
            const int held = ValidateThenStart(path.c_str(), [] {});
            const double heldMs = bench::NowMs() - start;
            std::printf("validate_ms %.3f\nheld_validate_ms %.3f\n", plain == 0 ? plainMs : -1.0,
                        held == 0 ? heldMs : -1.0);
        }
    }
}

int CameraPhase(int runs)
{
    ClearStage();
    Link link;
    if (!InstallService(&link) || !StartConnectedApp(&link)) {
        return runs;
    }
    // Run -1 is not counted: the client verifies the application after connecting, and the first
    // message waits for that.
    int failures = 0;
    for (int run = -1; run < runs; ++run) {
        App().ClearJournal();
        harness::InstalledInstaller(L"devcon.exe").ClearJournal();
        App().AppendInbox(L"send InstallCameraDriver");
        ULONGLONG sent = 0;
        ULONGLONG firstStart = ~0ULL;
        ULONGLONG lastStart = 0;
        const bool done = harness::WaitFor(
            [&] {
                int starts = 0;
                for (const Record& record : bench::ReadJournal(harness::InstallerJournalPath())) {
                    if (record.event == "start") {
                        ++starts;
                        firstStart = std::min(firstStart, record.tick);
                        lastStart = std::max(lastStart, record.tick);
                    }
                }
                for (const Record& record : bench::ReadJournal(App().JournalPath())) {
                    if (record.event == "send") {
                        sent = record.tick;
                    }
                }
                return starts >= 2 && sent != 0;
            },
            kWaitMs, 2);
        if (!done) {
            failures += run >= 0 ? 1 : 0;
            continue;
        }
        if (run < 0) {
            continue;
        }
        std::printf("camera_ms %llu\ncamera_first_ms %llu\n", lastStart - sent, firstStart - sent);
        std::fflush(stdout);
    }
    ClearStage();
    return failures;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int cameraRuns = argc > 1 ? std::max(0, _wtoi(argv[1])) : 15;
    const int validationRuns = argc > 2 ? std::max(1, _wtoi(argv[2])) : 50;
    ValidatePhase(validationRuns);
    const int failures = CameraPhase(cameraRuns);
    std::printf("failures %d\n", failures);
    return 0;
}
