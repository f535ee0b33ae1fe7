// Other tools parse the log line by line: every record must be one line of the fixed form, no
// message may split or forge a record, and no sink may block or fail the caller.

#include "../files.h"
#include "log.h"

#include <regex>
#include <unistd.h>

// "LEVEL file:line message" of each record in `text`; "BAD <line>" where the fixed form is broken.
static std::vector<std::string> Records(const std::string &text)
{
    std::vector<std::string> records;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        records.push_back(std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} .*)")) ? line.substr(24) : "BAD " + line);
    return records;
}

struct LogTest : ::testing::Test {
    TempDir dir;
    std::string path = dir / "device.log";
    void SetUp() override { setenv("DEVICE_LOG", path.c_str(), 1), unsetenv("DEVICE_LOG_LEVEL"); }
};

TEST_F(LogTest, EveryRecordIsOneLineAtItsLevelAndOnlyLevelsFromTheMinimumAreWritten)
{
    const std::string all[] = {"ENTER f:0 Run()", R"(INFO f:1 s="a\nzz 2026-01-01T00:00:00.000 ERROR forged\tb\\c\x01\x7f")",
                               "WARN f:2 w", "ERROR f:3 e", "ERROR f:4 e", "NOTICE f:5 n", "L7 f:6 other"};
    for (const auto &[minimum, kept] : {std::pair{"none", "0123456"}, {"notice", "2345"}, {"ERROR", "34"}}) {
        setenv("DEVICE_LOG_LEVEL", minimum, 1);  // an unknown name keeps every record
        Log_SpecEntry(logSpecEnter, "f", 0, "%s()", "Run");
        Log_SpecEntry(logSpecInfo, "f", 1, "s=\"%s\"", "a\nzz 2026-01-01T00:00:00.000 ERROR forged\tb\\c\x01\x7f");
        Log_SpecEntry(logSpecWarn, "f", 2, "w"), Log_SpecEntry(logSpecError, "f", 3, "e"), Log_Entry(LOG_LEVEL_ERROR, "f", 4, "e");
        Log_Entry(LOG_LEVEL_NOTICE, "f", 5, "n"), Log_Entry(7, "f", 6, "other");
        std::vector<std::string> expected;
        for (const char *i = kept; *i; ++i)
            expected.push_back(all[*i - '0']);
        EXPECT_EQ(Records(ReadFile(path)), expected) << minimum;
        std::remove(path.c_str()), usleep(120000);  // a removed or rotated file is noticed within 100 ms
    }
}

TEST_F(LogTest, RecordsAreAppendedAndALongMessageIsCutBetweenEscapes)
{
    WriteFile(path, "earlier line\n");
    Log_SpecEntry(logSpecInfo, "f", 1, "%s", std::string(20000, '\x01').c_str());
    const auto records = Records(ReadFile(path));
    EXPECT_EQ(records.at(0), "BAD earlier line") << "the file was not appended to";
    EXPECT_TRUE(records.at(1).size() > 8000 && records[1].size() <= 8192 - 24 && (records[1].size() - 9) % 4 == 0);
}

TEST_F(LogTest, ASinkThatIsNoRegularFileFallsBackToStandardErrorWithoutBlocking)
{
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const std::string &sink : {dir / "fifo", dir.path.string(), dir / "missing/log"}) {
        setenv("DEVICE_LOG", sink.c_str(), 1);
        testing::internal::CaptureStderr();
        alarm(1), Log_SpecEntry(logSpecError, "f", 3, "still seen"), alarm(0);  // a blocked open ends the test here
        EXPECT_EQ(Records(testing::internal::GetCapturedStderr()), std::vector<std::string>{"ERROR f:3 still seen"}) << sink;
    }
}
