/*
 * logrecord.h - the one way a service writes a log record: its own file name, the source line.
 * A service defines `kLogFile` (its name in records, such as "print") before using the macro.
 */
#ifndef SERVICES_COMMON_LOGRECORD_H
#define SERVICES_COMMON_LOGRECORD_H

#include "log.h"

#define LOG_RECORD(kind, ...) Log_SpecEntry((kind), kLogFile, __LINE__, __VA_ARGS__)

#endif
