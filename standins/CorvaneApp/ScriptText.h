#pragma once

// The text side of the stand-in's scripts and journal: splitting a script into steps, decoding the
// escapes of a step's argument, and escaping journal values. No Windows headers: plain text in, text out.

#include <string>
#include <vector>

namespace corvane_standin {

struct Step {
    std::wstring name;      // lower-case, e.g. L"send"
    std::wstring argument;  // the rest of the step, blanks around it removed, escapes not yet decoded
    std::wstring text;      // the step as written (trimmed), for the journal
};

// Splits a script into steps. Steps are separated by ';' or by line ends; a ';' inside double quotes
// does not separate, and a backslash shields the character after it. Blank steps and steps that start
// with '#' (comments, "#once") are dropped.
std::vector<Step> ParseScript(const std::wstring& script);

// Whether the script's first line is "#once" (blanks around it ignored): the script file is then
// deleted after it has been read.
bool IsOnceScript(const std::wstring& script);

// Removes one pair of double quotes around the whole argument, when the quote that opens it is closed
// by the argument's last character; otherwise the argument is returned unchanged (so a text that merely
// starts with a quoted word keeps its quotes).
std::wstring Unquote(const std::wstring& argument);

// Decodes \r \n \t \0 \\ \" and \xNN (two hex digits) in an already unquoted argument. Other backslashes
// stay as they are. DecodeBytes converts the literal runs with narrow and puts \xNN in as raw bytes;
// DecodeWide gives \xNN as the character with that code.
using NarrowFunction = std::string (*)(const std::wstring& text);
std::string DecodeBytes(const std::wstring& text, NarrowFunction narrow);
std::wstring DecodeWide(const std::wstring& text);

// Parses a non-negative decimal number (blanks around it allowed); false on anything else or overflow
// beyond limit.
bool ParseCount(const std::wstring& text, unsigned long long limit, unsigned long long* value);

// Journal values: backslash, tab, line feed and carriage return become \\ \t \n \r, other control
// characters \xNN, so that every record stays on one line and its fields stay apart.
std::wstring EscapeJournalValue(const std::wstring& value);

} // namespace corvane_standin
