#include "Journal.h"

#include <windows.h>

#include <cstdio>

#include "OwnedHandle.h"
#include "ScriptText.h"

namespace corvane_standin {

namespace {

constexpr DWORD kOpenAttempts = 200;
constexpr DWORD kOpenRetryMs = 10;

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr,
                              nullptr);
    }
    return utf8;
}

std::wstring LocalTimeText()
{
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    wchar_t text[32] = {};
    swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

void AddField(std::wstring* line, const std::wstring& key, const std::wstring& value)
{
    if (!line->empty()) {
        *line += L'\t';
    }
    *line += key;
    *line += L'=';
    *line += EscapeJournalValue(value);
}

} // namespace

void Journal::Append(const std::wstring& event, const JournalFields& fields) const
{
    std::wstring line;
    AddField(&line, L"event", event);
    for (const auto& field : fields) {
        AddField(&line, field.first, field.second);
    }
    AddField(&line, L"pid", std::to_wstring(::GetCurrentProcessId()));
    AddField(&line, L"time", LocalTimeText());
    AddField(&line, L"tick", std::to_wstring(::GetTickCount64()));
    const std::string record = ToUtf8(line) + "\n";

    // Another instance or the harness may hold the file for a moment, or it may have just been deleted.
    OwnedHandle file;
    for (DWORD attempt = 0; attempt < kOpenAttempts && !file.valid(); ++attempt) {
        file.reset(::CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            ::Sleep(kOpenRetryMs);
        }
    }
    if (!file.valid()) {
        return;
    }
    OVERLAPPED lockRange = {};
    lockRange.Offset = static_cast<DWORD>(kJournalLockOffset & 0xFFFFFFFFu);
    lockRange.OffsetHigh = static_cast<DWORD>(kJournalLockOffset >> 32);
    if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockRange)) {
        return;
    }
    LARGE_INTEGER zero = {};
    DWORD written = 0;
    if (::SetFilePointerEx(file.get(), zero, nullptr, FILE_END)) {
        ::WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    }
    ::UnlockFileEx(file.get(), 0, 1, 0, &lockRange);
}

} // namespace corvane_standin
