#pragma once

// The application's pipe, from the client's side.

#include <windows.h>

#include <string>

#include "base/Win32Resources.h"

namespace harness {

constexpr wchar_t kCorvanePipeName[] = L"\\\\.\\pipe\\CorvaneServer";

// A read-only client of \\.\pipe\CorvaneServer, opened the way the service opens it but overlapped so that
// every read has a timeout.
class PipeClient {
public:
    enum class Status { Message, Broken, Timeout };
    struct ReadResult {
        Status status = Status::Timeout;
        std::string text;      // the bytes of one read
        DWORD error = 0;       // the read's error when Broken
    };

    // Tries to open the pipe until timeoutMs has passed (the pipe may not exist yet, or be busy).
    bool Connect(DWORD timeoutMs);
    bool Connected() const { return m_pipe.valid(); }
    // One ReadFile of up to 20 480 bytes, as the service reads.
    ReadResult Read(DWORD timeoutMs);
    // The process serving the pipe (0 when not connected).
    DWORD ServerProcessId() const;
    void Close() { m_pipe.reset(); }

private:
    UniqueFileHandle m_pipe;
};

} // namespace harness
