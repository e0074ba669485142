#include "supervision/ProcessSearchRule.h"

#include <cwchar>

#include "trust/ConsoleSessionRule.h"

std::wstring ImageNameOf(const std::wstring& path)
{
    const std::size_t lastBackslash = path.rfind(L'\\');
    return lastBackslash == std::wstring::npos ? std::wstring() : path.substr(lastBackslash + 1);
}

bool FixedTextEquals(const wchar_t* buffer, std::size_t capacity, const std::wstring& expected)
{
    if (buffer == nullptr || expected.empty() || expected.size() >= capacity) {
        return false;
    }
    // The expected text and its terminator fit the buffer, so no unit beyond it is read.
    return std::wmemcmp(buffer, expected.c_str(), expected.size() + 1) == 0;
}

bool IsEndedWithEveryInstance(std::optional<unsigned long> processSession, unsigned long consoleSession)
{
    return processSession && consoleSession != kNoConsoleSession && *processSession == consoleSession;
}
