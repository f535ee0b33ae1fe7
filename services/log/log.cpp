// Logging stand-in: formats each record as one escaped line and hands it to the sink that
// DEVICE_LOG names (standard error, syslog, or a file opened for append).

#include "log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/time.h>
#include <syslog.h>

extern "C" {
const LogSpec logSpecEnter = {LOG_SPEC_ENTER, "ENTER"};
const LogSpec logSpecInfo = {LOG_SPEC_INFO, "INFO"};
const LogSpec logSpecWarn = {LOG_SPEC_WARN, "WARN"};
const LogSpec logSpecError = {LOG_SPEC_ERROR, "ERROR"};
}

namespace {

// Escapes control bytes and backslashes so that no data can split or forge a record.
std::string EscapeMessage(const char *message)
{
    std::string escaped;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(message); *p; ++p) {
        switch (*p) {
        case '\n': escaped += "\\n"; break;
        case '\t': escaped += "\\t"; break;
        case '\\': escaped += "\\\\"; break;
        default:
            if (*p < 0x20 || *p == 0x7f) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02x", *p);
                escaped += hex;
            } else {
                escaped += static_cast<char>(*p);
            }
        }
    }
    return escaped;
}

std::string LocalTimestamp()
{
    timeval now;
    gettimeofday(&now, nullptr);
    tm local;
    localtime_r(&now.tv_sec, &local);
    char stamp[40];
    size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(stamp + length, sizeof stamp - length, ".%03ld",
                  static_cast<long>(now.tv_usec / 1000));
    return stamp;
}

std::string FormatMessage(const char *format, va_list args)
{
    if (!format)
        return "(null format)";
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0)
        return std::string("(unprintable) ") + format;
    std::string message(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&message[0], message.size(), format, args);
    message.resize(static_cast<size_t>(length));
    return message;
}

int SyslogPriority(const char *levelName)
{
    if (std::strcmp(levelName, "ERROR") == 0)
        return LOG_ERR;
    if (std::strcmp(levelName, "WARN") == 0)
        return LOG_WARNING;
    if (std::strcmp(levelName, "NOTICE") == 0)
        return LOG_NOTICE;
    if (std::strcmp(levelName, "ENTER") == 0)
        return LOG_DEBUG;
    return LOG_INFO;
}

// Writes one finished line to the configured sink. The file is opened per record so that a
// rotated or removed log file is picked up again; records are short and rare enough for that.
void Emit(const char *levelName, const char *file, int line, const std::string &message)
{
    std::string record = LocalTimestamp() + " " + levelName + " " + (file ? file : "?") + ":" +
                         std::to_string(line) + " " + EscapeMessage(message.c_str()) + "\n";
    const char *sink = std::getenv("DEVICE_LOG");
    if (sink && std::strcmp(sink, "syslog") == 0) {
        syslog(LOG_USER | SyslogPriority(levelName), "%s", record.c_str() + record.find(' ') + 1);
        return;
    }
    FILE *out = stderr;
    if (sink && *sink) {
        out = std::fopen(sink, "a");
        if (!out)
            out = stderr;
    }
    std::fputs(record.c_str(), out);
    if (out != stderr)
        std::fclose(out);
    else
        std::fflush(stderr);
}

std::string EntryLevelName(int level)
{
    switch (level) {
    case LOG_LEVEL_INFO: return "INFO";
    case LOG_LEVEL_ERROR: return "ERROR";
    case LOG_LEVEL_NOTICE: return "NOTICE";
    default: return "L" + std::to_string(level);
    }
}

} // namespace

extern "C" void Log_SpecEntry(LogSpec kind, const char *file, int line, const char *format, ...)
{
    int savedErrno = errno;  // logging must not disturb the caller's errno
    va_list args;
    va_start(args, format);
    std::string message = FormatMessage(format, args);
    va_end(args);
    Emit(kind.name ? kind.name : "INFO", file, line, message);
    errno = savedErrno;
}

extern "C" void Log_Entry(int level, const char *file, int line, const char *format, ...)
{
    int savedErrno = errno;
    va_list args;
    va_start(args, format);
    std::string message = FormatMessage(format, args);
    va_end(args);
    Emit(EntryLevelName(level).c_str(), file, line, message);
    errno = savedErrno;
}
