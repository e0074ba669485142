#include "supervision/LaunchPlan.h"

const char* LaunchRefusalLine(const wchar_t* path, std::uint32_t consoleSession)
{
    if (path == nullptr) {
        return "RunCorvane path is NULL";
    }
    if (consoleSession == kNoConsoleSession) {
        return "WTSGetActiveConsoleSessionId return false";
    }
    return nullptr;
}

std::optional<LaunchCommand> BuildLaunchCommand(const std::wstring& path, int background)
{
    if (path.empty() || path.find(L'"') != std::wstring::npos) {
        return std::nullopt;
    }
    LaunchCommand launch;
    launch.commandLine.reserve(path.size() + 2 + (sizeof(kBackgroundSwitch) / sizeof(wchar_t)));
    launch.commandLine += L'"';
    launch.commandLine += path;
    launch.commandLine += L'"';
    if (background == kBackgroundMode) {
        launch.commandLine += kBackgroundSwitch;
    }
    if (launch.commandLine.size() >= kLaunchBufferChars) {
        return std::nullopt;
    }
    const std::size_t lastBackslash = path.rfind(L'\\');
    if (lastBackslash != std::wstring::npos) {
        launch.workingFolder = path.substr(0, lastBackslash + 1);
    }
    return launch;
}
