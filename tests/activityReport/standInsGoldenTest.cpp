// Job entries rendered through the real stand-in services: the job tracker reading a SQLite
// database, the configuration reading its key file, the translation service converting with
// iconv. The bodies are compared byte for byte with checked-in files whose every line was
// checked against the output lists of the job entry and of the recipient rows.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sqlite3.h>
#include <string>
#include <vector>

#include "activityReportInternals.h"

namespace {

std::string Golden(const std::string &name)
{
    std::ifstream in(std::string(ARL_GOLDEN_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class StandInsGoldenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/arl-standins-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::filesystem::create_directory(dir + "/catalog");
        std::ofstream(dir + "/device.conf") << "# formats of the report's dates and times\n"
                                               "OID_ATT_DATE_FORMAT = %d/%m/%Y\n"
                                               "OID_ATT_TIME_FORMAT = %H:%M\n";
        setenv("JTAPI_DATABASE", (dir + "/jobs.db").c_str(), 1);
        setenv("DEVICE_CONFIG", (dir + "/device.conf").c_str(), 1);
        // An empty catalogue: the language has no catalogue, so its printer encoding is the
        // service's default, ISO-8859-15, like the system charset.
        setenv("TRANS_CATALOG_DIR", (dir + "/catalog").c_str(), 1);
        unsetenv("SYSTEM_CHARSET");
        setenv("DEVICE_LOG", (dir + "/device.log").c_str(), 1);

        // The plug-in keeps the system charset name it looked up for the life of the process;
        // making it look the name up again keeps the old text reachable instead of leaking it.
        static std::vector<const char *> *kept = new std::vector<const char *>;
        kept->push_back(ARL_STATE.transLibEncoding);
        ARL_STATE = {};
        autoConvert = 1;
    }

    void TearDown() override { std::filesystem::remove_all(dir); }

    void CreateDatabase(const std::string &rows)
    {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open((dir + "/jobs.db").c_str(), &db), SQLITE_OK);
        const std::string schema =
            "CREATE TABLE jobs (id INTEGER PRIMARY KEY, sent_time TEXT, completed_time TEXT,"
            " num_recipients INTEGER, num_confirmed INTEGER, num_unconfirmed INTEGER,"
            " num_failed INTEGER, pages_scanned INTEGER, attachment_size INTEGER,"
            " subject TEXT, sender TEXT);"
            "CREATE TABLE addresses (job_id INTEGER NOT NULL REFERENCES jobs(id),"
            " position INTEGER NOT NULL, addr_type INTEGER, proc_state INTEGER,"
            " status_time TEXT, friendly_name TEXT, email TEXT,"
            " PRIMARY KEY (job_id, position));";
        char *error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, (schema + rows).c_str(), nullptr, nullptr, &error), SQLITE_OK)
            << (error ? error : "");
        sqlite3_free(error);
        sqlite3_close(db);
    }

    // Renders the entry of the report's one job, as the marker piece of a run does.
    static std::string RenderEntry(const char *language)
    {
        JTAPI_ReportData report = {nullptr};
        EXPECT_EQ(jtapi_get_completed_jobs_report_data(5, &report), 0);
        ResetRunScratch(&report);
        char *text = nullptr;
        size_t size = 0;
        FILE *body = open_memstream(&text, &size);
        EXPECT_EQ(WriteJobEntry(body, &report, 1, language), 0);
        EXPECT_EQ(jtapi_release_report_data(&report), 0);
        std::fclose(body);
        std::string written(text, size);
        std::free(text);
        return written;
    }

    std::string dir;
};

// Fault: anything in the chain from the database to the PostScript: a field read from the wrong
// column or index, a time not formatted with the configured format, a text not converted from
// the system charset to the printer encoding (the subject and a name hold Latin-9 letters), a
// count, a state cell or a row written wrongly.
TEST_F(StandInsGoldenTest, JobWithThreeRecipients)
{
    CreateDatabase(
        "INSERT INTO jobs VALUES (1, '2010-01-05 09:05:03', '2010-01-05 09:07:41', 3, 2, 1, 0,"
        " 4, 98765, CAST(X'436166e9206d656e752028763229' AS TEXT), 'chef@example.com');"
        "INSERT INTO addresses VALUES (1, 1, 0, 1, '2010-01-05 09:06:00',"
        " CAST(X'5a6feb' AS TEXT), 'zoe@example.com');"
        "INSERT INTO addresses VALUES (1, 2, 1, 5, '2010-01-05 09:07:41', 'Marc',"
        " 'marc@example.org');"
        "INSERT INTO addresses VALUES (1, 3, 0, 7, NULL, 'Ann', 'ann@example.net');");

    EXPECT_EQ(RenderEntry("xx"), Golden("jobWithThreeRecipients.ps"));
    EXPECT_EQ(autoConvert, 0);
}

// Fault: a missing field (NULL column) stopping the entry or written with another default.
TEST_F(StandInsGoldenTest, JobWithEveryFieldMissing)
{
    CreateDatabase("INSERT INTO jobs VALUES (1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
                   " NULL, NULL);"
                   "INSERT INTO addresses VALUES (1, 1, NULL, NULL, NULL, NULL, NULL);");

    EXPECT_EQ(RenderEntry("xx"), Golden("jobWithEveryFieldMissing.ps"));
}

} // namespace
