/*
 * log.h - the device's logging service.
 *
 * Every record is written as one line:
 *
 *     YYYY-MM-DDTHH:MM:SS.mmm LEVEL file:line message
 *
 * LEVEL is ENTER, INFO, WARN or ERROR for the four record kinds of Log_SpecEntry, and for Log_Entry
 * INFO (level 1), ERROR (3), NOTICE (5) or L<n> for any other level n. Control bytes and
 * backslashes inside the message are escaped (\n, \t, \\, \xNN), so a record is always
 * exactly one line whatever data it carries.
 *
 * Where records go is chosen by the environment variable DEVICE_LOG, read at each record:
 *   unset or empty   standard error
 *   "syslog"         syslog(3), facility LOG_USER, with the matching priority
 *   anything else    a file path, opened for append (created 0644 when missing)
 * A sink that cannot be opened, or a path that is not a regular file (a FIFO, device or
 * directory, never opened in a way that blocks), falls back to standard error.
 *
 * The file is kept open between records and each record is appended with one write(2), so
 * records of several threads and processes never interleave. A rotated or removed file is
 * noticed within 100 ms or 256 records, and at any failed write; the path is then opened anew.
 * The file is closed when the library is unloaded.
 *
 * DEVICE_LOG_LEVEL, read at each record, names the least severe level written, in the order
 * ENTER < INFO < NOTICE < WARN < ERROR (any case; L<n> records count as INFO). Unset or any other
 * value: every record is written.
 *
 * A record is at most 8 KiB: a longer message is cut, never within an escape. Logging never
 * fails its caller nor throws, keeps the caller's errno, and is thread-safe.
 */
#ifndef SERVICES_LOG_LOG_H
#define SERVICES_LOG_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

/* The kind of a record: entry, information, warning or error. Compare kinds by their id. */
typedef struct LogSpec {
    int id;           /* LOG_SPEC_ENTER ... LOG_SPEC_ERROR */
    const char *name; /* "ENTER", "INFO", "WARN", "ERROR" */
} LogSpec;

enum { LOG_SPEC_ENTER = 0, LOG_SPEC_INFO = 1, LOG_SPEC_WARN = 2, LOG_SPEC_ERROR = 3 };

extern const LogSpec logSpecEnter; /* a function was entered */
extern const LogSpec logSpecInfo;  /* normal progress */
extern const LogSpec logSpecWarn;  /* something was cut or defaulted, the work goes on */
extern const LogSpec logSpecError; /* something failed */

/* Numeric levels of Log_Entry. */
enum { LOG_LEVEL_INFO = 1, LOG_LEVEL_ERROR = 3, LOG_LEVEL_NOTICE = 5 };

/* 'Log_SpecEntry()' - writes one record of the given kind; `format` is a printf format. */
void Log_SpecEntry(LogSpec kind, const char *file, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

/* 'Log_Entry()' - writes one record at a numeric level; `format` is a printf format. */
void Log_Entry(int level, const char *file, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

#ifdef __cplusplus
}
#endif

#endif
