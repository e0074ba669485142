// Starting, replacing and restarting the pipe client.

#include <cstring>
#include <memory>
#include <new>

#include "DemonService.h"
#include "base/DiagnosticLog.h"
#include "base/SettingsFile.h"
#include "base/WorkerThreads.h"

namespace {
constexpr DWORD kReplacedClientSettleMs = 50;
constexpr std::size_t kStatusLogBytes = 128;
}

std::shared_ptr<CDemonServiceClient> DemonService::CurrentClient() const
{
    std::lock_guard<std::mutex> guard(m_clientLock);
    return m_client;
}

void DemonService::StopCurrentClient()
{
    if (std::shared_ptr<CDemonServiceClient> client = CurrentClient()) {
        client->Stop();
    }
}

BOOL DemonService::StartClient(const wchar_t* appPath)
{
    // Under the stop gate: a stop that has begun starts nothing, and one that begins meanwhile waits
    // until the new client is in m_client, where it finds and stops it.
    BOOL started = FALSE;
    UnlessStopping([&] { started = StartClientUnlessStopping(appPath); });
    return started;
}

BOOL DemonService::StartClientUnlessStopping(const wchar_t* appPath)
{
    LOG_SERVICE("StartClient");
    WriteServiceNumber(L"Running", 1);
    WriteServiceText(L"StartClient", L"Start");
    std::shared_ptr<CDemonServiceClient> previous;
    {
        std::lock_guard<std::mutex> guard(m_clientLock);
        previous.swap(m_client);
    }
    if (previous) {
        // The old thread keeps its own reference: the record outlives it whatever happens here.
        previous->Stop();
        ::Sleep(kReplacedClientSettleMs);
        previous.reset();
    }

    if (!m_clientBuffer) {
        m_clientBuffer.reset(new (std::nothrow) char[kClientBufferSize]);
    }
    if (m_clientBuffer) {
        std::memset(m_clientBuffer.get(), 0, kClientBufferSize);
    }

    std::shared_ptr<CDemonServiceClient> client(new (std::nothrow)
                                                    CDemonServiceClient(m_clientBuffer.get(), this, appPath));
    if (client) {
        auto* threadReference = new (std::nothrow) std::shared_ptr<CDemonServiceClient>(client);
        {
            std::lock_guard<std::mutex> guard(m_clientLock);
            m_client = client;
        }
        if (threadReference == nullptr || !StartWorkerThread(ClientThreadProc, threadReference)) {
            delete threadReference;
        }
    }
    return WriteServiceText(L"StartClient", L"Running");
}

void DemonService::OnClientThreadExit()
{
    LOG_SERVICE("OnClientThreadExit");
    {
        std::lock_guard<std::mutex> guard(m_clientLock);
        // Only the end of the current client counts. Any other notice is a replaced client's: its
        // successor is running, or is still being brought up by StartClient (m_client empty meanwhile),
        // and stays as it is.
        if (!m_client || !m_client->HasEnded()) {
            return;
        }
        m_client.reset();
    }
    LOG_SERVICE_F(kStatusLogBytes, "m_status=%d", m_status.load());
    if (m_status == kStatusRunning) {
        StartClient(m_appPath.c_str());
    }
}
