#pragma once

// SharedState: what the whole service process shares, below every subsystem. The context
// (DemonService) owns the one instance and fills it; helpers and subsystems read it through Get()
// or take what they need as parameters. Who writes and who reads each part:
// - install paths and localized texts: written once while the context is built, read by anyone after;
// - the user paths (m_dataDir, m_iniPath): written by the context when the console user changes
//   (SetUserPaths, which closes the log of the old paths at the same moment), read by anyone as whole
//   copies (DataDir, IniPath);
// - the stop gate and m_status: the service control moves it (BeginRun, BeginStop); every action that
//   a stop must cancel runs through UnlessStopping;
// - the suspend flag m_hibernate: set by the pipe client and the power handler, read by the rule for a
//   pipe that breaks;
// - the log sink (m_logFile): written only under its lock by WriteLog, closed by the stop sequence.

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include "base/Win32Resources.h"

// Capacities of the fixed text fields.
constexpr std::size_t kAppTitleChars = 256;
constexpr std::size_t kMenuTitleChars = 128;

// m_status values.
constexpr int kStatusConstructed = 0;
constexpr int kStatusRunning = 1;
constexpr int kStatusStopping = 2;

class SharedState {
public:
    // The process's one state, the context's: built on first use; null only when its memory cannot be
    // had (a later call tries again). Any thread may call it.
    static SharedState* Get();

    // Copies of the user paths, whole and consistent even while SetUserPaths replaces them.
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
    // Moves a constructed context to running; false when a stop has begun, and then the service
    // neither starts a client nor enters its loop.
    bool BeginRun();

    // Fields the other parts of the service use. Fixed after construction unless noted.
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

protected:
    SharedState() = default;
    ~SharedState() = default;
    SharedState(const SharedState&) = delete;
    SharedState& operator=(const SharedState&) = delete;

    // Sets m_dataDir and m_iniPath for the roaming AppData folder given; a folder that is not accepted
    // as the user's (base/UserFolderRule.h), or none, empties both. The log file, which lies in the old
    // folder, is closed in the same step: a line is written either before the change, to the old
    // folder's log, or after it, to the new one's.
    void SetUserPaths(const std::wstring& appData);

private:
    mutable std::mutex m_pathsLock;
    std::wstring m_dataDir;                        // <roaming AppData>\Corvane, or empty (also when refused)
    std::wstring m_iniPath;                        // m_dataDir + \BrisaRDP.ini, or empty

    std::mutex m_logLock;                          // held over each whole WriteLog call and SetUserPaths
    UniqueFileHandle m_logFile;
    std::wstring m_logFileName;                    // the open file's dated name
    bool m_logEnded = false;                       // EndLogging was called: nothing is written any more

    std::recursive_mutex m_stopLock;               // the stop gate (BeginStop, UnlessStopping)
};
