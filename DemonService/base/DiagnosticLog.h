#pragma once

// The diagnostic log: one dated file under <data folder>\logs, switched on by a "debug" marker file and
// begun afresh at a change of date or of the user's folder, and the panic log for failures of the
// service start itself.

#include "base/LogFormat.h"

// The source names that log lines carry: the service's two chief sources.
constexpr char kMainSourceFile[] = "DemonService\\DemonService.cpp";
constexpr char kClientSourceFile[] = "DemonService\\DemonServiceClient.cpp";

constexpr char kMainTag[] = "DemonService";
constexpr char kClientTag[] = "ServiceClient";
constexpr char kPanicTag[] = "PANIC";

// The local date and time as the log's lines and file names carry them.
LogTime LocalLogTime();

// Writes one line (not forced) through the shared state's log sink (base/SharedState.h); control
// characters in the message are escaped (EscapeControlCharacters), so a message never spans lines.
// Never fails; does nothing without a shared state.
void LogMessage(const char* tag, const char* message, const char* sourceFile, int line);

// With toMainLog, a forced line in the daily log (tag "PANIC", no source file, line -1); otherwise an
// entry appended to %APPDATA%\Corvane\logs\service_panic.log. A null or empty message writes nothing.
void WritePanicLog(const char* message, bool toMainLog);

// Log calls of the main source ("DemonService" tag) and of the pipe client ("ServiceClient" tag). The
// formatted forms format the message with FormatBounded into a buffer of `size` bytes first, so a long
// value is cut exactly where the fixed buffer ends; callers name that size next to the call.
#define LOG_SERVICE(message) ORVEL_LOG_LINE_(kMainTag, kMainSourceFile, (message))
#define LOG_CLIENT(message) ORVEL_LOG_LINE_(kClientTag, kClientSourceFile, (message))
#define LOG_TAGGED(tag, message) ORVEL_LOG_LINE_((tag), kMainSourceFile, (message))
#define LOG_SERVICE_F(size, ...) ORVEL_LOG_FORMATTED_(kMainTag, kMainSourceFile, size, __VA_ARGS__)
#define LOG_CLIENT_F(size, ...) ORVEL_LOG_FORMATTED_(kClientTag, kClientSourceFile, size, __VA_ARGS__)

// The one body of the family. __LINE__ is the line of the outermost macro call, the caller's.
#define ORVEL_LOG_LINE_(tag, sourceFile, message) LogMessage((tag), (message), (sourceFile), __LINE__)
#define ORVEL_LOG_FORMATTED_(tag, sourceFile, size, ...)                                            \
    do {                                                                                            \
        char logText_[size] = {};                                                                   \
        FormatBounded(logText_, sizeof(logText_), __VA_ARGS__);                                     \
        ORVEL_LOG_LINE_(tag, sourceFile, logText_);                                                 \
    } while (0)
