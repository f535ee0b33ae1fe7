// Other tools parse the log line by line: every record must be one line of the fixed form, no
// message may split or forge a record, no sink may block or fail the caller, and no file another
// user could have planted is written.

#include "../files.h"
#include "log.h"

#include <climits>
#include <cctype>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <regex>

namespace {

// "LEVEL file:line message" of each record in `text`; "BAD <line>" where the fixed form is broken.
std::vector<std::string> Records(const std::string &text)
{
    const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} .*)");
    const size_t kStampLength = 24;
    std::vector<std::string> records;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        records.push_back(regex_match(line, stamped) ? line.substr(kStampLength) : "BAD " + line);
    return records;
}

const useconds_t kPastTheRecheck = 120000; // a removed or rotated file is noticed within 100 ms

struct LogTest : ::testing::Test {
    TempDir dir;
    std::string path = dir / "device.log";
    void SetUp() override
    {
        setenv("DEVICE_LOG", path.c_str(), 1);
        unsetenv("DEVICE_LOG_LEVEL");
    }
};

TEST_F(LogTest, EveryRecordIsOneLineAtItsLevelAndOnlyLevelsFromTheMinimumAreWritten)
{
    // Record 0 carries what could split or forge a record: control bytes, and the UTF-8 line
    // separators U+2028, U+0085 and U+2029 (an en dash and an "Å", whose second byte is that of
    // U+0085, stay as they are).
    const char *const kForging = "a\nzz 2026-01-01T00:00:00.000 ERROR forged\tb\\c\x01\x7f"
                                 "\xe2\x80\xa8\xc2\x85\xe2\x80\xa9\xe2\x80\x93\xc3\x85";
    const std::string all[] = {
        R"(INFO f:0 s="a\nzz 2026-01-01T00:00:00.000 ERROR forged\tb\\c\x01\x7f)"
        R"(\xe2\x80\xa8\xc2\x85\xe2\x80\xa9)" "\xe2\x80\x93\xc3\x85\"",
        "WARN f:1 w", "ERROR f:2 e", "ERROR f:3 e", "NOTICE f:4 n", "L7 f:5 other",
        "ENTER f:6 Run()"};
    // Level names compare in ASCII: under a Turkish locale strcasecmp takes "iNfO" for no level.
    // An unknown name keeps every record.
    const struct {
        const char *minimum, *kept; // the indexes in `all` of the records written
    } cases[] = {{.minimum = "none", .kept = "0123456"}, {.minimum = "notice", .kept = "1234"},
                 {.minimum = "ERROR", .kept = "23"}, {.minimum = "iNfO", .kept = "012345"}};
    for (const auto &c : cases) {
        setenv("DEVICE_LOG_LEVEL", c.minimum, 1);
        Log_SpecEntry(logSpecInfo, "f", 0, "s=\"%s\"", kForging);
        Log_SpecEntry(logSpecWarn, "f", 1, "w");
        Log_SpecEntry(logSpecError, "f", 2, "e");
        Log_Entry(LOG_LEVEL_ERROR, "f", 3, "e");
        Log_Entry(LOG_LEVEL_NOTICE, "f", 4, "n");
        Log_Entry(7, "f", 5, "other");
        Log_SpecEntry(logSpecEnter, "f", 6, "%s()", "Run");
        std::vector<std::string> expected;
        for (const char *index = c.kept; *index; ++index)
            expected.push_back(all[*index - '0']);
        EXPECT_EQ(Records(ReadFile(path)), expected) << c.minimum;
        std::remove(path.c_str());
        usleep(kPastTheRecheck);
    }
}

// A message longer than a record is cut after whole characters: never inside an escape, nor inside
// a UTF-8 sequence. (The record's head, "INFO f:1 ", puts the plain cut inside a two- and a
// four-byte character; two letters before the emoji put it after three bytes of one.)
TEST_F(LogTest, RecordsAreAppendedAndALongMessageIsCutBetweenCharacters)
{
    const struct {
        const char *repeated;  // one character, repeated past the record's length
        size_t lengthInRecord;
        const char *lead = "";  // before the first one
    } cases[] = {
        {.repeated = "\x01", .lengthInRecord = 4},               // "\x01" escaped
        {.repeated = "\xc3\xa9", .lengthInRecord = 2},           // "é"
        {.repeated = "\xf0\x9f\x98\x80", .lengthInRecord = 4},   // an emoji
        {.repeated = "\xf0\x9f\x98\x80", .lengthInRecord = 4, .lead = "ab"},
        {.repeated = "\xe2\x80\xa8", .lengthInRecord = 12},      // U+2028, escaped
    };
    const size_t kMessageBytes = 20000, kHeadLength = std::strlen("INFO f:1 ");
    const size_t kLongestLine = 8192 - 24 - 1;  // without its time stamp and line end
    WriteFile(path, "earlier line\n");
    for (const auto &c : cases) {
        std::string message = c.lead;
        while (message.size() < kMessageBytes)
            message += c.repeated;
        Log_SpecEntry(logSpecInfo, "f", 1, "%s", message.c_str());
    }
    const auto records = Records(ReadFile(path));
    ASSERT_EQ(records.size(), 1 + std::size(cases));
    EXPECT_EQ(records[0], "BAD earlier line");
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_GT(records[i + 1].size(), kLongestLine - 16) << i;
        EXPECT_LE(records[i + 1].size(), kLongestLine) << i;
        const size_t repeated = records[i + 1].size() - kHeadLength - std::strlen(cases[i].lead);
        EXPECT_EQ(repeated % cases[i].lengthInRecord, 0u) << i;
    }
}

// A path that cannot be used, or that another user could have planted (a link or a file in a
// shared folder, a folder of theirs), falls back to standard error without blocking, with one
// record of the log's own that says why; the next record there gets none. The planted file, or
// the one a link reaches, is not written; a file of the log's own in the shared folder is.
TEST_F(LogTest, ASinkItMustNotUseFallsBackToStandardError)
{
    REQUIRE_ROOT();
    const std::string shared = dir / "shared", foreign = dir / "foreign", victim = dir / "victim";
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(shared.c_str(), 01777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(mkdir(foreign.c_str(), 0755), 0);
    ASSERT_EQ(chown(foreign.c_str(), kOtherUid, kOtherUid), 0);
    WriteFile(victim, "root only\n");
    ASSERT_EQ(symlink(victim.c_str(), (shared + "/device.log").c_str()), 0);
    ASSERT_EQ(lchown((shared + "/device.log").c_str(), kOtherUid, kOtherUid), 0);
    WriteFile(shared + "/other.log", "");
    ASSERT_EQ(chown((shared + "/other.log").c_str(), kOtherUid, kOtherUid), 0);
    const struct { std::string sink; const char *wantWhy; } cases[] = {
        {.sink = dir / "fifo", .wantWhy = "not used: No such device or address"},  // no reader
        {.sink = "/dev/null", .wantWhy = "not used: it is not a regular file"},
        {.sink = dir / "missing/log", .wantWhy = "not used: its folder cannot be opened"},
        {.sink = shared + "/device.log", .wantWhy = "it is a symbolic link"},
        {.sink = shared + "/other.log", .wantWhy = "the file is not the log's own"},
        {.sink = foreign + "/device.log", .wantWhy = "is owned by uid 65534 with mode 0755"},
    };
    for (const auto &c : cases) {
        setenv("DEVICE_LOG", c.sink.c_str(), 1);
        testing::internal::CaptureStderr();
        alarm(1);  // a blocked open ends the test here
        Log_SpecEntry(logSpecError, "f", 3, "still seen");
        Log_SpecEntry(logSpecError, "f", 3, "still seen");
        alarm(0);
        const auto records = Records(testing::internal::GetCapturedStderr());
        ASSERT_EQ(records.size(), 3u) << c.sink;
        EXPECT_TRUE(Contains(records[0], c.wantWhy)) << records[0];
        EXPECT_EQ(records[1], "ERROR f:3 still seen") << c.sink;
        EXPECT_EQ(records[2], "ERROR f:3 still seen") << c.sink;
    }
    EXPECT_EQ(ReadFile(victim), "root only\n");
    EXPECT_EQ(ReadFile(shared + "/other.log"), "");
    EXPECT_FALSE(std::filesystem::exists(foreign + "/device.log"));
    setenv("DEVICE_LOG", (shared + "/own.log").c_str(), 1);
    Log_SpecEntry(logSpecError, "f", 3, "in the file");
    EXPECT_EQ(Records(ReadFile(shared + "/own.log")),
              std::vector<std::string>{"ERROR f:3 in the file"});
}

// Under a Turkish locale strcasecmp folds "I" apart from "i": "info" would name no level and
// every record would be kept. The locale is built for the test, as device images have none.
TEST_F(LogTest, ALevelNameIsFoundUnderATurkishLocale)
{
    const std::string locales = dir / "locales";
    const std::string build = "localedef -c -i tr_TR -f UTF-8 " + locales + "/tr_TR.UTF-8";
    std::filesystem::create_directory(locales);
    (void)std::system((build + " >/dev/null 2>&1").c_str());
    setenv("LOCPATH", locales.c_str(), 1);
    if (!setlocale(LC_ALL, "tr_TR.UTF-8")) {
        unsetenv("LOCPATH");
        if (std::getenv("CI"))
            FAIL() << "cannot build the tr_TR locale: " << build;
        GTEST_SKIP() << "needs localedef and the tr_TR locale source (package locales)";
    }
    EXPECT_NE(std::tolower('I'), 'i') << "the locale folds as Turkish does";
    setenv("DEVICE_LOG_LEVEL", "info", 1);
    Log_SpecEntry(logSpecEnter, "f", 1, "Run()");
    Log_SpecEntry(logSpecInfo, "f", 2, "kept");
    setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    EXPECT_EQ(Records(ReadFile(path)), std::vector<std::string>{"INFO f:2 kept"});
}

// The host changes TZ between two records of the same second: the second shows the new zone.
TEST_F(LogTest, ATimeZoneChangeShowsFromTheNextRecord)
{
    const char *previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    setenv("TZ", "UTC0", 1);
    Log_SpecEntry(logSpecInfo, "f", 1, "utc");
    setenv("TZ", "<+09>-9", 1);
    Log_SpecEntry(logSpecInfo, "f", 2, "nine hours east");
    previous ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
    const std::string log = ReadFile(path);
    const auto secondOfDay = [&](size_t at) {  // of "YYYY-MM-DDTHH:MM:SS" at `at`
        return std::stoi(log.substr(at + 11, 2)) * 3600 + std::stoi(log.substr(at + 14, 2)) * 60 +
               std::stoi(log.substr(at + 17, 2));
    };
    const int kDay = 86400, kNineHours = 9 * 3600;
    const int between = (secondOfDay(log.find('\n') + 1) - secondOfDay(0) + kDay) % kDay;
    EXPECT_GE(between, kNineHours);
    EXPECT_LE(between, kNineHours + 1);
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
        printed("%5d|%-3s|%p|%ld|%zu|%x", 42, "a", static_cast<void *>(nullptr), LONG_MIN,
                SIZE_MAX, 255u)};
    EXPECT_EQ(Records(ReadFile(path)), expected);
}

// A host that closed its standard streams, whose standard error is a pipe nobody reads, or that
// set a file-size limit: the host lives, and no record is written to the host's own descriptors.
// (That a record on standard error survives signals and short writes, the platform layer's test
// of its one writer shows: the log writes there through it.)
TEST_F(LogTest, ARoughHostLivesAndLosesNoRecord)
{
    const struct {
        const char *name;
        void (*body)();
    } cases[] = {
        {.name = "standard streams closed", .body = [] {
             close(STDIN_FILENO);
             close(STDOUT_FILENO);
             close(STDERR_FILENO);
             Log_SpecEntry(logSpecInfo, "f", 1, "to the file");
             const int kClosed = -1;  // what F_GETFD gives for a closed descriptor
             for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
                 if (fcntl(standard, F_GETFD) != kClosed)
                     _exit(1);
             }
         }},
        {.name = "standard error a pipe nobody reads", .body = [] {
             int ends[2];
             if (pipe(ends) != 0 || close(ends[0]) != 0 || dup2(ends[1], STDERR_FILENO) < 0)
                 _exit(2);
             unsetenv("DEVICE_LOG");
             Log_SpecEntry(logSpecInfo, "f", 1, "lost");
         }},
        {.name = "a file-size limit", .body = [] {
             const rlimit kTenBytes = {10, 10};
             setrlimit(RLIMIT_FSIZE, &kTenBytes);
             Log_SpecEntry(logSpecInfo, "f", 1, "past the limit");
         }},
    };
    for (const auto &c : cases)
        EXPECT_EQ(InChild(c.body).ended, 0) << c.name;
    EXPECT_EQ(Records(ReadFile(path)), std::vector<std::string>{"INFO f:1 to the file"});
}

} // namespace
