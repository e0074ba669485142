#include "host/LogFormat.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

int FormatBoundedV(char* buffer, std::size_t size, const char* format, va_list args)
{
    if (buffer == nullptr || size == 0 || format == nullptr) {
        return -1;
    }
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(buffer, size, format, args);
    if (length < 0) {
        buffer[0] = '\0';
        va_end(again);
        return -1;
    }
    if (static_cast<std::size_t>(length) >= size && size <= kFormatScratchSize) {
        // Too long for the caller's buffer: format the whole text once more and keep its head.
        char scratch[kFormatScratchSize];
        if (std::vsnprintf(scratch, sizeof(scratch), format, again) >= 0) {
            std::memcpy(buffer, scratch, size - 1);
        }
        buffer[size - 1] = '\0';
    }
    va_end(again);
    return length;
}

} // namespace

int FormatBounded(char* buffer, std::size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = FormatBoundedV(buffer, size, format, args);
    va_end(args);
    return length;
}

const char* SourceFileBaseName(const char* sourceFile)
{
    if (sourceFile == nullptr) {
        return "";
    }
    const char* lastBackslash = std::strrchr(sourceFile, '\\');
    return lastBackslash != nullptr ? lastBackslash + 1 : sourceFile;
}

std::string FormatLogHeader(const LogTime& time, const char* sourceFile, int line, const char* tag)
{
    char header[kLogLineBufferSize] = {};
    FormatBounded(header, sizeof(header), "%02d-%02d %02d:%02d:%02d %03d, %s:%d %s  ", time.month, time.day,
                  time.hour, time.minute, time.second, time.millisecond, SourceFileBaseName(sourceFile), line,
                  tag != nullptr ? tag : "");
    return header;
}

std::string FormatPanicHeader(const LogTime& time)
{
    char header[kPanicHeaderSize] = {};
    FormatBounded(header, sizeof(header), "%d-%02d-%02d %02d:%02d:%02d  %03d=====", time.year, time.month, time.day,
                  time.hour, time.minute, time.second, time.millisecond);
    return header;
}

std::wstring LogFileName(const LogTime& time)
{
    wchar_t name[kLogFileNameChars] = {};
    std::swprintf(name, sizeof(name) / sizeof(name[0]), L"%d-%02d-%02d_service.log", time.year, time.month,
                  time.day);
    return name;
}

std::wstring LogFolderOf(const std::wstring& dataDir)
{
    if (!dataDir.empty() && dataDir.back() == L'\\') {
        return dataDir + L"logs";
    }
    return dataDir + L"\\logs";
}
