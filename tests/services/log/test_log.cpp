// Other tools parse the log line by line: every record must be one line of the fixed form, and no
// message, however odd its bytes, may split a record or forge another.

#include "log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/test_log.XXXXXX";
        int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = pattern;
        setenv("DEVICE_LOG", path_.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("DEVICE_LOG");
        std::remove(path_.c_str());
    }

    std::string Written() const
    {
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string path_;
};

TEST_F(LogTest, EveryRecordIsOneLineOfTheFixedForm)
{
    Log_SpecEntry(logSpecEnter, "activityReport", 12, "%s()", "ARL_GenerateActivityReport");
    Log_SpecEntry(logSpecInfo, "activityReport", 13, "Number of jobs = %d", 3);
    Log_SpecEntry(logSpecWarn, "activityReport", 14, "cut");
    Log_SpecEntry(logSpecError, "activityReport", 15, "failed");
    Log_Entry(LOG_LEVEL_INFO, "activityReport", 16, "info");
    Log_Entry(LOG_LEVEL_ERROR, "activityReport", 17, "error");
    Log_Entry(LOG_LEVEL_NOTICE, "activityReport", 18, "notice");
    Log_Entry(7, "activityReport", 19, "other");

    const std::regex record(
        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} ([A-Z0-9]+) activityReport:(\d+) (.*))");
    const char *expected[][2] = {
        {"ENTER", "ARL_GenerateActivityReport()"}, {"INFO", "Number of jobs = 3"},
        {"WARN", "cut"}, {"ERROR", "failed"}, {"INFO", "info"}, {"ERROR", "error"},
        {"NOTICE", "notice"}, {"L7", "other"},
    };
    std::istringstream lines(Written());
    std::string line;
    int count = 0;
    for (; std::getline(lines, line); ++count) {
        std::smatch parts;
        ASSERT_LT(count, 8);
        ASSERT_TRUE(std::regex_match(line, parts, record)) << line;
        EXPECT_EQ(parts[1], expected[count][0]);
        EXPECT_EQ(parts[2], std::to_string(12 + count));
        EXPECT_EQ(parts[3], expected[count][1]);
    }
    EXPECT_EQ(count, 8);
}

TEST_F(LogTest, ControlBytesAndBackslashesCannotSplitOrForgeARecord)
{
    Log_SpecEntry(logSpecInfo, "f", 1, "Subject = \"%s\"",
                  "a\nzz 2026-01-01T00:00:00.000 ERROR forged\tb\\c\x01\x7f");
    std::string written = Written();
    ASSERT_EQ(written.back(), '\n');
    EXPECT_EQ(written.find('\n'), written.size() - 1) << "the message split the record";
    EXPECT_NE(written.find("Subject = \"a\\nzz 2026-01-01T00:00:00.000 ERROR forged\\tb\\\\c\\x01\\x7f\""),
              std::string::npos)
        << written;
}

TEST_F(LogTest, RecordsAreAppendedAndTheCallersErrnoIsKept)
{
    {
        std::ofstream earlier(path_);
        earlier << "earlier line\n";
    }
    errno = ENOSPC;
    Log_Entry(LOG_LEVEL_ERROR, "f", 2, "uname() failed, errno = %i.", errno);
    EXPECT_EQ(errno, ENOSPC) << "logging changed errno, which callers log right after";
    EXPECT_EQ(Written().rfind("earlier line\n", 0), 0u) << "the log file was truncated";

    // A sink that cannot be opened falls back to standard error instead of losing the record.
    setenv("DEVICE_LOG", "/nonexistent-dir/log", 1);
    testing::internal::CaptureStderr();
    Log_SpecEntry(logSpecError, "f", 3, "still seen");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("ERROR f:3 still seen"), std::string::npos);
}

} // namespace
