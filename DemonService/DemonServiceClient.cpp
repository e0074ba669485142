// The client thread: connect to the application's pipe, verify the process that serves it, read its
// messages and hand them to the dispatcher; reconnect after a break.

#include "DemonServiceClient.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/AnsiText.h"
#include "base/DiagnosticLog.h"
#include "base/EventLog.h"
#include "base/SettingsFile.h"
#include "base/SharedState.h"
#include "base/TrustRefusal.h"
#include "base/WorkerThreads.h"
#include "link/CommandDispatcher.h"
#include "trust/ConsoleSessionCheck.h"
#include "trust/FolderAccessList.h"
#include "trust/InstallFolderRule.h"
#include "trust/SignatureValidator.h"

namespace {

constexpr DWORD kReconnectDelayMs = 1000;
constexpr DWORD kAfterReadDelayMs = 100;
constexpr DWORD kMinDispatchedBytes = 4;
constexpr DWORD kServerPathChars = 260;
constexpr std::size_t kServerPathLogBytes = 324;
constexpr std::size_t kOpenProcessLogBytes = 128;
constexpr std::size_t kUntoldRefusalsLogBytes = kServerPathLogBytes + 64;
// Read-only, and identification only: a process that squats the pipe name cannot impersonate us.
constexpr DWORD kPipeOpenFlags =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
// Wine ignores the quality-of-service bits, so no test under it would notice them gone: pinned here.
// SECURITY_IDENTIFICATION is SecurityIdentification shifted into the flags (its value is 0x10000), so a
// server may learn who we are but never act as us; without SECURITY_SQOS_PRESENT it would be ignored
// and the server could impersonate LocalSystem.
static_assert(kPipeOpenFlags == 0x00110005, "pipe open flags: read-only, system, identification level only");
static_assert((kPipeOpenFlags & SECURITY_SQOS_PRESENT) != 0, "the quality of service must be given");
static_assert(SECURITY_IDENTIFICATION == (SecurityIdentification << 16), "identification level");
static_assert((kPipeOpenFlags & (SECURITY_IMPERSONATION | SECURITY_DELEGATION | SECURITY_CONTEXT_TRACKING |
                                 SECURITY_EFFECTIVE_ONLY)) == SECURITY_IDENTIFICATION,
              "no impersonation or delegation level, no dynamic tracking");
// Logged when a connection ends because the console session changed.
constexpr char kConnectionEndedLine[] =
    "Console session changed: the connection ends and its server is verified afresh";
// How long Stop keeps cancelling a read before it closes the handle all the same.
constexpr int kCancelAttempts = 200;
constexpr DWORD kCancelRetryMs = 10;

// Whether the process serving the pipe may command the service, and if not, why. In this order: its
// image lies in the install folder (a signed copy elsewhere proves nothing about who runs it, and an
// image path that could not be read is no path); that folder, and the image's own, are closed to all
// but the system's accounts up to their root (a line names a folder that is not); the validation
// library accepts the image; and the process runs in the active console session as the console user
// (a user in another session may start the signed application too), in the session in which the
// pipe's instance was made (pipeSession: a process id names the instance's creator only while it lives,
// and the id may have been given to the console user's application since). Fails closed. folderLine
// receives the log line that names a folder that is not closed.
TrustRefusal VerifyServer(HANDLE server, DWORD serverProcessId, std::optional<unsigned long> pipeSession,
                          const std::wstring& serverPath, const std::wstring& appPath, std::string* folderLine)
{
    if (serverPath.empty() || !IsInInstallFolder(serverPath, appPath)) {
        return TrustRefusal::OutsideInstallFolder;
    }
    const std::wstring installFolder = FolderPartOf(appPath);
    const std::wstring imageFolder = FolderPartOf(serverPath);
    for (const std::wstring& folder : {installFolder, imageFolder}) {
        *folderLine = UserWriteRefusal(folder);
        if (!folderLine->empty()) {
            return TrustRefusal::FolderWritableByUsers;
        }
        if (imageFolder == installFolder) {
            break;
        }
    }
    const int answer = ValidateAssemblyFile(serverPath.c_str());
    if (answer != 0) {
        return answer == kValidatorUnavailable ? TrustRefusal::ValidatorUnusable : TrustRefusal::NotSigned;
    }
    if (!IsServedByConsoleUser(server, serverProcessId, pipeSession)) {
        return TrustRefusal::AnotherSessionOrUser;
    }
    return TrustRefusal::None;
}

// One line per refused server path whose repeats were counted and not told.
void LogUntoldRefusals(const std::vector<UntoldRefusals>& untold)
{
    for (const UntoldRefusals& refusals : untold) {
        LOG_CLIENT_F(kUntoldRefusalsLogBytes, "serverPath:%s refused %lu more times, not logged each time",
                     ToAnsi(refusals.path).c_str(), refusals.count);
    }
}

} // namespace

CDemonServiceClient::CDemonServiceClient(char* buffer, IClientExitCallback* callback, const wchar_t* appPath)
    : m_buffer(buffer), m_callback(callback)
{
    if (appPath != nullptr) {
        std::wcsncpy(m_path, appPath, kClientPathChars - 1);
        m_path[kClientPathChars - 1] = L'\0';
    }
}

CDemonServiceClient::~CDemonServiceClient() = default;

bool CDemonServiceClient::HasPipe()
{
    std::lock_guard<std::mutex> guard(m_pipeLock);
    return m_pipe.valid();
}

void CDemonServiceClient::ClosePipe()
{
    std::lock_guard<std::mutex> guard(m_pipeLock);
    m_pipe.reset();
}

void CDemonServiceClient::Stop()
{
    m_isExit = 1;
    std::unique_lock<std::mutex> lock(m_pipeLock);
    CancelReadAndClose(lock);
}

void CDemonServiceClient::EndConnection()
{
    std::unique_lock<std::mutex> lock(m_pipeLock);
    ++m_connection;
    CancelReadAndClose(lock);
}

void CDemonServiceClient::CancelReadAndClose(std::unique_lock<std::mutex>& lock)
{
    for (int attempt = 0; m_reading && attempt < kCancelAttempts; ++attempt) {
        ::CancelIoEx(m_pipe.get(), nullptr);
        if (m_thread) {
            ::CancelSynchronousIo(m_thread.get());
        }
        lock.unlock();
        ::Sleep(kCancelRetryMs);
        lock.lock();
    }
    m_pipe.reset();
}

CDemonServiceClient::ReadResult CDemonServiceClient::ReadOnce(DWORD* bytesRead, unsigned connection)
{
    HANDLE pipe = INVALID_HANDLE_VALUE;
    {
        std::lock_guard<std::mutex> guard(m_pipeLock);
        if (m_isExit == 0 && m_connection != connection) {
            return ReadResult::Ended;
        }
        if (m_isExit != 0 || !m_pipe.valid()) {
            return ReadResult::NoPipe;
        }
        pipe = m_pipe.get();
        m_reading = true;
    }
    const BOOL ok = ::ReadFile(pipe, m_buffer, static_cast<DWORD>(kClientBufferSize), bytesRead, nullptr);
    std::lock_guard<std::mutex> guard(m_pipeLock);
    m_reading = false;
    // Whatever came over a connection that has been ended since is not acted on.
    if (m_isExit == 0 && m_connection != connection) {
        return ReadResult::Ended;
    }
    return ok ? ReadResult::Message : ReadResult::Failed;
}

void CDemonServiceClient::ReadLoop(ClientLoopFlags& flags, unsigned connection)
{
    while (m_isExit != 1 && m_buffer != nullptr) {
        std::memset(m_buffer, 0, kClientBufferSize);
        DWORD bytesRead = 0;
        const ReadResult result = ReadOnce(&bytesRead, connection);
        if (result == ReadResult::NoPipe) {
            return;
        }
        if (result == ReadResult::Ended) {
            LOG_CLIENT(kConnectionEndedLine);
            ClosePipe();
            return;
        }
        if (m_isExit == 0 && result == ReadResult::Failed) {
            LOG_CLIENT("ReadFile fail");
            if (!flags.exitCommandSeen && m_isExit == 0) {
                ApplyLostConnectionRule();
            }
            ClosePipe();
            return;
        }
        if (result == ReadResult::Message && m_isExit == 0 && bytesRead >= kMinDispatchedBytes &&
            bytesRead <= kClientBufferSize - 1 && m_buffer[0] != '\0') {
            // The dispatcher works on its own copy: the buffer is zeroed by the next read.
            const std::string message(m_buffer);
            LOG_CLIENT(message.c_str());
            DispatchCommand(message.c_str(), m_path, flags);
            if (flags.stopForUpdate) {
                flags.stopForUpdate = false;
                m_callback->OnStopForUpdate();
            }
        }
        ::Sleep(kAfterReadDelayMs);
        if (m_buffer == nullptr || m_isExit != 0) {
            return;
        }
        // A read of nothing is no message; only a client told to stop leaves the pipe then.
        if (bytesRead == 0 && flags.stopRequested) {
            return;
        }
    }
}

bool CDemonServiceClient::ConnectAndRead(bool firstPass, bool& reported, ClientLoopFlags& flags)
{
    unsigned connection = 0;
    {
        std::lock_guard<std::mutex> guard(m_pipeLock);
        connection = m_connection;
        if (m_isExit != 0) {
            return false;
        }
        m_pipe.reset(::CreateFileW(kCorvanePipeName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, kPipeOpenFlags,
                                   nullptr));
        if (!m_pipe.valid()) {
            m_pipe.reset();
        }
    }
    if (!HasPipe()) {
        if (firstPass || reported) {
            LOG_CLIENT("handle == INVALID_HANDLE_VALUE 1");
            reported = false;
        }
        return false;
    }

    ULONG serverProcessId = 0;
    std::optional<unsigned long> serverSession;
    {
        std::lock_guard<std::mutex> guard(m_pipeLock);
        ::GetNamedPipeServerProcessId(m_pipe.get(), &serverProcessId);
        ULONG session = 0;
        if (::GetNamedPipeServerSessionId(m_pipe.get(), &session)) {
            serverSession = session;
        }
    }
    if (serverProcessId == 0) {
        // Nobody to verify: never hold a pipe that is not read. Try again in the next pass.
        ClosePipe();
        return false;
    }

    ::SetLastError(0);
    UniqueHandle server(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, serverProcessId));
    if (!server) {
        LOG_CLIENT_F(kOpenProcessLogBytes, "OpenProcess fail ,error =%d", static_cast<int>(::GetLastError()));
        ClosePipe();
        return false;
    }
    wchar_t serverPath[kServerPathChars] = {};
    DWORD pathChars = kServerPathChars;
    const bool pathRead = ::QueryFullProcessImageNameW(server.get(), 0, serverPath, &pathChars) != FALSE;

    SharedState* service = SharedState::Get();
    std::string folderLine;
    const TrustRefusal refusal =
        VerifyServer(server.get(), serverProcessId, serverSession, pathRead ? serverPath : L"",
                     service != nullptr ? service->AppPath() : std::wstring(), &folderLine);
    server.reset();
    // A refused server is told once per period, with its repeats summed up later; a trusted one always.
    std::vector<UntoldRefusals> untold;
    bool tell = true;
    if (refusal == TrustRefusal::None) {
        m_refusals.Trusted(::GetTickCount64(), &untold);
    } else {
        tell = m_refusals.Refused(serverPath, ::GetTickCount64(), &untold);
    }
    LogUntoldRefusals(untold);
    if (tell) {
        LOG_CLIENT_F(kServerPathLogBytes, "serverPath:%s", ToAnsi(serverPath).c_str());
        if (!folderLine.empty()) {
            LOG_CLIENT(folderLine.c_str());
        }
        LOG_CLIENT(refusal == TrustRefusal::None ? "ValidateAssembly result is true"
                                                 : "ValidateAssembly result is false");
    }
    if (refusal != TrustRefusal::None) {
        if (tell) {
            ReportToEventLog(ServerRefusedEvent(serverPath, refusal));
        }
        ClosePipe();
        return false;
    }

    // A server verified for a console that has changed hands meanwhile is verified again, in the next pass.
    if (m_connection != connection) {
        LOG_CLIENT(kConnectionEndedLine);
        ClosePipe();
        return false;
    }
    // "Connected" only for a pipe still held, by a client not told to stop, before any stop has begun.
    if (service != nullptr) {
        service->UnlessStopping([&] {
            if (m_isExit == 0 && HasPipe()) {
                WriteServiceText(L"Connected", L"Connected");
            }
        });
    }
    reported = true;
    flags.exitCommandSeen = false;
    ReadLoop(flags, connection);
    return flags.stopRequested;
}

void CDemonServiceClient::Run()
{
    ClosePipe();
    if (m_buffer == nullptr) {
        WriteProgressText(L"Client_run", L"Param Error");
        return;
    }
    WriteProgressText(L"Client_run", L"Running");
    if (SharedState* service = SharedState::Get()) {
        service->m_hibernate = false;
    }
    WriteProgressText(L"Client_run", m_isExit != 0 ? L"Running m_isExit = 1" : L"Running m_isExit = 0");

    bool firstPass = true;
    bool reported = false;
    ClientLoopFlags flags;
    while (m_isExit == 0) {
        if (!HasPipe()) {
            if (ConnectAndRead(firstPass, reported, flags)) {
                break;
            }
        } else if (firstPass || reported) {
            LOG_CLIENT("handle == INVALID_HANDLE_VALUE 0");
            reported = false;
        }
        if (m_isExit != 0) {
            break;
        }
        std::vector<UntoldRefusals> untold;
        m_refusals.Expire(::GetTickCount64(), &untold);
        LogUntoldRefusals(untold);
        ::Sleep(kReconnectDelayMs);
        firstPass = false;
    }

    std::vector<UntoldRefusals> untold;
    m_refusals.Flush(&untold);
    LogUntoldRefusals(untold);
    ClosePipe();
    m_ended = true;
    StartWorkerThread(ClientExitThreadProc, m_callback);
}

DWORD WINAPI ClientThreadProc(LPVOID param) noexcept
try {
    std::unique_ptr<std::shared_ptr<CDemonServiceClient>> owner(static_cast<std::shared_ptr<CDemonServiceClient>*>(param));
    if (!owner || !*owner) {
        WriteProgressText(L"CDemonServiceClient", L"Param Error");
        return 0;
    }
    CDemonServiceClient& client = **owner;
    {
        // A real handle to this thread, so that Stop can cancel its synchronous read.
        HANDLE self = nullptr;
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
        std::lock_guard<std::mutex> guard(client.m_pipeLock);
        client.m_thread.reset(self);
    }
    WriteProgressText(L"CDemonServiceClient", L"Running");
    client.Run();
    return 0;
} catch (...) {
    return 1;
}

DWORD WINAPI ClientExitThreadProc(LPVOID param) noexcept
try {
    if (param != nullptr) {
        static_cast<IClientExitCallback*>(param)->OnClientThreadExit();
    }
    return 0;
} catch (...) {
    return 1;
}
