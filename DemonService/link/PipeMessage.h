#pragma once

// One message from the application's pipe, read whole: which command it is and what it carries. The
// client acts on this and nothing else.

#include "link/CommandTable.h"
#include "link/FirewallRequest.h"

struct PipeMessage {
    PipeCommand command = PipeCommand::None;
    int exitProcessId = 0;     // an exit notice's process id (0: none given); 0 for every other command
    FirewallRequest firewall;  // an open request's flag and ports; empty for every other command
};

// message is the text up to its first zero byte; null reads as no command.
PipeMessage ParsePipeMessage(const char* message);
