// Logging double: records instead of writing.

#include "logDouble.h"

#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

extern "C" {
const LogSpec logSpecEnter = {LOG_SPEC_ENTER, "ENTER"};
const LogSpec logSpecInfo = {LOG_SPEC_INFO, "INFO"};
const LogSpec logSpecWarn = {LOG_SPEC_WARN, "WARN"};
const LogSpec logSpecError = {LOG_SPEC_ERROR, "ERROR"};
}

namespace {

std::vector<logDouble::Record> records;

std::string Format(const char *format, va_list args)
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

} // namespace

extern "C" void Log_SpecEntry(LogSpec spec, const char *file, int line, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = Format(format, args);
    va_end(args);
    records.push_back({true, spec.id, 0, file ? file : "(null)", line, message});
}

extern "C" void Log_Entry(int level, const char *file, int line, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = Format(format, args);
    va_end(args);
    records.push_back({false, 0, level, file ? file : "(null)", line, message});
}

namespace logDouble {

void Reset() { records.clear(); }

const std::vector<Record> &Records() { return records; }

std::string LevelName(const Record &record)
{
    if (!record.bySpec)
        return "L" + std::to_string(record.level);
    switch (record.specId) {
    case LOG_SPEC_ENTER: return "ENTER";
    case LOG_SPEC_INFO: return "INFO";
    case LOG_SPEC_WARN: return "WARN";
    case LOG_SPEC_ERROR: return "ERROR";
    default: return "SPEC" + std::to_string(record.specId);
    }
}

std::vector<std::string> PluginRecords()
{
    std::vector<std::string> texts;
    for (const Record &record : records)
        if (record.file == "activityReport")
            texts.push_back(LevelName(record) + " " + record.message);
    return texts;
}

std::vector<std::string> ForeignRecords()
{
    std::vector<std::string> texts;
    for (const Record &record : records)
        if (record.file != "activityReport" || record.line <= 0)
            texts.push_back(record.file + ":" + std::to_string(record.line) + " " +
                            LevelName(record) + " " + record.message);
    return texts;
}

int CountPluginRecord(const std::string &text)
{
    int count = 0;
    for (const std::string &record : PluginRecords())
        if (record == text)
            ++count;
    return count;
}

} // namespace logDouble
