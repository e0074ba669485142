#pragma once

// Text of the diagnostic log and the panic log: formatting only, no I/O.

#include <cstddef>
#include <string>

// Bounded narrow formatter. Formats into buffer; when the text does not fit and size is at most
// kFormatScratchSize, the text is formatted into a scratch buffer of that size and its first size - 1
// bytes are copied, so the buffer always ends with a zero byte. Returns the length of the full text, or
// -1 on a formatting error or a null or empty buffer.
constexpr std::size_t kFormatScratchSize = 4096;
int FormatBounded(char* buffer, std::size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Local time as the log needs it, filled by the caller from the clock.
struct LogTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Capacity of one log line's header buffer.
constexpr std::size_t kLogLineBufferSize = 2048;
// Capacity of a panic entry's header.
constexpr std::size_t kPanicHeaderSize = 128;
// Capacity, in wide characters, of the dated log file's name.
constexpr std::size_t kLogFileNameChars = 128;

// The part of a source path after its last backslash; the whole path when it has none; "" for null.
const char* SourceFileBaseName(const char* sourceFile);

// "MM-DD hh:mm:ss mmm, file:line tag  " (two blanks at the end).
std::string FormatLogHeader(const LogTime& time, const char* sourceFile, int line, const char* tag);

// "YYYY-MM-DD hh:mm:ss  mmm=====".
std::string FormatPanicHeader(const LogTime& time);

// "YYYY-MM-DD_service.log" with the year unpadded.
std::wstring LogFileName(const LogTime& time);

// Text that came from outside the service (pipe messages, process paths, settings values) made safe for
// one log line or one report insert: every control character is written out, "\r", "\n" and "\t" as
// such and the others as "\xNN" (two upper-case hexadecimal digits), so that such text can never end
// the line it is on or begin another. Everything else is copied unchanged, backslashes and bytes above
// 0x7F included (they are parts of multi-byte characters). The wide form also writes out the C1 controls
// (U+0080 to U+009F) as "\xNN" and the line and paragraph separators as "\u2028" and "\u2029".
std::string EscapeControlCharacters(const std::string& text);
std::wstring EscapeControlCharacters(const std::wstring& text);

// The log folder for a data folder: "logs" is appended after a trailing backslash, "\logs" otherwise.
std::wstring LogFolderOf(const std::wstring& dataDir);
