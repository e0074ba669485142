// Pipe messages are whatever the process at the other end writes: match and read them as the client
// does (text up to the first zero byte, at most 20 479 bytes).

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/CommandTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t kMaxMessage = 20479;
    const std::string message(reinterpret_cast<const char*>(data), size < kMaxMessage ? size : kMaxMessage);
    const char* text = message.c_str();
    switch (MatchPipeCommand(text)) {
    case PipeCommand::ExitNotice:
        (void)ExitNoticeProcessId(text);
        break;
    case PipeCommand::OpenFirewall:
        (void)FirewallRequestRestricted(text);
        if (IsQuotedRequest(text)) {
            (void)FirewallRequestJson(text);
        }
        break;
    default:
        break;
    }
    return 0;
}
