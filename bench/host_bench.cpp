// Service host figures under Wine: StartService -> RUNNING, stop control -> STOPPED, and the service
// process's CPU time over an idle minute. Prints "key value" lines; the script summarises them.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

double NowMs()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

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
    while (NowMs() - startMs < timeoutMs) {
        if (Query(service, &status) && status.dwCurrentState == state) {
            return NowMs() - startMs;
        }
        ::Sleep(1);
    }
    return -1;
}

double CpuMs(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return -1;
    }
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 10;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? ::OpenServiceW(manager, L"Orvel", SERVICE_ALL_ACCESS) : nullptr;
    if (service == nullptr) {
        std::printf("error no-service\n");
        return 1;
    }
    SERVICE_STATUS control = {};
    for (int run = 0; run < runs; ++run) {
        const double startMs = NowMs();
        if (!::StartServiceW(service, 0, nullptr)) {
            std::printf("error start %lu\n", ::GetLastError());
            break;
        }
        std::printf("start_ms %.3f\n", WaitForState(service, SERVICE_RUNNING, startMs, 20000));
        ::Sleep(1500);  // let the client make its first connect attempt
        const double stopMs = NowMs();
        ::ControlService(service, SERVICE_CONTROL_STOP, &control);
        std::printf("stop_ms %.3f\n", WaitForState(service, SERVICE_STOPPED, stopMs, 20000));
        // The process ends a moment after it reports STOPPED; start the next run from a clean slate.
        ::Sleep(1500);
        std::fflush(stdout);
    }

    if (idleSeconds > 0 && ::StartServiceW(service, 0, nullptr)) {
        WaitForState(service, SERVICE_RUNNING, NowMs(), 20000);
        SERVICE_STATUS_PROCESS status = {};
        Query(service, &status);
        HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId);
        ::Sleep(2000);
        const double before = CpuMs(process);
        ::Sleep(static_cast<DWORD>(idleSeconds) * 1000);
        const double after = CpuMs(process);
        std::printf("idle_cpu_ms %.3f\n", before >= 0 && after >= 0 ? after - before : -1.0);
        std::printf("idle_seconds %d\n", idleSeconds);
        ::CloseHandle(process);
        ::ControlService(service, SERVICE_CONTROL_STOP, &control);
        WaitForState(service, SERVICE_STOPPED, NowMs(), 20000);
    }
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return 0;
}
