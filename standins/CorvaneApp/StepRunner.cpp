#include "StepRunner.h"

#include <windows.h>

namespace corvane_standin {

namespace {

constexpr wchar_t kResultOk[] = L"ok";
constexpr wchar_t kResultBadArgument[] = L"bad argument";
constexpr wchar_t kCorvaneSection[] = L"Corvane";

// The application leaves after announcing its exit; the service reads the notice well within this.
constexpr DWORD kExitGraceMs = 100;
constexpr DWORD kCrashExitCode = 0xC0000005;
constexpr unsigned long long kMaxSendBytes = 16ULL * 1024 * 1024;
constexpr unsigned long long kMaxSleepMs = 24ULL * 60 * 60 * 1000;

std::wstring ErrorResult(DWORD error)
{
    return error == ERROR_SUCCESS ? std::wstring(kResultOk) : L"error " + std::to_wstring(error);
}

// Pipe messages are narrow text in the ANSI code page, as the application writes them.
std::string ToAnsi(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &ansi[0], size, nullptr,
                              nullptr);
    }
    return ansi;
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

} // namespace

StepRunner::StepRunner(const Journal& journal, PipeServer& pipe, std::wstring iniPath)
    : m_journal(journal), m_pipe(pipe), m_iniPath(std::move(iniPath))
{
}

void StepRunner::Run(const std::vector<Step>& steps, const wchar_t* source)
{
    for (const Step& step : steps) {
        bool endScript = false;
        const std::wstring result = RunStep(step, source, &endScript);
        Record(step, source, result);
        if (endScript) {
            return;
        }
    }
}

void StepRunner::Record(const Step& step, const wchar_t* source, const std::wstring& result)
{
    JournalFields fields;
    if (!step.argument.empty()) {
        fields.emplace_back(L"arg", step.argument);
    }
    fields.emplace_back(L"source", source);
    fields.emplace_back(L"result", result);
    m_journal.Append(step.name, fields);
}

std::wstring StepRunner::RunStep(const Step& step, const wchar_t* source, bool* endScript)
{
    const std::wstring& name = step.name;
    if (name == L"wait-client") {
        m_pipe.WaitClient();
        return kResultOk;
    }
    if (name == L"send") {
        return ErrorResult(m_pipe.Send(DecodeBytes(Unquote(step.argument), ToAnsi)));
    }
    if (name == L"send-bytes") {
        // send-bytes <count> [<character>]
        const size_t blank = step.argument.find_first_of(L" \t");
        unsigned long long count = 0;
        if (!ParseCount(step.argument.substr(0, blank), kMaxSendBytes, &count)) {
            return kResultBadArgument;
        }
        char fill = 'A';
        if (blank != std::wstring::npos) {
            const std::string decoded = DecodeBytes(Unquote(step.argument.substr(blank + 1)), ToAnsi);
            const size_t first = decoded.find_first_not_of(" \t");
            if (first != std::string::npos) {
                fill = decoded[first];
            } else if (!decoded.empty()) {
                fill = decoded[0];
            }
        }
        return ErrorResult(m_pipe.Send(std::string(static_cast<size_t>(count), fill)));
    }
    if (name == L"sleep") {
        unsigned long long ms = 0;
        if (!ParseCount(step.argument, kMaxSleepMs, &ms)) {
            return kResultBadArgument;
        }
        ::Sleep(static_cast<DWORD>(ms));
        return kResultOk;
    }
    if (name == L"ini") {
        return WriteIni(step.argument);
    }
    if (name == L"exit") {
        // Announced exit: the notice, a moment for the service to read it, then a clean end.
        const std::string notice = "app_exit:" + std::to_string(::GetCurrentProcessId());
        Record(step, source, ErrorResult(m_pipe.Send(notice)));
        ::Sleep(kExitGraceMs);
        ::ExitProcess(0);
    }
    if (name == L"crash") {
        Record(step, source, kResultOk);
        ::TerminateProcess(::GetCurrentProcess(), kCrashExitCode);
        return kResultOk;  // not reached
    }
    if (name == L"quit") {
        Record(step, source, kResultOk);
        ::ExitProcess(0);
    }
    if (name == L"disconnect") {
        return ErrorResult(m_pipe.Disconnect());
    }
    if (name == L"idle") {
        *endScript = true;
        return kResultOk;
    }
    return L"unknown step";
}

std::wstring StepRunner::WriteIni(const std::wstring& argument)
{
    // ini <key>=<value> writes the key; ini <key> (no '=') deletes it.
    if (m_iniPath.empty()) {
        return L"error " + std::to_wstring(ERROR_PATH_NOT_FOUND);
    }
    const size_t equals = argument.find(L'=');
    std::wstring key = argument.substr(0, equals);
    while (!key.empty() && (key.back() == L' ' || key.back() == L'\t')) {
        key.pop_back();
    }
    if (key.empty()) {
        return kResultBadArgument;
    }
    std::wstring value;
    if (equals != std::wstring::npos) {
        std::wstring raw = argument.substr(equals + 1);
        const size_t first = raw.find_first_not_of(L" \t");
        raw = first == std::wstring::npos ? std::wstring() : raw.substr(first);
        value = DecodeWide(Unquote(raw));
    }
    // The data folder (…\Corvane) may not exist yet on a fresh profile.
    const std::wstring folder = FolderOf(m_iniPath);
    if (!folder.empty()) {
        ::CreateDirectoryW(folder.c_str(), nullptr);
    }
    const BOOL ok = ::WritePrivateProfileStringW(kCorvaneSection, key.c_str(),
                                                 equals == std::wstring::npos ? nullptr : value.c_str(),
                                                 m_iniPath.c_str());
    return ok ? std::wstring(kResultOk) : ErrorResult(::GetLastError());
}

} // namespace corvane_standin
