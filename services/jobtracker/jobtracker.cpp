// Job tracker stand-in: serves the completed-jobs report from a SQLite database opened read-only.
//
// The first call reads the whole report with two queries (jobs, then all their addresses in job
// and position order) into memory, inside one read transaction so the two agree even while the
// tracker writes; every field look-up after that is a table look-up and plain indexing. Layout of
// this file:
//   1. the in-memory report;
//   2. reading column values (counts, texts, local times);
//   3. loading the report from the database;
//   4. field look-up;
//   5. the C interface.

// The library exports the functions its contract header declares, and nothing else.
#pragma GCC visibility push(default)
#include "jtapi.h"
#pragma GCC visibility pop

#include "logrecord.h"
#include "platform.h"
#include "timetext.h"

#include <fcntl.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

namespace {

const char *const kLogFile = "jobtracker";
const char *const kDefaultDatabasePath = "/var/lib/jobtracker/jobs.db";
// The tracker may be writing when a report starts; wait this long for its lock.
const long kBusyTimeoutMs = 2000;
// Pauses between two tries for the lock: short at first, as most of the tracker's writes are.
const long kBusyPausesMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};

// ============================================================================================
// 1. The in-memory report
// ============================================================================================
// A report holds tens of thousands of values, so they live in a few large blocks rather than in
// an allocation each. Nothing moves once stored, so the pointers handed out stay valid until the
// report is released. Of the instructions of a whole run of 10,000 jobs (bench-run's data under
// callgrind, 2.18 G), the text blocks save 5% (2.30 G with an allocation per text) and the record
// blocks 4% (2.27 G with one per record).

// The report's texts, each copied once with a terminating NUL into large blocks.
class TextStore {
public:
    // A NUL-terminated copy of `text`.
    const char *Store(std::string_view text)
    {
        const size_t size = text.size() + 1;
        char *copy;
        if (size > kBlockSize / 4) {
            // A long text gets a block of its own rather than wasting the rest of the current one.
            blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
            copy = blocks_.back().get();
        } else {
            if (size > left_) {
                blocks_.push_back(std::unique_ptr<char[]>(new char[kBlockSize]));
                free_ = blocks_.back().get();
                left_ = kBlockSize;
            }
            copy = free_;
            free_ += size;
            left_ -= size;
        }
        if (!text.empty()) // an empty BLOB's bytes are a null pointer, which memcpy may not take
            std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = '\0';
        return copy;
    }

private:
    static constexpr size_t kBlockSize = 64 * 1024; // below malloc's mmap threshold
    std::vector<std::unique_ptr<char[]>> blocks_;
    char *free_ = nullptr;
    size_t left_ = 0;
};

// Records of one kind, appended in blocks of a fixed number: a record never moves, and growing
// never copies what is there, so loading never needs room for the report twice.
template <typename Record>
class RecordStore {
public:
    // A new record, value-initialised, at index size() - 1.
    Record &Append()
    {
        if (size_ % kPerBlock == 0)
            blocks_.push_back(std::make_unique<Record[]>(kPerBlock));
        return blocks_.back()[size_++ % kPerBlock];
    }
    Record &operator[](size_t index) { return blocks_[index / kPerBlock][index % kPerBlock]; }
    size_t size() const { return size_; }

private:
    static constexpr size_t kPerBlock = 256; // a power of two: indexing is a shift and a mask
    std::vector<std::unique_ptr<Record[]>> blocks_;
    size_t size_ = 0;
};

// The values of a job or an address by kind, each kind in slots (the enums below). An empty
// optional and a null text are missing fields.
template <size_t Counts, size_t Times, size_t Texts>
struct Values {
    std::optional<int32_t> counts[Counts];
    std::optional<std::tm> times[Times];
    const char *texts[Texts] = {};
};

enum JobCount {
    kRecipients,
    kConfirmed,
    kUnconfirmed,
    kFailed,
    kPagesScanned,
    kAttachmentSize,
    kAddressCount,
    kJobCounts
};
enum JobTime { kSentTime, kCompletedTime, kJobTimes };
enum JobText { kSubject, kSender, kJobTexts };
enum AddressCount { kType, kProcessState, kAddressCounts };
enum AddressTime { kStatusTime, kAddressTimes };
enum AddressText { kFriendlyName, kEmail, kAddressTexts };

using Address = Values<kAddressCounts, kAddressTimes, kAddressTexts>;

struct Job : Values<kJobCounts, kJobTimes, kJobTexts> {
    sqlite3_int64 id = 0;
    uint32_t firstAddress = 0; // its addresses are Report::addresses[firstAddress ...]
};

struct Report {
    int32_t jobCount = 0; // set from jobs.size() once every job is read
    RecordStore<Job> jobs;
    RecordStore<Address> addresses; // each job's together, in position order
    TextStore texts;
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
    if (number < std::numeric_limits<int32_t>::min() ||
        number > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(number);
}

// Texts are in the system charset, which need not be UTF-8, so the bytes are kept exactly as
// stored, TEXT or BLOB alike. The first NUL ends the text, as it would for any C reader. The
// bytes are SQLite's, valid until the row changes.
std::optional<std::string_view> ReadBytes(sqlite3_stmt *row, int column)
{
    const void *bytes = nullptr;
    switch (sqlite3_column_type(row, column)) {
    case SQLITE_TEXT:
        bytes = sqlite3_column_text(row, column);
        break;
    case SQLITE_BLOB:
        bytes = sqlite3_column_blob(row, column);
        break;
    default:
        return std::nullopt;
    }
    int size = sqlite3_column_bytes(row, column);
    if (!bytes) {
        // An empty BLOB comes back as NULL too; only an error code tells it from a failed copy.
        if (sqlite3_errcode(sqlite3_db_handle(row)) == SQLITE_NOMEM)
            throw std::bad_alloc();
        return std::string_view();
    }
    const char *start = static_cast<const char *>(bytes);
    const void *nul = std::memchr(start, '\0', static_cast<size_t>(size));
    return std::string_view(start, nul ? static_cast<size_t>(static_cast<const char *>(nul) - start)
                                       : static_cast<size_t>(size));
}

// The column's text copied into `texts`, or nullptr when it is missing.
const char *ReadText(sqlite3_stmt *row, int column, TextStore &texts)
{
    std::optional<std::string_view> bytes = ReadBytes(row, column);
    return bytes ? texts.Store(*bytes) : nullptr;
}

std::optional<std::tm> ReadTime(sqlite3_stmt *row, int column)
{
    std::optional<std::string_view> text = ReadBytes(row, column);
    return text ? jobtracker::ParseLocalTime(*text) : std::nullopt;
}

// ============================================================================================
// 3. Loading the report from the database
// ============================================================================================

using Connection = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;
using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

const char *DatabasePath()
{
    const char *path = platform::EnvValue("JTAPI_DATABASE");
    return path ? path : kDefaultDatabasePath;
}

// Logs SQLite's account of a failure; returns JTAPI_ERR_MEMORY when SQLite ran out of memory,
// JTAPI_ERR_DATABASE otherwise.
int32_t LogDatabaseError(sqlite3 *db, const char *what, const char *path)
{
    LOG_RECORD(logSpecError, "%s(): %s \"%s\": %s", "jtapi_get_completed_jobs_report_data", what,
               path, sqlite3_errmsg(db));
    const int code = sqlite3_extended_errcode(db);
    return code == SQLITE_NOMEM || code == SQLITE_IOERR_NOMEM ? JTAPI_ERR_MEMORY
                                                              : JTAPI_ERR_DATABASE;
}

// SQLite opens whatever the path names and would block on a FIFO or a device until someone
// writes to it. The path is tried first without blocking, and anything but a regular file is a
// database that cannot be opened.
bool IsRegularFile(const char *path)
{
    if (platform::OpenRegularFile(AT_FDCWD, path, O_RDONLY))
        return true;
    LOG_RECORD(logSpecError, "%s(): cannot open job database \"%s\": %s",
               "jtapi_get_completed_jobs_report_data", path,
               errno == EINVAL ? "not a regular file" : std::strerror(errno));
    return false;
}

// SQLite's own busy wait counts each of its sleeps as slept whole, though a signal cuts a sleep
// short: a host that takes signals often would see the lock given up after a few milliseconds.
// This one waits against a deadline on CLOCK_MONOTONIC, set when a lock is first found taken,
// and sleeps each pause out however often a signal comes.
struct BusyWait {
    std::optional<platform::Deadline> deadline;
};

int WaitWhileBusy(void *context, int triesBefore)
{
    BusyWait &wait = *static_cast<BusyWait *>(context);
    if (triesBefore == 0)
        wait.deadline.emplace(kBusyTimeoutMs);
    const long left = wait.deadline->Remaining();
    if (left == 0)
        return 0;
    const size_t last = sizeof kBusyPausesMs / sizeof kBusyPausesMs[0] - 1;
    platform::SleepMilliseconds(
        std::min(left, kBusyPausesMs[std::min(static_cast<size_t>(triesBefore), last)]));
    return 1;
}

// Opens the database read-only: a missing file is an error, never created. On failure `db` is
// empty and the result is the status to return. The connection serves this one call on this one
// thread, so SQLite need not lock it on every column read (NOMUTEX).
int32_t OpenDatabase(const char *path, Connection &db, BusyWait &busyWait)
{
    if (!IsRegularFile(path))
        return JTAPI_ERR_DATABASE;
    sqlite3 *raw = nullptr;
    int status = sqlite3_open_v2(path, &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    db.reset(raw);
    if (status != SQLITE_OK) {
        // Without memory SQLite gives no connection; its error functions then say so.
        int32_t failure = LogDatabaseError(raw, "cannot open job database", path);
        db.reset();
        return failure;
    }
    sqlite3_busy_handler(raw, WaitWhileBusy, &busyWait);
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
        Job &job = report.jobs.Append();
        job.id = sqlite3_column_int64(row, 0);
        job.times[kSentTime] = ReadTime(row, 1);
        job.times[kCompletedTime] = ReadTime(row, 2);
        job.counts[kRecipients] = ReadCount(row, 3);
        job.counts[kConfirmed] = ReadCount(row, 4);
        job.counts[kUnconfirmed] = ReadCount(row, 5);
        job.counts[kFailed] = ReadCount(row, 6);
        job.counts[kPagesScanned] = ReadCount(row, 7);
        job.counts[kAttachmentSize] = ReadCount(row, 8);
        job.counts[kAddressCount] = 0; // counted while the addresses are read
        job.texts[kSubject] = ReadText(row, 9, report.texts);
        job.texts[kSender] = ReadText(row, 10, report.texts);
    });
    report.jobCount = static_cast<int32_t>(report.jobs.size());
    return status;
}

// The index of the job with `id`, or -1. `guess` is tried first: address rows mostly come
// job by job, in the jobs' order.
long FindJob(Report &report, sqlite3_int64 id, size_t guess)
{
    if (guess < report.jobs.size() && report.jobs[guess].id == id)
        return static_cast<long>(guess);
    size_t low = 0, high = report.jobs.size(); // the jobs are in ascending id order
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (report.jobs[middle].id < id)
            low = middle + 1;
        else
            high = middle;
    }
    return low < report.jobs.size() && report.jobs[low].id == id ? static_cast<long>(low) : -1;
}

// Reads the address rows, in job and position order, so that each job's addresses come together
// and in order.
int32_t LoadAddresses(sqlite3 *db, const char *path, Report &report)
{
    const char *sql =
        "SELECT job_id, addr_type, proc_state, status_time, friendly_name, email"
        " FROM addresses ORDER BY job_id, position";
    long orphans = 0;
    size_t guess = 0;
    int32_t status = ForEachRow(db, path, sql, [&](sqlite3_stmt *row) {
        const long found = sqlite3_column_type(row, 0) == SQLITE_INTEGER
                               ? FindJob(report, sqlite3_column_int64(row, 0), guess)
                               : -1;
        if (found < 0) {
            ++orphans;
            return;
        }
        guess = static_cast<size_t>(found);
        Job &job = report.jobs[guess];
        if (*job.counts[kAddressCount] == 0)
            job.firstAddress = static_cast<uint32_t>(report.addresses.size());
        Address &address = report.addresses.Append();
        address.counts[kType] = ReadCount(row, 1);
        address.counts[kProcessState] = ReadCount(row, 2);
        address.times[kStatusTime] = ReadTime(row, 3);
        address.texts[kFriendlyName] = ReadText(row, 4, report.texts);
        address.texts[kEmail] = ReadText(row, 5, report.texts);
        ++*job.counts[kAddressCount];
    });
    // Rows of a job that is gone cannot be shown anywhere; the report goes on without them.
    if (status == JTAPI_OK && orphans > 0)
        LOG_RECORD(logSpecWarn, "%s(): %ld address rows name no job in \"%s\"",
                   "jtapi_get_completed_jobs_report_data", orphans, path);
    return status;
}

// Reads the whole report from the database at `path` into `report`, which is set only on
// JTAPI_OK. Returns JTAPI_OK, JTAPI_ERR_DATABASE or JTAPI_ERR_MEMORY (logged); throws
// std::bad_alloc when our own containers run out of memory.
int32_t LoadReport(const char *path, std::unique_ptr<Report> &report)
{
    BusyWait busyWait; // outlives the connection that calls it
    Connection db(nullptr, &sqlite3_close);
    int32_t status = OpenDatabase(path, db, busyWait);
    if (status != JTAPI_OK)
        return status;
    if (sqlite3_exec(db.get(), "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return LogDatabaseError(db.get(), "cannot start reading job database", path);
    report = std::make_unique<Report>();
    status = LoadJobs(db.get(), path, *report);
    if (status == JTAPI_OK)
        status = LoadAddresses(db.get(), path, *report);
    if (status != JTAPI_OK) {
        report.reset();
        return status;
    }
    // Nothing was written; ending the read transaction only releases the shared lock.
    sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr);
    return JTAPI_OK;
}

// ============================================================================================
// 4. Field look-up
// ============================================================================================
// A table says where each field id lives, so a look-up is two range checks and an index.

enum class Level : uint8_t { Unknown, Report, Job, Address };
enum class Kind : uint8_t { Count, Time, Text };

struct FieldPlace {
    Level level = Level::Unknown;
    Kind kind = Kind::Count;
    uint8_t slot = 0;
};

const int32_t kFieldIds = JTAPI_EMAIL_ADDRESS + 1;

constexpr std::array<FieldPlace, kFieldIds> FieldPlaces()
{
    std::array<FieldPlace, kFieldIds> places{};
    places[JTAPI_NUM_JOBS] = {Level::Report, Kind::Count, 0};
    places[JTAPI_NUM_RECIP] = {Level::Job, Kind::Count, kRecipients};
    places[JTAPI_NUM_CONF] = {Level::Job, Kind::Count, kConfirmed};
    places[JTAPI_NUM_UNCONF] = {Level::Job, Kind::Count, kUnconfirmed};
    places[JTAPI_FAILED] = {Level::Job, Kind::Count, kFailed};
    places[JTAPI_NUM_SCANNED] = {Level::Job, Kind::Count, kPagesScanned};
    places[JTAPI_ATTACH_SIZE] = {Level::Job, Kind::Count, kAttachmentSize};
    places[JTAPI_COMPLETE_DATE_TIME] = {Level::Job, Kind::Time, kCompletedTime};
    places[JTAPI_SENT_DATE_TIME] = {Level::Job, Kind::Time, kSentTime};
    places[JTAPI_SUBJECT] = {Level::Job, Kind::Text, kSubject};
    places[JTAPI_FROM] = {Level::Job, Kind::Text, kSender};
    places[JTAPI_NUM_ADDRESSES] = {Level::Job, Kind::Count, kAddressCount};
    places[JTAPI_ADDR_TYPE] = {Level::Address, Kind::Count, kType};
    places[JTAPI_PROC_STATE] = {Level::Address, Kind::Count, kProcessState};
    places[JTAPI_STATUS_DATE_TIME] = {Level::Address, Kind::Time, kStatusTime};
    places[JTAPI_FRIENDLY_NAME] = {Level::Address, Kind::Text, kFriendlyName};
    places[JTAPI_EMAIL_ADDRESS] = {Level::Address, Kind::Text, kEmail};
    return places;
}

constexpr std::array<FieldPlace, kFieldIds> kFieldPlaces = FieldPlaces();

// The value in `place`, or nullptr when it is missing.
template <size_t Counts, size_t Times, size_t Texts>
void *ValueAt(Values<Counts, Times, Texts> &values, FieldPlace place)
{
    switch (place.kind) {
    case Kind::Count: {
        std::optional<int32_t> &count = values.counts[place.slot];
        return count ? &*count : nullptr;
    }
    case Kind::Time: {
        std::optional<std::tm> &time = values.times[place.slot];
        return time ? &*time : nullptr;
    }
    case Kind::Text:
        return const_cast<char *>(values.texts[place.slot]);
    }
    return nullptr;
}

// Whether a 1-based index lies within 1..count.
bool InRange(int32_t index, size_t count)
{
    return index >= 1 && static_cast<size_t>(index) <= count;
}

// Checks the indexes against the field's level. On JTAPI_OK `value` is the field's value, or
// nullptr when the field exists but is missing.
int32_t FindField(Report &report, int32_t field, int32_t jobIndex, int32_t addressIndex,
                  void *&value)
{
    value = nullptr;
    const FieldPlace place = field >= 0 && field < kFieldIds ? kFieldPlaces[field] : FieldPlace();
    switch (place.level) {
    case Level::Report:
        if (jobIndex != 0 || addressIndex != 0)
            return JTAPI_ERR_NO_SUCH_FIELD;
        value = &report.jobCount;
        return JTAPI_OK;
    case Level::Job:
        if (!InRange(jobIndex, report.jobs.size()) || addressIndex != 0)
            return JTAPI_ERR_NO_SUCH_FIELD;
        value = ValueAt(report.jobs[static_cast<size_t>(jobIndex) - 1], place);
        return JTAPI_OK;
    case Level::Address: {
        if (!InRange(jobIndex, report.jobs.size()))
            return JTAPI_ERR_NO_SUCH_FIELD;
        const Job &job = report.jobs[static_cast<size_t>(jobIndex) - 1];
        if (!InRange(addressIndex, static_cast<size_t>(*job.counts[kAddressCount])))
            return JTAPI_ERR_NO_SUCH_FIELD;
        value = ValueAt(report.addresses[job.firstAddress + static_cast<size_t>(addressIndex) - 1],
                        place);
        return JTAPI_OK;
    }
    case Level::Unknown:
        break;
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
        LOG_RECORD(logSpecError, "%s(): no report handle", function);
        return JTAPI_ERR_ARGUMENT;
    }
    // The caller's handle may hold anything before this call; on failure it is left empty.
    report->data = nullptr;
    if (kind != JTAPI_REPORT_COMPLETED_IFAX) {
        LOG_RECORD(logSpecError, "%s(): unknown report kind %d", function, static_cast<int>(kind));
        return JTAPI_ERR_ARGUMENT;
    }
    try {
        std::unique_ptr<Report> loaded;
        int32_t status = LoadReport(DatabasePath(), loaded);
        if (status == JTAPI_OK)
            report->data = loaded.release();
        return status;
    } catch (...) {
        // Only the containers throw here, and only when memory runs out.
        LOG_RECORD(logSpecError, "%s(): out of memory", function);
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
