#include "supervision/ProcessSearch.h"

#include <tlhelp32.h>

#include <new>

#include "base/Win32Resources.h"
#include "supervision/ProcessSearchRule.h"

ImagePathBuffer AllocateImagePathBuffer()
{
    return ImagePathBuffer(new (std::nothrow) wchar_t[kImagePathChars]());
}

bool ProcessImagePathIs(HANDLE process, const std::wstring& appPath, wchar_t* buffer)
{
    DWORD length = kImagePathChars;
    if (!::QueryFullProcessImageNameW(process, 0, buffer, &length) || length >= kImagePathChars) {
        return false;
    }
    buffer[length] = L'\0';
    return FixedTextEquals(buffer, kImagePathChars, appPath);
}

bool SearchProcessesByImagePath(const std::wstring& appPath, wchar_t* buffer, const MatchingProcessVisitor& visit)
{
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return false;
    }
    const std::wstring imageName = ImageNameOf(appPath);
    if (imageName.empty()) {
        return true;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (!FixedTextEquals(entry.szExeFile, MAX_PATH, imageName)) {
            continue;
        }
        UniqueHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
        if (!process || !ProcessImagePathIs(process.get(), appPath, buffer)) {
            continue;
        }
        if (!visit(entry.th32ProcessID, process.get())) {
            return true;
        }
    }
    return true;
}
