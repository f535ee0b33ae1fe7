// Tests of the job tracker stand-in against real SQLite databases built in a temporary folder:
// the fields it hands out, the values it refuses, and failures (unusable paths, no memory, a
// writer's lock).

#include "../files.h"
#include "faults.h"
#include "jtapi.h"

#include <ctime>
#include <sqlite3.h>

namespace {

// A failed look-up as Value() shows it.
std::string Status(int32_t status) { return "status " + std::to_string(status); }
const std::string kMissing = Status(JTAPI_ERR_MISSING), kRefused = Status(JTAPI_ERR_NO_SUCH_FIELD);
const int32_t kUnknownField = 13;

struct JobTrackerTest : ::testing::Test {
    void SetUp() override { setenv("JTAPI_DATABASE", path_.c_str(), 1); }

    // A field as text: a count as its number, a time with weekday, day of year and zone, a text
    // as stored; a failed look-up as Status() when it handed out no value and set aux to 0.
    std::string Value(int32_t field, int32_t job = 0, int32_t address = 0)
    {
        void *value = &report_;
        int32_t aux = -1;
        const int32_t status = jtapi_get_field_data(&report_, field, job, address, &value, &aux);
        if (status != JTAPI_OK || !value || aux != 0)
            return value || aux != 0 ? "a value or aux on failure" : Status(status);
        char text[64];
        if (field == JTAPI_SENT_DATE_TIME || field == JTAPI_COMPLETE_DATE_TIME ||
            field == JTAPI_STATUS_DATE_TIME) {
            const auto *time = static_cast<std::tm *>(value);
            return std::string(text, std::strftime(text, sizeof text, "%F %T %a %j %Z", time));
        }
        if (field == JTAPI_SUBJECT || field == JTAPI_FROM || field >= JTAPI_FRIENDLY_NAME)
            return static_cast<const char *>(value);
        return std::to_string(*static_cast<const int32_t *>(value));
    }

    // The tables of the sample database, and `rows` run after them.
    void MakeDatabase(const std::string &rows)
    {
        sqlite3 *db = nullptr;
        sqlite3_open(path_.c_str(), &db);
        const std::string sql = ReadFile(SAMPLE_DATABASE) + rows;
        const int made = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ASSERT_EQ(made, SQLITE_OK);
    }

    TempDir dir_;
    const std::string path_ = dir_ / "jobs.db";
    JTAPI_ReportData report_{nullptr};
};

// Every field from its own column, rows in id and position order, read whole at the first call
// (so the file may go), once every allocation of that call, SQLite's or ours, has failed in turn.
// Counts outside int32 or not integers, NULLs and impossible times are missing; Latin-9 bytes
// pass unchanged, a NUL ends a text; indexes outside a field's level, an unknown field and a
// released handle are refused.
TEST_F(JobTrackerTest, ReadsEveryFieldFromItsColumnWhateverAllocationFails)
{
    // These rows instead of the sample's jobs.
    MakeDatabase(
        "DELETE FROM addresses; DELETE FROM jobs;"
        "INSERT INTO jobs VALUES (40, '2024-02-29 23:59:59', '2040-07-01 12:00:00', 3, 2, 1, 0,"
        " 12, 345678, 'Q', 'a@b'), (7, '2023-02-30 10:00:00', '2023-01-01 12:00:0x', 2147483647,"
        " -2147483648, 2147483648, 2.5, 'x', NULL, CAST(X'436166E9A4' AS TEXT), X'416C00426F62'),"
        " (50, '0001-01-01 00:00:00', '2023-03-26 02:30:00', 1, 1, 1, 1, 1, 1, '', NULL),"
        " (60, '1969-12-31 23:59:59', '1970-01-01 00:59:59', 0, 0, 0, 0, 0, 0, '', '');"
        "INSERT INTO addresses VALUES (40, 30, 1, 5, '9999-12-31 23:59:59', 'Third', 'c@d'),"
        " (99, 1, 0, 0, NULL, 'Orphan', 'x'), (40, 10, 0, 1, '2023-01-01 12:00:60', 'First',"
        " NULL), (40, 20, -1, 3, NULL, 'S', 'b@d'),"
        // Positions that are no integers come after the integers, as SQLite orders them.
        " (50, 'b', 0, 0, NULL, 'Text', NULL), (50, 2.5, 0, 0, '2023-01-01 24:00:00', 'Real',"
        " NULL), (50, 2, 0, 0, '2000-02-29 12:00:00', 'Two', NULL);");
    tzset(); // the zone the C library reads once and keeps is no block of a failed read
    int32_t status = JTAPI_ERR_MEMORY;
    const auto read = [&] {
        status = jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, &report_);
    };
    faults::FailEachAllocationInTurn(
        read,
        [&](const faults::AllocationRun &run) {
            SCOPED_TRACE("allocation " + std::to_string(run.nth));
            EXPECT_EQ(report_.data != nullptr, status == JTAPI_OK);
            if (status == JTAPI_OK && run.failed) { // SQLite could do without that allocation
                jtapi_release_report_data(&report_);
            } else if (status != JTAPI_OK) {
                EXPECT_EQ(status, JTAPI_ERR_MEMORY);
                EXPECT_EQ(run.blocksKept, 0);
            }
        });
    ASSERT_EQ(status, JTAPI_OK);
    std::filesystem::remove(path_);
    const struct { int32_t field, job = 0, address = 0; std::string value; } expected[] = {
        {.field = JTAPI_NUM_JOBS, .value = "4"},
        {.field = JTAPI_NUM_RECIP, .job = 1, .value = "2147483647"},
        {.field = JTAPI_NUM_CONF, .job = 1, .value = "-2147483648"},
        {.field = JTAPI_NUM_UNCONF, .job = 1, .value = kMissing},
        {.field = JTAPI_FAILED, .job = 1, .value = kMissing},
        {.field = JTAPI_NUM_SCANNED, .job = 1, .value = kMissing},
        {.field = JTAPI_ATTACH_SIZE, .job = 1, .value = kMissing},
        {.field = JTAPI_SUBJECT, .job = 1, .value = "Caf\xE9\xA4"},
        {.field = JTAPI_FROM, .job = 1, .value = "Al"},
        {.field = JTAPI_NUM_ADDRESSES, .job = 1, .value = "0"},
        {.field = JTAPI_NUM_UNCONF, .job = 2, .value = "1"},
        {.field = JTAPI_FAILED, .job = 2, .value = "0"},
        {.field = JTAPI_NUM_SCANNED, .job = 2, .value = "12"},
        {.field = JTAPI_ATTACH_SIZE, .job = 2, .value = "345678"},
        {.field = JTAPI_NUM_ADDRESSES, .job = 2, .value = "3"},
        {.field = JTAPI_SUBJECT, .job = 3, .value = ""},
        {.field = JTAPI_FROM, .job = 3, .value = kMissing},
        {.field = JTAPI_EMAIL_ADDRESS, .job = 2, .address = 1, .value = kMissing},
        {.field = JTAPI_ADDR_TYPE, .job = 2, .address = 2, .value = "-1"},
        {.field = JTAPI_FRIENDLY_NAME, .job = 2, .address = 2, .value = "S"},
        {.field = JTAPI_EMAIL_ADDRESS, .job = 2, .address = 2, .value = "b@d"},
        {.field = JTAPI_PROC_STATE, .job = 2, .address = 3, .value = "5"},
        {.field = JTAPI_FRIENDLY_NAME, .job = 2, .address = 3, .value = "Third"},
        {.field = JTAPI_FRIENDLY_NAME, .job = 3, .address = 1, .value = "Two"},
        {.field = JTAPI_FRIENDLY_NAME, .job = 3, .address = 2, .value = "Real"},
        {.field = JTAPI_FRIENDLY_NAME, .job = 3, .address = 3, .value = "Text"},
        {.field = JTAPI_NUM_JOBS, .job = 1, .value = kRefused},
        {.field = JTAPI_SUBJECT, .value = kRefused},
        {.field = JTAPI_SUBJECT, .job = 5, .value = kRefused},
        {.field = JTAPI_SUBJECT, .job = 2, .address = 1, .value = kRefused},
        {.field = JTAPI_EMAIL_ADDRESS, .job = 2, .value = kRefused},
        {.field = JTAPI_EMAIL_ADDRESS, .job = 2, .address = 4, .value = kRefused},
        {.field = kUnknownField, .job = 2, .value = kRefused},
        // Times carry weekday, day of year and the local zone (TZ, set in CMakeLists.txt), with
        // the clock as stored, after 2038 too; days and seconds that do not exist are missing.
        {.field = JTAPI_SENT_DATE_TIME, .job = 2, .value = "2024-02-29 23:59:59 Thu 060 CET"},
        {.field = JTAPI_SENT_DATE_TIME, .job = 1, .value = kMissing},
        {.field = JTAPI_COMPLETE_DATE_TIME, .job = 2, .value = "2040-07-01 12:00:00 Sun 183 CEST"},
        {.field = JTAPI_STATUS_DATE_TIME, .job = 2, .address = 1, .value = kMissing},
        {.field = JTAPI_SENT_DATE_TIME, .job = 3, .value = "1-01-01 00:00:00 Mon 001 CET"},
        {.field = JTAPI_COMPLETE_DATE_TIME, .job = 1, .value = kMissing},
        {.field = JTAPI_COMPLETE_DATE_TIME, .job = 3, .value = "2023-03-26 02:30:00 Sun 085 CEST"},
        {.field = JTAPI_STATUS_DATE_TIME, .job = 2, .address = 3,
         .value = "9999-12-31 23:59:59 Fri 365 CET"},
        {.field = JTAPI_STATUS_DATE_TIME, .job = 3, .address = 1,
         .value = "2000-02-29 12:00:00 Tue 060 CET"}, // a leap day by the 400-year rule
        {.field = JTAPI_STATUS_DATE_TIME, .job = 3, .address = 2, .value = kMissing}, // hour 24
        // Times whose value is -1, as time texts or as instants, have their zone like any other.
        {.field = JTAPI_SENT_DATE_TIME, .job = 4, .value = "1969-12-31 23:59:59 Wed 365 CET"},
        {.field = JTAPI_COMPLETE_DATE_TIME, .job = 4, .value = "1970-01-01 00:59:59 Thu 001 CET"}};
    for (const auto &e : expected) {
        SCOPED_TRACE("field " + std::to_string(e.field) + " job " + std::to_string(e.job) +
                     " address " + std::to_string(e.address));
        EXPECT_EQ(Value(e.field, e.job, e.address), e.value);
    }
    EXPECT_EQ(jtapi_release_report_data(&report_), JTAPI_OK);
    EXPECT_EQ(Value(JTAPI_NUM_JOBS), Status(JTAPI_ERR_NOT_LOADED)) << "a released handle answers";
}

// Whatever stands at the path (nothing, a text file, a FIFO, a folder), the first call returns a
// status at once and leaves the handle empty.
TEST_F(JobTrackerTest, FirstCallFailsWithoutAUsableDatabase)
{
    const unsigned kBlockedOpenSeconds = 1; // a blocked open ends the test after this
    WriteFile(dir_ / "text.db", "id;subject\n1;not a database\n");
    mkfifo((dir_ / "fifo.db").c_str(), 0600);
    for (const char *name : {"absent.db", "text.db", "fifo.db", "."}) {
        setenv("JTAPI_DATABASE", (dir_ / name).c_str(), 1);
        report_.data = &report_;
        alarm(kBlockedOpenSeconds);
        const int32_t status =
            jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, &report_);
        alarm(0);
        EXPECT_EQ(status, JTAPI_ERR_DATABASE) << name;
        EXPECT_EQ(report_.data, nullptr) << name;
    }
}

// The tracker holds its database locked for writing for a while, and the host takes a signal
// every 100 microseconds: the report waits the lock out all the same.
TEST_F(JobTrackerTest, WaitsOutAWritersLockWhileSignalsArrive)
{
    const useconds_t kLockHeld = 1500000;  // below the 2 s the job tracker waits
    const suseconds_t kSignalEvery = 100;
    MakeDatabase("");
    int locked[2];
    ASSERT_EQ(pipe(locked), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        sqlite3 *own = nullptr;
        sqlite3_open(path_.c_str(), &own);
        const bool held =
            sqlite3_exec(own, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
        if (write(locked[1], &held, 1) == 1)
            usleep(kLockHeld);
        _exit(sqlite3_exec(own, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : 1);
    }
    bool held = false;
    ASSERT_EQ(read(locked[0], &held, 1), 1);
    ASSERT_TRUE(held) << "the writer could not lock the database";
    int32_t status = JTAPI_ERR_DATABASE;
    {
        const SignalsEvery often(kSignalEvery);
        status = jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, &report_);
    }
    int exit = 0;
    waitpid(writer, &exit, 0);
    EXPECT_EQ(status, JTAPI_OK);
    EXPECT_EQ(exit, 0) << "the writer failed";
    if (status == JTAPI_OK)
        jtapi_release_report_data(&report_);
}

} // namespace
