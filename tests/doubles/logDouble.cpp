// Logging double: records instead of writing.

#include "doubles.h"

#include "log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

extern "C" {
const LogSpec logSpecEnter = {LOG_SPEC_ENTER, "ENTER"};
const LogSpec logSpecInfo = {LOG_SPEC_INFO, "INFO"};
const LogSpec logSpecWarn = {LOG_SPEC_WARN, "WARN"};
const LogSpec logSpecError = {LOG_SPEC_ERROR, "ERROR"};
}

namespace logDouble {
State state;

int Count(const std::string &record)
{
    return static_cast<int>(std::count(state.records.begin(), state.records.end(), record));
}

} // namespace logDouble

namespace {

void Keep(const std::string &level, const char *file, int line, const char *format, va_list args)
{
    char message[4096];
    std::vsnprintf(message, sizeof message, format ? format : "(null format)", args);
    std::string where = file ? file : "(null)";
    where = where == "activityReport" && line > 0 ? "" : where + ":" + std::to_string(line) + " ";
    logDouble::state.records.push_back(where + level + " " + message);
}

} // namespace

extern "C" void Log_SpecEntry(LogSpec kind, const char *file, int line, const char *format, ...)
{
    static const char *const kNames[] = {"ENTER", "INFO", "WARN", "ERROR"};
    va_list args;
    va_start(args, format);
    Keep(kind.id >= 0 && kind.id < 4 ? kNames[kind.id] : "KIND" + std::to_string(kind.id), file,
         line, format, args);
    va_end(args);
}

extern "C" void Log_Entry(int level, const char *file, int line, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Keep("L" + std::to_string(level), file, line, format, args);
    va_end(args);
}
