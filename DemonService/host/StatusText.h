#pragma once

// The -status report's decisions and wording: values in, text out, no I/O. host/StatusSwitch gathers
// the values and prints the lines.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Exit codes of -status, as status commands give them.
constexpr int kStatusExitRunning = 0;
constexpr int kStatusExitNotRunning = 3;
constexpr int kStatusExitNotInstalled = 4;

// The exit code for the service's current state as the service manager numbers it (SERVICE_STOPPED 1 ...
// SERVICE_PAUSED 7), nullopt when the service is not installed or its state could not be read. The
// process at work counts as running: running, and also paused or on the way there or back (a pause
// changes nothing of what the service does). Stopped, starting and stopping are "installed and not
// running", as is a state the manager does not define.
int StatusExitCode(std::optional<std::uint32_t> serviceState);

// "running", "stopped", "start pending", ...; "state <n>" for a value the manager does not define.
std::string ServiceStateText(std::uint32_t serviceState);
// "demand start", "automatic start", "disabled", ...; "start type <n>" otherwise.
std::string StartTypeText(std::uint32_t startType);

// A read that failed: "access denied" for ERROR_ACCESS_DENIED (5), "unavailable (error <n>)" otherwise.
std::string ReadFailureText(std::uint32_t error);

// How a registered image path is written.
enum class ImagePathQuoting {
    Quoted,            // "<path>" [arguments]
    Unquoted,          // no quotes and no blank in the executable's path
    UnquotedWithBlank, // no quotes and a blank before the executable name ends: Windows tries the
                       // path's first words as programs first (C:\Program.exe)
};
ImagePathQuoting ClassifyImagePath(const std::wstring& imagePath);
std::string ImagePathQuotingText(ImagePathQuoting quoting);

// The executable an image path names: the quoted part when it begins with a quote, else the text up to
// the end of the first ".exe" (letter case ignored) that ends the text or is followed by a blank, else
// the whole text.
std::wstring ImagePathExecutable(const std::wstring& imagePath);

// The service manager's failure actions as text: "restart after 1 s, restart after 5 s, restart after 60 s;
// failures forgotten after 86400 s", or "none" without actions. Action types are the manager's
// (0 none, 1 restart, 2 reboot, 3 run a command); delays are in milliseconds.
std::string RecoveryActionsText(std::uint32_t resetPeriodSeconds,
                                const std::vector<std::pair<std::uint32_t, std::uint32_t>>& typeAndDelayMs);

// One line of the report: "<name>: <value>" and a line end. Values come from files and the registry that
// others write: a control character in them is shown as '?', so that no value can begin a line of its own.
std::string StatusLine(const std::string& name, const std::string& value);
