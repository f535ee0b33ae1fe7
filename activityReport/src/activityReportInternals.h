/*
 * activityReportInternals.h - the plug-in's internal functions and process-wide state.
 *
 * Nothing here is exported from libactivityReport.so; the declarations exist so that the
 * plug-in's tests, which link its object code, call exactly what the plug-in defines. Each of
 * them is marked ARL_INTERNAL, in its declaration and in its definition.
 */
#ifndef ACTIVITYREPORT_ACTIVITYREPORTINTERNALS_H
#define ACTIVITYREPORT_ACTIVITYREPORTINTERNALS_H

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "activityReport.h"
#include "jtapi.h"
#include "streameditor.h"

/* Reached by the tests through this header; hidden from the device like all but the entry point. */
#define ARL_INTERNAL __attribute__((visibility("hidden")))

/* ---- Process-wide state ---------------------------------------------------------------- */

struct ArlState {
    const char *transLibEncoding; /* system charset name; NULL until the first conversion */
    uint16_t dateFormatId;        /* configuration attribute ids, 0 = not yet looked up */
    uint16_t timeFormatId;
    int32_t transInitialised; /* 1 once Trans_Init() has succeeded */
};
extern ARL_INTERNAL ArlState ARL_STATE;

/* 1 at the start of every run, 0 after the run's first successful subject conversion. The
 * device's interface keeps it, but it steers only a text handed over as Unicode (the sniffer
 * detects, or converts as UTF); every text of this report comes in the system charset, so it
 * changes nothing that is printed. */
extern ARL_INTERNAL int32_t autoConvert;

/* The run's scratch buffers and job-tracker handle, lent to the body generators. */
enum { ARL_HEX_BUFFER_SIZE = 511, ARL_DATE_TIME_TEXT_SIZE = 51, ARL_MAX_LISTED_ADDRESSES = 5 };
struct RunScratch {
    JTAPI_ReportData *report;
    int32_t aux; /* the job tracker's word of its own: zeroed once a run, never read */
    char hexBuffer[ARL_HEX_BUFFER_SIZE];
    char dateText[ARL_DATE_TIME_TEXT_SIZE];
    char timeText[ARL_DATE_TIME_TEXT_SIZE];
};
extern ARL_INTERNAL RunScratch runScratch;

/* Zero-fills the scratch buffers and points them at `report`, as a run does at its start. */
ARL_INTERNAL void ResetRunScratch(JTAPI_ReportData *report);

/* ---- Tag tables ------------------------------------------------------------------------ */

struct ConstantCmd {
    const char *findPattern;
    uint16_t stringId;
};
enum { ARL_NUM_CONSTANT_CMDS = 49, ARL_NUM_VARIABLE_CMDS = 5 };
extern ARL_INTERNAL const ConstantCmd constantCmdTable[ARL_NUM_CONSTANT_CMDS];

struct VariableCmd {
    int32_t specialAttr;
    int32_t cmdType;
    const char *findPattern;
    char *replacePattern;    /* 100-byte buffer for type 1, kept for the life of the process */
    const char *defaultText; /* NULL for types 6 and 7 */
    int32_t addResult;       /* result of the last Sed_AddCommand for this record; kept as
                              * the device's table has it, read by nothing but the log */
};
enum { ARL_REPLACE_PATTERN_SIZE = 100 };
extern ARL_INTERNAL VariableCmd sedCmdTable[ARL_NUM_VARIABLE_CMDS];

/* ---- Report run and submission ---------------------------------------------------------- */

/* Allocates the missing replacement buffers and resets all to their defaults; ARL_STATUS_OK or
 * ARL_STATUS_NO_MEMORY. */
ARL_INTERNAL int32_t PrepareReplacementBuffers();

/* How long a run waits for another that holds its working folder before it gives up with
 * ARL_STATUS_BODY_NOT_WRITABLE (30 s; tests make it short). */
extern ARL_INTERNAL long runLockWaitMilliseconds;

/* Submits the report file as a one-copy simplex print job on the market region's paper. */
ARL_INTERNAL void SubmitReport(const char *reportPath);

/* ---- Report body ------------------------------------------------------------------------ */

ARL_INTERNAL int32_t WriteJobEntry(FILE *body, JTAPI_ReportData *report, int32_t jobIndex,
                                   const char *language);
ARL_INTERNAL int32_t WriteRecipientRows(FILE *body, JTAPI_ReportData *report, int32_t jobIndex,
                                        int32_t addressCount, const char *language);
ARL_INTERNAL int32_t FormatDateTime(uint16_t formatId, const struct tm *t, char *out);
ARL_INTERNAL void GetDateTimeText(int32_t field, int32_t jobIndex, int32_t addressIndex);

/* ---- Text conversion -------------------------------------------------------------------- */

ARL_INTERNAL char *ARL_CvtToUtf8(const char *inStr, int32_t inStrEncoding, int32_t autoConvert);
ARL_INTERNAL char *ARL_CvtToUtf8Hex(const char *inStr, int32_t inStrEncoding, int32_t autoConvert,
                                    char *out, int32_t maxBytes, const char *language);
ARL_INTERNAL int32_t ConvertIntToHexString(char *out, int32_t value, int32_t maxBytes);
enum { COPY_PLAIN = 1, COPY_POSTSCRIPT_ESCAPED = 2 };
ARL_INTERNAL void CopyString(char *dst, const char *src, uint32_t maxBytes, int32_t type);

/* ---- Finishing pass --------------------------------------------------------------------- */

ARL_INTERNAL int32_t ARL_GenerateActivityReport(const char *mediaType, const char *mediaColor,
                                                const char *bodyPath, const char *reportPath,
                                                const char *language);
ARL_INTERNAL int32_t ARL_TranslateConstantText(const char *language, SedCmdArray *cmdArray);
ARL_INTERNAL void ARL_GetSpecialAttributes(const char *mediaType, const char *mediaColor);

#endif
