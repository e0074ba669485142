// The context: construction from the registry and the console user's profile, the process-wide
// accessor, the user paths that change with the console user, the run loop, the pipe client's start and
// restart, and the supervision of the application, each over the subsystem that does the work.

#include "DemonService.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "base/ConsoleUser.h"
#include "base/DiagnosticLog.h"
#include "base/EventLog.h"
#include "base/InstallPaths.h"
#include "base/OwnImagePath.h"
#include "base/RegistryText.h"
#include "base/ResourceTexts.h"
#include "base/ServiceStatus.h"
#include "base/SettingsFile.h"
#include "base/UserFolderAccess.h"
#include "base/WorkerThreads.h"
#include "integration/ExplorerMenus.h"
#include "integration/FriendlyAppName.h"
#include "supervision/ApplicationControl.h"
#include "trust/FolderAccessList.h"

namespace {

// How long process end waits for the threads that use the context.
constexpr DWORD kWorkerShutdownWaitMs = 5000;
constexpr DWORD kWorkerWaitStepMs = 250;
// How often the run loop looks whether the service is to end.
constexpr DWORD kRunLoopPollMs = 5000;
constexpr DWORD kReplacedClientSettleMs = 50;
constexpr std::size_t kStatusLogBytes = 128;

std::atomic<DemonService*> g_instance{nullptr};

// The refused user folder that the log last named: each refusal is told once, not at every reload.
std::mutex g_refusalLock;
std::wstring g_loggedRefusedFolder;

std::mutex& InstanceLock()
{
    static std::mutex lock;
    return lock;
}

template <std::size_t N>
void CopyTruncated(wchar_t (&field)[N], const std::wstring& text)
{
    const std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
    std::wmemcpy(field, text.c_str(), length);
    field[length] = L'\0';
}

} // namespace

DemonService::DemonService()
{
    m_clientBuffer.reset(new (std::nothrow) char[kClientBufferSize]());

    wchar_t ownImage[kOwnImagePathChars] = {};
    GetOwnImagePath(ownImage);

    // Install paths, from the installer's key or beside the service.
    UniqueRegKey installKey;
    std::optional<std::wstring> pathValue;
    std::optional<std::wstring> resourceFileValue;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_ALL_ACCESS, installKey.put()) == ERROR_SUCCESS) {
        if (auto resourceFile = ReadRegistryText(installKey.get(), L"ResourceFile")) {
            resourceFileValue = resourceFile->text;
        }
        if (auto path = ReadRegistryText(installKey.get(), L"path")) {
            pathValue = path->text;
        }
    }
    InstallPaths install = ResolveInstallPaths(pathValue, resourceFileValue, ownImage);
    m_appPath = install.appPath;
    m_resourceDllPath = install.resourceDllPath;
    m_lockerPluginPath = install.lockerPluginPath;
    m_devconPath = install.devconPath;
    m_cameraInfPath = install.cameraInfPath;
    m_diskBridgePath = install.diskBridgePath;

    // The console user's data folder; remembered in the install key for starts with nobody logged on,
    // but only a folder that the rule accepts: the key is the machine's, the value the user's. A console
    // user whose folder is refused gets no folder at all, never the one remembered from another user.
    std::optional<RegistryText> appData = ReadConsoleUserAppData();
    const bool consoleUserFolderRead = appData && !appData->text.empty();
    if (consoleUserFolderRead) {
        if (CheckUserFolder(appData->text) == FolderRefusal::None) {
            WriteRegistryText(installKey.get(), L"AppData", *appData);
        }
        SetUserPaths(appData->text);
    }
    if (installKey && !consoleUserFolderRead) {
        std::optional<RegistryText> stored = ReadRegistryText(installKey.get(), L"AppData");
        if (stored && !stored->text.empty()) {
            SetUserPaths(stored->text);
        }
    }
    installKey.reset();

    LocalizedTexts texts = LoadLocalizedTexts(m_resourceDllPath, FolderWithBackslash(ownImage), IniPath(),
                                              [](const std::wstring& folder) { return UserWriteRefusal(folder); });
    m_resourceLibraryRefusal = texts.folderRefusal;
    CopyTruncated(m_appTitle, texts.appTitle);
    CopyTruncated(m_sendboxMenuTitle, texts.menuTitle);
}

SharedState* SharedState::Get()
{
    return DemonService::GetInstance();
}

DemonService* DemonService::GetInstance()
{
    DemonService* instance = g_instance.load(std::memory_order_acquire);
    if (instance != nullptr) {
        return instance;
    }
    bool created = false;
    {
        std::lock_guard<std::mutex> guard(InstanceLock());
        instance = g_instance.load(std::memory_order_acquire);
        if (instance == nullptr) {
            instance = new (std::nothrow) DemonService();
            g_instance.store(instance, std::memory_order_release);
            created = instance != nullptr;
        }
    }
    // The log needs the context: what its construction has to say comes once it is there.
    if (created && !instance->m_resourceLibraryRefusal.empty()) {
        LOG_SERVICE(instance->m_resourceLibraryRefusal.c_str());
    }
    return instance;
}

void DemonService::DestroyInstance()
{
    DemonService* instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        return;
    }
    // Nothing may restart a client any more; the running one (or one that was just being started)
    // is told to end until every worker thread (the service main thread among them) has returned.
    instance->BeginStop();
    bool workersDone = false;
    for (DWORD waited = 0; !workersDone && waited < kWorkerShutdownWaitMs; waited += kWorkerWaitStepMs) {
        instance->StopCurrentClient();
        workersDone = WaitForWorkerThreads(kWorkerWaitStepMs);
    }
    if (!workersDone) {
        // A worker is still inside the context: leave it alive for the few moments until exit.
        return;
    }
    g_instance.store(nullptr, std::memory_order_release);
    delete instance;
}

void DemonService::ReloadUserPaths()
{
    std::optional<RegistryText> appData = ReadConsoleUserAppData();
    const std::wstring folder = appData ? appData->text : std::wstring();
    // A refusal is told once per folder, in the log of the paths that are being left: the refused
    // folder gets no log of its own.
    const FolderRefusal refusal = CheckUserFolder(folder);
    if (!folder.empty() && refusal != FolderRefusal::None) {
        std::lock_guard<std::mutex> guard(g_refusalLock);
        if (g_loggedRefusedFolder != folder) {
            g_loggedRefusedFolder = folder;
            LOG_SERVICE_F(128, "User folder refused: %s", FolderRefusalReason(refusal));
        }
    }
    // The old user's paths and log go whatever comes next: without a folder that can be used there are
    // none, and nothing of the next user's is written into the last user's folder.
    SetUserPaths(refusal == FolderRefusal::None ? folder : std::wstring());
    if (refusal == FolderRefusal::None && CurrentServiceState() == SERVICE_RUNNING) {
        WriteProgressNumber(L"Running", 1);
    }
}

void DemonService::ReleaseHandles()
{
    StopCurrentClient();
    CloseLogFile();
}

void DemonService::Run()
{
    // A stop that came in while the service was starting has already moved the status on.
    int expected = kStatusConstructed;
    m_status.compare_exchange_strong(expected, kStatusRunning);
    LOG_SERVICE("Run");
    UpdateFileDockFileMenu(m_appPath.c_str(), m_sendboxMenuTitle);
    UpdateFriendlyAppName(m_appPath.c_str(), m_appTitle);
    while (g_running != 0) {
        ReportHeldBackEvents();
        ::Sleep(kRunLoopPollMs);
    }
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

void DemonService::EndVerifiedConnection()
{
    if (std::shared_ptr<CDemonServiceClient> client = CurrentClient()) {
        client->EndConnection();
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

void DemonService::SetStopForUpdateRoutine(LPTHREAD_START_ROUTINE routine)
{
    m_stopForUpdate = routine;
}

void DemonService::OnStopForUpdate()
{
    LPTHREAD_START_ROUTINE routine = m_stopForUpdate.load();
    if (routine == nullptr) {
        return;
    }
    // The stop begins here, on the client thread, before its next read: whatever the application sends
    // after its request is read and refused, however late the stop's own thread comes to run.
    BeginStop();
    if (!StartWorkerThread(routine, nullptr)) {
        // Without a thread of its own the stop runs here; it ends this client too.
        routine(nullptr);
    }
}

bool DemonService::CheckCorvaneIsRunning()
{
    return IsApplicationRunning(m_appPath);
}

void DemonService::KillCorvane(int pid)
{
    KillApplication(m_appPath, pid);
}

void DemonService::ReStartCorvane(bool forceBackground)
{
    RestartApplication(m_appPath, forceBackground);
}
