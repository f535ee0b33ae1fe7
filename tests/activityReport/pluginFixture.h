// pluginFixture.h - the plug-in's tests run it through the real services, in a private directory.
//
// Every test starts from the process-wide state of a freshly loaded plug-in, with no fault
// programmed (faults.h), and a temporary directory holding the job database, device.conf, the
// template, the log (DEVICE_LOG), the print spool and TEMP_FILES_DIR. Log records and spooled jobs
// are read back from their files, in the formats of log.h and print.h.
#ifndef TESTS_ACTIVITYREPORT_PLUGINFIXTURE_H
#define TESTS_ACTIVITYREPORT_PLUGINFIXTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <vector>

#include "activityReportInternals.h"
#include "config.h"
#include "faults.h"

using Texts = std::vector<std::string>;

inline std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string Hex(const std::string &text)
{
    std::string hex;
    for (unsigned char byte : text)
        hex += std::string{"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
    return hex;
}

// The plug-in looks the system charset up once per process and keeps it; a test that makes it
// look again keeps the old name reachable here rather than freeing it under the plug-in.
inline void SetSystemCharset(const char *name)
{
    static Texts *kept = new Texts;
    kept->push_back(ARL_STATE.transLibEncoding ? ARL_STATE.transLibEncoding : "");
    ARL_STATE.transLibEncoding = name;
}

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/arl-test-XXXXXX";
        if (dir.empty()) {
            ASSERT_NE(mkdtemp(pattern), nullptr);
            dir = pattern;
        }
        std::filesystem::create_directories(dir + "/tmp");
        logRead = 0;
        for (const auto &[name, value] :
             {std::pair<const char *, std::string>{"TEMP_FILES_DIR", dir + "/tmp"},
              {"DEVICE_LOG", dir + "/" + std::to_string(++logs) + ".log"},
              {"PRINT_SPOOL_DIR", dir + "/spool"},
              {"JTAPI_DATABASE", dir + "/jobs.db"}, {"DEVICE_CONFIG", dir + "/device.conf"},
              {"ACTIVITY_REPORT_TEMPLATE", dir + "/template.ps"},
              {"TRANS_CATALOG_DIR", ARL_CATALOG_DIR}, {"SYSTEM_CHARSET", "ISO-8859-15"}})
            setenv(name, value.c_str(), 1);
        unsetenv("PRINT_QUEUE");
        Template("%!PS\n__GENERATE_BODY_HERE__\n");
        Conf("market.region = 1\n");
        Database("");
        faults::state = {};
        SetSystemCharset("ISO-8859-15");
        ARL_STATE = {ARL_STATE.transLibEncoding, 0, 0, 0};
        autoConvert = 1;
    }

    void TearDown() override
    {
        if (report.data)
            jtapi_release_report_data(&report);
        std::filesystem::remove_all(dir);
    }

    // The next row of a table starts afresh, in the same directory.
    void Fresh() { TearDown(), report = {nullptr}, SetUp(); }

    void Template(const std::string &text) { std::ofstream(dir + "/template.ps") << text; }
    void Conf(const std::string &text) { std::ofstream(dir + "/device.conf") << text; }

    // A job database holding `rows` (SQL statements on the job tracker's two tables).
    void Database(const std::string &rows)
    {
        std::filesystem::remove(dir + "/jobs.db");
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open((dir + "/jobs.db").c_str(), &db), SQLITE_OK);
        const std::string sql =
            "CREATE TABLE jobs (id INTEGER PRIMARY KEY, sent_time TEXT, completed_time TEXT,"
            " num_recipients INTEGER, num_confirmed INTEGER, num_unconfirmed INTEGER,"
            " num_failed INTEGER, pages_scanned INTEGER, attachment_size INTEGER, subject TEXT,"
            " sender TEXT); CREATE TABLE addresses (job_id INTEGER NOT NULL, position INTEGER"
            " NOT NULL, addr_type INTEGER, proc_state INTEGER, status_time TEXT, friendly_name"
            " TEXT, email TEXT, PRIMARY KEY (job_id, position));" + rows;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << rows;
        sqlite3_close(db);
    }

    // The plug-in's log records since the last call, as "LEVEL message".
    Texts Records()
    {
        const std::string text = ReadFile(getenv("DEVICE_LOG"));
        std::istringstream log(text.substr(std::min(logRead, text.size())));
        logRead = text.size();
        Texts records;
        std::string stamp, level, where, message;
        while (log >> stamp >> level >> where && std::getline(log, message))
            if (where.rfind("activityReport:", 0) == 0)
                records.push_back(level + message);
        return records;
    }

    // The spooled job's ticket and document ("" when nothing was spooled).
    std::string Spooled(const char *file)
    {
        std::string job = dir + "/spool/000001/";
        return std::filesystem::exists(job + "ticket") ? ReadFile(job + file) : "";
    }

    // Obtains the report data, as a run does first, and writes the entries of jobs 1..count as
    // one marker piece does; `entryStatus` gets the first nonzero result.
    std::string WriteEntries(int32_t count)
    {
        EXPECT_EQ(jtapi_get_completed_jobs_report_data(5, &report), 0);
        ResetRunScratch(&report);
        char *text = nullptr;
        size_t size = 0;
        FILE *body = open_memstream(&text, &size);
        entryStatus = 0;
        for (int32_t job = 1; job <= count && entryStatus == 0; ++job)
            entryStatus = WriteJobEntry(body, &report, job, "en");
        std::fclose(body);
        std::string written(text, size);
        std::free(text);
        return written;
    }

    std::string dir;
    JTAPI_ReportData report = {nullptr};
    int32_t entryStatus = -1;
    size_t logRead = 0; // the part of the log Records() has returned
    int logs = 0;       // a new log for every row: the service keeps its file open
};

#endif
