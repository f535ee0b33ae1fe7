// Tests of the job tracker stand-in against real SQLite databases built in a temporary folder:
// the fields it hands out, the values it refuses, and failures (unusable paths, no memory).

#include "../files.h"
#include "jtapi.h"

#include <ctime>
#include <sqlite3.h>
#include <unistd.h>

namespace {

// Allocations left, SQLite's and operator new's together, before one fails; negative: no limit.
int allocationsLeft = -1;
sqlite3_mem_methods sqliteAllocator; // SQLite's own, which the failing one wraps

bool MayAllocate() { return allocationsLeft != 0 && (allocationsLeft -= allocationsLeft > 0, true); }
void *FailingMalloc(int size) { return MayAllocate() ? sqliteAllocator.xMalloc(size) : nullptr; }
void *FailingRealloc(void *block, int size) { return MayAllocate() ? sqliteAllocator.xRealloc(block, size) : nullptr; }
// Set up before SQLite starts, which is the only time it takes another allocator.
const bool kSqliteAllocationsMayFail = [] {
    static sqlite3_mem_methods failing;
    sqlite3_config(SQLITE_CONFIG_GETMALLOC, &sqliteAllocator);
    failing = sqliteAllocator;
    failing.xMalloc = FailingMalloc;
    failing.xRealloc = FailingRealloc;
    return sqlite3_config(SQLITE_CONFIG_MALLOC, &failing) == SQLITE_OK;
}();

struct JobTrackerTest : ::testing::Test {
    void SetUp() override { setenv("JTAPI_DATABASE", path_.c_str(), 1); }

    // A field as text: a count as its number, a time with weekday, day of year and zone, a text as
    // stored; a failed look-up as "status N" when it handed out no value and set aux to 0.
    std::string Value(int32_t field, int32_t job = 0, int32_t address = 0)
    {
        void *value = &report_;
        int32_t aux = -1, status = jtapi_get_field_data(&report_, field, job, address, &value, &aux);
        char text[64];
        if (status != JTAPI_OK || !value || aux != 0)
            return value || aux != 0 ? "a value or aux on failure" : "status " + std::to_string(status);
        if (field == JTAPI_SENT_DATE_TIME || field == JTAPI_COMPLETE_DATE_TIME || field == JTAPI_STATUS_DATE_TIME)
            return std::string(text, std::strftime(text, sizeof text, "%F %T %a %j %Z", static_cast<std::tm *>(value)));
        if (field == JTAPI_SUBJECT || field == JTAPI_FROM || field >= JTAPI_FRIENDLY_NAME)
            return static_cast<const char *>(value);
        return std::to_string(*static_cast<const int32_t *>(value));
    }

    TempDir dir_;
    const std::string path_ = dir_ / "jobs.db";
    JTAPI_ReportData report_{nullptr};
};

// Every field from its own column, rows in id and position order, read whole at the first call (so
// the file may go), once every allocation that could fail, SQLite's or ours, has failed in turn.
// Counts outside int32 or not integers, NULLs and impossible times are missing (6); Latin-9 bytes
// pass unchanged, a NUL ends a text; indexes outside a field's level, an unknown field (5) and a
// released handle (4) are refused.
TEST_F(JobTrackerTest, ReadsEveryFieldFromItsColumnWhateverAllocationFails)
{
    // The tables of the sample database, with these rows instead of its jobs.
    sqlite3 *db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    ASSERT_EQ(sqlite3_exec(db, (ReadFile(SAMPLE_DATABASE) + "DELETE FROM addresses; DELETE FROM jobs;"
           "INSERT INTO jobs VALUES (40, '2024-02-29 23:59:59', '2040-07-01 12:00:00', 3, 2, 1, 0, 12, 345678, 'Q',"
           " 'a@b'), (7, '2023-02-30 10:00:00', '2023-01-01 12:00:0x', 2147483647, -2147483648, 2147483648, 2.5, 'x',"
           " NULL, CAST(X'436166E9A4' AS TEXT), X'416C00426F62'), (50, '0001-01-01 00:00:00', '2023-03-26 02:30:00',"
           " 1, 1, 1, 1, 1, 1, '', NULL);"
           "INSERT INTO addresses VALUES (40, 30, 1, 5, '9999-12-31 23:59:59', 'Third', 'c@d'), (99, 1, 0, 0, NULL,"
           " 'Orphan', 'x'), (40, 10, 0, 1, '2023-01-01 12:00:60', 'First', NULL), (40, 20, -1, 3, NULL, 'S', 'b@d'),"
           // Positions that are no integers come after the integers, as SQLite orders them.
           " (50, 'b', 0, 0, NULL, 'Text', NULL), (50, 2.5, 0, 0, NULL, 'Real', NULL), (50, 2, 0, 0, NULL, 'Two', NULL);")
                           .c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ASSERT_TRUE(kSqliteAllocationsMayFail) << "SQLite kept its own allocator";
    int32_t status = JTAPI_ERR_MEMORY;
    for (int allowed = 0; status == JTAPI_ERR_MEMORY; ++allowed) {
        allocationsLeft = allowed;
        status = jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, &report_);
        allocationsLeft = -1;
        EXPECT_EQ(report_.data != nullptr, status == JTAPI_OK) << "allocation " << allowed;
    }
    std::filesystem::remove(path_);
    const struct {
        int32_t field, job, address;
        const char *value;
    } expected[] = {
        {JTAPI_NUM_JOBS, 0, 0, "3"}, {JTAPI_NUM_RECIP, 1, 0, "2147483647"}, {JTAPI_NUM_CONF, 1, 0, "-2147483648"},
        {JTAPI_NUM_UNCONF, 1, 0, "status 6"}, {JTAPI_FAILED, 1, 0, "status 6"}, {JTAPI_NUM_SCANNED, 1, 0, "status 6"},
        {JTAPI_ATTACH_SIZE, 1, 0, "status 6"}, {JTAPI_SUBJECT, 1, 0, "Caf\xE9\xA4"}, {JTAPI_FROM, 1, 0, "Al"},
        {JTAPI_NUM_ADDRESSES, 1, 0, "0"}, {JTAPI_NUM_UNCONF, 2, 0, "1"}, {JTAPI_FAILED, 2, 0, "0"},
        {JTAPI_NUM_SCANNED, 2, 0, "12"}, {JTAPI_ATTACH_SIZE, 2, 0, "345678"}, {JTAPI_NUM_ADDRESSES, 2, 0, "3"},
        {JTAPI_SUBJECT, 3, 0, ""}, {JTAPI_FROM, 3, 0, "status 6"}, {JTAPI_EMAIL_ADDRESS, 2, 1, "status 6"},
        {JTAPI_ADDR_TYPE, 2, 2, "-1"}, {JTAPI_FRIENDLY_NAME, 2, 2, "S"}, {JTAPI_EMAIL_ADDRESS, 2, 2, "b@d"},
        {JTAPI_PROC_STATE, 2, 3, "5"}, {JTAPI_FRIENDLY_NAME, 2, 3, "Third"}, {JTAPI_FRIENDLY_NAME, 3, 1, "Two"},
        {JTAPI_FRIENDLY_NAME, 3, 2, "Real"}, {JTAPI_FRIENDLY_NAME, 3, 3, "Text"}, {JTAPI_NUM_JOBS, 1, 0, "status 5"},
        {JTAPI_SUBJECT, 0, 0, "status 5"}, {JTAPI_SUBJECT, 4, 0, "status 5"}, {JTAPI_SUBJECT, 2, 1, "status 5"},
        {JTAPI_EMAIL_ADDRESS, 2, 0, "status 5"}, {JTAPI_EMAIL_ADDRESS, 2, 4, "status 5"}, {13, 2, 0, "status 5"},
        // Times carry weekday, day of year and the local zone (TZ, set in CMakeLists.txt), with the
        // clock as stored, after 2038 too; days and seconds that do not exist are missing.
        {JTAPI_SENT_DATE_TIME, 2, 0, "2024-02-29 23:59:59 Thu 060 CET"}, {JTAPI_SENT_DATE_TIME, 1, 0, "status 6"},
        {JTAPI_COMPLETE_DATE_TIME, 2, 0, "2040-07-01 12:00:00 Sun 183 CEST"}, {JTAPI_STATUS_DATE_TIME, 2, 1, "status 6"},
        {JTAPI_SENT_DATE_TIME, 3, 0, "1-01-01 00:00:00 Mon 001 CET"}, {JTAPI_COMPLETE_DATE_TIME, 1, 0, "status 6"},
        {JTAPI_COMPLETE_DATE_TIME, 3, 0, "2023-03-26 02:30:00 Sun 085 CEST"},
        {JTAPI_STATUS_DATE_TIME, 2, 3, "9999-12-31 23:59:59 Fri 365 CET"}};
    for (const auto &e : expected)
        EXPECT_EQ(Value(e.field, e.job, e.address), e.value) << "field " << e.field << " job " << e.job;
    EXPECT_EQ(jtapi_release_report_data(&report_), JTAPI_OK);
    EXPECT_EQ(Value(JTAPI_NUM_JOBS), "status 4") << "a released handle still answers";
}

// Whatever stands at the path, the first call returns a status at once and leaves the handle empty.
TEST_F(JobTrackerTest, FirstCallFailsWithoutAUsableDatabase)
{
    WriteFile(dir_ / "text.db", "id;subject\n1;not a database\n");
    mkfifo((dir_ / "fifo.db").c_str(), 0600);
    for (const char *name : {"absent.db", "text.db", "fifo.db", "."}) {
        setenv("JTAPI_DATABASE", (dir_ / name).c_str(), 1);
        report_.data = &report_;
        alarm(1); // a blocked open ends the test here
        EXPECT_EQ(jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, &report_), JTAPI_ERR_DATABASE) << name;
        alarm(0);
        EXPECT_EQ(report_.data, nullptr) << name;
    }
}

} // namespace

// Out of line, so that the compiler does not take the free() below for a mismatch with new.
__attribute__((noinline)) void *operator new(size_t size)
{
    void *block = MayAllocate() ? std::malloc(size ? size : 1) : nullptr;
    return block ? block : throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, size_t) noexcept { ::operator delete(block); }
