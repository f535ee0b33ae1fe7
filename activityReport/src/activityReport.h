/*
 * activityReport.h - the Internet Fax Activity Report plug-in.
 *
 * The device software loads libactivityReport.so and calls ARL_ActivityReport() to print a
 * report of the completed Internet Fax jobs that the job tracker holds, in the user's language.
 *
 * Environment read by the plug-in:
 *   ACTIVITY_REPORT_TEMPLATE  the PostScript template file (required)
 *   TEMP_FILES_DIR            directory of the working files, default "/tmp/tmpfiles"
 *   SYSTEM_CHARSET            the device's system charset, default "ISO-8859-15"
 *
 * Thread-safe: calls that overlap, from several threads or from several processes sharing
 * TEMP_FILES_DIR, run one after the other; a call waits at most 30 s for another, then returns
 * ARL_STATUS_BODY_NOT_WRITABLE having written nothing. Nothing is thrown: every failure, an
 * allocation failure included, ends the run with a status. The run writes only in a working
 * folder that no other user can change, and only files of its own, mode 0600.
 */
#ifndef ACTIVITYREPORT_ACTIVITYREPORT_H
#define ACTIVITYREPORT_ACTIVITYREPORT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses of a report run. */
enum {
    ARL_STATUS_OK = 0,                /* report finished and submitted */
    ARL_STATUS_NO_TEMPLATE = 1,       /* ACTIVITY_REPORT_TEMPLATE unset, not a regular file, or
                                         unreadable */
    ARL_STATUS_FINISHING_FAILED = 3,  /* translating the report texts or editing the file failed */
    ARL_STATUS_NO_JOB_DATA = 4,       /* the job tracker has no report data */
    ARL_STATUS_NO_MEMORY = 5,         /* a replacement buffer cannot be allocated */
    ARL_STATUS_BODY_NOT_WRITABLE = 6, /* the working file in TEMP_FILES_DIR cannot be written,
                                         the folder is refused, or another run holds it */
    ARL_STATUS_CONVERSION_FAILED = 7  /* a text cannot be converted for the report */
};

/* 'ARL_ActivityReport()' - prints the Internet Fax Activity Report.
 *   mediaType   shown as the media type; NULL shows "Standard"
 *   mediaColor  shown as the media colour; NULL shows "White"
 *   language    the report language, as the translation service names it ("en", "fr", ...)
 * Returns one of the ARL_STATUS_* values. */
__attribute__((visibility("default"))) int32_t
ARL_ActivityReport(const char *mediaType, const char *mediaColor, const char *language);

#ifdef __cplusplus
}
#endif

#endif
