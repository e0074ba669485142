#pragma once

// The pipe client: one record per client thread, and the interface through which an ending client
// reports back to the context.

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <mutex>

#include "base/Win32Resources.h"
#include "link/CommandDispatcher.h"
#include "link/RefusalLogPlan.h"

// Implemented by the context: OnClientThreadExit is called on a short thread of its own when a client
// thread has ended.
class IClientExitCallback {
public:
    virtual void OnClientThreadExit() = 0;
    // Called on the client thread when the application asked the service to stop and remove itself
    // for an update; by default the request is not acted on.
    virtual void OnStopForUpdate() {}

protected:
    ~IClientExitCallback() = default;
};

// Capacity of the application path kept by a client (511 characters and the terminator).
constexpr std::size_t kClientPathChars = 512;
// The pipe client's message buffer.
constexpr std::size_t kClientBufferSize = 20480;
constexpr wchar_t kCorvanePipeName[] = L"\\\\.\\pipe\\CorvaneServer";

class CDemonServiceClient {
public:
    // buffer is the context's message buffer (not owned); appPath is cut to 511 characters.
    CDemonServiceClient(char* buffer, IClientExitCallback* callback, const wchar_t* appPath);
    ~CDemonServiceClient();
    CDemonServiceClient(const CDemonServiceClient&) = delete;
    CDemonServiceClient& operator=(const CDemonServiceClient&) = delete;

    // The client loop: connect, verify, read and dispatch, until m_isExit is set or the application
    // asked the client to stop. Runs on the client thread only.
    void Run();

    // Any thread: sets m_isExit, ends a read in progress (cancelled, never left blocked) and closes
    // the pipe. The handle is closed only once no read is using it.
    void Stop();

    // Any thread (the control handler, on a console session change): ends the connection in hand, or
    // the one being verified, without a word to the lost-connection rule and without acting on anything
    // read from it after this call; the loop connects and verifies the server afresh in its next pass,
    // against whoever is at the console then. A read in progress is cancelled as Stop cancels it.
    void EndConnection();

    // Whether Run has returned (its exit notification is then under way).
    bool HasEnded() const { return m_ended.load(); }

    char* m_buffer;
    std::atomic<LONG> m_isExit{0};
    wchar_t m_path[kClientPathChars] = {};
    IClientExitCallback* m_callback;

private:
    // Ended: the connection was ended by EndConnection (its read failed or was never begun).
    enum class ReadResult { Message, Failed, NoPipe, Ended };

    // Connect, verify and read one connection; true when the loop must end (stop requested).
    bool ConnectAndRead(bool firstPass, bool& reported, ClientLoopFlags& flags);
    void ReadLoop(ClientLoopFlags& flags, unsigned connection);
    // One synchronous read into m_buffer, marked so that Stop cancels rather than closes under it.
    // connection: the value of m_connection when the pipe was opened.
    ReadResult ReadOnce(DWORD* bytesRead, unsigned connection);
    // Cancels a read in progress (for at most kCancelAttempts tries) and closes the pipe; m_pipeLock held.
    void CancelReadAndClose(std::unique_lock<std::mutex>& lock);
    bool HasPipe();
    void ClosePipe();

    std::mutex m_pipeLock;
    UniqueFileHandle m_pipe;          // INVALID_HANDLE_VALUE while not connected
    bool m_reading = false;           // a ReadFile on m_pipe is in progress
    UniqueHandle m_thread;            // the client thread, for cancelling its synchronous read
    std::atomic<bool> m_ended{false};
    RefusalLogPlan m_refusals;        // what is told of refused servers; the client thread's only
    // Counts EndConnection calls: a connection opened under another value has been ended.
    std::atomic<unsigned> m_connection{0};

    friend DWORD WINAPI ClientThreadProc(LPVOID param) noexcept;
};

// Start routine of the client thread; param is a heap-allocated std::shared_ptr to the record, which
// the thread owns. Returns 0, or 1 when the run ended by an exception.
DWORD WINAPI ClientThreadProc(LPVOID param) noexcept;
// Start routine of the short thread that reports the end of a client; param is the callback.
DWORD WINAPI ClientExitThreadProc(LPVOID param) noexcept;
