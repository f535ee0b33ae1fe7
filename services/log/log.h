/*
 * log.h - the device's logging service.
 *
 * Every record is written as one line:
 *
 *     YYYY-MM-DDTHH:MM:SS.mmm LEVEL file:line message
 *
 * LEVEL is ENTER, INFO, WARN or ERROR for the four record kinds of Log_SpecEntry, and for Log_Entry
 * INFO (level 1), ERROR (3), NOTICE (5) or L<n> for any other level n. Control bytes and
 * backslashes inside the message are escaped (\n, \t, \\, \xNN), and so are the bytes of the
 * UTF-8 line separators U+0085, U+2028 and U+2029 (\xc2\x85, \xe2\x80\xa8, \xe2\x80\xa9), so
 * a record is always exactly one line whatever data it carries, read as bytes or as Unicode
 * text. The time is local time under the TZ of the moment: a change of TZ shows from the next
 * record on.
 *
 * Where records go is chosen by the environment variable DEVICE_LOG, read at each record:
 *   unset or empty   standard error
 *   "syslog"         syslog(3), facility LOG_USER, with the matching priority
 *   anything else    a file path, opened for append (created 0644, less the umask, when missing)
 * The file is used only when it is safe: its folder is checked as the services check every
 * folder they write in (every folder of the path owned by root or the effective user and not
 * writable by group or others unless sticky, a symbolic link on the way only when root or the
 * effective user owns it), the file is opened through that folder without following a link, and
 * it must be a regular file (a FIFO, device or directory is never opened in a way that blocks).
 * In a sticky folder that others may write, only a file of the effective user with one link is
 * appended to. A path refused, or a file that cannot be opened or written, falls back to
 * standard error, with one record of the log's own there that names the path and why (once for
 * each path in a row, not at every record); the path is tried again every 100 ms or 256 records.
 *
 * The file is kept open between records, on a descriptor of 3 or above (never the host's standard
 * input, output or error, even when the host runs with those closed), and each record is appended
 * with one write(2), so records of several threads and processes never interleave; a write cut
 * short or interrupted by a signal goes on where it stopped, so no record is lost to a signal. A
 * rotated or removed file is noticed within 100 ms or 256 records, and at any failed write; the
 * path is then opened anew. The file and its folder are closed when the library is unloaded.
 *
 * No record raises SIGPIPE or SIGXFSZ in the process: writes to standard error (a pipe whose
 * reader is gone, a file under a size limit) block the two signals for the write and take back
 * one it raised. A file of DEVICE_LOG is written without that guard while no file size limit is
 * set, since a regular file then raises neither; the limit is read when the file is opened and
 * again every 100 ms or 256 records, so a host that sets a limit and fills the file past it
 * within that window may still get SIGXFSZ.
 *
 * DEVICE_LOG_LEVEL, read at each record, names the least severe level written, in the order
 * ENTER < INFO < NOTICE < WARN < ERROR (any case, compared in ASCII whatever the locale; L<n>
 * records count as INFO). Unset or any other value: every record is written.
 *
 * A record is at most 8 KiB: a longer message is cut, never within an escape nor within a UTF-8
 * character. Logging never fails its caller nor throws, keeps the caller's errno, and is
 * thread-safe.
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
