#include "host/StartCorvaneSwitch.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>

#include "base/Win32Resources.h"
#include "integration/Shortcuts.h"
#include "supervision/ImageName.h"
#include "supervision/MediumIntegrityLaunch.h"
#include "supervision/ProcessSearch.h"

namespace {

constexpr int kInstanceScans = 10;
constexpr std::size_t kNoCheckCommandLineChars = 64;
// The application skips its own start-up checks when the installer starts it.
constexpr wchar_t kNoCheckCommandLine[] = L"/nocheck:y";
constexpr DWORD kAfterStartMs = 2000;

static_assert(sizeof(kNoCheckCommandLine) / sizeof(wchar_t) <= kNoCheckCommandLineChars, "command line buffer");

enum class Scan { Running, NotRunning, NoSnapshot };

// One look through the process list for an instance with exactly appPath as its image.
Scan ScanForInstance(const std::wstring& appPath, const std::wstring& imageName, wchar_t* imagePath)
{
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return Scan::NoSnapshot;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (!FixedTextEquals(entry.szExeFile, MAX_PATH, imageName)) {
            continue;
        }
        UniqueHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
        if (process && ProcessImagePathIs(process.get(), appPath, imagePath)) {
            return Scan::Running;
        }
    }
    return Scan::NotRunning;
}

} // namespace

unsigned long StartCorvaneFromCommandLine(const std::wstring& appPath)
{
    RenameShortCut();
    const std::wstring imageName = ImageNameOf(appPath);
    if (appPath.find(L'\\') == std::wstring::npos) {
        return ERROR_BAD_PATHNAME;
    }

    // A running instance does not hold the start back: the application itself decides what a second
    // start means. The scans end at the first one that finds none.
    ImagePathBuffer imagePath = AllocateImagePathBuffer();
    for (int scan = 0; scan < kInstanceScans && imagePath != nullptr && !imageName.empty(); ++scan) {
        if (ScanForInstance(appPath, imageName, imagePath.get()) == Scan::NotRunning) {
            break;
        }
    }

    wchar_t commandLine[kNoCheckCommandLineChars] = {};
    std::wmemcpy(commandLine, kNoCheckCommandLine, sizeof(kNoCheckCommandLine) / sizeof(wchar_t));
    PROCESS_INFORMATION started = {};
    const DWORD result = CreateProcessMediumIL(appPath.c_str(), commandLine, 0, &started);
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    ::Sleep(kAfterStartMs);
    return result;
}
