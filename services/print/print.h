/*
 * print.h - the device's print-submission client.
 *
 * This stand-in spools every accepted job into the directory named by PRINT_SPOOL_DIR (default
 * "/var/spool/device-print"). Each job gets a new directory "<spool>/NNNNNN" (six digits, one
 * more than the highest present; past 999999 the lowest free number, with a warning record)
 * holding:
 *   document.ps  the submitted document;
 *   ticket       text, one item a line: "user=<user>", "job-name=<jobName>",
 *                "operation=<operation>", "precedence=<number>", then every attribute text
 *                exactly as given, in the order given.
 * A job directory appears only once it is complete: the job is assembled in a hidden directory
 * of the spool (a name starting with "."; readers take only names IsSpoolJobName() accepts),
 * its files flushed to disk, and then renamed into place. A submission that fails (a full disk,
 * a file size limit, no memory) leaves nothing in the spool. Where the file size limit sends
 * SIGXFSZ, the process must ignore that signal to get the failure status instead of ending.
 *
 * With the attribute "transient-file=TRUE" the document is moved into the spool: linked where the
 * spool is on its file system (else copied) and made 0644, and the submitted path is removed once
 * the job is in place. Without it the document is copied.
 *
 * When PRINT_QUEUE names a CUPS destination, the job is also handed to CUPS, with the attributes
 * mapped to IPP: copy-count -> copies, sides/plex -> sides, default-medium -> media,
 * content-orientation -> orientation-requested, start-sheet -> job-sheets; and the job name and
 * user as job-name and requesting-user-name. Attributes without an IPP counterpart are logged and
 * left out; "transient-file" and "job-scheduling" concern the spool only.
 *
 * Failures return nonzero and write a log record; nothing here throws.
 * Thread-safe: nothing is kept between calls; concurrent submitters, threads or processes, get
 * distinct job numbers because a job directory is never renamed over an existing entry.
 */
#ifndef SERVICES_PRINT_PRINT_H
#define SERVICES_PRINT_PRINT_H

#include <cstdint>
#include <string>
#include <vector>

/* How urgently a job is printed: a lower number prints sooner. */
enum Ds_precedence {
    DS_PRECEDENCE_URGENT = 10,
    DS_PRECEDENCE_NORMAL = 20,
    DS_PRECEDENCE_REPORT = 25, /* device reports: after the user's urgent work */
    DS_PRECEDENCE_LOW = 30
};

/* Status codes of SubmitJob. */
enum {
    DS_OK = 0,
    DS_ERR_ARGUMENT = 1,   /* a NULL text, a text with a line break (the ticket is line-based), or
                              a document that is not a readable regular file */
    DS_ERR_SPOOL = 2,      /* the spool directory or the ticket cannot be written, or memory ran
                              out */
    DS_ERR_DOCUMENT = 3,   /* the document cannot be moved or copied into the spool */
    DS_ERR_QUEUE = 4       /* PRINT_QUEUE is set and CUPS refused the job or cannot be reached */
};

namespace zun {
namespace dmx {

/* 'SubmitJob()' - submits the document at `path` as a print job.
 *   attributes  "name=value" job attribute texts, in order
 *   user, jobName, operation ("print")
 *   precedence  a Ds_precedence value
 *   firstPage, lastPage   page range to print, 1-based; -1 for either means "from the first" /
 *                         "to the last". The spool always keeps the whole document; a range
 *                         other than -1, -1 reaches CUPS as page-ranges.
 *   options     reserved, pass 0; other values are logged and ignored
 * Returns DS_OK, or a DS_ERR_* status after a log record. The job stays spooled even when the
 * CUPS hand-over fails (DS_ERR_QUEUE). */
int SubmitJob(const std::vector<std::string> &attributes, const char *user, const char *jobName,
              const char *path, Ds_precedence precedence, const char *operation, int32_t firstPage,
              int32_t lastPage, uint16_t options);

/* 'IsSpoolJobName()' - true for a job directory's name in the spool, "NNNNNN" (six digits);
 * false for every other entry, the hidden directories of jobs being assembled included. */
bool IsSpoolJobName(const char *name);

} // namespace dmx
} // namespace zun

#endif
