#include "base/AnsiText.h"

#include <windows.h>

std::string ToAnsi(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int wideLength = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::string();
    }
    std::string result(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, &result[0], length, nullptr, nullptr);
    return result;
}

std::wstring FromAnsi(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int narrowLength = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), narrowLength, nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), narrowLength, &result[0], length);
    return result;
}
