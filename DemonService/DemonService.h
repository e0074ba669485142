#pragma once

// DemonService: the one context of the service process. Built on first use (GetInstance) in the
// service and in every command-line run, destroyed at process end. It owns the shared state
// (base/SharedState.h: install and user paths, localized texts, the stop gate and run status, the
// suspend flag, the log sink) and the current pipe client, and orchestrates the subsystems.

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "DemonServiceClient.h"
#include "base/SharedState.h"

class DemonService final : public SharedState, public IClientExitCallback {
public:
    // Builds the context on first use; null only when its memory cannot be had (a later call tries
    // again). Any thread may call it.
    static DemonService* GetInstance();
    // Destroys the context at process end. Threads that use it are asked to stop and waited for first;
    // if one does not end in time the context is left alive rather than freed under it.
    static void DestroyInstance();

    // Recomputes m_dataDir and m_iniPath for the user now at the console and closes the log, which lies
    // in the old folder (the next line opens the new folder's). Without a folder that can be used (none
    // read, or one that is not accepted as the user's, base/UserFolderRule.h) both are emptied; a refused
    // folder is named once in the log being left. Writes "Running" = "1" to the new settings file while
    // the service runs.
    void ReloadUserPaths();
    // Process end: stops the client (m_isExit, pipe closed) and closes the log file.
    void ReleaseHandles();

    // The run loop of the service main thread: returns once g_running is cleared.
    void Run();

    // Pipe client (DemonServiceClient). StartClient starts nothing and returns FALSE once a stop has begun.
    BOOL StartClient(const wchar_t* appPath);
    void OnClientThreadExit() override;
    // Begins the stop (the stop gate closes at once, on the calling client thread) and starts the routine
    // that the service run gave (SetStopForUpdateRoutine) on a worker thread, or runs it here when no
    // thread can be had; without a routine, nothing.
    void OnStopForUpdate() override;
    void SetStopForUpdateRoutine(LPTHREAD_START_ROUTINE routine);
    // Stops the current client: m_isExit set, a pending read cancelled and the pipe closed.
    void StopCurrentClient();
    // Ends the current client's connection when the console session changes: what it verified was
    // verified for the console as it was, so it connects and verifies its server afresh.
    void EndVerifiedConnection();

    // Application supervision (supervision/).
    bool CheckCorvaneIsRunning();
    void KillCorvane(int pid);
    void ReStartCorvane(bool forceBackground);

    // Fields the other parts of the service use. Fixed after construction unless noted.
    std::unique_ptr<char[]> m_clientBuffer;        // kClientBufferSize bytes, owned

    // The current pipe client, shared with its thread so that a replaced record outlives its thread.
    std::shared_ptr<CDemonServiceClient> CurrentClient() const;

private:
    DemonService();
    ~DemonService() = default;
    DemonService(const DemonService&) = delete;
    DemonService& operator=(const DemonService&) = delete;

    // StartClient's work, run with the stop gate held.
    BOOL StartClientUnlessStopping(const wchar_t* appPath);

    std::atomic<LPTHREAD_START_ROUTINE> m_stopForUpdate{nullptr};
    // Why the resource library was left unloaded, said in the log once the context can log.
    std::string m_resourceLibraryRefusal;

    mutable std::mutex m_clientLock;
    std::shared_ptr<CDemonServiceClient> m_client;
};
