#pragma once

// The diagnostic log: one dated file under <data folder>\logs, switched on by a "debug" marker file,
// and the panic log for failures of the service start itself.

#include "host/LogFormat.h"

// The source names that log lines carry: the service's two chief sources.
constexpr char kMainSourceFile[] = "DemonService\\DemonService.cpp";
constexpr char kClientSourceFile[] = "DemonService\\DemonServiceClient.cpp";

constexpr char kMainTag[] = "DemonService";
constexpr char kClientTag[] = "ServiceClient";
constexpr char kPanicTag[] = "PANIC";

// Fetches the context and writes one line (not forced). Never fails; does nothing without a context.
void LogMessage(const char* tag, const char* message, const char* sourceFile, int line);

// With toMainLog, a forced line in the daily log (tag "PANIC", no source file, line -1); otherwise an
// entry appended to %APPDATA%\Corvane\logs\service_panic.log. A null or empty message writes nothing.
void WritePanicLog(const char* message, bool toMainLog);

// Log calls of the main source ("DemonService" tag) and of the pipe client ("ServiceClient" tag).
#define LOG_SERVICE(message) LogMessage(kMainTag, (message), kMainSourceFile, __LINE__)
#define LOG_CLIENT(message) LogMessage(kClientTag, (message), kClientSourceFile, __LINE__)
#define LOG_TAGGED(tag, message) LogMessage((tag), (message), kMainSourceFile, __LINE__)

// Formatted forms: the message is formatted with FormatBounded into a buffer of `size` bytes first,
// so a long value is cut exactly where the fixed buffer ends.
#define LOG_SERVICE_F(size, ...)                                                                    \
    do {                                                                                            \
        char logText_[size] = {};                                                                   \
        FormatBounded(logText_, sizeof(logText_), __VA_ARGS__);                                     \
        LogMessage(kMainTag, logText_, kMainSourceFile, __LINE__);                                  \
    } while (0)
#define LOG_CLIENT_F(size, ...)                                                                     \
    do {                                                                                            \
        char logText_[size] = {};                                                                   \
        FormatBounded(logText_, sizeof(logText_), __VA_ARGS__);                                     \
        LogMessage(kClientTag, logText_, kClientSourceFile, __LINE__);                              \
    } while (0)
