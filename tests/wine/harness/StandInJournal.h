#pragma once

// The journal of a stand-in program: one line per record, fields as name=value pairs with escapes.

#include <map>
#include <string>
#include <vector>

namespace harness {

// One record of the journal: field name to value, escapes undone. Every record has "event", "pid",
// "time" and "tick"; starts ("event" = "start") also "cmdline", "cwd", "session", "user", "exe", "ppid",
// "desktop", "appdata" and "script"; steps "source" ("script" or "inbox"), "result" and, when the step
// has one, "arg".
using JournalRecord = std::map<std::wstring, std::wstring>;

// Parses journal text (UTF-8). A last line without its line end is still being written and is left out.
std::vector<JournalRecord> ParseJournal(const std::string& utf8);

// Field helpers: the value or an empty text, and a numeric field (0 when absent or not a number).
std::wstring Field(const JournalRecord& record, const wchar_t* name);
unsigned long long NumberField(const JournalRecord& record, const wchar_t* name);

} // namespace harness
