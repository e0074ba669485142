// The stand-in for the driver installers that ship beside the application (devcon.exe, CvDiskBridge.exe,
// DisplayDriverSetup64.exe; see README.md). It installs nothing: it journals how it was started, in the
// one journal that all three share, and ends.

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "../CorvaneApp/Journal.h"

namespace {

constexpr wchar_t kJournalFolder[] = L"\\OrvelStandIn";
constexpr wchar_t kJournalName[] = L"\\DriverInstallers.journal";
// Long enough for the paths the tests give it; a longer one is journaled as it was cut.
constexpr DWORD kPathChars = 32768;

std::wstring OwnImagePath()
{
    std::wstring path(kPathChars, L'\0');
    DWORD size = kPathChars;
    if (!::QueryFullProcessImageNameW(::GetCurrentProcess(), 0, &path[0], &size)) {
        return std::wstring();
    }
    path.resize(size);
    return path;
}

std::wstring CurrentDirectory()
{
    std::wstring folder(kPathChars, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(kPathChars, &folder[0]);
    folder.resize(length < kPathChars ? length : 0);
    return folder;
}

std::wstring UserName()
{
    wchar_t name[257] = {};
    DWORD size = 257;
    return ::GetUserNameW(name, &size) ? std::wstring(name) : std::wstring();
}

// The machine's common application-data folder: the same for the service and for a test, whoever runs.
std::wstring JournalPath()
{
    wchar_t common[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common))) {
        return std::wstring();
    }
    const std::wstring folder = std::wstring(common) + kJournalFolder;
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder + kJournalName;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const corvane_standin::Journal journal(JournalPath());
    journal.Append(L"start", {{L"exe", OwnImagePath()},
                              {L"cmdline", ::GetCommandLineW()},
                              {L"cwd", CurrentDirectory()},
                              {L"user", UserName()}});
    return 0;
}
