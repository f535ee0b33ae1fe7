// Other tools parse the log line by line: every record must be one line of the fixed form, no
// message may split or forge a record, and no sink may block or fail the caller.

#include "../files.h"
#include "log.h"

#include <regex>
#include <thread>
#include <unistd.h>

namespace {

// "LEVEL file:line message" of each record in `text`; "BAD <line>" where the fixed form is broken.
std::vector<std::string> Records(const std::string &text)
{
    static const std::regex form(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} ([^\n]*))");
    std::vector<std::string> records;
    std::smatch parts;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        records.push_back(std::regex_match(line, parts, form) ? parts[1].str() : "BAD " + line);
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
                               "WARN f:2 w", "ERROR f:3 e", "INFO f:4 i", "ERROR f:5 e", "NOTICE f:6 n", "L7 f:7 other"};
    for (const auto &[minimum, kept] : {std::pair{"none", "01234567"}, {"notice", "2356"}, {"ERROR", "35"}}) {
        setenv("DEVICE_LOG_LEVEL", minimum, 1);  // an unknown name keeps every record
        Log_SpecEntry(logSpecEnter, "f", 0, "%s()", "Run");
        Log_SpecEntry(logSpecInfo, "f", 1, "s=\"%s\"", "a\nzz 2026-01-01T00:00:00.000 ERROR forged\tb\\c\x01\x7f");
        Log_SpecEntry(logSpecWarn, "f", 2, "w"), Log_SpecEntry(logSpecError, "f", 3, "e"), Log_Entry(LOG_LEVEL_INFO, "f", 4, "i");
        Log_Entry(LOG_LEVEL_ERROR, "f", 5, "e"), Log_Entry(LOG_LEVEL_NOTICE, "f", 6, "n"), Log_Entry(7, "f", 7, "other");
        std::vector<std::string> expected;
        for (const char *i = kept; *i; ++i)
            expected.push_back(all[*i - '0']);
        EXPECT_EQ(Records(ReadFile(path)), expected) << minimum;
        std::remove(path.c_str());
        usleep(120000);  // the removed file is noticed within 100 ms, like a rotated one
    }
}

TEST_F(LogTest, RecordsAreAppendedWholeAndCutOnlyAtAnEscapeAndKeepErrno)
{
    WriteFile(path, "earlier line\n");
    errno = ENOSPC;
    Log_SpecEntry(logSpecInfo, "f", 1, "%s", std::string(20000, '\x01').c_str());
    EXPECT_EQ(errno, ENOSPC) << "callers log errno right after a record";
    std::vector<std::thread> threads(2);
    for (auto &thread : threads)
        thread = std::thread([] { for (int i = 0; i < 500; ++i) Log_SpecEntry(logSpecInfo, "f", 2, "%0200d", 0); });
    threads[0].join(), threads[1].join();
    const auto records = Records(ReadFile(path));
    ASSERT_EQ(records.size(), 1002u);
    EXPECT_EQ(records[0], "BAD earlier line") << "the file was not appended to";
    EXPECT_TRUE(records[1].size() > 8000 && records[1].size() <= 8192 - 24 && (records[1].size() - 9) % 4 == 0);
    EXPECT_EQ(std::count(records.begin(), records.end(), "INFO f:2 " + std::string(200, '0')), 1000) << "records interleaved";
}

TEST_F(LogTest, ASinkThatIsNoRegularFileFallsBackToStandardErrorWithoutBlocking)
{
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const std::string &sink : {dir / "fifo", dir.path.string(), dir / "missing/log"}) {
        setenv("DEVICE_LOG", sink.c_str(), 1);
        testing::internal::CaptureStderr();
        alarm(1);  // a blocked open ends the test here
        Log_SpecEntry(logSpecError, "f", 3, "still seen");
        alarm(0);
        EXPECT_EQ(Records(testing::internal::GetCapturedStderr()), std::vector<std::string>{"ERROR f:3 still seen"}) << sink;
    }
}

} // namespace
