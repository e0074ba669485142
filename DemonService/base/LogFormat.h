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
// the line it is on or begin another; and every character that shows nothing but changes how the text
// around it is shown (the bidirectional embeddings, overrides and isolates U+202A to U+202E and U+2066
// to U+2069, the zero-width characters, the byte order mark, the other format characters) is written
// as "\uXXXX" ("\UXXXXXXXX" beyond U+FFFF), so that a path cannot read as another. The line and
// paragraph separators are written as "\u2028" and "\u2029", the C1 controls (U+0080 to U+009F) as
// "\xNN". Everything else is copied unchanged, backslashes included.
// The narrow form takes text in the ANSI code page, which may be UTF-8 and which a reader's tool may
// take for UTF-8 anyway: the characters above are escaped where they stand as well-formed UTF-8
// sequences; every other byte above 0x7F is copied (it is part of a character of the code page).
// The wide form reads UTF-16 surrogate pairs as one character and writes a surrogate that is not half
// of a pair as "\uXXXX"; it ends before maxChars would be passed, never inside an escape or a pair.
std::string EscapeControlCharacters(const std::string& text);
std::wstring EscapeControlCharacters(const std::wstring& text, std::size_t maxChars = static_cast<std::size_t>(-1));

// The log folder for a data folder: "logs" is appended after a trailing backslash, "\logs" otherwise.
std::wstring LogFolderOf(const std::wstring& dataDir);
