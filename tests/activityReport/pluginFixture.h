// pluginFixture.h - the plug-in's tests run it through the real services, in a private directory.
//
// Every test starts from the process-wide state of a freshly loaded plug-in, with no fault
// programmed (faults.h), and a temporary directory holding an empty job database, device.conf
// (market region 1, device "lobby"), a template with one marker line, the log (DEVICE_LOG), the
// print spool and TEMP_FILES_DIR.
// Log records and spooled jobs are read back from their files, in the formats of log.h and
// print.h; the body file as it was when the run removed it.
#ifndef TESTS_ACTIVITYREPORT_PLUGINFIXTURE_H
#define TESTS_ACTIVITYREPORT_PLUGINFIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <vector>

#include "../services/files.h"
#include "activityReportInternals.h"
#include "faults.h"

using Texts = std::vector<std::string>;
using Faults = std::vector<faults::Fault>;

inline std::string Hex(const std::string &text)
{
    std::string hex;
    for (unsigned char byte : text)
        hex += std::string{"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
    return hex;
}

// The plug-in looks the system charset up once per process and keeps it; a test sets the name,
// or NULL to make it look again (the name it looked up before stays its own to free).
inline void SetSystemCharset(const char *name) { ARL_STATE.transLibEncoding = name; }

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/arl-test-XXXXXX";
        if (dir.empty())
            dir = mkdtemp(pattern);
        std::filesystem::create_directories(dir + "/tmp");
        // A new log and configuration for every table row: the services keep what they opened.
        for (const auto &[name, value] : std::map<std::string, std::string>{
                 {"TEMP_FILES_DIR", dir + "/tmp"}, {"PRINT_SPOOL_DIR", dir + "/spool"},
                 {"DEVICE_LOG", dir + "/" + std::to_string(++rows) + ".log"},
                 {"DEVICE_CONFIG", dir + "/" + std::to_string(rows) + ".conf"},
                 {"JTAPI_DATABASE", dir + "/jobs.db"},
                 {"ACTIVITY_REPORT_TEMPLATE", dir + "/template.ps"},
                 {"TRANS_CATALOG_DIR", ARL_CATALOG_DIR}, {"SYSTEM_CHARSET", "ISO-8859-15"}})
            setenv(name.c_str(), value.c_str(), 1);
        logRead = 0;
        Template("%!PS\n__GENERATE_BODY_HERE__\n");
        Conf("market.region = 1\nconnectivity.SNMP.systemGroup.sysName = lobby\n");
        Database("");
        faults::state = {};
        SetSystemCharset("ISO-8859-15");
        ARL_STATE = {ARL_STATE.transLibEncoding, 0, 0, 0};
        autoConvert = 1;
    }

    // A fault programmed but never reached tests nothing.
    void TearDown() override
    {
        for (const faults::Fault &fault : faults::state.faults)
            EXPECT_GT(fault.matched, 0) << fault.call << " was never called";
        std::filesystem::remove_all(dir);
    }

    // The next row of a table starts afresh, in the same directory.
    void Fresh()
    {
        TearDown();
        SetUp();
    }

    void Template(const std::string &text) { std::ofstream(dir + "/template.ps") << text; }
    void Conf(const std::string &text) { std::ofstream(std::getenv("DEVICE_CONFIG")) << text; }

    // A job database holding `rows`: SQL statements on the job tracker's two tables.
    void Database(const std::string &rows)
    {
        std::filesystem::remove(dir + "/jobs.db");
        sqlite3 *db = nullptr;
        sqlite3_open((dir + "/jobs.db").c_str(), &db);
        const std::string sql = ReadFile(ARL_SCHEMA) + rows + "; COMMIT;";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << rows;
        sqlite3_close(db);
    }

    // The plug-in's log records since the last call, as "LEVEL message".
    Texts Records()
    {
        const std::string text = ReadFile(std::getenv("DEVICE_LOG"));
        const size_t from = std::min(logRead, text.size());
        logRead = text.size();
        return PluginRecords(text.substr(from));
    }

    // A file of the spooled job ("" when nothing was spooled).
    std::string Spooled(const char *file)
    {
        const std::string job = dir + "/spool/000001/";
        return std::filesystem::exists(job + "ticket") ? ReadFile(job + file) : "";
    }

    std::string dir;
    size_t logRead = 0; // the part of the log Records() has returned
    int rows = 0;
};

#endif
