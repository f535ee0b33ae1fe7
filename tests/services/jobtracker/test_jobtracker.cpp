// Tests of the job tracker stand-in against real SQLite databases built in a temporary folder.

#include "../files.h"
#include "jtapi.h"

#include <cstdint>
#include <ctime>
#include <sqlite3.h>

namespace {

const char *const kSchema = R"(
CREATE TABLE jobs (
  id INTEGER PRIMARY KEY,
  sent_time TEXT, completed_time TEXT,
  num_recipients INTEGER, num_confirmed INTEGER, num_unconfirmed INTEGER,
  num_failed INTEGER, pages_scanned INTEGER, attachment_size INTEGER,
  subject TEXT, sender TEXT);
CREATE TABLE addresses (
  job_id INTEGER NOT NULL REFERENCES jobs(id), position INTEGER NOT NULL,
  addr_type INTEGER, proc_state INTEGER, status_time TEXT,
  friendly_name TEXT, email TEXT,
  PRIMARY KEY (job_id, position));
)";

class JobTrackerTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("JTAPI_DATABASE", path_.c_str(), 1); }
    void TearDown() override { jtapi_release_report_data(&report_); }

    // Runs SQL on the test database, creating the file when needed.
    void Execute(const std::string &sql)
    {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
        char *error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
            << (error ? error : "") << "\n" << sql;
        sqlite3_free(error);
        sqlite3_close(db);
    }

    // Creates the tables with `rows` in them and loads the report.
    void Load(const std::string &rows)
    {
        Execute(kSchema + rows);
        ASSERT_EQ(jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, &report_), JTAPI_OK);
    }

    // The status of a look-up; checks the promises every look-up keeps: aux 0, no value on failure.
    int32_t StatusOf(int32_t field, int32_t job, int32_t address = 0)
    {
        void *value = &aux_;
        int32_t aux = -1;
        int32_t status = jtapi_get_field_data(&report_, field, job, address, &value, &aux);
        EXPECT_EQ(aux, 0);
        EXPECT_TRUE(status == JTAPI_OK || value == nullptr) << "a value on failure, field " << field;
        return status;
    }

    // A field's value as text: a count as its number, a time through `format`, a text as stored.
    // Passes no aux, which callers may do.
    std::string Value(int32_t field, int32_t job = 0, int32_t address = 0,
                      const char *format = "%Y-%m-%d %H:%M:%S")
    {
        void *value = nullptr;
        EXPECT_EQ(jtapi_get_field_data(&report_, field, job, address, &value, nullptr), JTAPI_OK)
            << "field " << field << " job " << job << " address " << address;
        if (!value)
            return "<no value>";
        if (field == JTAPI_SUBJECT || field == JTAPI_FROM || field == JTAPI_FRIENDLY_NAME ||
            field == JTAPI_EMAIL_ADDRESS)
            return static_cast<const char *>(value);
        char text[64];
        if (field == JTAPI_SENT_DATE_TIME || field == JTAPI_COMPLETE_DATE_TIME ||
            field == JTAPI_STATUS_DATE_TIME)
            return std::string(text, std::strftime(text, sizeof text, format,
                                                   static_cast<const std::tm *>(value)));
        return std::to_string(*static_cast<const int32_t *>(value));
    }

    TempDir dir_;
    const std::string path_ = dir_ / "jobs.db";
    JTAPI_ReportData report_{nullptr};
    int32_t aux_ = 0;
};

// Every field of every level, from rows inserted out of order; the report is read whole at the
// first call, so it stays readable after the file is gone.
TEST_F(JobTrackerTest, ReadsEveryFieldInIdAndPositionOrder)
{
    const std::string longSubject(300, 'x');
    Load(R"(
INSERT INTO jobs VALUES (40, '2024-05-06 07:08:09', '2024-05-06 07:10:00', 3, 2, 1, 0, 12, 345678,
                         'Quarterly figures', 'accounts@example.org');
INSERT INTO jobs VALUES (7, '2023-11-30 23:59:58', '2023-12-01 00:00:05', 2147483647, -2147483648,
                         0, 0, 1, 2048, CAST(X'436166E9A4' AS TEXT), X'416C00426F62');
INSERT INTO jobs (id, subject, sender) VALUES (50, ')" + longSubject + R"(', '');
INSERT INTO addresses VALUES (40, 30, 1, 5, '2024-01-03 10:00:00', 'Third', 'c@example.org');
INSERT INTO addresses VALUES (40, 10, 0, 1, '2024-01-01 10:00:00', 'First', 'a@example.org');
INSERT INTO addresses VALUES (50, 1, 1, 9, '2024-02-01 08:30:00', X'', 'o@example.org');
INSERT INTO addresses VALUES (40, 20, -1, 3, '2024-01-02 10:00:00', 'Second', 'b@example.org');
INSERT INTO addresses VALUES (99, 1, 0, 0, NULL, 'Orphan', 'x@example.org');
)");
    std::filesystem::remove(path_);

    const struct {
        int32_t field, job, address;
        std::string value;
    } expected[] = {
        {JTAPI_NUM_JOBS, 0, 0, "3"},
        // Job 1 is the lowest id; the int32 extremes are counts; Latin-9 bytes that are not UTF-8
        // pass unchanged and a NUL ends a text.
        {JTAPI_SENT_DATE_TIME, 1, 0, "2023-11-30 23:59:58"}, {JTAPI_NUM_RECIP, 1, 0, "2147483647"},
        {JTAPI_COMPLETE_DATE_TIME, 1, 0, "2023-12-01 00:00:05"}, {JTAPI_NUM_CONF, 1, 0, "-2147483648"},
        {JTAPI_SUBJECT, 1, 0, "Caf\xE9\xA4"}, {JTAPI_FROM, 1, 0, "Al"}, {JTAPI_NUM_ADDRESSES, 1, 0, "0"},
        {JTAPI_NUM_RECIP, 2, 0, "3"}, {JTAPI_NUM_CONF, 2, 0, "2"}, {JTAPI_NUM_UNCONF, 2, 0, "1"},
        {JTAPI_FAILED, 2, 0, "0"}, {JTAPI_NUM_SCANNED, 2, 0, "12"}, {JTAPI_ATTACH_SIZE, 2, 0, "345678"},
        {JTAPI_SENT_DATE_TIME, 2, 0, "2024-05-06 07:08:09"}, {JTAPI_SUBJECT, 2, 0, "Quarterly figures"},
        {JTAPI_COMPLETE_DATE_TIME, 2, 0, "2024-05-06 07:10:00"}, {JTAPI_FROM, 2, 0, "accounts@example.org"},
        {JTAPI_NUM_ADDRESSES, 2, 0, "3"}, {JTAPI_FRIENDLY_NAME, 2, 1, "First"},
        {JTAPI_FRIENDLY_NAME, 2, 2, "Second"}, {JTAPI_FRIENDLY_NAME, 2, 3, "Third"},
        {JTAPI_EMAIL_ADDRESS, 2, 2, "b@example.org"}, {JTAPI_STATUS_DATE_TIME, 2, 2, "2024-01-02 10:00:00"},
        // Address codes are passed on, not judged.
        {JTAPI_ADDR_TYPE, 2, 1, "0"}, {JTAPI_ADDR_TYPE, 2, 2, "-1"}, {JTAPI_PROC_STATE, 2, 3, "5"},
        // A long text is whole; an empty one is present, not missing.
        {JTAPI_SUBJECT, 3, 0, longSubject}, {JTAPI_FROM, 3, 0, ""}, {JTAPI_NUM_ADDRESSES, 3, 0, "1"},
        {JTAPI_FRIENDLY_NAME, 3, 1, ""}, {JTAPI_PROC_STATE, 3, 1, "9"},
        {JTAPI_STATUS_DATE_TIME, 3, 1, "2024-02-01 08:30:00"},
    };
    for (const auto &e : expected)
        EXPECT_EQ(Value(e.field, e.job, e.address), e.value) << "field " << e.field << " job " << e.job;
}

// Times that exist parse and carry weekday and day of year, at job and address level.
TEST_F(JobTrackerTest, TimesCarryWeekdayAndDayOfYear)
{
    const char *times[][2] = {
        {"2024-02-29 23:59:59", "Thu 060"}, {"2000-02-29 00:00:00", "Tue 060"},
        {"1000-01-01 00:00:00", "Wed 001"}, {"9999-12-31 23:59:59", "Fri 365"},
        {"2023-12-31 18:00:00", "Sun 365"}, {"1969-07-20 20:17:40", "Sun 201"},
        {"2100-03-01 00:00:00", "Mon 060"}, {"0001-01-01 00:00:00", "Mon 001"},
        {"2024-03-01 09:00:00", "Fri 061"}};
    std::string rows = "INSERT INTO addresses VALUES (1, 1, 0, 0, '2024-12-31 23:59:59', 'A', 'a');\n";
    for (const auto &time : times)
        rows += std::string("INSERT INTO jobs (sent_time, completed_time) VALUES ('") + time[0] +
                "', '" + time[0] + "');\n";
    Load(rows);

    int32_t job = 0;
    for (const auto &time : times) {
        const std::string expected = std::string(time[0]) + " " + time[1];
        EXPECT_EQ(Value(JTAPI_SENT_DATE_TIME, ++job, 0, "%04Y-%m-%d %H:%M:%S %a %j"), expected);
        EXPECT_EQ(Value(JTAPI_COMPLETE_DATE_TIME, job, 0, "%04Y-%m-%d %H:%M:%S %a %j"), expected);
    }
    EXPECT_EQ(Value(JTAPI_STATUS_DATE_TIME, 1, 1, "%A %d %B %Y %j"), "Tuesday 31 December 2024 366");
}

TEST_F(JobTrackerTest, TimesCarryTheLocalZoneWithoutMovingTheClock)
{
    // A zone rule written out in full needs no zone database on the machine.
    const char *zone = std::getenv("TZ");
    const std::string savedZone = zone ? zone : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    Load(R"(
INSERT INTO jobs (id, sent_time, completed_time) VALUES
  (1, '2023-01-15 12:00:00', '2023-07-01 12:00:00'), (2, '2023-03-26 02:30:00', NULL);
)");

    EXPECT_EQ(Value(JTAPI_SENT_DATE_TIME, 1, 0, "%H:%M %Z %z"), "12:00 CET +0100");
    EXPECT_EQ(Value(JTAPI_COMPLETE_DATE_TIME, 1, 0, "%H:%M %Z %z"), "12:00 CEST +0200");
    // 02:30 does not exist on the morning the clocks go forward; it is still shown as stored.
    EXPECT_EQ(Value(JTAPI_SENT_DATE_TIME, 2, 0, "%Y-%m-%d %H:%M:%S %a"), "2023-03-26 02:30:00 Sun");
    zone ? setenv("TZ", savedZone.c_str(), 1) : unsetenv("TZ");
    tzset();
}

// NULL columns, counts outside int32 or not integers, and time texts that do not parse or name
// a day that does not exist are all missing fields.
TEST_F(JobTrackerTest, UnusableValuesAreMissingFields)
{
    const char *badTimes[] = {
        "2023-02-30 10:00:00", "1900-02-29 12:00:00", "2023-04-31 12:00:00", "2023-13-01 12:00:00",
        "2023-00-10 12:00:00", "2023-01-00 12:00:00", "0000-01-01 00:00:00", "2023-01-01 24:00:00",
        "2023-01-01 12:60:00", "2023-01-01 12:00:60", "2023-01-01 12:00:00 ", "2023-01-01T12:00:00",
        "2023-1-01 12:00:00",  "2023-01-01",          "",                    "+023-01-01 12:00:00",
        "2023-01-01 12:00:0x", " 2023-01-01 12:00:0"};
    std::string rows = R"(
INSERT INTO jobs (id) VALUES (1);
INSERT INTO addresses (job_id, position) VALUES (1, 1);
INSERT INTO jobs (id, num_recipients, num_confirmed, num_unconfirmed, num_failed, sent_time)
  VALUES (2, 2147483648, -2147483649, 2.5, 'many', 20230101);
)";
    for (const char *text : badTimes)
        rows += std::string("INSERT INTO jobs (sent_time) VALUES ('") + text + "');\n";
    Load(rows);

    for (int32_t field : {JTAPI_NUM_RECIP, JTAPI_NUM_CONF, JTAPI_NUM_UNCONF, JTAPI_FAILED,
                          JTAPI_NUM_SCANNED, JTAPI_ATTACH_SIZE, JTAPI_SENT_DATE_TIME,
                          JTAPI_COMPLETE_DATE_TIME, JTAPI_SUBJECT, JTAPI_FROM})
        EXPECT_EQ(StatusOf(field, 1), JTAPI_ERR_MISSING) << "NULL field " << field;
    for (int32_t field : {JTAPI_ADDR_TYPE, JTAPI_PROC_STATE, JTAPI_STATUS_DATE_TIME,
                          JTAPI_FRIENDLY_NAME, JTAPI_EMAIL_ADDRESS})
        EXPECT_EQ(StatusOf(field, 1, 1), JTAPI_ERR_MISSING) << "NULL field " << field;
    // The address count is never missing: it counts rows.
    EXPECT_EQ(Value(JTAPI_NUM_ADDRESSES, 1), "1");

    for (int32_t field : {JTAPI_NUM_RECIP, JTAPI_NUM_CONF, JTAPI_NUM_UNCONF, JTAPI_FAILED,
                          JTAPI_SENT_DATE_TIME})
        EXPECT_EQ(StatusOf(field, 2), JTAPI_ERR_MISSING) << "out of range or not a number: " << field;
    int32_t job = 2;
    for (const char *text : badTimes)
        EXPECT_EQ(StatusOf(JTAPI_SENT_DATE_TIME, ++job), JTAPI_ERR_MISSING) << "'" << text << "'";
}

// Indexes outside the field's level, unknown field ids, NULL arguments, an emptied handle.
TEST_F(JobTrackerTest, LookUpsOutsideTheReportAreRejected)
{
    Load(R"(
INSERT INTO jobs (id, subject) VALUES (1, 'one'), (2, 'two');
INSERT INTO addresses (job_id, position, email) VALUES (1, 1, 'a'), (1, 2, 'b');
)");
    JTAPI_ReportData other{&aux_};
    EXPECT_EQ(jtapi_get_completed_jobs_report_data(4, &other), JTAPI_ERR_ARGUMENT);
    EXPECT_EQ(other.data, nullptr);
    EXPECT_EQ(jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, nullptr), JTAPI_ERR_ARGUMENT);

    const int32_t outside[][3] = { // field, job, address
        {JTAPI_NUM_JOBS, 1, 0}, {JTAPI_NUM_JOBS, 0, 1}, {JTAPI_SUBJECT, 0, 0}, {JTAPI_SUBJECT, 3, 0},
        {JTAPI_SUBJECT, -1, 0}, {JTAPI_SUBJECT, INT32_MIN, 0}, {JTAPI_SUBJECT, 1, 1},
        {JTAPI_NUM_ADDRESSES, 1, 1},
        {JTAPI_EMAIL_ADDRESS, 1, 0}, {JTAPI_EMAIL_ADDRESS, 1, 3}, {JTAPI_EMAIL_ADDRESS, 1, -1},
        {JTAPI_EMAIL_ADDRESS, 2, 1}, {JTAPI_EMAIL_ADDRESS, 0, 1}, {JTAPI_EMAIL_ADDRESS, 3, 1},
        {1, 1, 0}, {7, 1, 0}, {8, 1, 1}, {9, 1, 0}, {13, 1, 1}, {22, 1, 1}, {-1, 1, 0}};
    for (const auto &at : outside)
        EXPECT_EQ(StatusOf(at[0], at[1], at[2]), JTAPI_ERR_NO_SUCH_FIELD)
            << "field " << at[0] << " job " << at[1] << " address " << at[2];
    // The indexes just inside the range still work.
    EXPECT_EQ(Value(JTAPI_SUBJECT, 2), "two");
    EXPECT_EQ(Value(JTAPI_EMAIL_ADDRESS, 1, 2), "b");

    void *value = nullptr;
    EXPECT_EQ(jtapi_get_field_data(nullptr, JTAPI_NUM_JOBS, 0, 0, &value, nullptr), JTAPI_ERR_ARGUMENT);
    EXPECT_EQ(jtapi_get_field_data(&report_, JTAPI_NUM_JOBS, 0, 0, nullptr, nullptr), JTAPI_ERR_ARGUMENT);
    EXPECT_EQ(jtapi_release_report_data(nullptr), JTAPI_ERR_ARGUMENT);
    // Release empties the handle; a second release and a look-up on it find nothing loaded.
    EXPECT_EQ(jtapi_release_report_data(&report_), JTAPI_OK);
    EXPECT_EQ(report_.data, nullptr);
    EXPECT_EQ(jtapi_release_report_data(&report_), JTAPI_ERR_NOT_LOADED);
    EXPECT_EQ(StatusOf(JTAPI_NUM_JOBS, 0), JTAPI_ERR_NOT_LOADED);
}

TEST_F(JobTrackerTest, FirstCallFailsWithoutAUsableDatabase)
{
    // Fails on what is at the database path, whatever the caller's handle held before, and removes it.
    auto expectFailure = [this](const char *what) {
        report_.data = &aux_;
        EXPECT_EQ(jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, &report_),
                  JTAPI_ERR_DATABASE) << what;
        EXPECT_EQ(report_.data, nullptr) << what;
        EXPECT_EQ(jtapi_release_report_data(&report_), JTAPI_ERR_NOT_LOADED) << what;
        std::filesystem::remove_all(path_);
    };
    expectFailure("absent file");
    EXPECT_FALSE(std::filesystem::exists(path_)) << "the database must never be created";
    WriteFile(path_, "id;subject\n1;not a database\n");
    expectFailure("text file");
    Execute("CREATE TABLE other (x INTEGER);");
    expectFailure("database without the tables");
    Execute("CREATE TABLE other (x INTEGER); CREATE TABLE jobs (id INTEGER PRIMARY KEY, subject TEXT);");
    expectFailure("jobs table with columns missing");
    Execute(std::string(kSchema) + "DROP TABLE addresses;");
    expectFailure("addresses table missing");
    std::filesystem::create_directory(path_);
    expectFailure("a folder");

    // Tables without rows are a report of no jobs.
    Load("");
    EXPECT_EQ(Value(JTAPI_NUM_JOBS), "0");
    EXPECT_EQ(StatusOf(JTAPI_NUM_ADDRESSES, 1), JTAPI_ERR_NO_SUCH_FIELD);
}

} // namespace
