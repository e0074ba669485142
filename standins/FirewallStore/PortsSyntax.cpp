#include "PortsSyntax.h"

#include <cwctype>

namespace {

constexpr unsigned long kHighestPort = 65535;
constexpr std::size_t kMaxPortDigits = 5;
const wchar_t* const kKeywords[] = {L"RPC", L"RPC-EPMap", L"IPHTTPS", L"Teredo", L"Ply2Disc", L"mDNS"};

bool ParsePort(const std::wstring& text, unsigned long* port)
{
    if (text.empty() || text.size() > kMaxPortDigits) {
        return false;
    }
    unsigned long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    *port = value;
    return value <= kHighestPort;
}

bool EqualsIgnoringCase(const std::wstring& a, const wchar_t* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i] != L'\0'; ++i) {
        if (std::towupper(a[i]) != std::towupper(b[i])) {
            return false;
        }
    }
    return i == a.size() && b[i] == L'\0';
}

bool ItemAccepted(const std::wstring& item)
{
    for (const wchar_t* keyword : kKeywords) {
        if (EqualsIgnoringCase(item, keyword)) {
            return true;
        }
    }
    unsigned long low = 0;
    unsigned long high = 0;
    const std::size_t dash = item.find(L'-');
    if (dash == std::wstring::npos) {
        return ParsePort(item, &low);
    }
    return ParsePort(item.substr(0, dash), &low) && ParsePort(item.substr(dash + 1), &high) && low <= high;
}

} // namespace

bool LocalPortsAccepted(const std::wstring& text)
{
    if (text == L"*") {
        return true;
    }
    if (text.empty()) {
        return false;
    }
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = text.find(L',', begin);
        const std::wstring item = text.substr(begin, comma == std::wstring::npos ? std::wstring::npos : comma - begin);
        if (!ItemAccepted(item)) {
            return false;
        }
        if (comma == std::wstring::npos) {
            return true;
        }
        begin = comma + 1;
    }
}
