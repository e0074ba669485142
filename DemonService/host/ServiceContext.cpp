// The context: construction from the registry and the console user's profile, the process-wide
// accessor, and the user paths that change with the console user.

#include <cwchar>
#include <new>

#include "DemonService.h"
#include "base/ConsoleUser.h"
#include "base/DiagnosticLog.h"
#include "base/InstallPaths.h"
#include "base/OwnImagePath.h"
#include "base/RegistryText.h"
#include "base/ResourceTexts.h"
#include "host/ServiceStatus.h"
#include "base/SettingsFile.h"
#include "base/UserFolderAccess.h"
#include "base/WorkerThreads.h"

namespace {

// How long process end waits for the threads that use the context.
constexpr DWORD kWorkerShutdownWaitMs = 5000;
constexpr DWORD kWorkerWaitStepMs = 250;

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

    // The console user's data folder; remembered in the install key for starts with nobody logged on.
    std::optional<RegistryText> appData = ReadConsoleUserAppData();
    if (appData && !appData->text.empty()) {
        WriteRegistryText(installKey.get(), L"AppData", *appData);
        SetUserPaths(appData->text);
    }
    if (installKey && IniPath().empty()) {
        std::optional<RegistryText> stored = ReadRegistryText(installKey.get(), L"AppData");
        if (stored && !stored->text.empty()) {
            SetUserPaths(stored->text);
        }
    }
    installKey.reset();

    LocalizedTexts texts = LoadLocalizedTexts(m_resourceDllPath, FolderWithBackslash(ownImage), IniPath());
    CopyTruncated(m_appTitle, texts.appTitle);
    CopyTruncated(m_sendboxMenuTitle, texts.menuTitle);
}

DemonService* DemonService::GetInstance()
{
    DemonService* instance = g_instance.load(std::memory_order_acquire);
    if (instance != nullptr) {
        return instance;
    }
    std::lock_guard<std::mutex> guard(InstanceLock());
    instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        instance = new (std::nothrow) DemonService();
        g_instance.store(instance, std::memory_order_release);
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

void DemonService::SetUserPaths(const std::wstring& appData)
{
    // A folder that is not accepted as the user's leaves no paths: nothing is done there at all.
    const bool accepted = CheckUserFolder(appData) == FolderRefusal::None;
    const std::wstring dataDir = accepted ? DataDirFor(appData) : std::wstring();
    const std::wstring iniPath = IniPathFor(dataDir);
    std::lock_guard<std::mutex> guard(m_pathsLock);
    m_dataDir = dataDir;
    m_iniPath = iniPath;
}

std::wstring DemonService::DataDir() const
{
    std::lock_guard<std::mutex> guard(m_pathsLock);
    return m_dataDir;
}

std::wstring DemonService::IniPath() const
{
    std::lock_guard<std::mutex> guard(m_pathsLock);
    return m_iniPath;
}

void DemonService::ReloadUserPaths()
{
    std::optional<RegistryText> appData = ReadConsoleUserAppData();
    if (!appData || appData->text.empty()) {
        return;
    }
    SetUserPaths(appData->text);
    const FolderRefusal refusal = CheckUserFolder(appData->text);
    if (refusal != FolderRefusal::None) {
        std::lock_guard<std::mutex> guard(g_refusalLock);
        if (g_loggedRefusedFolder != appData->text) {
            g_loggedRefusedFolder = appData->text;
            LOG_SERVICE_F(128, "User folder refused: %s", FolderRefusalReason(refusal));
        }
    }
    if (CurrentServiceState() == SERVICE_RUNNING) {
        WriteProgressNumber(L"Running", 1);
    }
}

void DemonService::BeginStop()
{
    std::lock_guard<std::recursive_mutex> guard(m_stopLock);
    m_status = kStatusStopping;
}

bool DemonService::BeginRun()
{
    std::lock_guard<std::recursive_mutex> guard(m_stopLock);
    int expected = kStatusConstructed;
    m_status.compare_exchange_strong(expected, kStatusRunning);
    return m_status == kStatusRunning;
}

void DemonService::ReleaseHandles()
{
    StopCurrentClient();
    CloseLogFile();
}
