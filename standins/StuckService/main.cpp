// A service registered under the service's name that answers a stop with STOP_PENDING (wait hint
// 500 ms, check point 0) and stays so, without progress, until the named event
// "OrvelStandInFinishStop" is set (or a minute has passed); then it reports STOPPED and ends.

#include <windows.h>

#include "base/Win32Resources.h"

namespace {

constexpr wchar_t kServiceName[] = L"Orvel";
constexpr wchar_t kFinishEvent[] = L"OrvelStandInFinishStop";
constexpr DWORD kStopWaitHintMs = 500;
constexpr DWORD kLongestStopMs = 60000;

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopAsked = nullptr;

void Report(DWORD state, DWORD waitHint)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWaitHint = waitHint;
    ::SetServiceStatus(g_status, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING, kStopWaitHintMs);
        ::SetEvent(g_stopAsked);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_status = ::RegisterServiceCtrlHandlerExW(kServiceName, Handler, nullptr);
    if (g_status == nullptr) {
        return;
    }
    const UniqueHandle finish(::CreateEventW(nullptr, TRUE, FALSE, kFinishEvent));
    Report(SERVICE_RUNNING, 0);
    ::WaitForSingleObject(g_stopAsked, INFINITE);
    ::WaitForSingleObject(finish.get(), kLongestStopMs);
    Report(SERVICE_STOPPED, 0);
}

} // namespace

int wmain()
{
    g_stopAsked = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t name[] = L"Orvel";
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    ::StartServiceCtrlDispatcherW(table);
    return 0;
}
