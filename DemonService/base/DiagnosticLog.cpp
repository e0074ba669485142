// The daily diagnostic log and the panic log.

#include "base/DiagnosticLog.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "base/AnsiText.h"
#include "base/EventLog.h"
#include "base/SettingsFile.h"
#include "base/SharedState.h"
#include "base/UserFolderAccess.h"

namespace {

// Folder paths are built in buffers of 256 characters: longer ones are refused, not cut.
constexpr std::size_t kFolderPathChars = 256;
constexpr std::size_t kPanicPathBytes = 256;


bool MarkerFilePresent(const std::wstring& logFolder)
{
    const std::wstring marker = logFolder + L"debug";
    // A link named "debug" is opened itself, never its target.
    UniqueFileHandle file(::CreateFileW(marker.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
    return file.valid();
}

// Opens (or creates) the day's log file in the held log folder, never through a link: the link itself
// is opened, and a file that is a reparse point, has a second hard link or is not the file meant is
// closed again unwritten. Invalid when refused.
UniqueFileHandle OpenPlainLogFile(const std::wstring& logPath)
{
    return OpenPlainFile(logPath, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
}

void WriteAll(HANDLE file, const char* text)
{
    DWORD written = 0;
    ::WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

} // namespace

LogTime LocalLogTime()
{
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    LogTime time;
    time.year = now.wYear;
    time.month = now.wMonth;
    time.day = now.wDay;
    time.hour = now.wHour;
    time.minute = now.wMinute;
    time.second = now.wSecond;
    time.millisecond = now.wMilliseconds;
    return time;
}

void SharedState::WriteLog(const char* tag, const char* message, const char* sourceFile, int line, bool force)
{
    if (tag == nullptr || message == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_logLock);
    if (m_logEnded) {
        return;
    }
    // The file is named for the day it was opened on: at a change of date the next day's file is begun.
    const LogTime now = LocalLogTime();
    if (m_logFile.valid() && LogFileName(now) != m_logFileName) {
        m_logFile.reset();
    }

    const std::wstring dataDir = DataDir();
    if (!dataDir.empty() && !m_logFile.valid()) {
        const std::wstring logFolderPath = LogFolderOf(dataDir);
        if (dataDir.size() >= kFolderPathChars || logFolderPath.size() >= kFolderPathChars) {
            return;
        }
        // Everything in the user's folder is done as the user, and no folder from the user's profile
        // folder down to the log folder may be a link; all stay held until the file is open. A refused
        // folder is as good as a missing marker; without the console user's token nothing is done.
        ConsoleUserImpersonation user;
        if (!user.allowed()) {
            return;
        }
        std::wstring dataFolder = dataDir;
        while (dataFolder.size() > 1 && dataFolder.back() == L'\\') {
            dataFolder.pop_back();
        }
        HeldFolderChain folders = user.HoldFolder(FolderOf(dataFolder));
        const bool held = folders.HoldChild(dataFolder, true) && folders.HoldChild(logFolderPath, true);
        const std::wstring logFolder = logFolderPath + L"\\";
        const std::wstring iniPath = IniPath();

        if (!held || (!MarkerFilePresent(logFolder) && !force)) {
            WriteIniText(iniPath, kServiceSection, L"Debug", L"0");
            WriteIniText(iniPath, kServiceSection, L"Log_Path", L"");
        } else {
            m_logFileName = LogFileName(now);
            const std::wstring logPath = logFolder + m_logFileName;
            // A failed open leaves no file, and the next line tries again.
            m_logFile = OpenPlainLogFile(logPath);
            ::SetFilePointer(m_logFile.get(), 0, nullptr, FILE_END);
            WriteIniText(iniPath, kServiceSection, L"Debug", L"1");
            WriteIniText(iniPath, kServiceSection, L"Log_Path", logPath.c_str());
            WriteIniText(iniPath, kServiceSection, L"write_log", m_logFile.valid() ? L"1" : L"0");
        }
    }

    if (!m_logFile.valid()) {
        return;
    }
    std::unique_ptr<char[]> lineBuffer(new (std::nothrow) char[kLogLineBufferSize]());
    if (!lineBuffer) {
        return;
    }
    const std::string header = FormatLogHeader(now, sourceFile, line, tag);
    std::memcpy(lineBuffer.get(), header.c_str(), header.size() + 1);
    WriteAll(m_logFile.get(), lineBuffer.get());
    // Much of what is logged came from outside (pipe messages, process paths, settings values): each
    // message stays on its own line, whatever it holds.
    WriteAll(m_logFile.get(), EscapeControlCharacters(message).c_str());
    WriteAll(m_logFile.get(), "\r\n");
    ::FlushFileBuffers(m_logFile.get());
}

void SharedState::CloseLogFile()
{
    std::lock_guard<std::mutex> guard(m_logLock);
    m_logFile.reset();
}

void SharedState::EndLogging()
{
    std::lock_guard<std::mutex> guard(m_logLock);
    m_logFile.reset();
    m_logEnded = true;
}

void LogMessage(const char* tag, const char* message, const char* sourceFile, int line)
{
    SharedState* service = SharedState::Get();
    if (service != nullptr) {
        service->WriteLog(tag, message, sourceFile, line, false);
    }
}

void WritePanicLog(const char* message, bool toMainLog)
{
    if (message == nullptr || message[0] == '\0') {
        return;
    }
    ReportPanicEntry(message);
    if (toMainLog) {
        SharedState* service = SharedState::Get();
        if (service != nullptr) {
            service->WriteLog(kPanicTag, message, nullptr, -1, true);
        }
        return;
    }

    const char* appData = std::getenv("APPDATA");
    if (appData == nullptr) {
        return;
    }
    std::wstring path = FromAnsi(appData);
    if (path.empty() || path.size() >= kFolderPathChars) {
        return;
    }
    for (const wchar_t* folder : {L"\\Corvane", L"\\logs"}) {
        path += folder;
        if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return;
        }
    }
    path += L"\\service_panic.log";
    const std::string ansiPath = ToAnsi(path);
    if (ansiPath.empty() || ansiPath.size() >= kPanicPathBytes) {
        return;
    }
    UniqueCrtFile file(std::fopen(ansiPath.c_str(), "ab+"));
    if (!file) {
        return;
    }
    const std::string header = FormatPanicHeader(LocalLogTime());
    std::fputs(header.c_str(), file.get());
    std::fputs(message, file.get());
    std::fflush(file.get());
}
