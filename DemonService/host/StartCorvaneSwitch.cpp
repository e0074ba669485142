#include "host/StartCorvaneSwitch.h"

#include <windows.h>

#include <cwchar>

#include "base/Win32Resources.h"
#include "integration/Shortcuts.h"
#include "supervision/MediumIntegrityLaunch.h"
#include "supervision/ProcessSearch.h"
#include "supervision/ProcessSearchRule.h"

namespace {

constexpr int kInstanceScans = 10;
constexpr std::size_t kNoCheckCommandLineChars = 64;
// The application skips its own start-up checks when the installer starts it.
constexpr wchar_t kNoCheckCommandLine[] = L"/nocheck:y";
constexpr DWORD kAfterStartMs = 2000;

static_assert(sizeof(kNoCheckCommandLine) / sizeof(wchar_t) <= kNoCheckCommandLineChars, "command line buffer");

} // namespace

unsigned long StartCorvaneFromCommandLine(const std::wstring& appPath)
{
    RenameShortCut();
    const std::wstring imageName = ImageNameOf(appPath);
    if (appPath.find(L'\\') == std::wstring::npos) {
        return ERROR_BAD_PATHNAME;
    }

    // A running instance does not hold the start back: the application itself decides what a second
    // start means. The scans end at the first one that finds none; one whose snapshot cannot be taken
    // counts as one of the ten.
    ImagePathBuffer imagePath = AllocateImagePathBuffer();
    for (int scan = 0; scan < kInstanceScans && imagePath != nullptr && !imageName.empty(); ++scan) {
        bool running = false;
        const bool scanned = SearchProcessesByImagePath(appPath, imagePath.get(), [&running](DWORD, HANDLE) {
            running = true;
            return false;
        });
        if (scanned && !running) {
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
