// Job tracker stand-in: serves the completed-jobs report from a SQLite database opened read-only.
//
// The first call reads the whole report with two queries (jobs, then all their addresses) into
// memory, inside one read transaction so the two agree even while the tracker writes; every field
// look-up after that is plain indexing. Layout of this file:
//   1. the in-memory report;
//   2. reading column values (counts, texts, local times);
//   3. loading the report from the database;
//   4. field look-up;
//   5. the C interface.

#include "jtapi.h"

#include "log.h"
#include "timetext.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char *const kLogFile = "jobtracker";
const char *const kDefaultDatabasePath = "/var/lib/jobtracker/jobs.db";
// The tracker may be writing when a report starts; wait this long for its lock.
const int kBusyTimeoutMs = 2000;

// ============================================================================================
// 1. The in-memory report
// ============================================================================================
// An empty optional is a missing field. Values are never moved once loading has finished, so
// the pointers handed out stay valid until the report is released.

struct Address {
    std::optional<int32_t> type;
    std::optional<int32_t> processState;
    std::optional<std::tm> statusTime;
    std::optional<std::string> friendlyName;
    std::optional<std::string> email;
};

struct Job {
    sqlite3_int64 id = 0;
    std::optional<std::tm> sentTime;
    std::optional<std::tm> completedTime;
    std::optional<int32_t> recipients;
    std::optional<int32_t> confirmed;
    std::optional<int32_t> unconfirmed;
    std::optional<int32_t> failed;
    std::optional<int32_t> pagesScanned;
    std::optional<int32_t> attachmentSize;
    std::optional<std::string> subject;
    std::optional<std::string> sender;
    int32_t addressCount = 0;  // set from addresses.size() once every address is read
    std::vector<Address> addresses;
};

struct Report {
    int32_t jobCount = 0;  // set from jobs.size() once every job is read
    std::vector<Job> jobs;
};

// ============================================================================================
// 2. Reading column values
// ============================================================================================

// A count that is NULL, not stored as an integer (a REAL, a text that is no number), or beyond
// the int32 range is missing: a silently truncated figure would print a wrong number.
std::optional<int32_t> ReadCount(sqlite3_stmt *row, int column)
{
    if (sqlite3_column_type(row, column) != SQLITE_INTEGER)
        return std::nullopt;
    sqlite3_int64 number = sqlite3_column_int64(row, column);
    if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(number);
}

// Texts are in the system charset, which need not be UTF-8, so the bytes are kept exactly as
// stored, TEXT or BLOB alike. The first NUL ends the text, as it would for any C reader.
std::optional<std::string> ReadText(sqlite3_stmt *row, int column)
{
    const void *bytes = nullptr;
    switch (sqlite3_column_type(row, column)) {
    case SQLITE_TEXT: bytes = sqlite3_column_text(row, column); break;
    case SQLITE_BLOB: bytes = sqlite3_column_blob(row, column); break;
    default: return std::nullopt;
    }
    int size = sqlite3_column_bytes(row, column);
    if (!bytes) {
        // An empty BLOB comes back as NULL too; only an error code tells it from a failed copy.
        if (sqlite3_errcode(sqlite3_db_handle(row)) == SQLITE_NOMEM)
            throw std::bad_alloc();
        return std::string();
    }
    const char *start = static_cast<const char *>(bytes);
    const void *nul = std::memchr(start, '\0', static_cast<size_t>(size));
    return std::string(start, nul ? static_cast<const char *>(nul) : start + size);
}

std::optional<std::tm> ReadTime(sqlite3_stmt *row, int column)
{
    std::optional<std::string> text = ReadText(row, column);
    return text ? jobtracker::ParseLocalTime(*text) : std::nullopt;
}

// ============================================================================================
// 3. Loading the report from the database
// ============================================================================================

using Connection = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;
using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

const char *DatabasePath()
{
    const char *path = std::getenv("JTAPI_DATABASE");
    return path && *path ? path : kDefaultDatabasePath;
}

// Logs SQLite's account of a failure; returns JTAPI_ERR_MEMORY when SQLite ran out of memory,
// JTAPI_ERR_DATABASE otherwise.
int32_t LogDatabaseError(sqlite3 *db, const char *what, const char *path)
{
    Log_SpecEntry(logSpecError, kLogFile, __LINE__, "%s(): %s \"%s\": %s",
                  "jtapi_get_completed_jobs_report_data", what, path, sqlite3_errmsg(db));
    const int code = sqlite3_extended_errcode(db);
    return code == SQLITE_NOMEM || code == SQLITE_IOERR_NOMEM ? JTAPI_ERR_MEMORY
                                                              : JTAPI_ERR_DATABASE;
}

// SQLite opens whatever the path names and would block on a FIFO or a device until someone
// writes to it. The path is tried first without blocking, and anything but a regular file is a
// database that cannot be opened.
bool IsRegularFile(const char *path)
{
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status;
    bool regular = fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!regular)
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "%s(): cannot open job database \"%s\": %s",
                      "jtapi_get_completed_jobs_report_data", path,
                      fd >= 0 ? "not a regular file" : std::strerror(error));
    return regular;
}

// Opens the database read-only: a missing file is an error, never created. On failure `db` is
// empty and the result is the status to return.
int32_t OpenDatabase(const char *path, Connection &db)
{
    if (!IsRegularFile(path))
        return JTAPI_ERR_DATABASE;
    sqlite3 *raw = nullptr;
    int status = sqlite3_open_v2(path, &raw, SQLITE_OPEN_READONLY, nullptr);
    db.reset(raw);
    if (status != SQLITE_OK) {
        // Without memory SQLite gives no connection; its error functions then say so.
        int32_t failure = LogDatabaseError(raw, "cannot open job database", path);
        db.reset();
        return failure;
    }
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    return JTAPI_OK;
}

// Runs `sql` and hands each result row to `readRow`. A failure status, after an error record,
// when the statement cannot be prepared (no such table or column, not a database) or a step fails.
template <typename RowReader>
int32_t ForEachRow(sqlite3 *db, const char *path, const char *sql, RowReader readRow)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK)
        return LogDatabaseError(db, "cannot query job database", path);
    Statement statement(raw, &sqlite3_finalize);
    int status;
    while ((status = sqlite3_step(raw)) == SQLITE_ROW)
        readRow(raw);
    if (status != SQLITE_DONE)
        return LogDatabaseError(db, "cannot read job database", path);
    return JTAPI_OK;
}

int32_t LoadJobs(sqlite3 *db, const char *path, Report &report)
{
    const char *sql =
        "SELECT id, sent_time, completed_time, num_recipients, num_confirmed, num_unconfirmed,"
        " num_failed, pages_scanned, attachment_size, subject, sender FROM jobs ORDER BY id";
    int32_t status = ForEachRow(db, path, sql, [&report](sqlite3_stmt *row) {
        Job job;
        job.id = sqlite3_column_int64(row, 0);
        job.sentTime = ReadTime(row, 1);
        job.completedTime = ReadTime(row, 2);
        job.recipients = ReadCount(row, 3);
        job.confirmed = ReadCount(row, 4);
        job.unconfirmed = ReadCount(row, 5);
        job.failed = ReadCount(row, 6);
        job.pagesScanned = ReadCount(row, 7);
        job.attachmentSize = ReadCount(row, 8);
        job.subject = ReadText(row, 9);
        job.sender = ReadText(row, 10);
        report.jobs.push_back(std::move(job));
    });
    report.jobCount = static_cast<int32_t>(report.jobs.size());
    return status;
}

// The jobs are in ascending id order, so a job is found by binary search.
Job *FindJobById(Report &report, sqlite3_int64 id)
{
    auto found = std::lower_bound(report.jobs.begin(), report.jobs.end(), id,
                                  [](const Job &job, sqlite3_int64 wanted) { return job.id < wanted; });
    return found != report.jobs.end() && found->id == id ? &*found : nullptr;
}

int32_t LoadAddresses(sqlite3 *db, const char *path, Report &report)
{
    const char *sql = "SELECT job_id, addr_type, proc_state, status_time, friendly_name, email"
                      " FROM addresses ORDER BY job_id, position";
    long orphans = 0;
    int32_t status = ForEachRow(db, path, sql, [&](sqlite3_stmt *row) {
        Job *job = sqlite3_column_type(row, 0) == SQLITE_INTEGER
                       ? FindJobById(report, sqlite3_column_int64(row, 0))
                       : nullptr;
        if (!job) {
            ++orphans;
            return;
        }
        Address address;
        address.type = ReadCount(row, 1);
        address.processState = ReadCount(row, 2);
        address.statusTime = ReadTime(row, 3);
        address.friendlyName = ReadText(row, 4);
        address.email = ReadText(row, 5);
        job->addresses.push_back(std::move(address));
    });
    for (Job &job : report.jobs)
        job.addressCount = static_cast<int32_t>(job.addresses.size());
    // Rows of a job that is gone cannot be shown anywhere; the report goes on without them.
    if (status == JTAPI_OK && orphans > 0)
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__, "%s(): %ld address rows name no job in \"%s\"",
                      "jtapi_get_completed_jobs_report_data", orphans, path);
    return status;
}

// Reads the whole report from the database at `path`. Returns JTAPI_OK, JTAPI_ERR_DATABASE or
// JTAPI_ERR_MEMORY (logged); throws std::bad_alloc when our own containers run out of memory.
int32_t LoadReport(const char *path, Report &report)
{
    Connection db(nullptr, &sqlite3_close);
    int32_t status = OpenDatabase(path, db);
    if (status != JTAPI_OK)
        return status;
    if (sqlite3_exec(db.get(), "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return LogDatabaseError(db.get(), "cannot start reading job database", path);
    status = LoadJobs(db.get(), path, report);
    if (status == JTAPI_OK)
        status = LoadAddresses(db.get(), path, report);
    if (status != JTAPI_OK)
        return status;
    // Nothing was written; ending the read transaction only releases the shared lock.
    sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr);
    return JTAPI_OK;
}

// ============================================================================================
// 4. Field look-up
// ============================================================================================

enum class Level { Report, Job, Address, Unknown };

Level LevelOf(int32_t field)
{
    switch (field) {
    case JTAPI_NUM_JOBS: return Level::Report;
    case JTAPI_NUM_RECIP:
    case JTAPI_NUM_CONF:
    case JTAPI_NUM_UNCONF:
    case JTAPI_FAILED:
    case JTAPI_NUM_SCANNED:
    case JTAPI_ATTACH_SIZE:
    case JTAPI_COMPLETE_DATE_TIME:
    case JTAPI_SENT_DATE_TIME:
    case JTAPI_SUBJECT:
    case JTAPI_FROM:
    case JTAPI_NUM_ADDRESSES: return Level::Job;
    case JTAPI_ADDR_TYPE:
    case JTAPI_PROC_STATE:
    case JTAPI_STATUS_DATE_TIME:
    case JTAPI_FRIENDLY_NAME:
    case JTAPI_EMAIL_ADDRESS: return Level::Address;
    default: return Level::Unknown;
    }
}

template <typename T>
void *ValueOf(std::optional<T> &value)
{
    return value ? &*value : nullptr;
}

void *ValueOf(std::optional<std::string> &text)
{
    return text ? text->data() : nullptr;
}

// The value of a job-level field, or nullptr when it is missing.
void *JobFieldValue(Job &job, int32_t field)
{
    switch (field) {
    case JTAPI_NUM_RECIP: return ValueOf(job.recipients);
    case JTAPI_NUM_CONF: return ValueOf(job.confirmed);
    case JTAPI_NUM_UNCONF: return ValueOf(job.unconfirmed);
    case JTAPI_FAILED: return ValueOf(job.failed);
    case JTAPI_NUM_SCANNED: return ValueOf(job.pagesScanned);
    case JTAPI_ATTACH_SIZE: return ValueOf(job.attachmentSize);
    case JTAPI_COMPLETE_DATE_TIME: return ValueOf(job.completedTime);
    case JTAPI_SENT_DATE_TIME: return ValueOf(job.sentTime);
    case JTAPI_SUBJECT: return ValueOf(job.subject);
    case JTAPI_FROM: return ValueOf(job.sender);
    case JTAPI_NUM_ADDRESSES: return &job.addressCount;
    default: return nullptr;
    }
}

// The value of an address-level field, or nullptr when it is missing.
void *AddressFieldValue(Address &address, int32_t field)
{
    switch (field) {
    case JTAPI_ADDR_TYPE: return ValueOf(address.type);
    case JTAPI_PROC_STATE: return ValueOf(address.processState);
    case JTAPI_STATUS_DATE_TIME: return ValueOf(address.statusTime);
    case JTAPI_FRIENDLY_NAME: return ValueOf(address.friendlyName);
    case JTAPI_EMAIL_ADDRESS: return ValueOf(address.email);
    default: return nullptr;
    }
}

// Indexes count from 1; anything outside 1..size gives nullptr.
template <typename T>
T *ElementAt(std::vector<T> &elements, int32_t index)
{
    if (index < 1 || static_cast<size_t>(index) > elements.size())
        return nullptr;
    return &elements[static_cast<size_t>(index) - 1];
}

// Checks the indexes against the field's level. On JTAPI_OK `value` is the field's value, or
// nullptr when the field exists but is missing.
int32_t FindField(Report &report, int32_t field, int32_t jobIndex, int32_t addressIndex,
                  void *&value)
{
    value = nullptr;
    Level level = LevelOf(field);
    if (level == Level::Report) {
        if (jobIndex != 0 || addressIndex != 0)
            return JTAPI_ERR_NO_SUCH_FIELD;
        value = &report.jobCount;
        return JTAPI_OK;
    }
    Job *job = ElementAt(report.jobs, jobIndex);
    if (level == Level::Job && job && addressIndex == 0) {
        value = JobFieldValue(*job, field);
        return JTAPI_OK;
    }
    Address *address = job ? ElementAt(job->addresses, addressIndex) : nullptr;
    if (level == Level::Address && address) {
        value = AddressFieldValue(*address, field);
        return JTAPI_OK;
    }
    return JTAPI_ERR_NO_SUCH_FIELD;
}

} // namespace

// ============================================================================================
// 5. The C interface
// ============================================================================================
// Nothing may throw across these functions: the callers are C code.

extern "C" int32_t jtapi_get_completed_jobs_report_data(int32_t kind, JTAPI_ReportData *report)
{
    const char *function = "jtapi_get_completed_jobs_report_data";
    if (!report) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "%s(): no report handle", function);
        return JTAPI_ERR_ARGUMENT;
    }
    // The caller's handle may hold anything before this call; on failure it is left empty.
    report->data = nullptr;
    if (kind != JTAPI_REPORT_COMPLETED_IFAX) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "%s(): unknown report kind %d", function,
                      static_cast<int>(kind));
        return JTAPI_ERR_ARGUMENT;
    }
    try {
        auto loaded = std::make_unique<Report>();
        int32_t status = LoadReport(DatabasePath(), *loaded);
        if (status == JTAPI_OK)
            report->data = loaded.release();
        return status;
    } catch (...) {
        // Only the containers throw here, and only when memory runs out.
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "%s(): out of memory", function);
        return JTAPI_ERR_MEMORY;
    }
}

extern "C" int32_t jtapi_get_field_data(JTAPI_ReportData *report, int32_t field, int32_t jobIndex,
                                        int32_t addressIndex, void **value, int32_t *aux)
{
    if (aux)
        *aux = 0;
    if (value)
        *value = nullptr;
    if (!report || !value)
        return JTAPI_ERR_ARGUMENT;
    if (!report->data)
        return JTAPI_ERR_NOT_LOADED;
    void *found = nullptr;
    int32_t status =
        FindField(*static_cast<Report *>(report->data), field, jobIndex, addressIndex, found);
    if (status != JTAPI_OK)
        return status;
    if (!found)
        return JTAPI_ERR_MISSING;
    *value = found;
    return JTAPI_OK;
}

extern "C" int32_t jtapi_release_report_data(JTAPI_ReportData *report)
{
    if (!report)
        return JTAPI_ERR_ARGUMENT;
    if (!report->data)
        return JTAPI_ERR_NOT_LOADED;
    delete static_cast<Report *>(report->data);
    report->data = nullptr;
    return JTAPI_OK;
}
