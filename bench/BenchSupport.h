#pragma once

// What the benchmark programs share: a millisecond clock, reading a whole file that another process
// may be appending to, and the fields of the stand-in's journal lines.

#include <windows.h>

#include <string>

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

} // namespace bench
