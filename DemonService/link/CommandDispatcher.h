#pragma once

// Acting on the application's messages, and on a pipe that breaks without notice.

#include "DemonServiceClient.h"

// Acts on one message (the text up to its first zero byte) on the client thread and sets the loop's
// flags. Every action but "stop_for_update" completes before it returns.
void DispatchCommand(const char* message, CDemonServiceClient& client, ClientLoopFlags& flags);

// A read failed while the client should run and no exit command came over the connection: unless the
// application or a suspend said the end was expected, count a crash and restart the application in
// background mode.
void ApplyLostConnectionRule();
