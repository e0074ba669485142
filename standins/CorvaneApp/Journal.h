#pragma once

// The stand-in's journal, <own folder>\Corvane.journal: one UTF-8 line per record, tab-separated
// key=value fields, values escaped (EscapeJournalValue). Every record starts with "event=" and ends with
// the process id, the local time and the tick count, so that tests can tell instances apart and measure
// delays. Several instances may append at the same time: each record is written whole, at the end of
// the file, under a lock shared by every writer (and by the test harness when it reads or clears).

#include <string>
#include <utility>
#include <vector>

namespace corvane_standin {

using JournalFields = std::vector<std::pair<std::wstring, std::wstring>>;

class Journal {
public:
    explicit Journal(std::wstring path) : m_path(std::move(path)) {}

    // Appends one record: "event=<event>", the fields in order, then pid, time and tick. Failures are
    // swallowed (after retrying a locked or just-deleted file for a while): a stand-in never stops for
    // its journal.
    void Append(const std::wstring& event, const JournalFields& fields = {}) const;

private:
    std::wstring m_path;
};

// The byte range that writers lock; far beyond any real journal size, so it never covers data.
constexpr unsigned long long kJournalLockOffset = 1ULL << 40;

} // namespace corvane_standin
