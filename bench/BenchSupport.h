#pragma once

// What the benchmark programs share: a millisecond clock, a poll loop, reading a whole file that another
// process may be appending to, and the stand-in's journal: its lines, their fields and its removal.

#include <windows.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Win32Resources.h"

namespace bench {

inline double NowMs()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Calls `done` every `stepMs` until it answers true (true) or `timeoutMs` have passed (false).
inline bool Poll(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs = 5)
{
    const ULONGLONG start = ::GetTickCount64();
    while (!done()) {
        if (::GetTickCount64() - start >= timeoutMs) {
            return false;
        }
        ::Sleep(stepMs);
    }
    return true;
}

inline std::string ReadWholeFile(const std::wstring& path)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    if (!file) {
        return text;
    }
    char chunk[8192];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        text.append(chunk, read);
    }
    return text;
}

// The value of a tab-separated "key=value" field of one journal line; empty when it has none.
inline std::string JournalField(const std::string& line, const std::string& key)
{
    const std::string marker = key + "=";
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t end = line.find('\t', at);
        const std::string field = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (field.compare(0, marker.size(), marker) == 0) {
            return field.substr(marker.size());
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return std::string();
}

// One line of a stand-in's journal (the application's, or the driver installers'); a field the line does
// not have is empty or 0.
struct Record {
    std::string event;
    DWORD pid = 0;
    DWORD client = 0;
    ULONGLONG tick = 0;
    ULONGLONG entry = 0;  // start records: when the program's own code began
    std::string arg;      // send records: what was written, and how the write went
    std::string result;
};

// The complete records of a journal (a last line without its line end is still being written).
inline std::vector<Record> ReadJournal(const std::wstring& path)
{
    std::vector<Record> records;
    const std::string text = ReadWholeFile(path);
    std::size_t begin = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; begin = end + 1, end = text.find('\n', begin)) {
        const std::string line = text.substr(begin, end - begin);
        Record record;
        record.event = JournalField(line, "event");
        record.pid = static_cast<DWORD>(std::strtoul(JournalField(line, "pid").c_str(), nullptr, 10));
        record.client = static_cast<DWORD>(std::strtoul(JournalField(line, "client").c_str(), nullptr, 10));
        record.tick = std::strtoull(JournalField(line, "tick").c_str(), nullptr, 10);
        record.entry = std::strtoull(JournalField(line, "entry").c_str(), nullptr, 10);
        record.arg = JournalField(line, "arg");
        record.result = JournalField(line, "result");
        records.push_back(record);
    }
    return records;
}

// The stand-in application keeps its journal beside its image.
inline std::wstring JournalBeside(const std::wstring& appPath)
{
    return appPath.substr(0, appPath.rfind(L'\\')) + L"\\Corvane.journal";
}

// The first complete start record of a journal: of the process `processId`, or of any when that is 0.
inline std::optional<Record> FindStartRecord(const std::wstring& path, DWORD processId = 0)
{
    for (const Record& record : ReadJournal(path)) {
        if (record.event == "start" && (processId == 0 || record.pid == processId)) {
            return record;
        }
    }
    return std::nullopt;
}

// Waits for FindStartRecord's answer, reading the journal every millisecond until `timeoutMs` after
// `since` (a GetTickCount64 value, taken when the start was asked for); nullopt when none came.
inline std::optional<Record> WaitStartRecord(const std::wstring& path, DWORD processId, ULONGLONG since,
                                             ULONGLONG timeoutMs)
{
    for (;;) {
        if (std::optional<Record> start = FindStartRecord(path, processId)) {
            return start;
        }
        if (::GetTickCount64() - since >= timeoutMs) {
            return std::nullopt;
        }
        ::Sleep(1);
    }
}

// Deletes a journal, so that the next start record is the next program's. A stand-in that has just been
// ended may still hold it open for a moment, so the deletion is tried again for up to two seconds.
constexpr int kRemoveJournalAttempts = 200;
constexpr DWORD kRemoveJournalRetryMs = 10;

inline void RemoveJournal(const std::wstring& path)
{
    for (int attempt = 0; attempt < kRemoveJournalAttempts; ++attempt) {
        if (::DeleteFileW(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND) {
            return;
        }
        ::Sleep(kRemoveJournalRetryMs);
    }
}

} // namespace bench
