// Corvane.exe, the stand-in for the companion application (see README.md): journals its start, serves
// \\.\pipe\CorvaneServer, runs its start script and then whatever steps a test appends to its inbox.

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <string>
#include <thread>
#include <vector>

#include "Journal.h"
#include "OwnedHandle.h"
#include "PipeServer.h"
#include "ScriptText.h"
#include "StepRunner.h"

using namespace corvane_standin;

namespace {

constexpr wchar_t kJournalName[] = L"Corvane.journal";
constexpr wchar_t kScriptName[] = L"Corvane.script";
constexpr wchar_t kInboxName[] = L"Corvane.inbox";
constexpr DWORD kInboxPollMs = 100;
constexpr DWORD kMaxScriptBytes = 4 * 1024 * 1024;

std::wstring OwnImagePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring CurrentDirectory()
{
    const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(size, L'\0');
    const DWORD length = size == 0 ? 0 : ::GetCurrentDirectoryW(size, &folder[0]);
    folder.resize(length < size ? length : 0);
    return folder;
}

std::wstring Environment(const wchar_t* name)
{
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return std::wstring();
    }
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

std::wstring UserName()
{
    wchar_t name[257] = {};
    DWORD size = 257;
    return ::GetUserNameW(name, &size) ? std::wstring(name) : std::wstring();
}

DWORD ParentProcessId()
{
    OwnedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) {
        return 0;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self) {
            return entry.th32ParentProcessID;
        }
    }
    return 0;
}

// The user's data folder as the application finds it: %APPDATA%, else the shell's roaming folder.
std::wstring UserSettingsPath()
{
    std::wstring appData = Environment(L"APPDATA");
    if (appData.empty()) {
        wchar_t folder[MAX_PATH] = {};
        if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
            appData = folder;
        }
    }
    return appData.empty() ? std::wstring() : appData + L"\\Corvane\\BrisaRDP.ini";
}

// Reads a whole script file: UTF-8 (with or without a byte-order mark) or UTF-16 with its mark.
bool ReadTextFile(const std::wstring& path, std::wstring* text, DWORD* error)
{
    OwnedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        *error = ::GetLastError();
        return false;
    }
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
        if (bytes.size() > kMaxScriptBytes) {
            *error = ERROR_FILE_TOO_LARGE;
            return false;
        }
    }
    text->clear();
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text->assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
        return true;
    }
    size_t start = 0;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        start = 3;
    }
    if (bytes.size() > start) {
        const int size = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, static_cast<int>(bytes.size() - start),
                                               nullptr, 0);
        text->assign(static_cast<size_t>(size > 0 ? size : 0), L'\0');
        if (size > 0) {
            ::MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, static_cast<int>(bytes.size() - start), &(*text)[0],
                                  size);
        }
    }
    return true;
}

struct StartScript {
    std::wstring origin = L"none";  // "none", "command line", or the file it came from
    std::wstring text;
    DWORD error = ERROR_SUCCESS;    // reading the file failed
};

// --script "<steps>" and --script-file <path> on the command line win; otherwise Corvane.script beside
// the program, which the service's fixed command line cannot name. A "#once" script file is deleted
// once read, so that only this start runs it.
StartScript FindStartScript(const std::wstring& folder)
{
    StartScript script;
    int count = 0;
    // The argument array is one LocalAlloc'ed block.
    UniqueLocalMemory argsBlock(::CommandLineToArgvW(::GetCommandLineW(), &count));
    wchar_t** args = static_cast<wchar_t**>(argsBlock.get());
    if (args != nullptr) {
        for (int i = 1; i + 1 < count; ++i) {
            const std::wstring arg = args[i];
            if (arg == L"--script") {
                script.origin = L"command line";
                script.text = args[i + 1];
                break;
            }
            if (arg == L"--script-file") {
                script.origin = args[i + 1];
                if (!ReadTextFile(args[i + 1], &script.text, &script.error)) {
                    script.text.clear();
                }
                break;
            }
        }
        if (script.origin != L"none") {
            return script;
        }
    }
    const std::wstring path = folder + L"\\" + kScriptName;
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return script;
    }
    script.origin = path;
    if (!ReadTextFile(path, &script.text, &script.error)) {
        script.text.clear();
        return script;
    }
    if (IsOnceScript(script.text)) {
        ::DeleteFileW(path.c_str());
    }
    return script;
}

// Takes what has been appended to the inbox: renames the file away and reads it. The harness appends
// with a handle that does not share deletion, so the rename fails while a test is writing, and the
// steps are taken on the next poll, whole.
bool TakeInbox(const std::wstring& inbox, std::wstring* text)
{
    const std::wstring taken = inbox + L"." + std::to_wstring(::GetCurrentProcessId()) + L".taken";
    if (!::MoveFileExW(inbox.c_str(), taken.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return false;
    }
    DWORD error = ERROR_SUCCESS;
    const bool read = ReadTextFile(taken, text, &error);
    ::DeleteFileW(taken.c_str());
    return read;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // When the program's own code began to run: what follows until the start record is the stand-in's own
    // start-up, which a measure of how fast the service starts the application leaves out.
    const ULONGLONG entryTick = ::GetTickCount64();
    const std::wstring imagePath = OwnImagePath();
    const std::wstring folder = FolderOf(imagePath);
    // Never destroyed: the process ends through ExitProcess or TerminateProcess while threads use them.
    auto* journal = new Journal(folder + L"\\" + kJournalName);

    const StartScript script = FindStartScript(folder);
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    ::GetStartupInfoW(&startup);
    journal->Append(L"start", {{L"cmdline", ::GetCommandLineW()},
                               {L"cwd", CurrentDirectory()},
                               {L"session", std::to_wstring(session)},
                               {L"user", UserName()},
                               {L"exe", imagePath},
                               {L"ppid", std::to_wstring(ParentProcessId())},
                               {L"desktop", startup.lpDesktop != nullptr ? startup.lpDesktop : L""},
                               {L"appdata", Environment(L"APPDATA")},
                               {L"script", script.origin},
                               {L"entry", std::to_wstring(entryTick)}});
    if (script.error != ERROR_SUCCESS) {
        journal->Append(L"script-error", {{L"arg", script.origin}, {L"result", L"error " + std::to_wstring(script.error)}});
    }

    auto* pipe = new PipeServer(*journal);
    if (!pipe->Start()) {
        journal->Append(L"pipe-error", {{L"result", L"error " + std::to_wstring(::GetLastError())}});
    }
    auto* runner = new StepRunner(*journal, *pipe, UserSettingsPath());

    const std::wstring inbox = folder + L"\\" + kInboxName;
    std::thread([runner, inbox] {
        for (;;) {
            ::Sleep(kInboxPollMs);
            std::wstring steps;
            if (TakeInbox(inbox, &steps)) {
                runner->Run(ParseScript(steps), L"inbox");
            }
        }
    }).detach();

    runner->Run(ParseScript(script.text), L"script");

    // A well-behaved application with nothing left to do: it keeps serving the pipe and the inbox.
    for (;;) {
        ::Sleep(INFINITE);
    }
    return 0;
}
