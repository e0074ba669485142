#include "harness/StandInApp.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>

namespace harness {

namespace {

constexpr wchar_t kJournalName[] = L"Corvane.journal";
constexpr wchar_t kScriptName[] = L"Corvane.script";
constexpr wchar_t kInboxName[] = L"Corvane.inbox";

// The stand-in's writers lock this byte of the journal (far beyond its data) around each record.
constexpr unsigned long long kJournalLockOffset = 1ULL << 40;

constexpr DWORD kPipeConnectPollMs = 20;
constexpr DWORD kPipeReadBytes = 20480;
constexpr DWORD kFileRetryMs = 10;
constexpr int kFileAttempts = 200;
constexpr DWORD kStartRetryMs = 3000;
constexpr DWORD kStartRetryIntervalMs = 100;

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::wstring FileNameOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

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

std::wstring Unescape(const std::wstring& value)
{
    std::wstring text;
    text.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != L'\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const wchar_t next = value[++i];
        switch (next) {
        case L't': text += L'\t'; break;
        case L'n': text += L'\n'; break;
        case L'r': text += L'\r'; break;
        case L'x':
            if (i + 2 < value.size()) {
                const std::wstring hex = value.substr(i + 1, 2);
                text += static_cast<wchar_t>(std::wcstoul(hex.c_str(), nullptr, 16));
                i += 2;
            } else {
                text += L"\\x";
            }
            break;
        default: text += next; break;
        }
    }
    return text;
}

} // namespace

// ---- The installed stand-in ---------------------------------------------------------------------------

std::vector<JournalRecord> ParseJournal(const std::string& utf8)
{
    std::vector<JournalRecord> records;
    size_t start = 0;
    for (;;) {
        const size_t end = utf8.find('\n', start);
        if (end == std::string::npos) {
            break;
        }
        const std::wstring line = FromUtf8(utf8.substr(start, end - start));
        start = end + 1;
        JournalRecord record;
        size_t fieldStart = 0;
        while (fieldStart <= line.size()) {
            size_t fieldEnd = line.find(L'\t', fieldStart);
            if (fieldEnd == std::wstring::npos) {
                fieldEnd = line.size();
            }
            const std::wstring field = line.substr(fieldStart, fieldEnd - fieldStart);
            const size_t equals = field.find(L'=');
            if (equals != std::wstring::npos) {
                record[field.substr(0, equals)] = Unescape(field.substr(equals + 1));
            }
            fieldStart = fieldEnd + 1;
        }
        if (!record.empty()) {
            records.push_back(record);
        }
    }
    return records;
}

std::wstring Field(const JournalRecord& record, const wchar_t* name)
{
    const auto found = record.find(name);
    return found == record.end() ? std::wstring() : found->second;
}

unsigned long long NumberField(const JournalRecord& record, const wchar_t* name)
{
    const std::wstring text = Field(record, name);
    if (text.empty() || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return 0;
    }
    return std::wcstoull(text.c_str(), nullptr, 10);
}

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

// ---- The driver installers' stand-in -------------------------------------------------------------------

std::wstring InstallerJournalPath()
{
    wchar_t common[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common))) {
        return std::wstring();
    }
    return std::wstring(common) + L"\\OrvelStandIn\\DriverInstallers.journal";
}

StandInApp InstalledInstaller(const std::wstring& relativePath)
{
    return StandInApp(InstallFolder() + relativePath, InstallerJournalPath());
}

std::wstring StartArguments(const JournalRecord& start)
{
    const std::wstring commandLine = Field(start, L"cmdline");
    const std::wstring exe = Field(start, L"exe");
    std::size_t programEnd = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        programEnd = commandLine.find(L'"', 1);
        programEnd = programEnd == std::wstring::npos ? commandLine.size() : programEnd + 1;
    } else if (commandLine.compare(0, exe.size(), exe) == 0) {
        programEnd = exe.size();
    } else {
        programEnd = std::min(commandLine.find(L' '), commandLine.size());
    }
    return programEnd < commandLine.size() ? commandLine.substr(programEnd + 1) : std::wstring();
}

// ---- Processes by image path ----------------------------------------------------------------------------

std::vector<DWORD> FindProcessesByImagePath(const std::wstring& imagePath)
{
    std::vector<DWORD> found;
    const std::wstring imageName = FileNameOf(imagePath);
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return found;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (!SameText(entry.szExeFile, imageName)) {
            continue;
        }
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process) {
            continue;
        }
        wchar_t path[MAX_PATH * 2] = {};
        DWORD size = MAX_PATH * 2;
        if (::QueryFullProcessImageNameW(process.get(), 0, path, &size) && SameText(path, imagePath)) {
            // A process that has ended but is still referenced keeps its entry for a moment.
            DWORD exitCode = 0;
            if (::GetExitCodeProcess(process.get(), &exitCode) && exitCode == STILL_ACTIVE) {
                found.push_back(entry.th32ProcessID);
            }
        }
    }
    return found;
}

size_t CountProcessesByImagePath(const std::wstring& imagePath) { return FindProcessesByImagePath(imagePath).size(); }

size_t KillProcessesByImagePath(const std::wstring& imagePath, DWORD timeoutMs)
{
    std::vector<UniqueHandle> killed;
    for (DWORD id : FindProcessesByImagePath(imagePath)) {
        UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (process && ::TerminateProcess(process.get(), 1)) {
            killed.push_back(std::move(process));
        }
    }
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (const UniqueHandle& process : killed) {
        const ULONGLONG now = ::GetTickCount64();
        ::WaitForSingleObject(process.get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    }
    return killed.size();
}

bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD* exitCode)
{
    if (::WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(process, &code)) {
        return false;
    }
    if (exitCode != nullptr) {
        *exitCode = code;
    }
    return true;
}

// ---- Settings files ------------------------------------------------------------------------------------

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

// ---- The pipe, from the client's side --------------------------------------------------------------------

bool PipeClient::Connect(DWORD timeoutMs)
{
    m_pipe.reset();
    return WaitFor(
        [&] {
            // As the service opens it (read only, attributes 5), plus overlapped for timed reads.
            m_pipe.reset(::CreateFileW(kCorvanePipeName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_FLAG_OVERLAPPED,
                                       nullptr));
            return m_pipe.valid();
        },
        timeoutMs, kPipeConnectPollMs);  // polled more often than the general wait
}

PipeClient::ReadResult PipeClient::Read(DWORD timeoutMs)
{
    ReadResult result;
    if (!m_pipe) {
        result.status = Status::Broken;
        result.error = ERROR_INVALID_HANDLE;
        return result;
    }
    UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done) {
        result.status = Status::Broken;
        result.error = ::GetLastError();
        return result;
    }
    std::string buffer(kPipeReadBytes, '\0');
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done.get();
    DWORD read = 0;
    BOOL ok = ::ReadFile(m_pipe.get(), &buffer[0], kPipeReadBytes, nullptr, &overlapped);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!ok && error == ERROR_IO_PENDING) {
        if (::WaitForSingleObject(done.get(), timeoutMs) != WAIT_OBJECT_0) {
            ::CancelIoEx(m_pipe.get(), &overlapped);
        }
        ok = ::GetOverlappedResult(m_pipe.get(), &overlapped, &read, TRUE);
        error = ok ? ERROR_SUCCESS : ::GetLastError();
    } else if (ok) {
        ::GetOverlappedResult(m_pipe.get(), &overlapped, &read, TRUE);
    }
    if (ok || error == ERROR_MORE_DATA) {
        result.status = Status::Message;
        result.text.assign(buffer.data(), read);
    } else if (error == ERROR_OPERATION_ABORTED) {
        result.status = Status::Timeout;
    } else {
        result.status = Status::Broken;
        result.error = error;
    }
    return result;
}

DWORD PipeClient::ServerProcessId() const
{
    ULONG id = 0;
    return m_pipe && ::GetNamedPipeServerProcessId(m_pipe.get(), &id) ? id : 0;
}

// ---- Miscellaneous ---------------------------------------------------------------------------------------

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
