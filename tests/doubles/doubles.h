// doubles.h - control of the test doubles of the platform services.
//
// Each double implements the functions of its service's header, records how the plug-in called it
// and answers what the test programmed, all through the public fields of its `state`, which a
// test resets by assigning a fresh State. One source file per service.
#ifndef TESTS_DOUBLES_DOUBLES_H
#define TESTS_DOUBLES_DOUBLES_H

#include "config.h"
#include "jtapi.h"
#include "print.h"

#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The logging service's test double.
//
// Keeps every record in memory, in order, and prints nothing. A record is kept as
// "<LEVEL> <message>": ENTER, INFO, WARN or ERROR for the four record kinds, and "L<n>" for
// Log_Entry at level n, so that Log_SpecEntry(logSpecError, ...) and Log_Entry(3, ...) differ. A
// record that does not name the plug-in's file ("activityReport") and a positive line starts with
// "<file>:<line> ", so that it shows in every comparison.
namespace logDouble {

struct State {
    std::vector<std::string> records;
};
extern State state;

// How many of the plug-in's records are exactly `record`.
int Count(const std::string &record);

} // namespace logDouble

// The configuration services' test double.
//
// Defaults follow the service's own: oa_xid_of answers OA_XID_DATE_FORMAT and OA_XID_TIME_FORMAT
// for the two format names and 0 for any other name; TD_GetFormat writes "%m/%d/%Y" and
// "%H:%M:%S" for those ids and "" for any other; the device name is "device-1"; the market region
// is 0. Every call is recorded.
namespace configDouble {

struct State {
    // oa_xid_of(name) answers these ids one call after the other; the last one repeats.
    std::map<std::string, std::vector<uint32_t>> xids = {
        {"OID_ATT_DATE_FORMAT", {OA_XID_DATE_FORMAT}},
        {"OID_ATT_TIME_FORMAT", {OA_XID_TIME_FORMAT}}};
    std::map<std::string, int> xidCalls;
    std::map<uint16_t, std::string> formats = {{OA_XID_DATE_FORMAT, "%m/%d/%Y"},
                                               {OA_XID_TIME_FORMAT, "%H:%M:%S"}};
    std::vector<uint16_t> formatRequests; // the id of every TD_GetFormat call
    // Cfg_GetAttrValue of the device name: its status and value.
    int deviceNameStatus = CFG_OK; std::string deviceName = "device-1";
    std::vector<std::string> attrRequests; // "<name> <size>" of every call
    // CfgSrvGetMarketRegion: a nonzero status leaves *region untouched.
    int regionStatus = CFG_OK; uint32_t region = 0;
    std::vector<int> regionRequests; // the `instance` argument of every call
};
extern State state;

} // namespace configDouble

// The job tracker's test double.
//
// The double holds one in-memory report: the job count and the jobs by index, each member
// optional. An empty member is a missing field and answers `missingStatus`: a nonzero status with
// `*value` pointing at a stale value (the bytes ff ff ff ff then "STALE"), as a job tracker might,
// so that only the status may decide; or 0 with a NULL value. Every read is recorded.
namespace jobtrackerDouble {

struct Address {
    std::optional<int32_t> type, state;
    std::optional<std::string> name, email;
    std::optional<struct tm> status;
};

struct Job {
    std::optional<int32_t> numAddresses; // the rows read are those of `addresses`
    std::optional<struct tm> sent, completed;
    std::optional<int32_t> numRecip, numConf, numUnconf, failed, scanned, attachSize;
    std::optional<std::string> subject, from;
    std::vector<Address> addresses;
};

struct State {
    std::optional<int32_t> numJobs;
    std::map<int32_t, Job> jobs; // by job index, from 1
    int32_t missingStatus = JTAPI_ERR_MISSING, reportStatus = 0, releaseStatus = 0;
    std::vector<int32_t> reportKinds; int releaseCalls = 0; // reportKinds: `kind` of each request
    std::map<int32_t, std::vector<std::string>> reads; // by job index: "<field>/<address>"
    // Calls that broke the interface's rules: a handle the double never filled, a NULL pointer, a
    // read after the release, a second release.
    std::vector<std::string> misuse;
    bool released = false;
};
extern State state;

// A broken-down time with every member filled, as the job tracker hands it out.
struct tm MakeTime(int year, int month, int day, int hour, int minute, int second);

} // namespace jobtrackerDouble

// The encoding sniffer's test double.
//
// Each call is recorded as "SNF_Convert(<text>, <length>, <charset>)", "SNF_ConvertUTF(<text>,
// <length>)" or "SNF_AutoConvert(<text>, <length>)". Every call hands out a malloc'd copy of the
// text's first `length` bytes behind `prefix`, so a test can tell the sniffer's result from the
// input, and answers results[function] (default 1). A result comes even with a failing answer:
// the caller must free it.
namespace snifferDouble {

struct State {
    std::map<std::string, int> results; std::string prefix; std::vector<std::string> calls;
};
extern State state;

} // namespace snifferDouble

// The translation service's test double.
//
// Every call into the service, the C functions and the members of Translater and
// EncodingConverter alike, is appended to one event list, so that a test can check the order of
// construction, use and destruction around a conversion:
//
//     "Trans_Init()"                    "Trans_TranslateString(fr, 20200)"
//     "Trans_ConvertUTF8StringToHex(Subject, 511)"
//     "EncodingConverter()"             "~EncodingConverter()"
//     "Translater(fr)"                  "~Translater()"
//     "printEncoding()"                 "convertTo(ISO-8859-15)"
//     "convertFrom(UTF-8)"              "convert(Subject)"
//
// Trans_TranslateString answers the text "T<id>" (e.g. "T20200"). Trans_ConvertUTF8StringToHex
// works like the service's: lowercase hex of the bytes, cut to the whole bytes that fit maxBytes
// with the NUL, result the number of digits.
namespace translationDouble {

struct State {
    int initResult = 0, initCalls = 0; // initResult: what Trans_Init answers
    std::map<unsigned, int> translationErrors; // Trans_TranslateString fails for these ids
    std::map<std::string, int> hexResults;     // the hex conversion of this text answers this
                                               // without writing
    std::string printEncoding = "ISO-8859-15";
    std::function<std::string(const std::string &)> conversion; // convert(); default: unchanged
    std::string throwIn; // the member that throws std::runtime_error: "Translater",
                         // "printEncoding", "convertTo", "convertFrom" or "convert"
    int liveObjects = 0; // Translater and EncodingConverter objects alive now
    std::vector<std::string> events;
};
extern State state;

// The events whose text starts with `prefix`.
std::vector<std::string> Events(const std::string &prefix);

// Lowercase hex of the bytes of `text`, as this double and the service write it.
std::string Hex(const std::string &text);

} // namespace translationDouble

// The stream editor's test double.
//
// Records every call. Command arrays are real heap objects, so an array the caller forgets to
// free shows as a leak and one freed twice as a double free under the sanitizers. Sed_FileEdit
// writes the output file with every find text of every added command replaced by the command's
// replacement text (types 6 and 7 included), which is enough for a whole run.
namespace streameditorDouble {

struct Command {
    int type; std::string find, replace; int result; // result: what the double answered
};

struct Edit {
    std::string inPath, outPath, input; // input: the input file's content at the time of the edit
};

struct State {
    bool failCreate = false; // Sed_CreateCmdArray answers NULL
    std::string refusedFind; int refusedResult = 1; // Sed_AddCommand answers it for this find
    int editStatus = 0; // Sed_FileEdit answers it without writing when it is not 0
    std::vector<int> capacities;
    std::vector<Command> commands; // every Sed_AddCommand call, refused ones included
    std::vector<Edit> edits;
    int freeCalls = 0, freeNullCalls = 0, arraysAlive = 0;
};
extern State state;

} // namespace streameditorDouble

// The print-submission client's test double.
//
// Records the nine arguments of every SubmitJob call and whether the document existed then, and
// answers `result` (default DS_OK). The document is left where it is.
namespace printDouble {

struct Submission {
    std::vector<std::string> attributes;
    std::string user, jobName, path;
    Ds_precedence precedence; std::string operation;
    int32_t firstPage, lastPage; uint16_t options; bool documentExisted;
};

struct State {
    int result = DS_OK; std::vector<Submission> submissions;
};
extern State state;

} // namespace printDouble

// The test program's own uname().
//
// A test program that links the double_uname object library has its own uname(), which the
// plug-in's object code calls instead of the C library's. It asks the kernel directly unless
// `failWith` is set, and counts its calls.
namespace unameDouble {

struct State {
    int failWith = 0, calls = 0; // failWith nonzero: every call fails with -1 and this errno
};
extern State state;

} // namespace unameDouble

#endif
