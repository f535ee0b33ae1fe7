// Job-tracker double: an in-memory report with programmable answers.

#include "jobtrackerDouble.h"

#include "jtapi.h"

#include <cstring>
#include <map>
#include <tuple>

namespace {

struct Value {
    enum Kind { Int, Text, Time, Missing } kind = Missing;
    int32_t number = 0;
    std::string text;
    struct tm time = {};
    int32_t missingStatus = 0;
};

using Key = std::tuple<int32_t, int32_t, int32_t>;

// std::map keeps its elements in place, so the value pointers handed out stay valid.
std::map<Key, Value> fields;
int32_t missingForm = JTAPI_ERR_MISSING;
bool staleOnFailure = false;
// Big enough for any kind of value: a count, a text, a struct tm.
union StaleValue {
    char text[sizeof(struct tm) + 8];
    struct tm time;
} staleValue;
int32_t reportStatus = 0;
int32_t releaseStatus = 0;
std::vector<jobtrackerDouble::Read> reads;
std::vector<std::string> misuse;
int reportCalls = 0;
int releaseCalls = 0;
int32_t lastKind = -1;
bool released = false;

// The token the double puts into a handle it filled.
int handleToken;

Value &Slot(int32_t field, int32_t job, int32_t address)
{
    return fields[Key(field, job, address)];
}

} // namespace

extern "C" int32_t jtapi_get_completed_jobs_report_data(int32_t kind, JTAPI_ReportData *report)
{
    ++reportCalls;
    lastKind = kind;
    if (!report) {
        misuse.push_back("report data requested into a NULL handle");
        return JTAPI_ERR_ARGUMENT;
    }
    if (reportStatus != 0) {
        report->data = nullptr;
        return reportStatus;
    }
    report->data = &handleToken;
    released = false;
    return JTAPI_OK;
}

extern "C" int32_t jtapi_get_field_data(JTAPI_ReportData *report, int32_t field, int32_t jobIndex,
                                        int32_t addressIndex, void **value, int32_t *aux)
{
    reads.push_back({field, jobIndex, addressIndex});
    if (!report || report->data != &handleToken)
        misuse.push_back("field " + std::to_string(field) + " read through a foreign handle");
    if (released)
        misuse.push_back("field " + std::to_string(field) + " read after the release");
    if (!value) {
        misuse.push_back("field " + std::to_string(field) + " read into a NULL value pointer");
        return JTAPI_ERR_ARGUMENT;
    }
    if (aux)
        *aux = 0;
    *value = nullptr;
    auto found = fields.find(Key(field, jobIndex, addressIndex));
    int32_t status = missingForm;
    if (found != fields.end()) {
        Value &slot = found->second;
        switch (slot.kind) {
        case Value::Int: *value = &slot.number; return JTAPI_OK;
        case Value::Text: *value = &slot.text[0]; return JTAPI_OK;
        case Value::Time: *value = &slot.time; return JTAPI_OK;
        case Value::Missing: status = slot.missingStatus; break;
        }
    }
    if (status != 0 && staleOnFailure) {
        std::memset(&staleValue, 0, sizeof staleValue);
        std::memcpy(staleValue.text, "\xff\xff\xff\xffSTALE", 10);
        *value = &staleValue;
    }
    return status;
}

extern "C" int32_t jtapi_release_report_data(JTAPI_ReportData *report)
{
    ++releaseCalls;
    if (!report || report->data != &handleToken)
        misuse.push_back("release of a foreign handle");
    if (released)
        misuse.push_back("second release");
    released = true;
    if (report)
        report->data = nullptr;
    return releaseStatus;
}

namespace jobtrackerDouble {

void Reset()
{
    fields.clear();
    missingForm = JTAPI_ERR_MISSING;
    staleOnFailure = false;
    reportStatus = 0;
    releaseStatus = 0;
    reads.clear();
    misuse.clear();
    reportCalls = 0;
    releaseCalls = 0;
    lastKind = -1;
    released = false;
}

void SetInt(int32_t field, int32_t job, int32_t address, int32_t value)
{
    Value &slot = Slot(field, job, address);
    slot.kind = Value::Int;
    slot.number = value;
}

void SetText(int32_t field, int32_t job, int32_t address, const std::string &text)
{
    Value &slot = Slot(field, job, address);
    slot.kind = Value::Text;
    slot.text = text;
}

void SetTime(int32_t field, int32_t job, int32_t address, const struct tm &time)
{
    Value &slot = Slot(field, job, address);
    slot.kind = Value::Time;
    slot.time = time;
}

void SetMissing(int32_t field, int32_t job, int32_t address, int32_t status)
{
    Value &slot = Slot(field, job, address);
    slot.kind = Value::Missing;
    slot.missingStatus = status;
}

void SetMissingForm(int32_t status) { missingForm = status; }
void SetStaleValueOnFailure(bool stale) { staleOnFailure = stale; }

struct tm MakeTime(int year, int month, int day, int hour, int minute, int second)
{
    struct tm time = {};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    time.tm_isdst = -1;
    timegm(&time); // fills the weekday and the day of the year
    time.tm_isdst = 0;
    return time;
}

void SetJob(int32_t jobIndex, const Job &job)
{
    if (!job.numAddressesMissing)
        SetInt(JTAPI_NUM_ADDRESSES, jobIndex, 0,
               job.numAddresses ? *job.numAddresses : static_cast<int32_t>(job.addresses.size()));
    auto setCount = [jobIndex](int32_t field, const std::optional<int32_t> &value) {
        if (value)
            SetInt(field, jobIndex, 0, *value);
    };
    setCount(JTAPI_NUM_RECIP, job.numRecip);
    setCount(JTAPI_NUM_CONF, job.numConf);
    setCount(JTAPI_NUM_UNCONF, job.numUnconf);
    setCount(JTAPI_FAILED, job.failed);
    setCount(JTAPI_NUM_SCANNED, job.scanned);
    setCount(JTAPI_ATTACH_SIZE, job.attachSize);
    if (job.sent)
        SetTime(JTAPI_SENT_DATE_TIME, jobIndex, 0, *job.sent);
    if (job.completed)
        SetTime(JTAPI_COMPLETE_DATE_TIME, jobIndex, 0, *job.completed);
    if (job.subject)
        SetText(JTAPI_SUBJECT, jobIndex, 0, *job.subject);
    if (job.from)
        SetText(JTAPI_FROM, jobIndex, 0, *job.from);
    int32_t address = 0;
    for (const Address &entry : job.addresses) {
        ++address;
        if (entry.type)
            SetInt(JTAPI_ADDR_TYPE, jobIndex, address, *entry.type);
        if (entry.state)
            SetInt(JTAPI_PROC_STATE, jobIndex, address, *entry.state);
        if (entry.name)
            SetText(JTAPI_FRIENDLY_NAME, jobIndex, address, *entry.name);
        if (entry.email)
            SetText(JTAPI_EMAIL_ADDRESS, jobIndex, address, *entry.email);
        if (entry.status)
            SetTime(JTAPI_STATUS_DATE_TIME, jobIndex, address, *entry.status);
    }
}

void SetNumJobs(int32_t count) { SetInt(JTAPI_NUM_JOBS, 0, 0, count); }

void SetReportStatus(int32_t status) { reportStatus = status; }
void SetReleaseStatus(int32_t status) { releaseStatus = status; }

const std::vector<Read> &Reads() { return reads; }

std::vector<std::string> ReadsOfJob(int32_t job)
{
    std::vector<std::string> texts;
    for (const Read &read : reads)
        if (read.job == job)
            texts.push_back(std::to_string(read.field) + "/" + std::to_string(read.address));
    return texts;
}

int ReportCalls() { return reportCalls; }
int32_t LastReportKind() { return lastKind; }
int ReleaseCalls() { return releaseCalls; }
const std::vector<std::string> &Misuse() { return misuse; }

} // namespace jobtrackerDouble
