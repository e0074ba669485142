#include "host/StatusText.h"

#include "base/AsciiCase.h"

namespace {

// The service manager's numbers (winsvc.h), pinned against the header in host/StatusSwitch.cpp.
constexpr std::uint32_t kStateStopped = 1;
constexpr std::uint32_t kStateStartPending = 2;
constexpr std::uint32_t kStateStopPending = 3;
constexpr std::uint32_t kStateRunning = 4;
constexpr std::uint32_t kStateContinuePending = 5;
constexpr std::uint32_t kStatePausePending = 6;
constexpr std::uint32_t kStatePaused = 7;

constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kMillisecondsPerSecond = 1000;

// Where the first ".exe" that ends the text or is followed by a blank ends; npos when there is none.
std::size_t EndOfExeName(const std::wstring& text)
{
    static const wchar_t kExe[] = L".exe";
    for (std::size_t i = 0; i + 4 <= text.size(); ++i) {
        bool match = true;
        for (std::size_t k = 0; k < 4 && match; ++k) {
            match = AsciiLower(text[i + k]) == kExe[k];
        }
        if (match && (i + 4 == text.size() || text[i + 4] == L' ' || text[i + 4] == L'\t')) {
            return i + 4;
        }
    }
    return std::wstring::npos;
}

std::string Seconds(std::uint32_t milliseconds)
{
    if (milliseconds % kMillisecondsPerSecond == 0) {
        return std::to_string(milliseconds / kMillisecondsPerSecond) + " s";
    }
    return std::to_string(milliseconds) + " ms";
}

} // namespace

int StatusExitCode(std::optional<std::uint32_t> serviceState)
{
    if (!serviceState) {
        return kStatusExitNotInstalled;
    }
    switch (*serviceState) {
    case kStateRunning:
    case kStatePaused:
    case kStatePausePending:
    case kStateContinuePending:
        return kStatusExitRunning;
    default:
        return kStatusExitNotRunning;
    }
}

std::string ServiceStateText(std::uint32_t serviceState)
{
    switch (serviceState) {
    case kStateStopped: return "stopped";
    case kStateStartPending: return "start pending";
    case kStateStopPending: return "stop pending";
    case kStateRunning: return "running";
    case kStateContinuePending: return "continue pending";
    case kStatePausePending: return "pause pending";
    case kStatePaused: return "paused";
    default: return "state " + std::to_string(serviceState);
    }
}

std::string StartTypeText(std::uint32_t startType)
{
    switch (startType) {
    case 0: return "boot start";
    case 1: return "system start";
    case 2: return "automatic start";
    case 3: return "demand start";
    case 4: return "disabled";
    default: return "start type " + std::to_string(startType);
    }
}

std::string ReadFailureText(std::uint32_t error)
{
    return error == kErrorAccessDenied ? "access denied" : "unavailable (error " + std::to_string(error) + ")";
}

ImagePathQuoting ClassifyImagePath(const std::wstring& imagePath)
{
    if (!imagePath.empty() && imagePath[0] == L'"' && imagePath.find(L'"', 1) != std::wstring::npos) {
        return ImagePathQuoting::Quoted;
    }
    const std::wstring executable = ImagePathExecutable(imagePath);
    return executable.find_first_of(L" \t") == std::wstring::npos ? ImagePathQuoting::Unquoted
                                                                   : ImagePathQuoting::UnquotedWithBlank;
}

std::string ImagePathQuotingText(ImagePathQuoting quoting)
{
    switch (quoting) {
    case ImagePathQuoting::Quoted: return "yes";
    case ImagePathQuoting::Unquoted: return "no";
    default: return "no, and the path holds a blank (unsafe: Windows may start C:\\Program.exe first)";
    }
}

std::wstring ImagePathExecutable(const std::wstring& imagePath)
{
    if (!imagePath.empty() && imagePath[0] == L'"') {
        const std::size_t closing = imagePath.find(L'"', 1);
        if (closing != std::wstring::npos) {
            return imagePath.substr(1, closing - 1);
        }
    }
    const std::size_t end = EndOfExeName(imagePath);
    return end == std::wstring::npos ? imagePath : imagePath.substr(0, end);
}

std::string RecoveryActionsText(std::uint32_t resetPeriodSeconds,
                                const std::vector<std::pair<std::uint32_t, std::uint32_t>>& typeAndDelayMs)
{
    if (typeAndDelayMs.empty()) {
        return "none";
    }
    std::string text;
    for (const auto& [type, delayMs] : typeAndDelayMs) {
        if (!text.empty()) {
            text += ", ";
        }
        switch (type) {
        case 0: text += "nothing"; break;
        case 1: text += "restart after " + Seconds(delayMs); break;
        case 2: text += "reboot after " + Seconds(delayMs); break;
        case 3: text += "run a command after " + Seconds(delayMs); break;
        default: text += "action " + std::to_string(type); break;
        }
    }
    return text + "; failures forgotten after " + std::to_string(resetPeriodSeconds) + " s";
}

std::string StatusLine(const std::string& name, const std::string& value)
{
    std::string line = name + ": " + value;
    for (char& c : line) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return line + "\r\n";
}
