#include "harness/StandInJournal.h"

#include <cstdlib>

#include "Sandbox.h"

namespace harness {

namespace {

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

} // namespace harness
