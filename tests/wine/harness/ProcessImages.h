#pragma once

// Processes found by their image path, and waiting for one to end.

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace harness {

// Process ids whose full image path equals imagePath (letter case ignored).
std::vector<DWORD> FindProcessesByImagePath(const std::wstring& imagePath);
size_t CountProcessesByImagePath(const std::wstring& imagePath);
// Terminates them all and waits (up to timeoutMs) for each to end; returns how many were terminated.
size_t KillProcessesByImagePath(const std::wstring& imagePath, DWORD timeoutMs = 5000);
// Waits for a process to end and gives its exit code.
bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD* exitCode = nullptr);
// Whether a process has not ended yet.
bool IsRunning(HANDLE process);

} // namespace harness
