#include "harness/ProcessImages.h"

#include <tlhelp32.h>

#include "Sandbox.h"
#include "base/Win32Resources.h"

namespace harness {

namespace {

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::wstring FileNameOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

} // namespace

std::vector<DWORD> FindProcessesByImagePath(const std::wstring& imagePath)
{
    std::vector<DWORD> found;
    const std::wstring imageName = FileNameOf(imagePath);
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return found;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (!SameText(entry.szExeFile, imageName)) {
            continue;
        }
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process) {
            continue;
        }
        wchar_t path[MAX_PATH * 2] = {};
        DWORD size = MAX_PATH * 2;
        if (::QueryFullProcessImageNameW(process.get(), 0, path, &size) && SameText(path, imagePath)) {
            // A process that has ended but is still referenced keeps its entry for a moment.
            DWORD exitCode = 0;
            if (::GetExitCodeProcess(process.get(), &exitCode) && exitCode == STILL_ACTIVE) {
                found.push_back(entry.th32ProcessID);
            }
        }
    }
    return found;
}

size_t CountProcessesByImagePath(const std::wstring& imagePath) { return FindProcessesByImagePath(imagePath).size(); }

size_t KillProcessesByImagePath(const std::wstring& imagePath, DWORD timeoutMs)
{
    std::vector<UniqueHandle> killed;
    for (DWORD id : FindProcessesByImagePath(imagePath)) {
        UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (process && ::TerminateProcess(process.get(), 1)) {
            killed.push_back(std::move(process));
        }
    }
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (const UniqueHandle& process : killed) {
        const ULONGLONG now = ::GetTickCount64();
        ::WaitForSingleObject(process.get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    }
    return killed.size();
}

bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD* exitCode)
{
    if (::WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(process, &code)) {
        return false;
    }
    if (exitCode != nullptr) {
        *exitCode = code;
    }
    return true;
}

bool IsRunning(HANDLE process) { return ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

} // namespace harness
