#include "harness/PipeClient.h"

#include "Sandbox.h"

namespace harness {

namespace {

constexpr DWORD kPipeConnectPollMs = 20;
constexpr DWORD kPipeReadBytes = 20480;

} // namespace

bool PipeClient::Connect(DWORD timeoutMs)
{
    m_pipe.reset();
    return WaitFor(
        [&] {
            // As the service opens it (read only, attributes 5), plus overlapped for timed reads.
            m_pipe.reset(::CreateFileW(kCorvanePipeName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_FLAG_OVERLAPPED,
                                       nullptr));
            return m_pipe.valid();
        },
        timeoutMs, kPipeConnectPollMs);  // polled more often than the general wait
}

PipeClient::ReadResult PipeClient::Read(DWORD timeoutMs)
{
    ReadResult result;
    if (!m_pipe) {
        result.status = Status::Broken;
        result.error = ERROR_INVALID_HANDLE;
        return result;
    }
    UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done) {
        result.status = Status::Broken;
        result.error = ::GetLastError();
        return result;
    }
    std::string buffer(kPipeReadBytes, '\0');
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done.get();
    DWORD read = 0;
    BOOL ok = ::ReadFile(m_pipe.get(), &buffer[0], kPipeReadBytes, nullptr, &overlapped);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!ok && error == ERROR_IO_PENDING) {
        if (::WaitForSingleObject(done.get(), timeoutMs) != WAIT_OBJECT_0) {
            ::CancelIoEx(m_pipe.get(), &overlapped);
        }
        ok = ::GetOverlappedResult(m_pipe.get(), &overlapped, &read, TRUE);
        error = ok ? ERROR_SUCCESS : ::GetLastError();
    } else if (ok) {
        ::GetOverlappedResult(m_pipe.get(), &overlapped, &read, TRUE);
    }
    if (ok || error == ERROR_MORE_DATA) {
        result.status = Status::Message;
        result.text.assign(buffer.data(), read);
    } else if (error == ERROR_OPERATION_ABORTED) {
        result.status = Status::Timeout;
    } else {
        result.status = Status::Broken;
        result.error = error;
    }
    return result;
}

DWORD PipeClient::ServerProcessId() const
{
    ULONG id = 0;
    return m_pipe && ::GetNamedPipeServerProcessId(m_pipe.get(), &id) ? id : 0;
}

} // namespace harness
