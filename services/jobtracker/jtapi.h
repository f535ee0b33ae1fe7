/*
 * jtapi.h - the job tracker's completed-jobs report interface.
 *
 * A report run asks for the report data once, reads any number of fields, and releases the data:
 *
 *     JTAPI_ReportData report;
 *     if (jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, &report) == 0) {
 *         void *value; int32_t aux = 0;
 *         if (jtapi_get_field_data(&report, JTAPI_NUM_JOBS, 0, 0, &value, &aux) == 0 && value)
 *             count = *(const int32_t *)value;
 *         jtapi_release_report_data(&report);
 *     }
 *
 * This stand-in reads a SQLite database whose path is the environment variable JTAPI_DATABASE
 * (default "/var/lib/jobtracker/jobs.db" when unset or empty). It holds two tables:
 *
 *     CREATE TABLE jobs (           -- the completed Internet Fax jobs, report order = ascending id
 *       id INTEGER PRIMARY KEY,
 *       sent_time TEXT, completed_time TEXT,   -- 'YYYY-MM-DD HH:MM:SS', device local time
 *       num_recipients INTEGER, num_confirmed INTEGER, num_unconfirmed INTEGER,
 *       num_failed INTEGER, pages_scanned INTEGER, attachment_size INTEGER,
 *       subject TEXT, sender TEXT);            -- bytes in the system charset
 *     CREATE TABLE addresses (      -- address index a = a-th row of the job by ascending position
 *       job_id INTEGER NOT NULL REFERENCES jobs(id), position INTEGER NOT NULL,
 *       addr_type INTEGER, proc_state INTEGER, status_time TEXT,
 *       friendly_name TEXT, email TEXT,
 *       PRIMARY KEY (job_id, position));
 *
 * The database is opened read-only and never created; a path that is not a regular file (a FIFO,
 * a device, a directory) is a database that cannot be opened, found without blocking. While the
 * tracker holds the database locked for writing, the first call waits for it up to 2 s in all,
 * measured on CLOCK_MONOTONIC however often signals interrupt the wait, then fails.
 * Without a resource it needs (a descriptor, memory, the lock) the first call fails with a
 * status and a record; it never answers from defaults or from part of the report. The whole
 * report is loaded by the first call (two queries) and every field look-up after it costs O(1);
 * the database is not read again.
 * A NULL column is a missing field, and so are a time text that does not parse or names a day that
 * does not exist, and a count that is not stored as an integer or lies outside the int32 range.
 * Texts (TEXT or BLOB) are handed out with their bytes exactly as stored; an embedded NUL ends one.
 *
 * Thread-safe: nothing is kept between calls but what the caller's handle holds, so calls on
 * different handles may run at once, and so may look-ups on one handle; releasing a handle must
 * not overlap other calls on it. No exception leaves these functions.
 */
#ifndef SERVICES_JOBTRACKER_JTAPI_H
#define SERVICES_JOBTRACKER_JTAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Report kinds: the completed Internet Fax jobs are kind 5. */
enum { JTAPI_REPORT_COMPLETED_IFAX = 5 };

/* Field ids. Report level: job index 0, address index 0. Job level: address index 0.
 * Address level: address index 1 .. JTAPI_NUM_ADDRESSES. */
typedef enum JTAPI_Field {
    JTAPI_NUM_JOBS = 0,            /* report   int32_t  number of jobs */
    JTAPI_NUM_RECIP = 2,           /* job      int32_t  recipients */
    JTAPI_NUM_CONF = 3,            /* job      int32_t  confirmed recipients */
    JTAPI_NUM_UNCONF = 4,          /* job      int32_t  unconfirmed recipients */
    JTAPI_FAILED = 5,              /* job      int32_t  failed recipients */
    JTAPI_NUM_SCANNED = 6,         /* job      int32_t  pages scanned */
    JTAPI_ATTACH_SIZE = 10,        /* job      int32_t  attachment size */
    JTAPI_COMPLETE_DATE_TIME = 11, /* job      struct tm */
    JTAPI_SENT_DATE_TIME = 12,     /* job      struct tm */
    JTAPI_SUBJECT = 14,            /* job      char[]   system charset */
    JTAPI_FROM = 15,               /* job      char[]   system charset */
    JTAPI_NUM_ADDRESSES = 16,      /* job      int32_t  address rows of the job */
    JTAPI_ADDR_TYPE = 17,          /* address  int32_t  JTAPI_TYPE_TO or JTAPI_TYPE_CC */
    JTAPI_PROC_STATE = 18,         /* address  int32_t  JTAPI_PROCESS_STATE_* */
    JTAPI_STATUS_DATE_TIME = 19,   /* address  struct tm */
    JTAPI_FRIENDLY_NAME = 20,      /* address  char[]   system charset */
    JTAPI_EMAIL_ADDRESS = 21       /* address  char[]   system charset */
} JTAPI_Field;

/* Address types: 0 is To; every other value is read as Cc. */
enum { JTAPI_TYPE_TO = 0, JTAPI_TYPE_CC = 1 };

/* Process states of one address. */
enum {
    JTAPI_PROCESS_STATE_SENT = 0,
    JTAPI_PROCESS_STATE_DELIVERED = 1,
    JTAPI_PROCESS_STATE_PROCESSED = 2,
    JTAPI_PROCESS_STATE_ERROR = 3,
    JTAPI_PROCESS_STATE_FAILED = 4,
    JTAPI_PROCESS_STATE_REJECTED = 5
};

/* Status codes. */
enum {
    JTAPI_OK = 0,
    JTAPI_ERR_ARGUMENT = 1,      /* a NULL pointer, an unknown report kind */
    JTAPI_ERR_DATABASE = 2,      /* the database is absent, not a regular file, unreadable or
                                  malformed */
    JTAPI_ERR_MEMORY = 3,        /* memory ran out while reading the report */
    JTAPI_ERR_NOT_LOADED = 4,    /* the handle holds no report data */
    JTAPI_ERR_NO_SUCH_FIELD = 5, /* unknown field id, or an index out of range */
    JTAPI_ERR_MISSING = 6        /* the field exists but holds no value (NULL column, bad time) */
};

/* The caller's handle on the report data. Allocate it yourself; treat it as opaque. */
typedef struct JTAPI_ReportData {
    void *data;
} JTAPI_ReportData;

/* 'jtapi_get_completed_jobs_report_data()' - loads the report of kind `kind` into `*report`.
 * Whatever the handle held before is ignored, not released. Returns JTAPI_OK, or a nonzero status
 * with nothing to release and the handle empty; a database that cannot be read is logged. */
int32_t jtapi_get_completed_jobs_report_data(int32_t kind, JTAPI_ReportData *report);

/* 'jtapi_get_field_data()' - points `*value` at the field's value inside the report data
 * (an int32_t, a NUL-terminated char array, or a struct tm with every member filled: weekday, day
 * of year and daylight saving time too, the last from the device's time zone rules). The value
 * stays valid until jtapi_release_report_data(); never free or change it. On any nonzero status
 * `*value` is NULL. `aux` may be NULL; this job tracker writes 0 to it. */
int32_t jtapi_get_field_data(JTAPI_ReportData *report, int32_t field, int32_t jobIndex,
                             int32_t addressIndex, void **value, int32_t *aux);

/* 'jtapi_release_report_data()' - frees the report data; the handle is empty afterwards.
 * An empty handle gives JTAPI_ERR_NOT_LOADED. */
int32_t jtapi_release_report_data(JTAPI_ReportData *report);

#ifdef __cplusplus
}
#endif

#endif
