#include "harness/DriverInstallers.h"

#include <shlobj.h>

#include <algorithm>

namespace harness {

std::wstring InstallerJournalPath()
{
    wchar_t common[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common))) {
        return std::wstring();
    }
    return std::wstring(common) + L"\\OrvelStandIn\\DriverInstallers.journal";
}

StandInApp InstalledInstaller(const std::wstring& relativePath)
{
    return StandInApp(InstallFolder() + relativePath, InstallerJournalPath());
}

std::wstring StartArguments(const JournalRecord& start)
{
    const std::wstring commandLine = Field(start, L"cmdline");
    const std::wstring exe = Field(start, L"exe");
    std::size_t programEnd = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        programEnd = commandLine.find(L'"', 1);
        programEnd = programEnd == std::wstring::npos ? commandLine.size() : programEnd + 1;
    } else if (commandLine.compare(0, exe.size(), exe) == 0) {
        programEnd = exe.size();
    } else {
        programEnd = std::min(commandLine.find(L' '), commandLine.size());
    }
    return programEnd < commandLine.size() ? commandLine.substr(programEnd + 1) : std::wstring();
}

} // namespace harness
