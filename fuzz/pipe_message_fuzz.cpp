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
    for (const char c : EscapeControlCharacters(std::string(text))) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
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
