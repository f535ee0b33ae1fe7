/*
 * print.h - the device's print-submission client.
 *
 * This stand-in spools every accepted job into the folder named by PRINT_SPOOL_DIR (default
 * "/var/spool/device-print"). Each job gets a new folder "<spool>/NNNNNN" (six digits, one
 * more than the highest present; past 999999 the lowest free number, with a warning record)
 * holding:
 *   document.ps  the submitted document;
 *   ticket       text, one item a line: "user=<user>", "job-name=<jobName>",
 *                "operation=<operation>", "precedence=<number>", then every attribute text
 *                exactly as given, in the order given.
 * A job folder is 0755 and its files 0644, whatever the umask: the print service that takes the
 * jobs runs as another user. It appears only once it is complete: the job is assembled in a
 * hidden folder of the spool (".incoming-" and six letters; readers take only names
 * IsSpoolJobName() accepts), its files flushed to disk, and then renamed into place. A submission
 * that fails (a full disk, a file size limit, no memory) leaves nothing in the spool; one that
 * dies meanwhile leaves its hidden folder, which the next submission removes (see the lock).
 *
 * The spool is used only when it is safe: every folder of its path owned by root or the
 * effective user and not writable by group or others unless sticky, a symbolic link on the way
 * only when root or the effective user owns it. A spool folder that is missing is made (0755,
 * less the umask), with its missing parents. Everything in the spool is made, written, renamed
 * and removed through the spool's descriptor, never through a link. In a sticky spool that others
 * may write, only the effective user's own entries are touched. A spool refused gives
 * DS_ERR_SPOOL and a record naming the owner and mode found. A hidden folder found replaced by
 * something else while its job is assembled fails that submission (DS_ERR_SPOOL, with a record);
 * nothing outside the spool is touched.
 *
 * The lock: the file ".lock" (0600) in the spool. A submission holds it shared, by an open file
 * description lock, while it assembles its job; one that can have it alone knows that no other
 * is assembling, and first removes the hidden folders of the effective user that submissions
 * which died left behind (only the two files a job holds, then the folder). A submission waits
 * at most 10 s for a lock held alone, then fails with DS_ERR_SPOOL. A child that the host forks
 * during a submission holds the shared lock until it exits or execs, which only delays that
 * clearing.
 *
 * With the attribute "transient-file=TRUE" the document is moved into the spool when it is the
 * submitter's own: opened through its folder, which must be safe as the spool is, without
 * following a link, a regular file with one link that the effective user owns. Such a document
 * is linked into the job where the spool is on its file system (else copied) and made 0644, and
 * its name is removed once the job is in place (its mode is put back if the submission fails).
 * Any other transient document (a link, a file of another user or with other links) is copied,
 * never changed, and left in place with a warning record. Without the attribute the document is
 * copied.
 *
 * When PRINT_QUEUE names a CUPS destination, the job is also handed to CUPS, with the attributes
 * mapped to IPP: copy-count -> copies, sides/plex -> sides, default-medium -> media,
 * content-orientation -> orientation-requested, start-sheet -> job-sheets; and the job name and
 * user as job-name and requesting-user-name. Attributes without an IPP counterpart are logged and
 * left out; "transient-file" and "job-scheduling" concern the spool only. The server (CUPS_SERVER
 * or the client's configuration) gets DS_CUPS_CONNECT_TIMEOUT_SECONDS to take the connection and
 * DS_CUPS_REQUEST_TIMEOUT_SECONDS for each wait while the job is sent and answered; the first
 * wait that runs out ends the hand-over (DS_ERR_QUEUE, with a record that the job stays
 * spooled). A server silent from the start is given up about DS_CUPS_REQUEST_TIMEOUT_SECONDS + 1
 * seconds after it was connected. A server named by host name is first looked up by the system's
 * resolver, under its own timeouts.
 *
 * No write of the service raises SIGPIPE or SIGXFSZ in the caller's process: a closed connection
 * or a file size limit is a failure like any other, and the process's signal dispositions and
 * mask are as they were (libcups would ignore SIGPIPE for the whole process; that is undone).
 *
 * Failures return nonzero and write a log record; nothing here throws.
 * Thread-safe: nothing is kept between calls; concurrent submitters, threads or processes, get
 * distinct job numbers because a job folder is never renamed over an existing entry.
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
    DS_ERR_ARGUMENT = 1, /* a NULL text, a text with a line break (the ticket is line-based), or
                            a document that is not a readable regular file */
    DS_ERR_SPOOL = 2,    /* the spool folder is refused or cannot be written, the job folder was
                            replaced, the spool stayed locked, or memory ran out */
    DS_ERR_DOCUMENT = 3, /* the document cannot be moved or copied into the spool */
    DS_ERR_QUEUE = 4     /* PRINT_QUEUE is set and CUPS refused the job, cannot be reached or
                            did not answer in time */
};

/* Bounds of the waits on the CUPS server, in seconds. */
enum { DS_CUPS_CONNECT_TIMEOUT_SECONDS = 3, DS_CUPS_REQUEST_TIMEOUT_SECONDS = 5 };

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
