// The shared state's user paths and stop gate (the log sink is in base/DiagnosticLog.cpp).

#include "base/SharedState.h"

#include "base/InstallPaths.h"
#include "base/UserFolderAccess.h"

void SharedState::SetUserPaths(const std::wstring& appData)
{
    // A folder that is not accepted as the user's leaves no paths: nothing is done there at all.
    const bool accepted = CheckUserFolder(appData) == FolderRefusal::None;
    const std::wstring dataDir = accepted ? DataDirFor(appData) : std::wstring();
    const std::wstring iniPath = IniPathFor(dataDir);
    // Lock order as in WriteLog: the log, then the paths.
    std::lock_guard<std::mutex> logGuard(m_logLock);
    m_logFile.reset();
    std::lock_guard<std::mutex> guard(m_pathsLock);
    m_dataDir = dataDir;
    m_iniPath = iniPath;
}

std::wstring SharedState::DataDir() const
{
    std::lock_guard<std::mutex> guard(m_pathsLock);
    return m_dataDir;
}

std::wstring SharedState::IniPath() const
{
    std::lock_guard<std::mutex> guard(m_pathsLock);
    return m_iniPath;
}

void SharedState::BeginStop()
{
    std::lock_guard<std::recursive_mutex> guard(m_stopLock);
    m_status = kStatusStopping;
}

bool SharedState::BeginRun()
{
    std::lock_guard<std::recursive_mutex> guard(m_stopLock);
    int expected = kStatusConstructed;
    m_status.compare_exchange_strong(expected, kStatusRunning);
    return m_status == kStatusRunning;
}
