// Other tools parse the log line by line: every record must be one line of the fixed form, no
// message may split or forge a record, and no sink may block or fail the caller.

#include "../files.h"
#include "log.h"

#include <climits>
#include <cstdint>
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
    const std::string all[] = {R"(INFO f:0 s="a\nzz 2026-01-01T00:00:00.000 ERROR forged\tb\\c\x01\x7f")", "WARN f:1 w",
                               "ERROR f:2 e", "ERROR f:3 e", "NOTICE f:4 n", "L7 f:5 other", "ENTER f:6 Run()"};
    for (const auto &[minimum, kept] : {std::pair<const char *, std::string_view>{"none", "0123456"}, {"notice", "1234"}, {"ERROR", "23"}}) {
        setenv("DEVICE_LOG_LEVEL", minimum, 1);  // an unknown name keeps every record
        Log_SpecEntry(logSpecInfo, "f", 0, "s=\"%s\"", "a\nzz 2026-01-01T00:00:00.000 ERROR forged\tb\\c\x01\x7f");
        Log_SpecEntry(logSpecWarn, "f", 1, "w"), Log_SpecEntry(logSpecError, "f", 2, "e"), Log_Entry(LOG_LEVEL_ERROR, "f", 3, "e");
        Log_Entry(LOG_LEVEL_NOTICE, "f", 4, "n"), Log_Entry(7, "f", 5, "other"), Log_SpecEntry(logSpecEnter, "f", 6, "%s()", "Run");
        std::vector<std::string> expected;
        std::transform(kept.begin(), kept.end(), std::back_inserter(expected), [&](char i) { return all[i - '0']; });
        EXPECT_EQ(Records(ReadFile(path)), expected) << minimum;
        std::remove(path.c_str()), usleep(120000);  // a removed or rotated file is noticed within 100 ms
    }
}

TEST_F(LogTest, RecordsAreAppendedAndALongMessageIsCutBetweenEscapes)
{
    WriteFile(path, "earlier line\n");
    Log_SpecEntry(logSpecInfo, "f", 1, "%s", std::string(20000, '\x01').c_str());
    const auto records = Records(ReadFile(path));
    EXPECT_TRUE(records.at(0) == "BAD earlier line" && records.at(1).size() > 8000 && records[1].size() <= 8192 - 24 &&
                (records[1].size() - 9) % 4 == 0) << "not appended to the file, or not cut between escapes";
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

TEST_F(LogTest, EveryMessageReadsAsPrintfWritesIt)
{
    auto printed = [](const char *format, auto... values) {
        std::string text(200, '\0');
        text.resize(std::snprintf(text.data(), text.size(), format, values...));
        Log_SpecEntry(logSpecInfo, "f", -1, format, values...);
        return "INFO f:-1 " + text;
    };
    const std::vector<std::string> expected = {
        printed("%d|%i|%u|%d|100%%|%s|%s.", INT_MIN, -7, UINT_MAX, 0, "", "text"),
        printed("%5d|%-3s|%p|%ld|%zu|%x", 42, "a", static_cast<void *>(nullptr), LONG_MIN, SIZE_MAX, 255u)};
    EXPECT_EQ(Records(ReadFile(path)), expected);
}
