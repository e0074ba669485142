#pragma once

// The application's end of \\.\pipe\CorvaneServer: one instance at a time. A server thread creates the
// instance, waits for a client, and when the client goes away (or a disconnect is asked for) closes the
// instance and serves a new one. The script threads only write into it, one WriteFile per message.
//
// The instance is created duplex although nothing is ever read from the client (the service opens it for
// reading only): a pending read on our end is what tells us at once that the client has closed its
// handle. Without it a stale instance would stay "connected" until the next write, and a reconnecting
// client would find the pipe busy.

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "Journal.h"
#include "OwnedHandle.h"

namespace corvane_standin {

constexpr wchar_t kPipeName[] = L"\\\\.\\pipe\\CorvaneServer";

class PipeServer {
public:
    explicit PipeServer(const Journal& journal);
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    // Starts the server thread. The thread runs until the process ends.
    bool Start();

    // Blocks until a client is connected to the current instance.
    void WaitClient();

    // Writes bytes with one WriteFile and waits for the write to complete. Returns 0, or the error:
    // ERROR_PIPE_LISTENING while no client is connected, ERROR_PIPE_NOT_CONNECTED while there is no
    // instance at all (another process holds the pipe name), or what WriteFile reported.
    DWORD Send(const std::string& bytes);

    // Disconnects the client of the current instance (DisconnectNamedPipe; unread data is dropped) and
    // returns once the instance is gone; the server thread then serves a new one. ERROR_PIPE_NOT_CONNECTED
    // when there is no instance.
    DWORD Disconnect();

private:
    void Run();
    bool WaitForConnection(HANDLE pipe);
    bool WaitUntilClientGone(HANDLE pipe);
    bool DisconnectRequested();

    const Journal& m_journal;
    OwnedHandle m_wake;  // auto-reset; set with m_disconnectRequested
    std::thread m_thread;

    std::mutex m_mutex;  // guards the fields below and every use of m_pipe by the script threads
    std::condition_variable m_changed;
    HANDLE m_pipe = nullptr;  // owned by the server thread; null while there is no instance
    bool m_connected = false;
    bool m_disconnectRequested = false;
    unsigned long long m_instances = 0;  // counts instances closed, so Disconnect can wait for its one
};

} // namespace corvane_standin
