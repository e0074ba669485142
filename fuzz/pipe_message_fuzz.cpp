// Pipe messages are whatever the process at the other end writes: parse them as the client does (text
// up to the first zero byte, at most 20 479 bytes), down to the JSON payload of a firewall request, and
// write them out for the log.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/LogFormat.h"
#include "link/PipeMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t kMaxMessage = 20479;
    const std::string message(reinterpret_cast<const char*>(data), size < kMaxMessage ? size : kMaxMessage);
    const char* text = message.c_str();
    // Every message is logged: written out, it holds no control character that could end its line.
    const std::string logged = EscapeControlCharacters(std::string(text));
    for (const char c : logged) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            std::abort();
        }
    }
    // Nor, read as UTF-8, any bidirectional override or isolate that could make it read as other text.
    for (std::size_t at = logged.find('\xE2'); at != std::string::npos; at = logged.find('\xE2', at + 1)) {
        const auto second = static_cast<unsigned char>(at + 1 < logged.size() ? logged[at + 1] : 0);
        const auto third = static_cast<unsigned char>(at + 2 < logged.size() ? logged[at + 2] : 0);
        if ((second == 0x80 && third >= 0xAA && third <= 0xAE) || (second == 0x81 && third >= 0xA6 && third <= 0xA9)) {
            std::abort();
        }
    }
    const PipeMessage parsed = ParsePipeMessage(text);
    // Only an exit notice carries a process id, and only an open request a firewall request; of those,
    // only a quoted one carries ports.
    if (parsed.command != PipeCommand::ExitNotice && parsed.exitProcessId != 0) {
        std::abort();
    }
    const FirewallRequest& request = parsed.firewall;
    if (parsed.command != PipeCommand::OpenFirewall && (request.restrictPublic || !request.localPorts.empty())) {
        std::abort();
    }
    if (text[0] != '"' && !request.localPorts.empty()) {
        std::abort();
    }
    return 0;
}
