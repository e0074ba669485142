#include "harness/StandInApp.h"

#include <shlobj.h>

namespace harness {

namespace {

constexpr wchar_t kJournalName[] = L"Corvane.journal";
constexpr wchar_t kScriptName[] = L"Corvane.script";
constexpr wchar_t kInboxName[] = L"Corvane.inbox";

// The stand-in's writers lock this byte of the journal (far beyond its data) around each record.
constexpr unsigned long long kJournalLockOffset = 1ULL << 40;

constexpr DWORD kFileRetryMs = 10;
constexpr int kFileAttempts = 200;
constexpr DWORD kStartRetryMs = 3000;
constexpr DWORD kStartRetryIntervalMs = 100;

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Opens a file, retrying while another process holds it in a conflicting way for a moment.
UniqueFileHandle OpenWithRetry(const std::wstring& path, DWORD access, DWORD share, DWORD disposition)
{
    UniqueFileHandle file;
    for (int attempt = 0; attempt < kFileAttempts; ++attempt) {
        file.reset(::CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid()) {
            break;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION) {
            break;
        }
        ::Sleep(kFileRetryMs);
    }
    return file;
}

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Holds the journal writers' lock for as long as it lives.
class JournalLock {
public:
    explicit JournalLock(HANDLE file) : m_file(file)
    {
        m_range.Offset = static_cast<DWORD>(kJournalLockOffset & 0xFFFFFFFFu);
        m_range.OffsetHigh = static_cast<DWORD>(kJournalLockOffset >> 32);
        m_locked = ::LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &m_range) != FALSE;
    }
    ~JournalLock()
    {
        if (m_locked) {
            ::UnlockFileEx(m_file, 0, 1, 0, &m_range);
        }
    }
    JournalLock(const JournalLock&) = delete;
    JournalLock& operator=(const JournalLock&) = delete;
    bool locked() const { return m_locked; }

private:
    HANDLE m_file;
    OVERLAPPED m_range = {};
    bool m_locked = false;
};

} // namespace

StandInApp::StandInApp(std::wstring exePath) : m_exePath(std::move(exePath)) {}

StandInApp::StandInApp(std::wstring exePath, std::wstring journalPath)
    : m_exePath(std::move(exePath)), m_journalPath(std::move(journalPath))
{
}

std::wstring StandInApp::Folder() const { return FolderOf(m_exePath); }
std::wstring StandInApp::JournalPath() const
{
    return m_journalPath.empty() ? Folder() + L"\\" + kJournalName : m_journalPath;
}
std::wstring StandInApp::ScriptPath() const { return Folder() + L"\\" + kScriptName; }
std::wstring StandInApp::InboxPath() const { return Folder() + L"\\" + kInboxName; }

bool StandInApp::Installed() const { return ::GetFileAttributesW(m_exePath.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool StandInApp::WriteScript(const std::wstring& steps, bool once) const
{
    const std::wstring temporary = ScriptPath() + L".writing";
    {
        UniqueFileHandle file(OpenWithRetry(temporary, GENERIC_WRITE, 0, CREATE_ALWAYS));
        if (!file || !WriteAll(file.get(), ToUtf8((once ? L"#once\n" : L"") + steps + L"\n"))) {
            return false;
        }
    }
    return ::MoveFileExW(temporary.c_str(), ScriptPath().c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool StandInApp::RemoveScript() const
{
    return ::DeleteFileW(ScriptPath().c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool StandInApp::AppendInbox(const std::wstring& steps) const
{
    // No FILE_SHARE_DELETE: the stand-in takes the inbox by renaming it, which must wait until this
    // append is complete.
    UniqueFileHandle file(
        OpenWithRetry(InboxPath(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS));
    return file && WriteAll(file.get(), ToUtf8(steps + L"\n"));
}

bool StandInApp::RemoveInbox() const
{
    return ::DeleteFileW(InboxPath().c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

UniqueHandle StandInApp::Start(const std::wstring& arguments, DWORD* processId) const
{
    std::wstring commandLine = QuoteArgument(m_exePath);
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    return StartCommandLine(commandLine, processId);
}

UniqueHandle StandInApp::StartCommandLine(const std::wstring& commandLine, DWORD* processId) const
{
    std::wstring mutableLine = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const std::wstring folder = Folder();
    // Under load Wine now and then refuses a start for a moment (the image still held by an instance
    // on its way out): a start is tried again for a short while before it counts as failed.
    DWORD error = ERROR_SUCCESS;
    const bool started = WaitFor(
        [&] {
            if (::CreateProcessW(m_exePath.c_str(), &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
                return true;
            }
            error = ::GetLastError();
            return false;
        },
        kStartRetryMs, kStartRetryIntervalMs);
    if (!started) {
        std::fprintf(stderr, "StandInApp: CreateProcessW(%s) failed, error %lu\n", ToUtf8(m_exePath).c_str(), error);
        return UniqueHandle();
    }
    UniqueHandle thread(process.hThread);
    if (processId != nullptr) {
        *processId = process.dwProcessId;
    }
    return UniqueHandle(process.hProcess);
}

UniqueHandle StandInApp::StartWithScript(const std::wstring& steps, DWORD* processId) const
{
    return Start(L"--script " + QuoteArgument(steps), processId);
}

std::vector<JournalRecord> StandInApp::ReadJournal() const
{
    UniqueFileHandle file(::CreateFileW(JournalPath().c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {};
    }
    std::string bytes;
    {
        JournalLock lock(file.get());
        char chunk[8192];
        DWORD read = 0;
        while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
            bytes.append(chunk, read);
        }
    }
    return ParseJournal(bytes);
}

bool StandInApp::ClearJournal() const
{
    // A fresh prefix has no journal folder until a stand-in has started once.
    const std::wstring journal = JournalPath();
    const std::wstring::size_type slash = journal.find_last_of(L'\\');
    if (slash != std::wstring::npos) {
        ::CreateDirectoryW(journal.substr(0, slash).c_str(), nullptr);
    }
    UniqueFileHandle file(OpenWithRetry(JournalPath(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS));
    if (!file) {
        return false;
    }
    JournalLock lock(file.get());
    LARGE_INTEGER zero = {};
    return lock.locked() && ::SetFilePointerEx(file.get(), zero, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(file.get());
}

std::vector<JournalRecord> StandInApp::Starts() const
{
    std::vector<JournalRecord> starts;
    for (const JournalRecord& record : ReadJournal()) {
        if (Field(record, L"event") == L"start") {
            starts.push_back(record);
        }
    }
    return starts;
}

bool StandInApp::WaitForStarts(size_t count, DWORD timeoutMs, std::vector<JournalRecord>* starts) const
{
    std::vector<JournalRecord> found;
    const bool reached = WaitFor(
        [&] {
            found = Starts();
            return found.size() >= count;
        },
        timeoutMs);
    if (starts != nullptr) {
        *starts = found;
    }
    return reached;
}

bool StandInApp::WaitForRecord(const std::function<bool(const JournalRecord&)>& match, DWORD timeoutMs,
                               JournalRecord* found) const
{
    return WaitFor(
        [&] {
            for (const JournalRecord& record : ReadJournal()) {
                if (match(record)) {
                    if (found != nullptr) {
                        *found = record;
                    }
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

bool StandInApp::WaitForEvent(const std::wstring& event, DWORD processId, DWORD timeoutMs, JournalRecord* found) const
{
    return WaitForRecord(
        [&](const JournalRecord& record) {
            return Field(record, L"event") == event && (processId == 0 || NumberField(record, L"pid") == processId);
        },
        timeoutMs, found);
}

std::vector<DWORD> StandInApp::RunningProcesses() const { return FindProcessesByImagePath(m_exePath); }

size_t StandInApp::KillAll(DWORD timeoutMs) const { return KillProcessesByImagePath(m_exePath, timeoutMs); }

void StandInApp::Reset() const
{
    KillAll();
    RemoveScript();
    RemoveInbox();
    ClearJournal();
}

std::wstring UserSettingsPath()
{
    wchar_t appData[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
    std::wstring folder = length > 0 && length < MAX_PATH ? std::wstring(appData, length) : std::wstring();
    if (folder.empty() && SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) {
        folder = appData;
    }
    return folder.empty() ? std::wstring() : folder + L"\\Corvane\\BrisaRDP.ini";
}

std::wstring QuoteArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

} // namespace harness
