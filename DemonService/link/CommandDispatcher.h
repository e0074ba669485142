#pragma once

// Acting on the application's messages, and on a pipe that breaks without notice.

// The flags of one client loop that the dispatcher sets.
struct ClientLoopFlags {
    bool exitCommandSeen = false;  // reset for each verified connection: a broken pipe is no crash
    bool stopRequested = false;    // for the whole loop: end after this connection, do not reconnect
    bool stopForUpdate = false;    // the application asked the service to stop and remove itself
};

// Acts on one message (the text up to its first zero byte) on the client thread and sets the loop's
// flags; appPath is the client's application path. Every action completes before it returns, but
// "stop_for_update", which it leaves to the client through stopForUpdate.
void DispatchCommand(const char* message, const wchar_t* appPath, ClientLoopFlags& flags);

// A read failed while the client should run and no exit command came over the connection: unless the
// application or a suspend said the end was expected, count a crash and restart the application in
// background mode.
void ApplyLostConnectionRule();
