// Job entries: the PostScript of one completed job, its field reads, defaults and records.

#include "pluginFixture.h"

using namespace testing_support;
using jobtrackerDouble::MakeTime;

namespace {

const char kRegularFont[] = "DefaultFontName findfont 9 scalefont setfont\n";

class JobEntryTest : public PluginTest {
protected:
    static jobtrackerDouble::Address Recipient(int32_t type, const std::string &name,
                                               const std::string &email, int32_t state,
                                               std::optional<struct tm> status)
    {
        jobtrackerDouble::Address address;
        address.type = type;
        address.name = name;
        address.email = email;
        address.state = state;
        address.status = status;
        return address;
    }

    // The job set of golden/twoJobsWithDoubles.ps.
    static void StoreGoldenJobs()
    {
        jobtrackerDouble::Job first;
        first.sent = MakeTime(2010, 1, 5, 9, 5, 3);
        first.completed = MakeTime(2010, 1, 5, 9, 7, 41);
        first.numConf = 1;
        first.numRecip = 2;
        first.numUnconf = 1;
        first.failed = 0;
        first.scanned = 3;
        first.attachSize = 45678;
        first.subject = "Quarterly (draft)";
        first.from = "alice@example.com";
        first.addresses = {
            Recipient(0, "Bob Smith", "bob@example.com", 1, MakeTime(2010, 1, 5, 9, 6, 10)),
            Recipient(1, "Carol", "carol@example.org", 3, MakeTime(2010, 1, 5, 9, 7, 41))};
        jobtrackerDouble::SetJob(1, first);

        jobtrackerDouble::Job second;
        second.sent = MakeTime(2011, 12, 31, 23, 59, 58);
        second.completed = MakeTime(2012, 1, 1, 0, 0, 2);
        second.numConf = 12;
        second.numRecip = 7;
        second.numUnconf = -1;
        second.failed = 2;
        second.scanned = 10;
        second.attachSize = 0;
        second.subject = "";
        second.from = "dave@example.net";
        second.addresses = {
            Recipient(0, "Eve", "eve@example.net", 0, MakeTime(2011, 12, 31, 23, 59, 59)),
            Recipient(2, "Frank", "frank@example.net", 2, MakeTime(2012, 1, 1, 0, 0, 1)),
            Recipient(-1, "", "grace@example.net", 4, std::nullopt),
            Recipient(0, "Heidi", "heidi@example.net", 5, MakeTime(2012, 1, 1, 0, 0, 2)),
            Recipient(1, "Ivan", "ivan@example.net", 6, MakeTime(2012, 1, 1, 0, 0, 2)),
            Recipient(0, "Judy", "judy@example.net", 0, MakeTime(2012, 1, 1, 0, 0, 3)),
            Recipient(1, "Mallory", "mallory@example.net", 1, MakeTime(2012, 1, 1, 0, 0, 4))};
        jobtrackerDouble::SetJob(2, second);
        jobtrackerDouble::SetNumJobs(2);
    }

    static jobtrackerDouble::Job PlainJob(const std::string &subject)
    {
        jobtrackerDouble::Job job;
        job.sent = MakeTime(2010, 1, 5, 9, 5, 3);
        job.completed = MakeTime(2010, 1, 5, 9, 7, 41);
        job.numConf = 1;
        job.numRecip = 1;
        job.numUnconf = 0;
        job.failed = 0;
        job.scanned = 1;
        job.attachSize = 100;
        job.subject = subject;
        job.from = "from@example.com";
        job.addresses = {Recipient(0, "Bob", "bob@example.com", 1, MakeTime(2010, 1, 5, 9, 6, 0))};
        return job;
    }
};

// Fault: any byte of an entry or of its recipient rows wrong: a fixed line, the order of the
// writes, a hex text, the cap of five rows, the separators of later jobs. Every line of the
// golden file was checked against the output lists of the job entry and of the recipient rows.
TEST_F(JobEntryTest, TwoJobsRenderTheCheckedGoldenBody)
{
    StoreGoldenJobs();
    StartReport();
    int32_t status = -1;

    std::string body = WriteEntries(2, &status);

    EXPECT_EQ(status, 0);
    EXPECT_EQ(body, ReadFile(std::string(ARL_GOLDEN_DIR) + "/twoJobsWithDoubles.ps"));
    EXPECT_TRUE(jobtrackerDouble::Misuse().empty());
}

// Fault: a field read under the wrong indexes, read twice, read in another order, or an address
// beyond the fifth read.
TEST_F(JobEntryTest, FieldsAreReadOnceEachInOrder)
{
    StoreGoldenJobs();
    StartReport();

    WriteEntries(2);

    const std::vector<std::string> jobFields = {"16/0", "12/0", "11/0", "3/0", "2/0", "14/0",
                                                "15/0", "4/0",  "5/0",  "6/0", "10/0"};
    auto rows = [](int count) {
        std::vector<std::string> reads;
        for (int a = 1; a <= count; ++a)
            for (const char *field : {"17/", "20/", "21/", "18/", "19/"})
                reads.push_back(field + std::to_string(a));
        return reads;
    };
    std::vector<std::string> first = jobFields, second = jobFields;
    for (const std::string &read : rows(2))
        first.push_back(read);
    for (const std::string &read : rows(5))
        second.push_back(read);
    EXPECT_EQ(jobtrackerDouble::ReadsOfJob(1), first);
    EXPECT_EQ(jobtrackerDouble::ReadsOfJob(2), second) << "addresses 6 and 7 are never read";
    EXPECT_TRUE(jobtrackerDouble::ReadsOfJob(0).empty());
}

// Fault: the count written uncapped, the uncapped count not logged, more than five rows.
TEST_F(JobEntryTest, SevenAddressesAreCappedAtFive)
{
    jobtrackerDouble::Job job = PlainJob("Seven");
    job.addresses.clear();
    for (int i = 1; i <= 7; ++i)
        job.addresses.push_back(Recipient(0, "R" + std::to_string(i), "r@x", 0, std::nullopt));
    jobtrackerDouble::SetJob(1, job);
    StartReport();

    std::string body = WriteEntries(1);

    EXPECT_EQ(body.rfind("/numberOfRecipients 5 def % this should be replace with tag\n", 0), 0u);
    EXPECT_EQ(logDouble::CountPluginRecord("INFO Number of Addresses = 7"), 1);
    EXPECT_EQ(CountOccurrences(body, "<__ar_const_to__20"), 5);
    EXPECT_EQ(body.find(Hex("R6")), std::string::npos);
}

// Fault: no heading row for a job without addresses, rows attempted for a missing or negative
// count, a missing count not reported with the call's status.
TEST_F(JobEntryTest, JobWithoutAddressesEndsWithTheRecipientPreamble)
{
    const std::string ending = "<__ar_const_status_date_time__> UNDERLINE_SHOW\n"
                               "NextRow\n\n"
                               "% Print recipients info\n"
                               "DefaultFontName findfont DefaultFontSize scalefont setfont\n\n";
    struct Case {
        const char *name;
        std::optional<int32_t> count;
        int32_t missingStatus;
        std::string prologue;
        std::vector<std::string> records;
    };
    const std::vector<Case> cases = {
        {"zero", 0, 0, "/numberOfRecipients 0 ", {"INFO Number of Addresses = 0"}},
        {"negative", -2, 0, "/numberOfRecipients -2 ", {"INFO Number of Addresses = -2"}},
        {"missing, nonzero status", std::nullopt, 6, "/numberOfRecipients 0 ",
         {"ERROR jtapi_get_field_data() FAILURE = 6", "INFO Number of Addresses = 0"}},
        {"missing, NULL value", std::nullopt, 0, "/numberOfRecipients 0 ",
         {"ERROR jtapi_get_field_data() FAILURE = 0", "INFO Number of Addresses = 0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        jobtrackerDouble::Reset();
        logDouble::Reset();
        jobtrackerDouble::Job job = PlainJob("None");
        job.numAddressesMissing = !c.count;
        job.numAddresses = c.count;
        jobtrackerDouble::SetJob(1, job);
        if (!c.count)
            jobtrackerDouble::SetMissing(JTAPI_NUM_ADDRESSES, 1, 0, c.missingStatus);
        StartReport();
        int32_t status = -1;

        std::string body = WriteEntries(1, &status);

        EXPECT_EQ(status, 0);
        EXPECT_EQ(body.rfind(c.prologue + "def % this should be replace with tag\n", 0), 0u);
        ASSERT_GE(body.size(), ending.size());
        EXPECT_EQ(body.substr(body.size() - ending.size()), ending);
        std::vector<std::string> records = logDouble::PluginRecords();
        EXPECT_EQ(std::vector<std::string>(records.begin(),
                                           records.begin() +
                                               std::min(records.size(), c.records.size())),
                  c.records);
        for (const auto &read : jobtrackerDouble::Reads())
            EXPECT_EQ(read.address, 0) << "no address field is read";
    }
}

// Fault: a count written as binary or in another base, the confirmed count not reused in the
// status row, counts combined or swapped, a negative count losing its sign.
TEST_F(JobEntryTest, CountsAreWrittenAsTheHexOfTheirDecimalDigits)
{
    jobtrackerDouble::Job job = PlainJob("Counts");
    job.numConf = 2;
    job.numRecip = 3;
    job.numUnconf = 9;
    job.failed = 4;
    job.scanned = 12;
    job.attachSize = -1;
    jobtrackerDouble::SetJob(1, job);
    StartReport();

    std::string body = WriteEntries(1);

    EXPECT_NE(body.find("<3220__ar_const_of__20"
                        "3320__ar_const_recipients_acknowledged__2020"
                        "> ack_width Substring RIGHT_SHOW\n"),
              std::string::npos);
    EXPECT_NE(body.find("<3220__ar_const_ifax_job_status_successful__20"
                        "3920__ar_const_ifax_job_status_unconfirmed__20"
                        "3420__ar_const_ifax_job_status_failed__> "
                        "field_avail Substring AR_SHOW\n\n"),
              std::string::npos);
    EXPECT_NE(body.find("<__ar_const_pages_scanned__20> AR_SHOW\n" + std::string(kRegularFont) +
                        "<3132> AR_SHOW\n"),
              std::string::npos);
    EXPECT_NE(body.find("<202020__ar_const_attachment_size__20> AR_SHOW\n" +
                        std::string(kRegularFont) + "<2d31> AR_SHOW\n"),
              std::string::npos);
    for (const char *record : {"INFO Num Confirmed = 2", "INFO Num Recipients = 3",
                               "INFO Number unconfirmed = 9", "INFO Number failed = 4",
                               "INFO Num Scanned = 12", "INFO Attach Size = -1"})
        EXPECT_EQ(logDouble::CountPluginRecord(record), 1) << record;
}

// Fault: a missing job field stopping the entry, its default wrong, its record missing, at the
// wrong level or in the wrong place.
TEST_F(JobEntryTest, MissingJobFieldsUseDefaultsAndLogThem)
{
    for (int variant = 0; variant < 3; ++variant) {
        const int32_t form = variant == 1 ? 0 : 6;
        SCOPED_TRACE(variant == 0 ? "nonzero status"
                                  : variant == 1 ? "NULL value" : "nonzero status, stale value");
        jobtrackerDouble::Reset();
        logDouble::Reset();
        jobtrackerDouble::SetMissingForm(form);
        jobtrackerDouble::SetStaleValueOnFailure(variant == 2);
        StartReport();
        int32_t status = -1;

        std::string body = WriteEntries(1, &status);

        EXPECT_EQ(status, 0);
        EXPECT_EQ(logDouble::PluginRecords(),
                  (std::vector<std::string>{
                      "ERROR jtapi_get_field_data() FAILURE = " + std::to_string(form),
                      "INFO Number of Addresses = 0",
                      "INFO JTAPI_SENT_DATE_TIME is NULL. Use blanks",
                      "INFO Sent Date/Time =  ",
                      "ERROR JTAPI_COMPLETE_DATE_TIME is NULL. Use blanks",
                      "INFO Completed Date/Time =  ",
                      "ERROR JTAPI_NUM_CONF is NULL. Use default = 0",
                      "INFO Num Confirmed = 0",
                      "ERROR JTAPI_NUM_RECIP is NULL. Use default = 0",
                      "INFO Num Recipients = 0",
                      "ERROR JTAPI_SUBJECT is NULL. Use default = 0 length string",
                      "INFO Subject = \"\"",
                      "ERROR JTAPI_FROM is NULL. Use default = 0 length string",
                      "INFO From = \"\"",
                      "ERROR JTAPI_NUM_UNCONF is NULL. Use default = 0",
                      "INFO Number unconfirmed = 0",
                      "ERROR JTAPI_FAILED is NULL. Use default = 0",
                      "INFO Number failed = 0",
                      "INFO Num Scanned = 0",
                      "INFO Attach Size = 0",
                  }));
        EXPECT_NE(body.find("<__ar_const_job_date__20> AR_SHOW\n" + std::string(kRegularFont) +
                            "<> AR_SHOW\n"),
                  std::string::npos);
        EXPECT_NE(body.find("<> field_avail Substring AR_SHOW\n\n/currentColumn job_date_col2_ind"),
                  std::string::npos);
        EXPECT_NE(body.find("<3020__ar_const_of__203020__ar_const_recipients_acknowledged__2020>"),
                  std::string::npos);
        EXPECT_NE(body.find("<> field_avail Substring AR_SHOW\n\n/currentColumn subj_head_col2_ind"),
                  std::string::npos);
        EXPECT_NE(body.find("<__ar_const_from__20> AR_SHOW\n" + std::string(kRegularFont) +
                            "<> AR_SHOW\n"),
                  std::string::npos);
        EXPECT_EQ(CountOccurrences(body, "<30> AR_SHOW\n"), 2) << "pages scanned and size";
    }
}

// Fault: a failed subject conversion not stopping the entry at once, logged with the wrong text,
// the flag cleared although the conversion failed, or the sender still read.
TEST_F(JobEntryTest, SubjectThatCannotBeConvertedStopsTheEntry)
{
    jobtrackerDouble::SetJob(1, PlainJob("Unprintable"));
    jobtrackerDouble::SetJob(2, PlainJob("Second"));
    translationDouble::FailHexFor("Unprintable");
    StartReport();
    int32_t status = -1;

    std::string body = WriteEntries(2, &status);

    EXPECT_EQ(status, 7);
    const std::string tail = std::string("<__ar_const_subject__20> AR_SHOW\n") +
                             "% Calculate the boundary box (field_avail) for next printing text\n"
                             "currentpoint pop % get the current x,y position, push onto stack, "
                             "then pop y to discard.\n"
                             "/field_delta exch LM_ind sub def\n"
                             "/field_avail subj_width field_delta sub def\n" +
                             kRegularFont;
    ASSERT_GE(body.size(), tail.size());
    EXPECT_EQ(body.substr(body.size() - tail.size()), tail);
    std::vector<std::string> records = logDouble::PluginRecords();
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[records.size() - 3], "INFO Subject = \"Unprintable\"");
    EXPECT_EQ(records[records.size() - 2], "ERROR Trans_ConvertUTF8StringToHex() failed.");
    EXPECT_EQ(records.back(), "ERROR ARL_CvtToUtf8Hex() failed (subject).");
    EXPECT_EQ(autoConvert, 1) << "the flag keeps its value";
    std::vector<std::string> reads = jobtrackerDouble::ReadsOfJob(1);
    EXPECT_EQ(reads.back(), "14/0") << "nothing is read after the subject";
    EXPECT_TRUE(jobtrackerDouble::ReadsOfJob(2).empty());
}

// Fault: a failed sender, date or time conversion not ending the entry with 7 right before the
// write that needed it, or logged with the wrong text.
TEST_F(JobEntryTest, OtherConversionFailuresStopTheEntry)
{
    struct Case {
        const char *name;
        std::string failingText;
        std::string tail;
        std::string record;
    };
    const std::vector<Case> cases = {
        {"sender", "from@example.com",
         std::string("<__ar_const_from__20> AR_SHOW\n") + kRegularFont,
         "ERROR ARL_CvtToUtf8Hex() failed (from)."},
        {"sent date", "01/05/2010",
         std::string("<__ar_const_job_date__20> AR_SHOW\n") + kRegularFont,
         "ERROR Trans_ConvertUTF8StringToHex() failed."},
        {"completion time", "09:07:41",
         std::string("/field_avail 45 def\n") + kRegularFont,
         "ERROR Trans_ConvertUTF8StringToHex() failed."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        jobtrackerDouble::Reset();
        logDouble::Reset();
        translationDouble::Reset();
        jobtrackerDouble::SetJob(1, PlainJob("Fine"));
        translationDouble::FailHexFor(c.failingText);
        StartReport();
        int32_t status = -1;

        std::string body = WriteEntries(1, &status);

        EXPECT_EQ(status, 7);
        ASSERT_GE(body.size(), c.tail.size());
        EXPECT_EQ(body.substr(body.size() - c.tail.size()), c.tail);
        EXPECT_EQ(logDouble::PluginRecords().back(), c.record);
    }
}

// Fault: the flag not cleared after the first subject (every text auto-detected), cleared before
// the subject is converted, or cleared only for non-empty subjects.
TEST_F(JobEntryTest, FirstSuccessfulSubjectClearsAutoConvert)
{
    jobtrackerDouble::SetJob(1, PlainJob("First"));
    jobtrackerDouble::SetJob(2, PlainJob("Second"));
    std::vector<std::string> seen;
    translationDouble::SetConversion([&seen](const std::string &text) {
        seen.push_back(text + "=" + std::to_string(autoConvert));
        return text;
    });
    StartReport();

    WriteEntries(2);

    EXPECT_EQ(seen, (std::vector<std::string>{"First=1", "from@example.com=0", "Bob=0",
                                              "bob@example.com=0", "Second=0",
                                              "from@example.com=0", "Bob=0",
                                              "bob@example.com=0"}));
    EXPECT_EQ(autoConvert, 0);

    // An empty subject is converted without a converter, and still clears the flag.
    seen.clear();
    autoConvert = 1;
    jobtrackerDouble::SetJob(1, PlainJob(""));
    WriteEntries(1);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), "from@example.com=0");
}

// Fault: the separator written once for every job, or twice for the first.
TEST_F(JobEntryTest, FirstJobHasOneSeparatorLaterJobsTwo)
{
    for (int32_t job = 1; job <= 3; ++job)
        jobtrackerDouble::SetJob(job, PlainJob("J" + std::to_string(job)));
    StartReport();

    std::string body = WriteEntries(3);

    std::vector<std::string> entries;
    for (std::string::size_type at = body.find("/numberOfRecipients "); at != std::string::npos;) {
        std::string::size_type next = body.find("/numberOfRecipients ", at + 1);
        entries.push_back(body.substr(at, next == std::string::npos ? next : next - at));
        at = next;
    }
    ASSERT_EQ(entries.size(), 3u);
    const std::string one = "/currentColumn LM_ind def\nVERTICAL_SPACE_SEPARATOR\n"
                            "currentColumn currentRow MoveToPosition\n";
    const std::string two = "/currentColumn LM_ind def\nVERTICAL_SPACE_SEPARATOR\n"
                            "VERTICAL_SPACE_SEPARATOR\ncurrentColumn currentRow MoveToPosition\n";
    EXPECT_NE(entries[0].find(one), std::string::npos);
    EXPECT_EQ(CountOccurrences(entries[0], "VERTICAL_SPACE_SEPARATOR"), 1);
    EXPECT_NE(entries[1].find(two), std::string::npos);
    EXPECT_NE(entries[2].find(two), std::string::npos);
}

} // namespace
