#include "base/LogFormat.h"

#include <cstdarg>
#include <cstdint>
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

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Characters that show nothing of their own but change how the text around them is shown: the
// bidirectional embeddings, overrides and isolates (which can make "exe.txt" read as "txt.exe"), the
// zero-width characters, the soft hyphen, the invisible operators and the language tags (the format
// characters of the Unicode database).
bool IsInvisibleFormat(std::uint32_t c)
{
    struct Range {
        std::uint32_t first;
        std::uint32_t last;
    };
    static constexpr Range kRanges[] = {
        {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
        {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
        {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
        {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
        {0xE0020, 0xE007F},
    };
    for (const Range& range : kRanges) {
        if (c >= range.first && c <= range.last) {
            return true;
        }
    }
    return false;
}

// The longest escape: "\\U" and eight hexadecimal digits.
constexpr std::size_t kLongestEscape = 10;
using EscapeText = char[kLongestEscape];

// Writes the escaped form of one character (a code point) into escaped and returns its length; 0 when
// the character is shown as it is.
std::size_t EscapeOf(std::uint32_t c, EscapeText& escaped)
{
    if (c >= 0x20 && c < 0x7F) {
        return 0;
    }
    const char named = c == '\r' ? 'r' : c == '\n' ? 'n' : c == '\t' ? 't' : '\0';
    if (named != '\0') {
        escaped[0] = '\\';
        escaped[1] = named;
        return 2;
    }
    std::size_t digits = 0;
    escaped[0] = '\\';
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
        escaped[1] = 'x';
        digits = 2;
    } else if (c == 0x2028 || c == 0x2029 || (c >= 0xD800 && c <= 0xDFFF) || IsInvisibleFormat(c)) {
        // A surrogate here is one that is not half of a pair.
        escaped[1] = c <= 0xFFFF ? 'u' : 'U';
        digits = c <= 0xFFFF ? 4 : 8;
    } else {
        return 0;
    }
    for (std::size_t i = 0; i < digits; ++i) {
        escaped[2 + i] = kHexDigits[(c >> (4 * (digits - 1 - i))) & 0xF];
    }
    return 2 + digits;
}

// The code point of the well-formed UTF-8 sequence at text[i] of two to four bytes, and its length;
// 0 when there is none there (a single byte, a stray or overlong sequence, a surrogate, beyond U+10FFFF).
std::size_t Utf8SequenceAt(const std::string& text, std::size_t i, std::uint32_t* c)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > text.size()) {
        return 0;
    }
    std::uint32_t value = lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    const std::uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *c = value;
    return length;
}

} // namespace

std::string EscapeControlCharacters(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    EscapeText escaped;
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t c = 0;
        std::size_t taken = Utf8SequenceAt(text, i, &c);
        std::size_t length = 0;
        if (taken != 0) {
            length = EscapeOf(c, escaped);
        } else {
            // A byte above 0x7F that starts no sequence is part of a character of the ANSI code page.
            taken = 1;
            const auto byte = static_cast<unsigned char>(text[i]);
            length = byte < 0x80 ? EscapeOf(byte, escaped) : 0;
        }
        if (length == 0) {
            out.append(text, i, taken);
        } else {
            out.append(escaped, length);
        }
        i += taken;
    }
    return out;
}

std::wstring EscapeControlCharacters(const std::wstring& text, std::size_t maxChars)
{
    std::wstring out;
    out.reserve(text.size() < maxChars ? text.size() : maxChars);
    EscapeText escaped;
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<std::uint32_t>(static_cast<std::make_unsigned<wchar_t>::type>(text[i]));
        std::size_t taken = 1;
        // Where wchar_t is UTF-16 a character beyond U+FFFF is a pair of surrogates.
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const auto low = static_cast<std::uint32_t>(static_cast<std::make_unsigned<wchar_t>::type>(text[i + 1]));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                taken = 2;
            }
        }
        const std::size_t length = EscapeOf(c, escaped);
        // Cut before a character or an escape that would not fit whole.
        if (out.size() + (length != 0 ? length : taken) > maxChars) {
            break;
        }
        if (length == 0) {
            out.append(text, i, taken);
        } else {
            out.append(escaped, escaped + length);
        }
        i += taken;
    }
    return out;
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
