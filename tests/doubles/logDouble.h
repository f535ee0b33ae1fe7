/*
 * logDouble.h - control of the logging service's test double.
 *
 * The double keeps every Log_SpecEntry and Log_Entry record in memory, in order, and prints
 * nothing. A record is shown as "<LEVEL> <message>": ENTER, INFO, WARN or ERROR for the four log
 * specifications, and "L<n>" for Log_Entry at numeric level n, so that a test can tell
 * Log_SpecEntry(logSpecError, ...) from Log_Entry(3, ...).
 */
#ifndef TESTS_DOUBLES_LOGDOUBLE_H
#define TESTS_DOUBLES_LOGDOUBLE_H

#include <string>
#include <vector>

namespace logDouble {

struct Record {
    bool bySpec;         // Log_SpecEntry (true) or Log_Entry (false)
    int specId;          // LOG_SPEC_* when bySpec
    int level;           // numeric level when !bySpec
    std::string file;
    int line;
    std::string message; // the format with its arguments filled in
};

// Forgets every record.
void Reset();

// Every record since the last Reset(), from every caller.
const std::vector<Record> &Records();

// "ENTER", "INFO", "WARN", "ERROR" or "L<n>".
std::string LevelName(const Record &record);

// The plug-in's records (file "activityReport"), each as "<LEVEL> <message>".
std::vector<std::string> PluginRecords();

// Records of other callers than the plug-in, or with a file or line the plug-in never passes.
std::vector<std::string> ForeignRecords();

// How many plug-in records have exactly this "<LEVEL> <message>" text.
int CountPluginRecord(const std::string &text);

} // namespace logDouble

#endif
