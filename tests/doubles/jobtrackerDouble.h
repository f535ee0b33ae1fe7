/*
 * jobtrackerDouble.h - control of the job tracker's test double.
 *
 * The double holds one in-memory report: fields keyed by (field, job index, address index), each
 * a count, a text or a broken-down time. A field that was never set is missing. Missing fields
 * answer in one of the two forms the interface allows: a nonzero status, or status 0 with a NULL
 * value (SetMissingForm). Every jtapi_get_field_data call is recorded, present or not, so a test
 * can check which fields were read and in which order.
 */
#ifndef TESTS_DOUBLES_JOBTRACKERDOUBLE_H
#define TESTS_DOUBLES_JOBTRACKERDOUBLE_H

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace jobtrackerDouble {

// Forgets the report and the call records; missing fields answer JTAPI_ERR_MISSING again, and
// the report and release calls answer 0.
void Reset();

void SetInt(int32_t field, int32_t job, int32_t address, int32_t value);
void SetText(int32_t field, int32_t job, int32_t address, const std::string &text);
void SetTime(int32_t field, int32_t job, int32_t address, const struct tm &time);
// Makes one field missing, answering `status` (0: status 0 with a NULL value).
void SetMissing(int32_t field, int32_t job, int32_t address, int32_t status);
// How fields that were never set answer: a nonzero status, or 0 for a NULL value.
void SetMissingForm(int32_t status);
// With `stale` set, a missing field answered with a nonzero status still points `*value` at a
// leftover value (the bytes ff ff ff ff then "STALE": a count of -1, a text, a time of -1
// seconds), as a job tracker might: the status alone must decide that the field is missing.
void SetStaleValueOnFailure(bool stale);

// A broken-down time with every member filled, as the job tracker hands it out.
struct tm MakeTime(int year, int month, int day, int hour, int minute, int second);

// One recipient and one job, each member optional: an empty one is left missing.
struct Address {
    std::optional<int32_t> type, state;
    std::optional<std::string> name, email;
    std::optional<struct tm> status;
};
struct Job {
    std::optional<int32_t> numAddresses; // when empty: the number of `addresses`
    bool numAddressesMissing = false;    // leave JTAPI_NUM_ADDRESSES missing
    std::optional<struct tm> sent, completed;
    std::optional<int32_t> numRecip, numConf, numUnconf, failed, scanned, attachSize;
    std::optional<std::string> subject, from;
    std::vector<Address> addresses;
};
// Stores `job` under job index `jobIndex` (from 1); JTAPI_NUM_JOBS is not touched.
void SetJob(int32_t jobIndex, const Job &job);
void SetNumJobs(int32_t count);

// Statuses of the two calls around the field reads.
void SetReportStatus(int32_t status);
void SetReleaseStatus(int32_t status);

struct Read {
    int32_t field, job, address;
    bool operator==(const Read &other) const
    {
        return field == other.field && job == other.job && address == other.address;
    }
};
const std::vector<Read> &Reads();
// The reads of one job as "field/address" texts, e.g. "17/1", in call order.
std::vector<std::string> ReadsOfJob(int32_t job);

int ReportCalls();       // jtapi_get_completed_jobs_report_data calls
int32_t LastReportKind();
int ReleaseCalls();      // jtapi_release_report_data calls
// Calls that broke the interface's rules: a handle the double never filled, a NULL pointer, a
// read after the release, a second release. Empty when the plug-in kept to the contract.
const std::vector<std::string> &Misuse();

} // namespace jobtrackerDouble

#endif
