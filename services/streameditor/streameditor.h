/*
 * streameditor.h - the device's stream editor: find-and-replace commands applied to a file in one
 * streaming pass, written to a new file.
 *
 *     SedCmdArray *cmds = Sed_CreateCmdArray(2);
 *     Sed_AddCommand(cmds, SED_CMD_REPLACE, "__name__", "4142");
 *     Sed_AddCommand(cmds, SED_CMD_SYSTEM_DATE, "__date__", "4e2f41");
 *     int status = Sed_FileEdit(cmds, "in.ps", "out.ps");
 *     Sed_FreeCommands(cmds);
 *
 * The pass applies all commands at once: every occurrence of a find text, anywhere in the input
 * (across lines too), is replaced; replaced text is never scanned again; occurrences are taken
 * left to right without overlap, and where two find texts match at the same place the longer
 * wins (of equal ones, the first added). Memory stays bounded whatever the file size: the input
 * is read in blocks of 256 KiB.
 *
 * Files. Both files are reached through their folder, which must be verified: every folder of
 * its path owned by root or the effective user and writable by no one else unless it is sticky
 * (services/common/platform.h). No link is followed in either name.
 *   - The input must be the caller's own file: a regular file with one link, owned by the
 *     effective user. In a verified folder no other user can plant, link or swap such a file, so
 *     the edit reads the file the caller wrote, never what another user put under its name
 *     later; anything else is refused (SED_ERR_OPEN_INPUT).
 *   - The output is written to a temporary file beside `outPath` (named "<outPath>.<8 letters or
 *     digits>", created new with mode 0600) and renamed onto `outPath` through the folder's
 *     descriptor only after everything was written, so no reader ever sees a half-written file;
 *     on any failure the temporary file is removed and an existing `outPath` is left as it was.
 *     An existing `outPath` that is not a regular file, or in a folder others may write is not
 *     the caller's, is refused (SED_ERR_OPEN_OUTPUT). The file is not fsync'ed: the output is a
 *     transient report handed straight to printing, so surviving a power cut is not worth a
 *     flush to storage per report.
 *   - A call that dies while it writes (a process killed) leaves its temporary file; the next
 *     call for the same `outPath` removes it. Each call holds an open-file-description lock on
 *     its temporary file while it writes, and only a file of that name whose lock can be taken,
 *     that is, whose call is gone, is removed: a live call's file is never touched.
 *   - Neither file is ever a FIFO or a device: it is never waited on or read without end.
 *   - Writes raise no SIGPIPE or SIGXFSZ in the caller's process (a file size limit is
 *     SED_ERR_NO_SPACE), and no descriptor the call holds takes the number 0, 1 or 2.
 *
 * Thread-safe: the editor keeps no state between calls, so calls may run at once, as long as no
 * array is added to or freed while another call uses it. Nothing is kept for the process.
 * No C++ exception leaves these functions: out of memory is reported as SED_ERR_MEMORY.
 */
#ifndef SERVICES_STREAMEDITOR_STREAMEDITOR_H
#define SERVICES_STREAMEDITOR_STREAMEDITOR_H

#ifdef __cplusplus
extern "C" {
#endif

/* Command types. */
enum {
    SED_CMD_REPLACE = 1,     /* replace by the given text */
    SED_CMD_SYSTEM_DATE = 6, /* replace by the hex text of the current date, device date format */
    SED_CMD_SYSTEM_TIME = 7  /* replace by the hex text of the current time, device time format */
};
/* Types 6 and 7 format the current local time with the configuration service's date and time
 * formats (OID_ATT_DATE_FORMAT, OID_ATT_TIME_FORMAT) and write it as lowercase hex digits; the
 * time is taken once per Sed_FileEdit() call. When no format can be had, or the format yields
 * no text, the replacement handed with the command is used instead. */

/* Status codes of Sed_FileEdit. */
enum {
    SED_OK = 0,
    SED_ERR_ARGUMENT = 1,    /* a NULL handle or path */
    SED_ERR_OPEN_INPUT = 2,  /* the input cannot be opened or is not the caller's own file */
    SED_ERR_READ = 3,        /* reading the input failed */
    SED_ERR_OPEN_OUTPUT = 4, /* outPath or its folder is refused, or no file can be created */
    SED_ERR_WRITE = 5,       /* writing, flushing or closing the output failed */
    SED_ERR_NO_SPACE = 6,    /* no room for the output: disk full, quota or file size limit */
    SED_ERR_RENAME = 7,      /* the finished output cannot be renamed onto outPath */
    SED_ERR_MEMORY = 8       /* out of memory */
};

typedef struct SedCmdArray SedCmdArray;

/* 'Sed_CreateCmdArray()' - a new, empty command array holding up to `capacity` commands (1 or
 * more), or NULL. Release it with Sed_FreeCommands(). */
SedCmdArray *Sed_CreateCmdArray(int capacity);

/* 'Sed_AddCommand()' - appends one command; the array keeps its own copies of both texts.
 * Returns 0, or nonzero when the array is full, an argument is NULL, `find` is empty or `type`
 * is not a command type above (SED_ERR_ARGUMENT), or memory runs out (SED_ERR_MEMORY). */
int Sed_AddCommand(SedCmdArray *cmds, int type, const char *find, const char *replace);

/* 'Sed_FileEdit()' - copies `inPath` to `outPath` with every command applied. Returns SED_OK or
 * one of the SED_ERR_* statuses above. */
int Sed_FileEdit(SedCmdArray *cmds, const char *inPath, const char *outPath);

/* 'Sed_FreeCommands()' - releases the array and its commands; NULL releases nothing. Returns 0. */
int Sed_FreeCommands(SedCmdArray *cmds);

#ifdef __cplusplus
}
#endif

#endif
