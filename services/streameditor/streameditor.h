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
 * The output is written to a temporary file beside `outPath` (named "<outPath>.<random>",
 * created with mode 0666 less the umask) and renamed into place only after everything was
 * written, flushed and closed, so no reader ever sees a half-written file; on any failure the
 * temporary file is removed and an existing `outPath` is left as it was. The file is not
 * fsync'ed: the output is a transient report handed straight to printing, so surviving a power
 * cut is not worth a flush to storage per report.
 *
 * Only regular files are read and replaced: an input or an existing output that is a directory,
 * a FIFO or a device is refused at once (SED_ERR_OPEN_INPUT, SED_ERR_OPEN_OUTPUT), never waited
 * on or read without end.
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
    SED_ERR_ARGUMENT = 1,   /* a NULL handle or path */
    SED_ERR_OPEN_INPUT = 2, /* the input cannot be opened or is not a regular file */
    SED_ERR_READ = 3,       /* reading the input failed */
    SED_ERR_OPEN_OUTPUT = 4, /* outPath is not a regular file, or no file can be created beside it */
    SED_ERR_WRITE = 5,      /* writing, flushing or closing the output failed */
    SED_ERR_NO_SPACE = 6,   /* no room for the output: disk full, quota or file size limit */
    SED_ERR_RENAME = 7,     /* the finished output cannot be renamed onto outPath */
    SED_ERR_MEMORY = 8      /* out of memory */
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
