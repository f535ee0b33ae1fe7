// Tests of the job tracker stand-in against real SQLite databases built in a temporary folder.

#include "jtapi.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

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

const int32_t kJobFields[] = {JTAPI_NUM_RECIP,      JTAPI_NUM_CONF,           JTAPI_NUM_UNCONF,
                              JTAPI_FAILED,         JTAPI_NUM_SCANNED,        JTAPI_ATTACH_SIZE,
                              JTAPI_SENT_DATE_TIME, JTAPI_COMPLETE_DATE_TIME, JTAPI_SUBJECT,
                              JTAPI_FROM};
const int32_t kAddressFields[] = {JTAPI_ADDR_TYPE, JTAPI_PROC_STATE, JTAPI_STATUS_DATE_TIME,
                                  JTAPI_FRIENDLY_NAME, JTAPI_EMAIL_ADDRESS};

// Sets an environment variable for one test and puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name))
            old_ = old;
        setenv(name, value, 1);
        tzset();
    }
    ~ScopedEnv()
    {
        if (old_.empty())
            unsetenv(name_.c_str());
        else
            setenv(name_.c_str(), old_.c_str(), 1);
        tzset();
    }

private:
    std::string name_;
    std::string old_;
};

class JobTrackerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "jobtracker-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/jobs.db";
        setenv("JTAPI_DATABASE", path_.c_str(), 1);
    }

    void TearDown() override
    {
        jtapi_release_report_data(&report_);
        std::filesystem::remove_all(dir_);
    }

    // Runs SQL on the test database, creating the file when needed.
    void Execute(const std::string &sql)
    {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
        char *error = nullptr;
        int status = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
        EXPECT_EQ(status, SQLITE_OK) << (error ? error : "") << "\n" << sql;
        sqlite3_free(error);
        sqlite3_close(db);
    }

    void CreateDatabase(const std::string &rows) { Execute(kSchema + rows); }

    void Load() { ASSERT_EQ(jtapi_get_completed_jobs_report_data(5, &report_), JTAPI_OK); }

    // The status of a look-up; checks the promises every failing look-up keeps.
    int32_t StatusOf(int32_t field, int32_t job, int32_t address)
    {
        void *value = &aux_;
        int32_t aux = -1;
        int32_t status = jtapi_get_field_data(&report_, field, job, address, &value, &aux);
        EXPECT_EQ(aux, 0);
        if (status != JTAPI_OK) {
            EXPECT_EQ(value, nullptr) << "field " << field;
        }
        return status;
    }

    const void *ValueOf(int32_t field, int32_t job, int32_t address)
    {
        void *value = nullptr;
        int32_t status = jtapi_get_field_data(&report_, field, job, address, &value, nullptr);
        EXPECT_EQ(status, JTAPI_OK) << "field " << field << " job " << job << " address " << address;
        return value;
    }

    int32_t Count(int32_t field, int32_t job = 0, int32_t address = 0)
    {
        const void *value = ValueOf(field, job, address);
        return value ? *static_cast<const int32_t *>(value) : -999;
    }

    std::string Text(int32_t field, int32_t job, int32_t address = 0)
    {
        const void *value = ValueOf(field, job, address);
        return value ? static_cast<const char *>(value) : "<no value>";
    }

    std::string Time(int32_t field, int32_t job, int32_t address = 0,
                     const char *format = "%Y-%m-%d %H:%M:%S")
    {
        const void *value = ValueOf(field, job, address);
        char text[64] = "<no value>";
        if (value)
            std::strftime(text, sizeof text, format, static_cast<const std::tm *>(value));
        return text;
    }

    std::string dir_;
    std::string path_;
    JTAPI_ReportData report_{nullptr};
    int32_t aux_ = 0;
};

TEST_F(JobTrackerTest, ReadsJobFieldsInAscendingIdOrder)
{
    CreateDatabase(R"(
INSERT INTO jobs VALUES (40, '2024-05-06 07:08:09', '2024-05-06 07:10:00', 3, 2, 1, 0, 12, 345678,
                         'Quarterly figures', 'accounts@example.org');
INSERT INTO jobs VALUES (7, '2023-11-30 23:59:58', '2023-12-01 00:00:05', 1, 1, 0, 0, 1, 2048,
                         'Hello', 'desk@example.org');
)");
    Load();

    EXPECT_EQ(Count(JTAPI_NUM_JOBS), 2);
    // Job 1 is the lower id, whatever the insertion order.
    EXPECT_EQ(Text(JTAPI_SUBJECT, 1), "Hello");
    EXPECT_EQ(Time(JTAPI_SENT_DATE_TIME, 1), "2023-11-30 23:59:58");
    EXPECT_EQ(Time(JTAPI_COMPLETE_DATE_TIME, 1), "2023-12-01 00:00:05");

    EXPECT_EQ(Count(JTAPI_NUM_RECIP, 2), 3);
    EXPECT_EQ(Count(JTAPI_NUM_CONF, 2), 2);
    EXPECT_EQ(Count(JTAPI_NUM_UNCONF, 2), 1);
    EXPECT_EQ(Count(JTAPI_FAILED, 2), 0);
    EXPECT_EQ(Count(JTAPI_NUM_SCANNED, 2), 12);
    EXPECT_EQ(Count(JTAPI_ATTACH_SIZE, 2), 345678);
    EXPECT_EQ(Time(JTAPI_SENT_DATE_TIME, 2), "2024-05-06 07:08:09");
    EXPECT_EQ(Time(JTAPI_COMPLETE_DATE_TIME, 2), "2024-05-06 07:10:00");
    EXPECT_EQ(Text(JTAPI_SUBJECT, 2), "Quarterly figures");
    EXPECT_EQ(Text(JTAPI_FROM, 2), "accounts@example.org");
}

TEST_F(JobTrackerTest, ReadsAddressesOfEachJobInPositionOrder)
{
    CreateDatabase(R"(
INSERT INTO jobs (id) VALUES (1), (2), (3);
INSERT INTO addresses VALUES (1, 30, 1, 5, '2024-01-03 10:00:00', 'Third', 'c@example.org');
INSERT INTO addresses VALUES (1, 10, 0, 1, '2024-01-01 10:00:00', 'First', 'a@example.org');
INSERT INTO addresses VALUES (3, 1, 1, 9, '2024-02-01 08:30:00', 'Only', 'o@example.org');
INSERT INTO addresses VALUES (1, 20, -1, 3, '2024-01-02 10:00:00', 'Second', 'b@example.org');
INSERT INTO addresses VALUES (99, 1, 0, 0, NULL, 'Orphan', 'x@example.org');
)");
    Load();

    EXPECT_EQ(Count(JTAPI_NUM_ADDRESSES, 1), 3);
    EXPECT_EQ(Count(JTAPI_NUM_ADDRESSES, 2), 0);
    EXPECT_EQ(Count(JTAPI_NUM_ADDRESSES, 3), 1);

    EXPECT_EQ(Text(JTAPI_FRIENDLY_NAME, 1, 1), "First");
    EXPECT_EQ(Text(JTAPI_FRIENDLY_NAME, 1, 2), "Second");
    EXPECT_EQ(Text(JTAPI_FRIENDLY_NAME, 1, 3), "Third");
    EXPECT_EQ(Text(JTAPI_EMAIL_ADDRESS, 1, 2), "b@example.org");
    EXPECT_EQ(Count(JTAPI_ADDR_TYPE, 1, 1), JTAPI_TYPE_TO);
    EXPECT_EQ(Count(JTAPI_ADDR_TYPE, 1, 2), -1);  // codes are passed on, not judged
    EXPECT_EQ(Count(JTAPI_PROC_STATE, 1, 3), JTAPI_PROCESS_STATE_REJECTED);
    EXPECT_EQ(Time(JTAPI_STATUS_DATE_TIME, 1, 2), "2024-01-02 10:00:00");

    EXPECT_EQ(Text(JTAPI_FRIENDLY_NAME, 3, 1), "Only");
    EXPECT_EQ(Count(JTAPI_PROC_STATE, 3, 1), 9);
    EXPECT_EQ(Time(JTAPI_STATUS_DATE_TIME, 3, 1), "2024-02-01 08:30:00");
}

TEST_F(JobTrackerTest, NullColumnsAreMissingFields)
{
    CreateDatabase(R"(
INSERT INTO jobs (id) VALUES (1);
INSERT INTO addresses (job_id, position) VALUES (1, 1);
)");
    Load();

    for (int32_t field : kJobFields)
        EXPECT_EQ(StatusOf(field, 1, 0), JTAPI_ERR_MISSING) << "field " << field;
    for (int32_t field : kAddressFields)
        EXPECT_EQ(StatusOf(field, 1, 1), JTAPI_ERR_MISSING) << "field " << field;
    // The address count is never missing: it counts rows.
    EXPECT_EQ(Count(JTAPI_NUM_ADDRESSES, 1), 1);
}

TEST_F(JobTrackerTest, OnlyWellFormedExistingTimesParse)
{
    const char *valid[] = {"2024-02-29 23:59:59", "2000-02-29 00:00:00", "1000-01-01 00:00:00",
                           "9999-12-31 23:59:59"};
    const char *invalid[] = {
        "2023-02-30 10:00:00", "1900-02-29 12:00:00", "2023-04-31 12:00:00", "2023-13-01 12:00:00",
        "2023-00-10 12:00:00", "2023-01-00 12:00:00", "0000-01-01 00:00:00", "2023-01-01 24:00:00",
        "2023-01-01 12:60:00", "2023-01-01 12:00:60", "2023-01-01 12:00:00 ", "2023-01-01T12:00:00",
        "2023-1-01 12:00:00",  "2023-01-01",          "",                    "+023-01-01 12:00:00",
        "2023-01-01 12:00:0x", " 2023-01-01 12:00:0"};
    std::string rows;
    int id = 0;
    for (const char *text : valid)
        rows += "INSERT INTO jobs (id, sent_time) VALUES (" + std::to_string(++id) + ", '" + text + "');\n";
    for (const char *text : invalid)
        rows += "INSERT INTO jobs (id, sent_time) VALUES (" + std::to_string(++id) + ", '" + text + "');\n";
    rows += "INSERT INTO jobs (id, sent_time) VALUES (" + std::to_string(++id) + ", 20230101);\n";
    CreateDatabase(rows);
    Load();

    id = 0;
    for (const char *text : valid)
        EXPECT_EQ(Time(JTAPI_SENT_DATE_TIME, ++id), text);
    for (const char *text : invalid)
        EXPECT_EQ(StatusOf(JTAPI_SENT_DATE_TIME, ++id, 0), JTAPI_ERR_MISSING) << "'" << text << "'";
    EXPECT_EQ(StatusOf(JTAPI_SENT_DATE_TIME, ++id, 0), JTAPI_ERR_MISSING) << "a number";
}

TEST_F(JobTrackerTest, TimesCarryWeekdayAndDayOfYear)
{
    CreateDatabase(R"(
INSERT INTO jobs (id, sent_time, completed_time) VALUES
  (1, '2024-03-01 09:00:00', '2023-12-31 18:00:00'),
  (2, '2000-02-29 12:00:00', '1969-07-20 20:17:40'),
  (3, '1999-01-01 00:00:00', '2100-03-01 00:00:00'),
  (4, '0001-01-01 00:00:00', NULL);
INSERT INTO addresses VALUES (1, 1, 0, 0, '2024-12-31 23:59:59', 'A', 'a@example.org');
)");
    Load();

    EXPECT_EQ(Time(JTAPI_SENT_DATE_TIME, 1, 0, "%a %j"), "Fri 061");
    EXPECT_EQ(Time(JTAPI_COMPLETE_DATE_TIME, 1, 0, "%a %j"), "Sun 365");
    EXPECT_EQ(Time(JTAPI_SENT_DATE_TIME, 2, 0, "%a %j"), "Tue 060");
    EXPECT_EQ(Time(JTAPI_COMPLETE_DATE_TIME, 2, 0, "%a %j"), "Sun 201");
    EXPECT_EQ(Time(JTAPI_SENT_DATE_TIME, 3, 0, "%a %j"), "Fri 001");
    EXPECT_EQ(Time(JTAPI_COMPLETE_DATE_TIME, 3, 0, "%a %j"), "Mon 060");
    EXPECT_EQ(Time(JTAPI_SENT_DATE_TIME, 4, 0, "%a %j"), "Mon 001");
    EXPECT_EQ(Time(JTAPI_STATUS_DATE_TIME, 1, 1, "%A %d %B %Y %j"), "Tuesday 31 December 2024 366");
}

TEST_F(JobTrackerTest, TimesCarryTheLocalZoneWithoutMovingTheClock)
{
    // A zone rule written out in full needs no zone database on the machine.
    ScopedEnv zone("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    CreateDatabase(R"(
INSERT INTO jobs (id, sent_time, completed_time) VALUES
  (1, '2023-01-15 12:00:00', '2023-07-01 12:00:00'),
  (2, '2023-03-26 02:30:00', NULL);
)");
    Load();

    EXPECT_EQ(Time(JTAPI_SENT_DATE_TIME, 1, 0, "%H:%M %Z %z"), "12:00 CET +0100");
    EXPECT_EQ(Time(JTAPI_COMPLETE_DATE_TIME, 1, 0, "%H:%M %Z %z"), "12:00 CEST +0200");
    // 02:30 does not exist on the morning the clocks go forward; it is still shown as stored.
    EXPECT_EQ(Time(JTAPI_SENT_DATE_TIME, 2, 0, "%Y-%m-%d %H:%M:%S %a"), "2023-03-26 02:30:00 Sun");
}

TEST_F(JobTrackerTest, CountsOutsideInt32OrNotIntegersAreMissing)
{
    CreateDatabase(R"(
INSERT INTO jobs (id, num_recipients, num_confirmed, num_unconfirmed, num_failed, pages_scanned,
                  attachment_size)
  VALUES (1, 2147483647, -2147483648, 2147483648, -2147483649, 2.5, 'many');
)");
    Load();

    EXPECT_EQ(Count(JTAPI_NUM_RECIP, 1), INT32_MAX);
    EXPECT_EQ(Count(JTAPI_NUM_CONF, 1), INT32_MIN);
    EXPECT_EQ(StatusOf(JTAPI_NUM_UNCONF, 1, 0), JTAPI_ERR_MISSING);
    EXPECT_EQ(StatusOf(JTAPI_FAILED, 1, 0), JTAPI_ERR_MISSING);
    EXPECT_EQ(StatusOf(JTAPI_NUM_SCANNED, 1, 0), JTAPI_ERR_MISSING);
    EXPECT_EQ(StatusOf(JTAPI_ATTACH_SIZE, 1, 0), JTAPI_ERR_MISSING);
}

TEST_F(JobTrackerTest, TextsKeepTheStoredBytes)
{
    std::string longSubject(300, 'x');
    CreateDatabase(R"(
INSERT INTO jobs (id, subject, sender) VALUES (1, CAST(X'436166E9A4' AS TEXT), X'416C00426F62');
INSERT INTO jobs (id, subject, sender) VALUES (2, ')" + longSubject + R"(', '');
INSERT INTO addresses (job_id, position, friendly_name, email) VALUES (1, 1, X'', 'a@example.org');
)");
    Load();

    // Latin-9 bytes that are not UTF-8 pass unchanged; a NUL ends the text.
    EXPECT_EQ(Text(JTAPI_SUBJECT, 1), "Caf\xE9\xA4");
    EXPECT_EQ(Text(JTAPI_FROM, 1), "Al");
    EXPECT_EQ(Text(JTAPI_SUBJECT, 2), longSubject);
    // An empty text is present, not missing.
    EXPECT_EQ(Text(JTAPI_FROM, 2), "");
    EXPECT_EQ(Text(JTAPI_FRIENDLY_NAME, 1, 1), "");
}

TEST_F(JobTrackerTest, IndexesOutsideTheFieldsLevelAreRejected)
{
    CreateDatabase(R"(
INSERT INTO jobs (id, subject) VALUES (1, 'one'), (2, 'two');
INSERT INTO addresses (job_id, position, email) VALUES (1, 1, 'a'), (1, 2, 'b');
)");
    Load();

    EXPECT_EQ(StatusOf(JTAPI_NUM_JOBS, 1, 0), JTAPI_ERR_NO_SUCH_FIELD);
    EXPECT_EQ(StatusOf(JTAPI_NUM_JOBS, 0, 1), JTAPI_ERR_NO_SUCH_FIELD);
    for (int32_t job : {0, 3, -1, INT32_MIN})
        EXPECT_EQ(StatusOf(JTAPI_SUBJECT, job, 0), JTAPI_ERR_NO_SUCH_FIELD) << "job " << job;
    EXPECT_EQ(StatusOf(JTAPI_SUBJECT, 1, 1), JTAPI_ERR_NO_SUCH_FIELD);
    EXPECT_EQ(StatusOf(JTAPI_NUM_ADDRESSES, 1, 1), JTAPI_ERR_NO_SUCH_FIELD);
    for (int32_t address : {0, 3, -1})
        EXPECT_EQ(StatusOf(JTAPI_EMAIL_ADDRESS, 1, address), JTAPI_ERR_NO_SUCH_FIELD)
            << "address " << address;
    EXPECT_EQ(StatusOf(JTAPI_EMAIL_ADDRESS, 2, 1), JTAPI_ERR_NO_SUCH_FIELD);
    EXPECT_EQ(StatusOf(JTAPI_EMAIL_ADDRESS, 0, 1), JTAPI_ERR_NO_SUCH_FIELD);
    EXPECT_EQ(StatusOf(JTAPI_EMAIL_ADDRESS, 3, 1), JTAPI_ERR_NO_SUCH_FIELD);
    for (int32_t field : {1, 7, 8, 9, 13, 22, -1})
        for (int32_t address : {0, 1})
            EXPECT_EQ(StatusOf(field, 1, address), JTAPI_ERR_NO_SUCH_FIELD) << "field " << field;
    // The indexes just inside the range still work.
    EXPECT_EQ(Text(JTAPI_SUBJECT, 2), "two");
    EXPECT_EQ(Text(JTAPI_EMAIL_ADDRESS, 1, 2), "b");
}

TEST_F(JobTrackerTest, EmptyJobTableGivesZeroJobs)
{
    CreateDatabase("");
    Load();

    EXPECT_EQ(Count(JTAPI_NUM_JOBS), 0);
    EXPECT_EQ(StatusOf(JTAPI_NUM_ADDRESSES, 1, 0), JTAPI_ERR_NO_SUCH_FIELD);
}

TEST_F(JobTrackerTest, FirstCallFailsWithoutAUsableDatabase)
{
    auto expectFailure = [this](const char *what) {
        report_.data = &aux_;  // whatever the caller's handle held before
        EXPECT_EQ(jtapi_get_completed_jobs_report_data(5, &report_), JTAPI_ERR_DATABASE) << what;
        EXPECT_EQ(report_.data, nullptr) << what;
        EXPECT_EQ(jtapi_release_report_data(&report_), JTAPI_ERR_NOT_LOADED) << what;
    };

    expectFailure("absent file");
    EXPECT_FALSE(std::filesystem::exists(path_)) << "the database must never be created";

    std::ofstream(path_) << "id;subject\n1;not a database\n";
    expectFailure("text file");

    std::filesystem::remove(path_);
    Execute("CREATE TABLE other (x INTEGER);");
    expectFailure("database without the tables");

    Execute("CREATE TABLE jobs (id INTEGER PRIMARY KEY, subject TEXT);");
    expectFailure("jobs table with columns missing");

    std::filesystem::remove(path_);
    Execute(kSchema);
    Execute("DROP TABLE addresses;");
    expectFailure("addresses table missing");

    std::filesystem::remove(path_);
    std::filesystem::create_directory(path_);
    expectFailure("a folder");
}

TEST_F(JobTrackerTest, ReportStaysReadableAfterTheDatabaseIsGone)
{
    CreateDatabase(R"(
INSERT INTO jobs (id, subject) VALUES (1, 'kept');
INSERT INTO addresses (job_id, position, friendly_name) VALUES (1, 1, 'Ann');
)");
    Load();
    std::filesystem::remove(path_);

    EXPECT_EQ(Text(JTAPI_SUBJECT, 1), "kept");
    EXPECT_EQ(Text(JTAPI_FRIENDLY_NAME, 1, 1), "Ann");
}

TEST_F(JobTrackerTest, ReleaseEmptiesTheHandle)
{
    CreateDatabase("INSERT INTO jobs (id) VALUES (1);");
    Load();

    EXPECT_EQ(jtapi_release_report_data(&report_), JTAPI_OK);
    EXPECT_EQ(report_.data, nullptr);
    EXPECT_EQ(jtapi_release_report_data(&report_), JTAPI_ERR_NOT_LOADED);
    EXPECT_EQ(StatusOf(JTAPI_NUM_JOBS, 0, 0), JTAPI_ERR_NOT_LOADED);
}

TEST_F(JobTrackerTest, NullArgumentsAndUnknownKindAreRejected)
{
    CreateDatabase("INSERT INTO jobs (id) VALUES (1);");
    EXPECT_EQ(jtapi_get_completed_jobs_report_data(5, nullptr), JTAPI_ERR_ARGUMENT);
    EXPECT_EQ(jtapi_get_completed_jobs_report_data(4, &report_), JTAPI_ERR_ARGUMENT);
    EXPECT_EQ(report_.data, nullptr);
    Load();

    void *value = nullptr;
    EXPECT_EQ(jtapi_get_field_data(nullptr, JTAPI_NUM_JOBS, 0, 0, &value, nullptr), JTAPI_ERR_ARGUMENT);
    EXPECT_EQ(jtapi_get_field_data(&report_, JTAPI_NUM_JOBS, 0, 0, nullptr, nullptr),
              JTAPI_ERR_ARGUMENT);
    EXPECT_EQ(jtapi_release_report_data(nullptr), JTAPI_ERR_ARGUMENT);
    EXPECT_EQ(Count(JTAPI_NUM_JOBS), 1);
}

} // namespace
