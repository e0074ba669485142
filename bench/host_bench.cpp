// Service host figures under Wine: StartService -> RUNNING and stop control -> STOPPED, over repeated
// cycles. Prints "key value" lines; the script summarises them (and measures the idle CPU itself:
// Wine's GetProcessTimes does not report other processes' times).

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "BenchSupport.h"
#include "base/Win32Resources.h"

namespace {

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS* status)
{
    DWORD needed = 0;
    return ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status),
                                  sizeof(*status), &needed) != FALSE;
}

// Polls every millisecond until the state is reached; -1 on a time-out.
double WaitForState(SC_HANDLE service, DWORD state, double startMs, double timeoutMs)
{
    SERVICE_STATUS_PROCESS status = {};
    while (bench::NowMs() - startMs < timeoutMs) {
        if (Query(service, &status) && status.dwCurrentState == state) {
            return bench::NowMs() - startMs;
        }
        ::Sleep(1);
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 10;
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(manager ? ::OpenServiceW(manager.get(), L"Orvel", SERVICE_ALL_ACCESS) : nullptr);
    if (!service) {
        std::printf("error no-service\n");
        return 1;
    }
    SERVICE_STATUS control = {};
    for (int run = 0; run < runs; ++run) {
        const double startMs = bench::NowMs();
        if (!::StartServiceW(service.get(), 0, nullptr)) {
            std::printf("error start %lu\n", ::GetLastError());
            break;
        }
        std::printf("start_ms %.3f\n", WaitForState(service.get(), SERVICE_RUNNING, startMs, 20000));
        ::Sleep(1500);  // let the client make its first connect attempt
        const double stopMs = bench::NowMs();
        ::ControlService(service.get(), SERVICE_CONTROL_STOP, &control);
        std::printf("stop_ms %.3f\n", WaitForState(service.get(), SERVICE_STOPPED, stopMs, 20000));
        // The process ends a moment after it reports STOPPED; start the next run from a clean slate.
        ::Sleep(1500);
        std::fflush(stdout);
    }

    return 0;
}
