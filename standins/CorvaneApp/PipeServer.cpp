#include "PipeServer.h"

namespace corvane_standin {

namespace {

// Room for any message the application sends, so that a write never waits for the reader.
constexpr DWORD kPipeBufferBytes = 64 * 1024;
constexpr DWORD kRetryCreateMs = 100;

// Completes or cancels an overlapped operation so its OVERLAPPED may go out of scope.
void CancelAndWait(HANDLE pipe, OVERLAPPED* overlapped)
{
    ::CancelIoEx(pipe, overlapped);
    DWORD transferred = 0;
    ::GetOverlappedResult(pipe, overlapped, &transferred, TRUE);
}

} // namespace

PipeServer::PipeServer(const Journal& journal)
    : m_journal(journal), m_wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
}

bool PipeServer::Start()
{
    if (!m_wake.valid()) {
        return false;
    }
    m_thread = std::thread([this] { Run(); });
    m_thread.detach();
    return true;
}

void PipeServer::WaitClient()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_connected; });
}

DWORD PipeServer::Send(const std::string& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pipe == nullptr) {
        return ERROR_PIPE_NOT_CONNECTED;
    }
    if (!m_connected) {
        return ERROR_PIPE_LISTENING;
    }
    OwnedHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done.valid()) {
        return ::GetLastError();
    }
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done.get();
    DWORD written = 0;
    BOOL ok = ::WriteFile(m_pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped);
    if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
        ok = ::GetOverlappedResult(m_pipe, &overlapped, &written, TRUE);
    }
    return ok ? ERROR_SUCCESS : ::GetLastError();
}

DWORD PipeServer::Disconnect()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_pipe == nullptr) {
        return ERROR_PIPE_NOT_CONNECTED;
    }
    const unsigned long long instance = m_instances;
    m_disconnectRequested = true;
    ::SetEvent(m_wake.get());
    m_changed.wait(lock, [&] { return m_instances != instance; });
    return ERROR_SUCCESS;
}

bool PipeServer::DisconnectRequested()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_disconnectRequested;
}

bool PipeServer::WaitForConnection(HANDLE pipe)
{
    OwnedHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done.valid()) {
        return false;
    }
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done.get();
    if (::ConnectNamedPipe(pipe, &overlapped)) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
        return true;
    }
    if (error != ERROR_IO_PENDING) {
        return false;
    }
    const HANDLE waits[2] = {done.get(), m_wake.get()};
    for (;;) {
        const DWORD which = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            DWORD transferred = 0;
            return ::GetOverlappedResult(pipe, &overlapped, &transferred, FALSE) != FALSE;
        }
        if (which != WAIT_OBJECT_0 + 1 || DisconnectRequested()) {
            CancelAndWait(pipe, &overlapped);
            return false;
        }
    }
}

bool PipeServer::WaitUntilClientGone(HANDLE pipe)
{
    OwnedHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done.valid()) {
        return false;
    }
    char sink[256];
    const HANDLE waits[2] = {done.get(), m_wake.get()};
    for (;;) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = done.get();
        ::ResetEvent(done.get());
        DWORD transferred = 0;
        if (::ReadFile(pipe, sink, sizeof(sink), nullptr, &overlapped)) {
            continue;  // a client that writes: its data means nothing to us
        }
        DWORD error = ::GetLastError();
        if (error == ERROR_MORE_DATA) {
            continue;
        }
        if (error != ERROR_IO_PENDING) {
            return false;  // broken: the client has gone
        }
        for (;;) {
            const DWORD which = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (which == WAIT_OBJECT_0) {
                if (::GetOverlappedResult(pipe, &overlapped, &transferred, FALSE) ||
                    ::GetLastError() == ERROR_MORE_DATA) {
                    break;  // read something; read again
                }
                return false;
            }
            if (which != WAIT_OBJECT_0 + 1 || DisconnectRequested()) {
                CancelAndWait(pipe, &overlapped);
                return true;
            }
        }
    }
}

void PipeServer::Run()
{
    bool reportedUnavailable = false;
    for (;;) {
        OwnedHandle pipe(::CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                                PIPE_REJECT_REMOTE_CLIENTS,
                                            1, kPipeBufferBytes, kPipeBufferBytes, 0, nullptr));
        if (!pipe.valid()) {
            // Most likely another instance serves the name; try again until it is free.
            const DWORD error = ::GetLastError();
            if (!reportedUnavailable) {
                m_journal.Append(L"pipe-unavailable", {{L"result", L"error " + std::to_wstring(error)}});
                reportedUnavailable = true;
            }
            ::Sleep(kRetryCreateMs);
            continue;
        }
        if (reportedUnavailable) {
            m_journal.Append(L"pipe-available");
            reportedUnavailable = false;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pipe = pipe.get();
            m_connected = false;
        }

        // requested: the instance ends because a disconnect was asked for, not because the client left.
        bool requested = false;
        const bool connected = WaitForConnection(pipe.get());
        if (connected) {
            ULONG client = 0;
            ::GetNamedPipeClientProcessId(pipe.get(), &client);
            m_journal.Append(L"client-connected", {{L"client", std::to_wstring(client)}});
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_connected = true;
            }
            m_changed.notify_all();
            requested = WaitUntilClientGone(pipe.get());
            if (!requested) {
                m_journal.Append(L"client-gone", {{L"client", std::to_wstring(client)}});
            }
        } else {
            requested = DisconnectRequested();
        }

        {
            // Writers hold the lock for a whole write, so the handle is never closed under one.
            std::lock_guard<std::mutex> lock(m_mutex);
            ::DisconnectNamedPipe(pipe.get());
            pipe.reset();
            m_pipe = nullptr;
            m_connected = false;
            m_disconnectRequested = false;
            ++m_instances;
        }
        m_changed.notify_all();
        if (!connected && !requested) {
            ::Sleep(kRetryCreateMs);  // the instance failed without a client; don't spin on it
        }
    }
}

} // namespace corvane_standin
