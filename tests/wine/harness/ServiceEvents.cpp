#include "ServiceEvents.h"

#include <cstdlib>

#include "Sandbox.h"

namespace harness {

namespace {

constexpr char kMarker[] = ":eventlog:ReportEventW L\"";

unsigned long long FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Undoes Wine's quoting of a wide string (\\, \", \n, \r, \t, \xNNNN) up to the closing quote.
std::wstring Unquote(const std::string& quoted)
{
    std::wstring text;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        const char c = quoted[i];
        if (c == '"') {
            break;
        }
        if (c != '\\' || i + 1 >= quoted.size()) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(c));
            continue;
        }
        const char next = quoted[++i];
        if (next == 'n') {
            text += L'\n';
        } else if (next == 'r') {
            text += L'\r';
        } else if (next == 't') {
            text += L'\t';
        } else if (next == 'x' && i + 4 < quoted.size()) {
            int value = 0;
            for (int k = 1; k <= 4; ++k) {
                value = value * 16 + HexValue(quoted[i + k]);
            }
            text += static_cast<wchar_t>(value);
            i += 4;
        } else {
            text += static_cast<wchar_t>(static_cast<unsigned char>(next));
        }
    }
    return text;
}

} // namespace

ServiceEvents::ServiceEvents() : m_start(FileSize(CapturePath())) {}

std::wstring ServiceEvents::CapturePath()
{
    wchar_t prefix[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"WINEPREFIX", prefix, 1024);
    if (length == 0 || length >= 1024) {
        return std::wstring();
    }
    std::wstring path = L"Z:" + std::wstring(prefix, length) + L"/services-stderr.log";
    for (wchar_t& c : path) {
        c = c == L'/' ? L'\\' : c;
    }
    return path;
}

bool ServiceEvents::Capturing() { return PathExists(CapturePath()); }

std::vector<ReportedInsert> ServiceEvents::Reported() const
{
    const std::string all = ReadFileBytes(CapturePath());
    std::vector<ReportedInsert> inserts;
    std::size_t begin = m_start < all.size() ? static_cast<std::size_t>(m_start) : all.size();
    while (begin < all.size()) {
        std::size_t end = all.find('\n', begin);
        if (end == std::string::npos) {
            break;  // a line still being written
        }
        const std::string line = all.substr(begin, end - begin);
        begin = end + 1;
        const std::size_t marker = line.find(kMarker);
        if (marker == std::string::npos) {
            continue;
        }
        const std::size_t levelAt = line.rfind(':', marker - 1);
        const std::string level = line.substr(levelAt == std::string::npos ? 0 : levelAt + 1,
                                              marker - (levelAt == std::string::npos ? 0 : levelAt + 1));
        inserts.push_back(ReportedInsert{level, Unquote(line.substr(marker + sizeof(kMarker) - 1))});
    }
    return inserts;
}

int ServiceEvents::Count(const char* level, const std::vector<std::wstring>& inserts) const
{
    const std::vector<ReportedInsert> reported = Reported();
    int count = 0;
    for (std::size_t i = 0; i + inserts.size() <= reported.size(); ++i) {
        bool match = !inserts.empty();
        for (std::size_t k = 0; match && k < inserts.size(); ++k) {
            match = reported[i + k].level == level && reported[i + k].text == inserts[k];
        }
        count += match ? 1 : 0;
    }
    return count;
}

bool ServiceEvents::WaitFor(const char* level, const std::vector<std::wstring>& inserts, int count,
                            DWORD timeoutMs) const
{
    return harness::WaitFor([&] { return Count(level, inserts) >= count; }, timeoutMs, 100);
}

} // namespace harness
