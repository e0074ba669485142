#pragma once

// The stand-in shell window (testdata/ShellWindow.exe, see standins/ShellWindow): a process that owns
// the shell's desktop window, which Wine lacks, so that a start with the shell's token runs for real.

#include <windows.h>

#include "base/Win32Resources.h"

namespace harness {

// The process that owns the shell's desktop window now, or 0 when there is none.
DWORD ShellWindowProcessId();

// One running stand-in shell for the scope of a test.
class StandInShell {
public:
    StandInShell() = default;
    ~StandInShell() { Stop(); }
    StandInShell(const StandInShell&) = delete;
    StandInShell& operator=(const StandInShell&) = delete;

    // Starts it and waits until the shell window is its own. False when it did not get there in time
    // (another shell window already exists, for one); the process is then ended.
    bool Start(DWORD timeoutMs = 10000);
    // Closes its window, waits for it to end (ending it if need be) and until no shell window is left.
    void Stop();
    DWORD ProcessId() const { return m_processId; }

private:
    UniqueHandle m_process;
    DWORD m_processId = 0;
};

} // namespace harness
