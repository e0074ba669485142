#include "ServiceManager.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Sandbox.h"
#include "base/Win32Resources.h"

namespace harness {

namespace {

constexpr DWORD kServicePollMs = 200;

UniqueServiceHandle OpenOrvel(DWORD access)
{
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return UniqueServiceHandle();
    }
    return UniqueServiceHandle(::OpenServiceW(manager.get(), L"Orvel", access));
}

} // namespace

bool ServiceExists() { return OpenOrvel(SERVICE_QUERY_CONFIG).valid(); }

DWORD ServiceProcessId()
{
    UniqueServiceHandle service = OpenOrvel(SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!service || !::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                            sizeof(status), &needed)) {
        return 0;
    }
    return status.dwProcessId;
}

std::optional<ServiceConfig> QueryServiceConfiguration()
{
    UniqueServiceHandle service = OpenOrvel(SERVICE_QUERY_CONFIG);
    if (!service) {
        return std::nullopt;
    }
    DWORD needed = 0;
    ::QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 64);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!::QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
        return std::nullopt;
    }
    ServiceConfig result;
    result.serviceType = config->dwServiceType;
    result.startType = config->dwStartType;
    result.errorControl = config->dwErrorControl;
    result.imagePath = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"";
    result.account = config->lpServiceStartName != nullptr ? config->lpServiceStartName : L"";
    return result;
}

DWORD ServiceState()
{
    UniqueServiceHandle service = OpenOrvel(SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    if (!service || !::QueryServiceStatus(service.get(), &status)) {
        return 0;
    }
    return status.dwCurrentState;
}

bool WaitForServiceState(DWORD state, DWORD timeoutMs)
{
    return WaitFor([state] { return ServiceState() == state; }, timeoutMs, kServicePollMs);
}

bool SendServiceControl(DWORD control)
{
    UniqueServiceHandle service =
        OpenOrvel(SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL);
    SERVICE_STATUS status = {};
    if (service && ::ControlService(service.get(), control, &status)) {
        return true;
    }
    // What the service manager said, for the failure's report.
    std::fprintf(stderr, "ControlService(%lu) failed: error %lu, state %lu\n", static_cast<unsigned long>(control),
                 static_cast<unsigned long>(::GetLastError()), static_cast<unsigned long>(ServiceState()));
    return false;
}

bool StartOrvel()
{
    UniqueServiceHandle service = OpenOrvel(SERVICE_START);
    return service && ::StartServiceW(service.get(), 0, nullptr);
}

void RemoveOrvelIfPresent()
{
    UniqueServiceHandle service = OpenOrvel(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) {
        return;
    }
    SERVICE_STATUS status = {};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitForServiceState(SERVICE_STOPPED, 10000);
    ::DeleteService(service.get());
    service.reset();
    // The registration goes once the service's process has ended.
    WaitFor([] { return !ServiceExists(); }, 30000, kServicePollMs);
}

std::optional<DWORD> RunServiceExe(const std::wstring& argument, DWORD timeoutMs)
{
    return RunAndWait(ServiceExePath(), argument, timeoutMs);
}

ServiceExeRun RunServiceExeForOutput(const std::wstring& argument, DWORD timeoutMs)
{
    ServiceExeRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0) ||
        !::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) {
        return run;
    }
    std::wstring commandLine = L"\"" + ServiceExePath() + L"\" " + argument;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(ServiceExePath().c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return run;
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    writeEnd.reset();
    // Drained while it runs and once more after it ended, never read to the pipe's end: another process
    // (Wine's console host) may hold the child's copy of the write end open.
    const auto drain = [&] {
        DWORD available = 0;
        while (::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            std::string chunk(available, '\0');
            DWORD got = 0;
            if (!::ReadFile(readEnd.get(), &chunk[0], available, &got, nullptr) || got == 0) {
                return;
            }
            run.output.append(chunk.data(), got);
        }
    };
    const bool ended = WaitFor(
        [&] {
            drain();
            return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
        },
        timeoutMs);
    drain();
    if (!ended) {
        ::TerminateProcess(process.get(), 1);
        return run;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    run.exitCode = code;
    return run;
}

TracedServiceExeRun RunServiceExeTraced(const std::wstring& argument, DWORD timeoutMs)
{
    TracedServiceExeRun run;
    TempFolder folder(L"traced-run");
    const std::string unixFolder = UnixPathOf(folder.Path());
    if (unixFolder.empty()) {
        return run;
    }
    // The shell ends when the traced run has, and names its exit code last, in a file of its own.
    WriteFileBytes(folder / L"run.sh", "WINEDEBUG=+file,+profile wine \"$1\" $2 >\"$3/output\" 2>\"$3/trace\"\n"
                                       "echo $? >\"$3/exit.part\" && mv \"$3/exit.part\" \"$3/exit\"\n");
    const std::wstring where = FromUtf8(unixFolder);
    // Wine starts a Unix program and returns at once: the run is waited for by its exit file.
    const std::wstring arguments =
        L"\"" + where + L"/run.sh\" \"" + ServiceExePath() + L"\" " + argument + L" \"" + where + L"\"";
    RunAndWait(L"Z:\\bin\\sh", arguments, timeoutMs);
    const std::wstring exitFile = folder / L"exit";
    if (!WaitFor([&] { return PathExists(exitFile); }, timeoutMs)) {
        return run;
    }
    run.exitCode = static_cast<DWORD>(std::strtoul(ReadFileBytes(exitFile).c_str(), nullptr, 10));
    run.output = ReadFileBytes(folder / L"output");
    run.trace = ReadFileBytes(folder / L"trace");
    return run;
}

} // namespace harness
