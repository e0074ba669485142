#pragma once

// What the benchmark programs add to the Wine tests' harness (tests/wine/harness), which does the rest
// for them: a millisecond clock, and the stand-ins' journal records as numbers, read as often as a timing
// needs.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "Sandbox.h"
#include "StandInApp.h"

namespace bench {

inline double NowMs()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One record of a stand-in's journal (the application's, or the driver installers'); a field the record
// does not have is empty or 0.
struct Record {
    std::string event;
    DWORD pid = 0;
    DWORD client = 0;
    ULONGLONG tick = 0;
    ULONGLONG entry = 0;  // start records: when the program's own code began
    std::string arg;      // send records: what was written, and how the write went
    std::string result;
};

inline std::vector<Record> ReadJournal(const std::wstring& path)
{
    std::vector<Record> records;
    for (const harness::JournalRecord& fields : harness::ParseJournal(harness::ReadFileBytes(path))) {
        Record record;
        record.event = harness::ToUtf8(harness::Field(fields, L"event"));
        record.pid = static_cast<DWORD>(harness::NumberField(fields, L"pid"));
        record.client = static_cast<DWORD>(harness::NumberField(fields, L"client"));
        record.tick = harness::NumberField(fields, L"tick");
        record.entry = harness::NumberField(fields, L"entry");
        record.arg = harness::ToUtf8(harness::Field(fields, L"arg"));
        record.result = harness::ToUtf8(harness::Field(fields, L"result"));
        records.push_back(record);
    }
    return records;
}

// The first start record of a journal: of the process `processId`, or of any when that is 0.
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
    std::optional<Record> start;
    const ULONGLONG elapsed = ::GetTickCount64() - since;
    const DWORD left = elapsed >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - elapsed);
    harness::WaitFor([&] { return (start = FindStartRecord(path, processId)).has_value(); }, left, 1);
    return start;
}

} // namespace bench
