// The report body: job entries with their recipient rows, and the date and time texts.

#include "pluginFixture.h"

namespace {

const char kRegularFont[] = "DefaultFontName findfont 9 scalefont setfont\n";
const char kMove[] = "currentColumn currentRow MoveToPosition\n";

using ReportBodyTest = PluginTest;

// The job set of golden/twoJobsWithDoubles.ps.
void StoreGoldenJobs(std::map<int32_t, jobtrackerDouble::Job> &jobs)
{
    jobs[1] = {
        2, MakeTime(2010, 1, 5, 9, 5, 3), MakeTime(2010, 1, 5, 9, 7, 41), 2, 1, 1, 0, 3, 45678,
        "Quarterly (draft)", "alice@example.com",
        {{0, 1, "Bob Smith", "bob@example.com", MakeTime(2010, 1, 5, 9, 6, 10)},
         {1, 3, "Carol", "carol@example.org", MakeTime(2010, 1, 5, 9, 7, 41)}}};
    jobs[2] = {
        7, MakeTime(2011, 12, 31, 23, 59, 58), MakeTime(2012, 1, 1, 0, 0, 2), 7, 12, -1, 2, 10, 0,
        "", "dave@example.net",
        {{0, 0, "Eve", "eve@example.net", MakeTime(2011, 12, 31, 23, 59, 59)},
         {2, 2, "Frank", "frank@example.net", MakeTime(2012, 1, 1, 0, 0, 1)},
         {-1, 4, "", "grace@example.net", std::nullopt},
         {0, 5, "Heidi", "heidi@example.net", MakeTime(2012, 1, 1, 0, 0, 2)},
         {1, 6, "Ivan", "ivan@example.net", MakeTime(2012, 1, 1, 0, 0, 2)},
         {0, 0, "Judy", "judy@example.net", MakeTime(2012, 1, 1, 0, 0, 3)},
         {1, 1, "Mallory", "mallory@example.net", MakeTime(2012, 1, 1, 0, 0, 4)}}};
}

// Fault: any byte of an entry or of its recipient rows wrong (every line of the golden file was
// checked by a person): a fixed line, the order of the writes, a hex text, a count, the cap of
// five rows, the separators of later jobs. A field read under the wrong indexes, twice, out of
// order, or an address beyond the fifth read; a value record with another value; the uncapped
// address count not logged; the records of a complete row out of order or with the state logged.
TEST_F(ReportBodyTest, TwoJobsRenderTheCheckedGoldenBody)
{
    StoreGoldenJobs(tracker.jobs);
    EXPECT_EQ(WriteEntries(2), Golden("twoJobsWithDoubles.ps"));
    EXPECT_EQ(entryStatus, 0);
    EXPECT_TRUE(tracker.misuse.empty());
    Texts reads = {"16/0", "12/0", "11/0", "3/0", "2/0", "14/0", "15/0", "4/0", "5/0", "6/0",
                   "10/0"};
    for (int a = 1; a <= 5; ++a)
        for (const char *field : {"17/", "20/", "21/", "18/", "19/"})
            reads.push_back(field + std::to_string(a));
    EXPECT_EQ(tracker.reads[1], Texts(reads.begin(), reads.begin() + 21)) << "two addresses";
    EXPECT_EQ(tracker.reads[2], reads) << "addresses 6 and 7 are never read";
    for (const char *record :
         {"INFO Number of Addresses = 7", "INFO Num Confirmed = 12", "INFO Num Recipients = 7",
          "INFO Number unconfirmed = -1", "INFO Number failed = 2", "INFO Num Scanned = 10",
          "INFO Attach Size = 0", "INFO Subject = \"\"", "INFO From = \"dave@example.net\""})
        EXPECT_EQ(logDouble::Count(record), 1) << record;
    const Texts &records = logs.records;
    auto row = std::find(records.begin(), records.end(), "INFO Addr Type = 1");
    ASSERT_LE(row + 4, records.end());
    EXPECT_EQ(Texts(row, row + 4), (Texts{"INFO Addr Type = 1", "INFO Friendly Name = \"Carol\"",
                                          "INFO Email Addr = \"carol@example.org\"",
                                          "INFO Status Date/Time = 01/05/2010 09:07:41"}));
}

// Fault: a missing field stopping the entry, its default wrong, a value taken from the field
// anyway (in either form of missing), a record missing, misspelt, at the wrong level or out of
// order. The golden body was checked by a person.
TEST_F(ReportBodyTest, EveryFieldMissing)
{
    for (int32_t form : {int32_t{JTAPI_ERR_MISSING}, 0}) {
        SCOPED_TRACE(form);
        ResetDoubles();
        tracker.missingStatus = form;
        tracker.jobs[1].numAddresses = 1;
        EXPECT_EQ(WriteEntries(1), Golden("jobWithEveryFieldMissing.ps"));
        EXPECT_EQ(entryStatus, 0);
        EXPECT_EQ(logs.records,
                  (Texts{"INFO Number of Addresses = 1",
                         "INFO JTAPI_SENT_DATE_TIME is NULL. Use blanks", "INFO Sent Date/Time =  ",
                         "ERROR JTAPI_COMPLETE_DATE_TIME is NULL. Use blanks",
                         "INFO Completed Date/Time =  ",
                         "ERROR JTAPI_NUM_CONF is NULL. Use default = 0", "INFO Num Confirmed = 0",
                         "ERROR JTAPI_NUM_RECIP is NULL. Use default = 0",
                         "INFO Num Recipients = 0",
                         "ERROR JTAPI_SUBJECT is NULL. Use default = 0 length string",
                         "INFO Subject = \"\"",
                         "ERROR JTAPI_FROM is NULL. Use default = 0 length string",
                         "INFO From = \"\"", "ERROR JTAPI_NUM_UNCONF is NULL. Use default = 0",
                         "INFO Number unconfirmed = 0",
                         "ERROR JTAPI_FAILED is NULL. Use default = 0", "INFO Number failed = 0",
                         "INFO Num Scanned = 0", "INFO Attach Size = 0", "INFO Addr Type = 0",
                         "ERROR JTAPI_FRIENDLY_NAME is NULL.", "INFO Use default 0 len string.",
                         "INFO Friendly Name = \"\"",
                         "ERROR JTAPI_EMAIL_ADDRESS is NULL. Use default 0 len str",
                         "INFO Email Addr = \"\"", "ERROR JTAPI_PROC_STATE is NULL.",
                         "INFO Use default = JTAPI_PROCESS_STATE_SENT",
                         "ERROR JTAPI_STATUS_DATE_TIME is NULL. Using default",
                         "INFO Status Date/Time =  "}));
    }
}

// Fault: no heading row for a job without addresses, rows attempted for a negative or missing
// count, the count written uncapped, or a missing count not reported with the call's status.
TEST_F(ReportBodyTest, JobWithoutAddressesEndsWithTheRecipientPreamble)
{
    const std::string ending = "<__ar_const_status_date_time__> UNDERLINE_SHOW\nNextRow\n\n"
                               "% Print recipients info\n"
                               "DefaultFontName findfont DefaultFontSize scalefont setfont\n\n";
    const std::string zero = "INFO Number of Addresses = 0";
    const std::tuple<std::optional<int32_t>, int32_t, std::string, Texts> cases[] = {
        // JTAPI_NUM_ADDRESSES, how a missing field answers, the count written, the first records
        {0, 0, "0", {zero}},
        {-2, 0, "-2", {"INFO Number of Addresses = -2"}},
        {std::nullopt, 6, "0", {"ERROR jtapi_get_field_data() FAILURE = 6", zero}},
        {std::nullopt, 0, "0", {"ERROR jtapi_get_field_data() FAILURE = 0", zero}}};
    for (const auto &[count, missingStatus, written, records] : cases) {
        SCOPED_TRACE(records.front());
        ResetDoubles();
        tracker.jobs[1] = PlainJob("None");
        tracker.jobs[1].numAddresses = count;
        tracker.missingStatus = missingStatus;
        const std::string body = WriteEntries(1);

        EXPECT_EQ(entryStatus, 0);
        EXPECT_EQ(body.rfind("/numberOfRecipients " + written + " def % this", 0), 0u);
        EXPECT_EQ(Tail(body, ending.size()), ending);
        const Texts &logged = logs.records;
        EXPECT_EQ(Texts(logged.begin(), logged.begin() + records.size()), records);
        EXPECT_EQ(tracker.reads[1].size(), 11u) << "no address field is read";
    }
}

// Fault: an address type other than 0 (negative ones too) shown as To, a missing type not shown
// as To; a state outside 0..5 (negative ones too) given a tag or passed through Substring, a
// missing state not shown as Sent or not logged.
TEST_F(ReportBodyTest, AddressTypeAndProcessStateCells)
{
    const std::string sent = "<processState_Sent> pstate_width Substring AR_SHOW\n";
    const std::string delivered = "<processState_Delivered> pstate_width Substring AR_SHOW\n";
    const std::string dashes = "<2d2d2d> AR_SHOW\n";
    const std::optional<int32_t> missing;
    const std::tuple<std::optional<int32_t>, std::optional<int32_t>, int32_t, std::string,
                     std::string, int32_t>
        cases[] = {// type, state, how a missing field answers, prefix, state cell, type logged
                   {-1, 1, 6, "cc", delivered, -1},     {missing, 1, 6, "to", delivered, 0},
                   {missing, 1, 0, "to", delivered, 0}, {0, 6, 6, "to", dashes, 0},
                   {0, -1, 6, "to", dashes, 0},         {0, missing, 6, "to", sent, 0},
                   {0, missing, 0, "to", sent, 0}};
    for (const auto &[type, state, missingStatus, prefix, cell, logged] : cases) {
        SCOPED_TRACE(prefix + ", " + cell);
        ResetDoubles();
        tracker.jobs[1] = PlainJob("Subject");
        tracker.jobs[1].addresses[0].type = type;
        tracker.jobs[1].addresses[0].state = state;
        tracker.missingStatus = missingStatus;

        const std::string body = WriteEntries(1);

        EXPECT_NE(body.find("<__ar_const_" + prefix + "__20" + Hex("Bob") +
                            "> fname_width Substring AR_SHOW\n"),
                  std::string::npos);
        EXPECT_NE(body.find(kMove + cell + "/currentColumn name_info_col4_ind def\n"),
                  std::string::npos);
        EXPECT_EQ(logDouble::Count("INFO Addr Type = " + std::to_string(logged)), 1);
        EXPECT_EQ(logDouble::Count("ERROR JTAPI_PROC_STATE is NULL.") +
                      logDouble::Count("INFO Use default = JTAPI_PROCESS_STATE_SENT"),
                  state ? 0 : 2);
    }
}

// Fault: a failed conversion not ending the entry with 7 right before the write that needed it,
// logged with another text, the flag cleared although the subject failed, or a later field,
// address or job still read.
TEST_F(ReportBodyTest, ConversionFailureStopsTheEntryAtOnce)
{
    const Texts hex = {"ERROR Trans_ConvertUTF8StringToHex() failed."};
    const std::string cvt = "ERROR ARL_CvtToUtf8Hex() failed (", font = kRegularFont,
                      col = "/currentColumn name_info_col", mv = kMove;
    const std::tuple<std::string, int32_t, int32_t, std::string, Texts, std::string, int32_t>
        cases[] = {
        // failing text, its address's type and state, end of the body, last records, last field
        // read, autoConvert after
        {"01/05/2010", 0, 1, "<__ar_const_job_date__20> AR_SHOW\n" + font, hex, "12/0", 1},
        {"09:07:41", 0, 1, "/field_avail 45 def\n" + font, hex, "11/0", 1},
        {"Subject", 0, 1, "/field_avail subj_width field_delta sub def\n" + font,
         {"INFO Subject = \"Subject\"", hex[0], cvt + "subject)."}, "14/0", 1},
        {"from@example.com", 0, 1, "<__ar_const_from__20> AR_SHOW\n" + font, {cvt + "from)."},
         "15/0", 0},
        {"Nobody", 0, 1, col + "1_ind def\n" + mv, {cvt + "to address)."}, "20/1", 0},
        {"Nobody", 7, 1, col + "1_ind def\n" + mv, {cvt + "cc address)."}, "20/1", 0},
        {"nobody@example.com", 0, 1, col + "2_ind def\n" + mv, {cvt + "email address)."},
         "21/1", 0},
        {"---", 0, 9, col + "3_ind def\n" + mv, hex, "18/1", 0},
        {"01/07/2010", 0, 1, col + "4_ind def\n" + mv, hex, "19/1", 0},
        {"09:06:00", 0, 1, col + "4_ind def\n" + mv + "<" + Hex("01/07/2010") + "202020", hex,
         "19/1", 0}};
    for (const auto &[failing, type, state, tail, records, lastRead, flag] : cases) {
        SCOPED_TRACE(records.back() + " for " + failing);
        ResetDoubles();
        jobtrackerDouble::Job job = PlainJob("Subject");
        job.numAddresses = 2;
        job.addresses.push_back(job.addresses[0]);
        job.addresses[0] = {type, state, "Nobody", "nobody@example.com", job.addresses[1].status};
        tracker.jobs = {{1, job}, {2, PlainJob("Second")}};
        translation.hexResults[failing] = -1;
        autoConvert = 1;
        EXPECT_EQ(Tail(WriteEntries(2), tail.size()), tail);
        EXPECT_EQ(entryStatus, 7);
        EXPECT_EQ(Tail(logs.records, records.size()), records);
        EXPECT_EQ(tracker.reads[1].back(), lastRead);
        EXPECT_EQ(tracker.reads.count(2), 0u);
        EXPECT_EQ(autoConvert, flag);
    }
}

class DateTimeTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        config.formats = {{OA_XID_DATE_FORMAT, "%d.%m.%Y"}, {OA_XID_TIME_FORMAT, "%H-%M-%S"}};
        tracker.jobs[1] = PlainJob("");
        StartReport();
    }

    static std::string DateAndTime()
    { return std::string(runScratch.dateText) + "|" + runScratch.timeText; }
    int Lookups(const char *name) { return config.xidCalls[name]; }
};

// Fault: the ids looked up for every time field, not stored, or the time id looked up for a date
// request; the format text cached instead of asked for each time; an id that is neither format's
// accepted, or `out` written when nothing is formatted; a result too long for the text reported.
TEST_F(DateTimeTest, FormatIdsAreLookedUpOnceAndCached)
{
    struct tm t = MakeTime(2010, 1, 5, 9, 5, 3);
    char out[51];
    EXPECT_EQ(FormatDateTime(OA_XID_DATE_FORMAT, &t, out), 1);
    EXPECT_STREQ(out, "05.01.2010");
    EXPECT_EQ(Lookups("OID_ATT_TIME_FORMAT"), 0) << "a date request needs no time-format id";
    std::memset(out, 'z', sizeof out);
    EXPECT_EQ(FormatDateTime(0x0d03, &t, out), 0);
    EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, 'z'));

    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
    EXPECT_EQ(DateAndTime(), "05.01.2010|09-05-03");
    GetDateTimeText(JTAPI_COMPLETE_DATE_TIME, 1, 0);
    EXPECT_EQ(DateAndTime(), "06.01.2010|09-07-41");
    GetDateTimeText(JTAPI_STATUS_DATE_TIME, 1, 1);
    EXPECT_EQ(DateAndTime(), "07.01.2010|09-06-00");

    EXPECT_EQ(Lookups("OID_ATT_DATE_FORMAT"), 1);
    EXPECT_EQ(Lookups("OID_ATT_TIME_FORMAT"), 1);
    EXPECT_EQ(config.formatRequests.size(), 7u);
    EXPECT_EQ(logs.records, (Texts{"INFO Sent Date/Time = 05.01.2010 09-05-03",
                                   "INFO Completed Date/Time = 06.01.2010 09-07-41",
                                   "INFO Status Date/Time = 07.01.2010 09-06-00"}));

    config.formats[OA_XID_DATE_FORMAT] = "%A %B %A %B %A";
    EXPECT_EQ(FormatDateTime(OA_XID_DATE_FORMAT, &t, out), 1) << "a result too long is not seen";
}

// Fault: a lookup that yielded 0 cached as if it were an id, so that the attribute would never be
// looked up again. The fallback texts with leading zeros, the month counted from 0, the year from
// 1900, or the fields in another order: the fallback needs an id that matches neither cached id
// when FormatDateTime compares, so the caller's lookup yields 0 and FormatDateTime's own the id.
TEST_F(DateTimeTest, LookupYieldingZeroIsRepeated)
{
    config.xids = {{"OID_ATT_DATE_FORMAT", {0}}, {"OID_ATT_TIME_FORMAT", {0}}};
    config.formats[0] = "[%Y]";
    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
    EXPECT_EQ(DateAndTime(), "[2010]|[2010]");
    const int lookups = Lookups("OID_ATT_DATE_FORMAT");
    GetDateTimeText(JTAPI_COMPLETE_DATE_TIME, 1, 0);
    EXPECT_GT(Lookups("OID_ATT_DATE_FORMAT"), lookups);
    EXPECT_EQ(config.formatRequests, std::vector<uint16_t>(4, 0));

    config.xids["OID_ATT_DATE_FORMAT"] = {0, OA_XID_DATE_FORMAT};
    config.xids["OID_ATT_TIME_FORMAT"] = {OA_XID_TIME_FORMAT};
    config.xidCalls.clear();
    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
    EXPECT_EQ(DateAndTime(), "1/5/2010|09-05-03");

    ARL_STATE.dateFormatId = ARL_STATE.timeFormatId = 0;
    config.xids = {{"OID_ATT_DATE_FORMAT", {OA_XID_DATE_FORMAT}},
                   {"OID_ATT_TIME_FORMAT", {0, OA_XID_TIME_FORMAT}}};
    config.xidCalls.clear();
    logs = {};
    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
    EXPECT_EQ(logs.records, (Texts{"INFO Sent Date/Time = 05.01.2010 9:5:3",
                                   "INFO Sent Date/Time = 05.01.2010 09-05-03"}));
    EXPECT_EQ(Lookups("OID_ATT_DATE_FORMAT") + Lookups("OID_ATT_TIME_FORMAT"), 3)
        << "known ids are not looked up again";
}

} // namespace
