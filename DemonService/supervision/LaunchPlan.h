#pragma once

// What starting the application in the user's session is made of: the checks that come before any
// token is asked for, the command line and the working folder. Values only, no I/O.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Capacity of the command-line and working-folder buffers, terminator included.
constexpr std::size_t kLaunchBufferChars = 512;
// The switch that starts the application in background mode (one leading blank). The application
// alone interprets it.
constexpr wchar_t kBackgroundSwitch[] = L" /mode:background";
// The one value of the background argument that asks for the switch.
constexpr int kBackgroundMode = 1;
// WTSGetActiveConsoleSessionId's answer when no session is attached to the console.
constexpr std::uint32_t kNoConsoleSession = 0xFFFFFFFFu;

// The log line with which a launch stops before it asks for the user's token, or null to go on. A null
// path is refused first ("RunCorvane path is NULL"), then a console without a session
// ("WTSGetActiveConsoleSessionId return false").
const char* LaunchRefusalLine(const wchar_t* path, std::uint32_t consoleSession);

struct LaunchCommand {
    // The path in double quotes, then kBackgroundSwitch in background mode. The path itself is also
    // given to process creation as the program to start, so the command line never chooses it.
    std::wstring commandLine;
    // The path up to and including its last backslash; empty when it has none (the current
    // directory is then left as it is).
    std::wstring workingFolder;
};

// Builds the launch of the program at path. nullopt when the path is empty, holds a double quote (no
// file name does; it would only break up the command line), or when the command line with its
// terminator does not fit kLaunchBufferChars units: a long path is refused, never cut into another.
std::optional<LaunchCommand> BuildLaunchCommand(const std::wstring& path, int background);
