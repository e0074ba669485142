#include "base/LogFormat.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <type_traits>

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

// Appends the escaped form of one control character; false when c needs none.
template <typename Char>
bool AppendEscape(std::basic_string<Char>& out, unsigned int c)
{
    static const char kHexDigits[] = "0123456789ABCDEF";
    const char* named = c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : nullptr;
    if (named != nullptr) {
        out.push_back(static_cast<Char>(named[0]));
        out.push_back(static_cast<Char>(named[1]));
        return true;
    }
    if (c < 0x20 || c == 0x7F || (sizeof(Char) > 1 && c >= 0x80 && c <= 0x9F)) {
        for (const char part : {'\\', 'x', kHexDigits[(c >> 4) & 0xF], kHexDigits[c & 0xF]}) {
            out.push_back(static_cast<Char>(part));
        }
        return true;
    }
    if (sizeof(Char) > 1 && (c == 0x2028 || c == 0x2029)) {
        for (const char part : {'\\', 'u', '2', '0', '2', c == 0x2028 ? '8' : '9'}) {
            out.push_back(static_cast<Char>(part));
        }
        return true;
    }
    return false;
}

template <typename Char, typename Unsigned>
std::basic_string<Char> EscapeText(const std::basic_string<Char>& text)
{
    std::basic_string<Char> out;
    out.reserve(text.size());
    for (const Char c : text) {
        if (!AppendEscape(out, static_cast<unsigned int>(static_cast<Unsigned>(c)))) {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace

std::string EscapeControlCharacters(const std::string& text)
{
    return EscapeText<char, unsigned char>(text);
}

std::wstring EscapeControlCharacters(const std::wstring& text)
{
    return EscapeText<wchar_t, std::make_unsigned<wchar_t>::type>(text);
}

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
