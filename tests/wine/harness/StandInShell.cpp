#include "StandInShell.h"

#include <string>

#include "Sandbox.h"
#include "StandInApp.h"

namespace harness {

namespace {
constexpr DWORD kCloseTimeoutMs = 5000;
}

DWORD ShellWindowProcessId()
{
    const HWND shell = ::GetShellWindow();
    DWORD processId = 0;
    if (shell != nullptr) {
        ::GetWindowThreadProcessId(shell, &processId);
    }
    return processId;
}

bool StandInShell::Start(DWORD timeoutMs)
{
    Stop();
    const std::wstring program = (TestDataFolder() + L"ShellWindow.exe");
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created = {};
    if (!::CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &created)) {
        return false;
    }
    m_process.reset(created.hProcess);
    UniqueHandle thread(created.hThread);
    m_processId = created.dwProcessId;
    const DWORD processId = m_processId;
    if (!harness::WaitFor([processId] { return ShellWindowProcessId() == processId; }, timeoutMs)) {
        Stop();
        return false;
    }
    return true;
}

void StandInShell::Stop()
{
    if (!m_process) {
        return;
    }
    if (ShellWindowProcessId() == m_processId) {
        ::PostMessageW(::GetShellWindow(), WM_CLOSE, 0, 0);
    }
    if (::WaitForSingleObject(m_process.get(), kCloseTimeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(m_process.get(), 1);
        ::WaitForSingleObject(m_process.get(), kCloseTimeoutMs);
    }
    const DWORD processId = m_processId;
    harness::WaitFor([processId] { return ShellWindowProcessId() != processId; }, kCloseTimeoutMs);
    m_process.reset();
    m_processId = 0;
}

} // namespace harness
