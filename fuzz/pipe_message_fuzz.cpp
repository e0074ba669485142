// Pipe messages are whatever the process at the other end writes: match and read them as the client
// does (text up to the first zero byte, at most 20 479 bytes), down to the JSON payload of a firewall
// request, and written out for the log.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/LogFormat.h"
#include "link/CommandTable.h"
#include "link/FirewallRequest.h"

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
    switch (MatchPipeCommand(text)) {
    case PipeCommand::ExitNotice:
        (void)ExitNoticeProcessId(text);
        break;
    case PipeCommand::OpenFirewall: {
        // The whole open-request path: restricted flag, JSON payload, ports member.
        const FirewallRequest request = ReadFirewallRequest(text);
        if (!IsQuotedRequest(text) && !request.localPorts.empty()) {
            std::abort();  // only a quoted request carries ports
        }
        break;
    }
    default:
        break;
    }
    return 0;
}
