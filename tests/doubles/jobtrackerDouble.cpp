// Job-tracker double: an in-memory report with programmable answers.

#include "doubles.h"

#include <cstring>

namespace jobtrackerDouble {
State state;

struct tm MakeTime(int year, int month, int day, int hour, int minute, int second)
{
    struct tm time = {second, minute, hour, day, month - 1, year - 1900, 0, 0, 0, 0, nullptr};
    timegm(&time); // fills the weekday and the day of the year
    return time;
}

} // namespace jobtrackerDouble

using jobtrackerDouble::state;

namespace {

int handleToken; // what the double puts into a handle it filled

template <typename T> void *Value(std::optional<T> &field) { return field ? &*field : nullptr; }
void *Value(std::optional<std::string> &field) { return field ? &(*field)[0] : nullptr; }

// The address of a stored field's value, or NULL when it is missing.
void *Lookup(int32_t field, int32_t jobIndex, int32_t a)
{
    if (field == JTAPI_NUM_JOBS)
        return jobIndex == 0 && a == 0 ? Value(state.numJobs) : nullptr;
    if (!state.jobs.count(jobIndex))
        return nullptr;
    jobtrackerDouble::Job &job = state.jobs[jobIndex];
    std::map<int32_t, void *> values;
    if (a == 0) {
        values = {{JTAPI_NUM_RECIP, Value(job.numRecip)}, {JTAPI_NUM_CONF, Value(job.numConf)},
                  {JTAPI_NUM_UNCONF, Value(job.numUnconf)}, {JTAPI_FAILED, Value(job.failed)},
                  {JTAPI_NUM_SCANNED, Value(job.scanned)}, {JTAPI_FROM, Value(job.from)},
                  {JTAPI_ATTACH_SIZE, Value(job.attachSize)}, {JTAPI_SUBJECT, Value(job.subject)},
                  {JTAPI_COMPLETE_DATE_TIME, Value(job.completed)},
                  {JTAPI_SENT_DATE_TIME, Value(job.sent)},
                  {JTAPI_NUM_ADDRESSES, Value(job.numAddresses)}};
    } else if (a <= static_cast<int32_t>(job.addresses.size())) {
        jobtrackerDouble::Address &address = job.addresses[a - 1];
        values = {{JTAPI_ADDR_TYPE, Value(address.type)}, {JTAPI_PROC_STATE, Value(address.state)},
                  {JTAPI_STATUS_DATE_TIME, Value(address.status)},
                  {JTAPI_FRIENDLY_NAME, Value(address.name)},
                  {JTAPI_EMAIL_ADDRESS, Value(address.email)}};
    }
    return values.count(field) ? values[field] : nullptr;
}

} // namespace

extern "C" int32_t jtapi_get_completed_jobs_report_data(int32_t kind, JTAPI_ReportData *report)
{
    state.reportKinds.push_back(kind);
    state.released = false;
    report->data = state.reportStatus == 0 ? &handleToken : nullptr;
    return state.reportStatus;
}

extern "C" int32_t jtapi_get_field_data(JTAPI_ReportData *report, int32_t field, int32_t jobIndex,
                                        int32_t addressIndex, void **value, int32_t *aux)
{
    static union {
        char bytes[sizeof(struct tm) + 8];
        struct tm time;
    } stale;
    std::string read = std::to_string(field) + "/" + std::to_string(addressIndex);
    state.reads[jobIndex].push_back(read);
    if (!report || report->data != &handleToken || state.released || !value || !aux) {
        state.misuse.push_back("read " + read + " of job " + std::to_string(jobIndex));
        return JTAPI_ERR_ARGUMENT;
    }
    *aux = 0;
    *value = Lookup(field, jobIndex, addressIndex);
    if (*value || state.missingStatus == 0)
        return JTAPI_OK;
    std::memcpy(stale.bytes, "\xff\xff\xff\xffSTALE", 10);
    *value = &stale;
    return state.missingStatus;
}

extern "C" int32_t jtapi_release_report_data(JTAPI_ReportData *report)
{
    ++state.releaseCalls;
    if (!report || report->data != &handleToken || state.released)
        state.misuse.push_back("release");
    state.released = true;
    report->data = nullptr;
    return state.releaseStatus;
}
