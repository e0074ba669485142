#pragma once

// DemonService: the one context of the service process. Built on first use (GetInstance) in the
// service and in every command-line run, destroyed at process end. It knows where the application and
// its sibling files are installed, where the console user's data folder and settings file are, the
// localized texts, the current pipe client, the run status, the suspend flag and the open log file.

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "base/Win32Resources.h"
#include "DemonServiceClient.h"

// Capacities of the fixed text fields.
constexpr std::size_t kAppTitleChars = 256;
constexpr std::size_t kMenuTitleChars = 128;
// The pipe client's message buffer.
constexpr std::size_t kClientBufferSize = 20480;

// m_status values.
constexpr int kStatusConstructed = 0;
constexpr int kStatusRunning = 1;
constexpr int kStatusStopping = 2;

class DemonService final : public IClientExitCallback {
public:
    // Builds the context on first use; null only when its memory cannot be had (a later call tries
    // again). Any thread may call it.
    static DemonService* GetInstance();
    // Destroys the context at process end. Threads that use it are asked to stop and waited for first;
    // if one does not end in time the context is left alive rather than freed under it.
    static void DestroyInstance();

    // Recomputes m_dataDir and m_iniPath for the user now at the console; both keep their old values
    // when any step fails. A folder that is not accepted as the user's (base/UserFolderRule.h) empties
    // both, and the log names the reason once. Writes "Running" = "1" to the new settings file while
    // the service runs.
    void ReloadUserPaths();
    // Process end: stops the client (m_isExit, pipe closed) and closes the log file.
    void ReleaseHandles();

    // Copies of the user paths, whole and consistent even while ReloadUserPaths replaces them.
    std::wstring DataDir() const;
    std::wstring IniPath() const;
    const std::wstring& AppPath() const { return m_appPath; }

    // The diagnostic log writer (see base/DiagnosticLog.h for the free functions around it).
    void WriteLog(const char* tag, const char* message, const char* sourceFile, int line, bool force);
    // Closes the log file; the next WriteLog opens it again under the current date.
    void CloseLogFile();

    // Closes the log file for the rest of the process: no later WriteLog opens it again or writes
    // anything (the stop sequence, after which nothing is logged).
    void EndLogging();

    // The stop gate. BeginStop marks the service stopping (m_status 2) once every action already
    // under way through UnlessStopping has ended; from then on UnlessStopping runs nothing. Actions that
    // the stop must cancel (kills, starts, the crash count, progress keys, a client start, firewall and
    // driver commands) go through it, so that nothing of theirs happens after the stop sequence has
    // begun. Any thread; the gate is reentrant, and an action may log and write keys.
    void BeginStop();
    template <typename Action>
    bool UnlessStopping(Action&& action)
    {
        std::lock_guard<std::recursive_mutex> guard(m_stopLock);
        if (m_status == kStatusStopping) {
            return false;
        }
        action();
        return true;
    }
    bool StopHasBegun() const { return m_status == kStatusStopping; }
    // Moves a constructed context to running; false when a stop has begun, and then the service
    // neither starts a client nor enters its loop.
    bool BeginRun();

    // The run loop of the service main thread: returns once g_running is cleared.
    void Run();

    // Pipe client (link/). StartClient starts nothing and returns FALSE once a stop has begun.
    BOOL StartClient(const wchar_t* appPath);
    void OnClientThreadExit() override;
    // Stops the current client: m_isExit set, a pending read cancelled and the pipe closed.
    void StopCurrentClient();

    // Application supervision (supervision/).
    bool CheckCorvaneIsRunning();
    void KillCorvane(int pid);
    void ReStartCorvane(bool forceBackground);

    // Fields the other parts of the service use. Fixed after construction unless noted.
    std::unique_ptr<char[]> m_clientBuffer;        // kClientBufferSize bytes, owned
    std::atomic<bool> m_hibernate{false};          // a suspend was seen while the application ran
    wchar_t m_appTitle[kAppTitleChars] = {};       // localized title; empty without resource library
    wchar_t m_sendboxMenuTitle[kMenuTitleChars] = {};
    std::wstring m_appPath;
    std::wstring m_lockerPluginPath;
    std::wstring m_resourceDllPath;
    std::wstring m_devconPath;
    std::wstring m_cameraInfPath;
    std::wstring m_diskBridgePath;
    std::atomic<int> m_status{kStatusConstructed};

    // The current pipe client, shared with its thread so that a replaced record outlives its thread.
    std::shared_ptr<CDemonServiceClient> CurrentClient() const;

private:
    DemonService();
    ~DemonService() = default;
    DemonService(const DemonService&) = delete;
    DemonService& operator=(const DemonService&) = delete;

    void SetUserPaths(const std::wstring& appData);
    // StartClient's work, run with the stop gate held.
    BOOL StartClientUnlessStopping(const wchar_t* appPath);

    mutable std::mutex m_pathsLock;
    std::wstring m_dataDir;                        // <roaming AppData>\Corvane, or empty (also when refused)
    std::wstring m_iniPath;                        // m_dataDir + \BrisaRDP.ini, or empty

    std::mutex m_logLock;                          // held over each whole WriteLog call
    UniqueFileHandle m_logFile;
    bool m_logEnded = false;                       // EndLogging was called: nothing is written any more

    std::recursive_mutex m_stopLock;               // the stop gate (BeginStop, UnlessStopping)

    mutable std::mutex m_clientLock;
    std::shared_ptr<CDemonServiceClient> m_client;
};
