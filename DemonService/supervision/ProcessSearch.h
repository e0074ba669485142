#pragma once

// Finding the application among running processes by its exact image path. The service keeps no
// handle to the application; every check and every kill finds it afresh through this search.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

// Capacity of the image-path buffer, terminator included. A process whose image path is longer does
// not fit and is not recognised: its path is never cut short into another.
constexpr DWORD kImagePathChars = 512;

using ImagePathBuffer = std::unique_ptr<wchar_t[]>;

// A zero-filled heap buffer of kImagePathChars units; null when the memory cannot be had.
ImagePathBuffer AllocateImagePathBuffer();

// Whether the open process's full Win32 image path equals appPath exactly (letter case counts). False
// when the path cannot be read into buffer (kImagePathChars units), including when it is too long.
bool ProcessImagePathIs(HANDLE process, const std::wstring& appPath, wchar_t* buffer);

// Called for each process whose image path is the application's, with its id and a handle opened
// with PROCESS_ALL_ACCESS that is closed when the call returns. Returns false to end the walk.
using MatchingProcessVisitor = std::function<bool(DWORD processId, HANDLE process)>;

// Walks a snapshot of all processes. Entries whose executable file name equals the image name of
// appPath exactly are opened and their image path read into buffer; those whose path equals appPath
// are given to visit. Processes that cannot be opened or read are skipped. Nothing is visited when
// appPath has no backslash, the snapshot cannot be taken or its first entry cannot be read. Any
// thread may call it; each call has its own snapshot, the buffer is the caller's.
// Returns false only when the snapshot could not be taken.
bool SearchProcessesByImagePath(const std::wstring& appPath, wchar_t* buffer, const MatchingProcessVisitor& visit);
