#include "link/PipeMessage.h"

PipeMessage ParsePipeMessage(const char* message)
{
    PipeMessage parsed;
    parsed.command = MatchPipeCommand(message);
    switch (parsed.command) {
    case PipeCommand::ExitNotice:
        parsed.exitProcessId = ExitNoticeProcessId(message);
        break;
    case PipeCommand::OpenFirewall:
        parsed.firewall = ReadFirewallRequest(message);
        break;
    default:
        break;
    }
    return parsed;
}
