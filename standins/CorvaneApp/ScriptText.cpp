#include "ScriptText.h"

namespace corvane_standin {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Trim(const std::wstring& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first])) {
        ++first;
    }
    while (last > first && IsBlank(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

void AddStep(const std::wstring& raw, std::vector<Step>* steps)
{
    const std::wstring text = Trim(raw);
    if (text.empty() || text[0] == L'#') {
        return;
    }
    size_t nameEnd = 0;
    while (nameEnd < text.size() && !IsBlank(text[nameEnd])) {
        ++nameEnd;
    }
    Step step;
    step.text = text;
    for (size_t i = 0; i < nameEnd; ++i) {
        const wchar_t c = text[i];
        step.name += (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    }
    step.argument = Trim(text.substr(nameEnd));
    steps->push_back(step);
}

// One decoded piece of an argument: either a literal character or a raw byte from \xNN.
template <typename OnChar, typename OnByte>
void Decode(const std::wstring& text, OnChar onChar, OnByte onByte)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c != L'\\' || i + 1 == text.size()) {
            onChar(c);
            continue;
        }
        const wchar_t next = text[i + 1];
        switch (next) {
        case L'r': onChar(L'\r'); ++i; break;
        case L'n': onChar(L'\n'); ++i; break;
        case L't': onChar(L'\t'); ++i; break;
        case L'0': onChar(L'\0'); ++i; break;
        case L'\\': onChar(L'\\'); ++i; break;
        case L'"': onChar(L'"'); ++i; break;
        case L'x':
            if (i + 3 < text.size() && HexValue(text[i + 2]) >= 0 && HexValue(text[i + 3]) >= 0) {
                onByte(static_cast<unsigned char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3])));
                i += 3;
            } else {
                onChar(c);
            }
            break;
        default:
            onChar(c);
            break;
        }
    }
}

} // namespace

std::vector<Step> ParseScript(const std::wstring& script)
{
    std::vector<Step> steps;
    std::wstring current;
    bool quoted = false;
    for (size_t i = 0; i < script.size(); ++i) {
        const wchar_t c = script[i];
        if (c == L'\\' && i + 1 < script.size() && script[i + 1] != L'\n' && script[i + 1] != L'\r') {
            current += c;
            current += script[++i];
        } else if (c == L'\n' || c == L'\r') {
            AddStep(current, &steps);
            current.clear();
            quoted = false;
        } else if (c == L';' && !quoted) {
            AddStep(current, &steps);
            current.clear();
        } else {
            if (c == L'"') {
                quoted = !quoted;
            }
            current += c;
        }
    }
    AddStep(current, &steps);
    return steps;
}

bool IsOnceScript(const std::wstring& script)
{
    size_t start = 0;
    if (!script.empty() && script[0] == L'\xFEFF') {
        start = 1;
    }
    size_t end = script.find_first_of(L"\r\n", start);
    if (end == std::wstring::npos) {
        end = script.size();
    }
    return Trim(script.substr(start, end - start)) == L"#once";
}

std::wstring Unquote(const std::wstring& argument)
{
    if (argument.size() < 2 || argument[0] != L'"') {
        return argument;
    }
    size_t i = 1;
    while (i < argument.size()) {
        if (argument[i] == L'\\') {
            i += 2;
            continue;
        }
        if (argument[i] == L'"') {
            break;
        }
        ++i;
    }
    if (i == argument.size() - 1) {
        return argument.substr(1, argument.size() - 2);
    }
    return argument;
}

std::string DecodeBytes(const std::wstring& text, NarrowFunction narrow)
{
    std::string bytes;
    std::wstring run;
    auto flush = [&]() {
        if (!run.empty()) {
            bytes += narrow(run);
            run.clear();
        }
    };
    Decode(
        text, [&](wchar_t c) { run += c; },
        [&](unsigned char b) {
            flush();
            bytes += static_cast<char>(b);
        });
    flush();
    return bytes;
}

std::wstring DecodeWide(const std::wstring& text)
{
    std::wstring decoded;
    Decode(
        text, [&](wchar_t c) { decoded += c; }, [&](unsigned char b) { decoded += static_cast<wchar_t>(b); });
    return decoded;
}

bool ParseCount(const std::wstring& text, unsigned long long limit, unsigned long long* value)
{
    const std::wstring digits = Trim(text);
    if (digits.empty()) {
        return false;
    }
    unsigned long long result = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        result = result * 10 + static_cast<unsigned>(c - L'0');
        if (result > limit) {
            return false;
        }
    }
    *value = result;
    return true;
}

std::wstring EscapeJournalValue(const std::wstring& value)
{
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring escaped;
    escaped.reserve(value.size());
    for (wchar_t c : value) {
        switch (c) {
        case L'\\': escaped += L"\\\\"; break;
        case L'\t': escaped += L"\\t"; break;
        case L'\n': escaped += L"\\n"; break;
        case L'\r': escaped += L"\\r"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                escaped += L"\\x";
                escaped += kHex[(c >> 4) & 0xF];
                escaped += kHex[c & 0xF];
            } else {
                escaped += c;
            }
            break;
        }
    }
    return escaped;
}

} // namespace corvane_standin
