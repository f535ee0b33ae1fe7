// Whole report runs through the real services: the body, the report, the print job and the log;
// then the failures, each injected where it happens, and the state that runs share.

#include "pluginFixture.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <sys/utsname.h>

namespace {

namespace fs = std::filesystem;

const char kMarker[] = "__GENERATE_BODY_HERE__\n";
const char kHead[] = "%!PS <__media_type__20__media_color__20__device_hex_name__>\n";
const std::string kReleased[] = {"INFO Releasing Report Data...",
                                 "INFO jtapi_release_report_data() SUCCESSFUL"};

std::string Golden(const std::string &name) { return ReadFile(ARL_GOLDEN_DIR "/" + name); }

bool HasRun(const Texts &records, const Texts &run)
{ return std::search(records.begin(), records.end(), run.begin(), run.end()) != records.end(); }

std::string Ticket(const std::string &medium)
{
    return "user=System User\njob-name=Activity Report\noperation=print\nprecedence=25\n"
           "start-sheet=none\ncopy-count=1\ncontent-orientation=oid-val-content-orientation-"
           "portrait\nsides=1\nplex=simplex\ntransient-file=TRUE\njob-scheduling=after-complete\n"
           "default-medium=\"" + medium + "\"\n";
}

// The jobs of golden/twoJobsWithDoubles.ps: 2 and 7 addresses, types and states outside the
// named ones, a negative count, an empty subject and a missing status time.
const char kTwoJobs[] =
    "INSERT INTO jobs VALUES (1, '2010-01-05 09:05:03', '2010-01-05 09:07:41', 2, 1, 1, 0, 3,"
    " 45678, 'Quarterly (draft)', 'alice@example.com'), (2, '2011-12-31 23:59:58',"
    " '2012-01-01 00:00:02', 7, 12, -1, 2, 10, 0, '', 'dave@example.net');"
    "INSERT INTO addresses VALUES"
    " (1, 1, 0, 1, '2010-01-05 09:06:10', 'Bob Smith', 'bob@example.com'),"
    " (1, 2, 1, 3, '2010-01-05 09:07:41', 'Carol', 'carol@example.org'),"
    " (2, 1, 0, 0, '2011-12-31 23:59:59', 'Eve', 'eve@example.net'),"
    " (2, 2, 2, 2, '2012-01-01 00:00:01', 'Frank', 'frank@example.net'),"
    " (2, 3, -1, 4, NULL, '', 'grace@example.net'),"
    " (2, 4, 0, 5, '2012-01-01 00:00:02', 'Heidi', 'heidi@example.net'),"
    " (2, 5, 1, 6, '2012-01-01 00:00:02', 'Ivan', 'ivan@example.net'),"
    " (2, 6, 0, 0, '2012-01-01 00:00:03', 'Judy', 'judy@example.net'),"
    " (2, 7, 1, 1, '2012-01-01 00:00:04', 'Mallory', 'mallory@example.net');";

// The job of golden/jobWithThreeRecipients.ps; `e9` and `eb` are the bytes of é and ë.
std::string ThreeRecipients(const std::string &e9, const std::string &eb)
{
    return "INSERT INTO jobs VALUES (1, '2010-01-05 09:05:03', '2010-01-05 09:07:41', 3, 2, 1,"
           " 0, 4, 98765, CAST(X'436166" + e9 + "206d656e752028763229' AS TEXT),"
           " 'chef@example.com'); INSERT INTO addresses VALUES (1, 1, 0, 1,"
           " '2010-01-05 09:06:00', CAST(X'5a6f" + eb + "' AS TEXT), 'zoe@example.com'),"
           " (1, 2, 1, 5, '2010-01-05 09:07:41', 'Marc', 'marc@example.org'),"
           " (1, 3, 0, 7, NULL, 'Ann', 'ann@example.net');";
}

const char kFieldsMissing[] =
    "INSERT INTO jobs VALUES (1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);"
    "INSERT INTO addresses VALUES (1, 1, NULL, NULL, NULL, NULL, NULL);";

const char kDayFormats[] = "OID_ATT_DATE_FORMAT = %d/%m/%Y\nOID_ATT_TIME_FORMAT = %H:%M\n";

// Fault: anything between the job database and the printed job: a field read from the wrong
// column or index, a value or default written wrongly, a byte of an entry out of place (the
// golden bodies were checked line by line), a text not converted from the system charset to the
// printer encoding, the template copied wrongly (a 300-character line is two pieces; text around
// a marker is dropped with it; a marker split across pieces is no marker; every marker writes
// the series again), a tag left unreplaced, the paper not that of the market region, the media
// and device name texts wrong, the records of missing fields or of a complete row out of order.
TEST_F(PluginTest, RunsRenderTheCheckedBodiesAndPrintThem)
{
    struct utsname host;
    ASSERT_EQ(uname(&host), 0);
    const std::string sent = "INFO Sent Date/Time = ", node = host.nodename,
                      longLine = "%!PS\n" + std::string(300, 'a') + "\n" + std::string(240, 'b') +
                                 kMarker + std::string(20, 'c') + "\n";
    const Texts missing = {
        "INFO Number of Addresses = 1", "INFO JTAPI_SENT_DATE_TIME is NULL. Use blanks",
        sent + " ", "ERROR JTAPI_COMPLETE_DATE_TIME is NULL. Use blanks",
        "INFO Completed Date/Time =  ", "ERROR JTAPI_NUM_CONF is NULL. Use default = 0",
        "INFO Num Confirmed = 0", "ERROR JTAPI_NUM_RECIP is NULL. Use default = 0",
        "INFO Num Recipients = 0", "ERROR JTAPI_SUBJECT is NULL. Use default = 0 length string",
        "INFO Subject = \"\"", "ERROR JTAPI_FROM is NULL. Use default = 0 length string",
        "INFO From = \"\"", "ERROR JTAPI_NUM_UNCONF is NULL. Use default = 0",
        "INFO Number unconfirmed = 0", "ERROR JTAPI_FAILED is NULL. Use default = 0",
        "INFO Number failed = 0", "INFO Num Scanned = 0", "INFO Attach Size = 0",
        "INFO Addr Type = 0", "ERROR JTAPI_FRIENDLY_NAME is NULL.",
        "INFO Use default 0 len string.", "INFO Friendly Name = \"\"",
        "ERROR JTAPI_EMAIL_ADDRESS is NULL. Use default 0 len str", "INFO Email Addr = \"\"",
        "ERROR JTAPI_PROC_STATE is NULL.", "INFO Use default = JTAPI_PROCESS_STATE_SENT",
        "ERROR JTAPI_STATUS_DATE_TIME is NULL. Using default", "INFO Status Date/Time =  "};
    const struct {
        std::string rows, conf; const char *charset, *language; std::string templ, body;
        std::string device; std::map<std::string, std::vector<long>> answers;
        int missingStatus; const char *medium; Texts records;
    } cases[] = {
        {kTwoJobs, "market.region = 2\nconnectivity.SNMP.systemGroup.sysName = lobby\n",
         "ISO-8859-15", "en", kHead + std::string(kMarker),
         kHead + Golden("twoJobsWithDoubles.ps"), "lobby", {}, -1, "ISO_A4",
         {"INFO Number of Addresses = 7", sent + "12/31/2011 23:59:58",
          "INFO Completed Date/Time = 01/01/2012 00:00:02", "INFO Num Confirmed = 12",
          "INFO Num Recipients = 7", "INFO Subject = \"\"", "INFO From = \"dave@example.net\"",
          "INFO Number unconfirmed = -1", "INFO Number failed = 2", "INFO Num Scanned = 10",
          "INFO Attach Size = 0", "INFO Addr Type = 0", "INFO Friendly Name = \"Eve\""}},
        {kFieldsMissing, "", "ISO-8859-15", "en", kHead + std::string(kMarker) + "X\n" + kMarker,
         kHead + Golden("jobWithEveryFieldMissing.ps") + "X\n" +
             Golden("jobWithEveryFieldMissing.ps"),
         node, {}, 6, "NA_LETTER", missing},
        {kFieldsMissing, "market.region = 7\n", "ISO-8859-15", "en", kHead + std::string(kMarker),
         kHead + Golden("jobWithEveryFieldMissing.ps"), "", {{"uname()", {EIO}}}, 0, "NA_LETTER",
         {"ERROR ARL_GetSpecialAttributes(): uname() failed, errno = " + std::to_string(EIO) +
          "."}},
        {ThreeRecipients("e9", "eb"),
         kDayFormats + std::string("market.region = 5\nconnectivity.SNMP.systemGroup.sysName = "
                                   "Caf\xe9\n"),
         nullptr, "de", kHead + std::string(kMarker),
         kHead + Golden("jobWithThreeRecipients.ps"), "Caf\xe9", {}, -1, "ISO_A4",
         {"ERROR ARL_CvtToUtf8(): getenv(SYSTEM_CHARSET) returned NULL.",
          "INFO ARL_CvtToUtf8(): transLibEncoding = ISO-8859-15."}},
        {ThreeRecipients("c3a9", "c3ab"),
         kDayFormats + std::string("market.region = 4\nconnectivity.SNMP.systemGroup.sysName = "
                                   "Caf\xe9\n"),
         "UTF-8", "fr", kHead + std::string(kMarker), kHead + Golden("jobWithThreeRecipients.ps"),
         "Caf\xe9", {}, -1, "NA_LETTER", {"INFO ARL_CvtToUtf8(): transLibEncoding = UTF-8."}},
        {"INSERT INTO jobs (id, subject) VALUES (1, CAST(X'd09cd0b8d180' AS TEXT));",
         "market.region = 3\nconnectivity.SNMP.systemGroup.sysName = Caf\xe9\n", "UTF-8", "ru",
         kMarker, "<bcd8e0> field_avail Substring AR_SHOW\n", "", {{"SNF_Convert(Caf\xe9", {0}}},
         -1, "ISO_A4",
         {"ERROR ARL_CvtToUtf8(): SNF_Convert(Caf\xe9, ISO-8859-15) failed.",
          "ERROR ARL_CvtToUtf8() failed (sedCmdTable[4])."}},
        {"", "market.region = 0\nconnectivity.SNMP.systemGroup.sysName = " + std::string(150, 'n'),
         "ISO-8859-15", "en", kHead + longLine + "X " + kMarker + "Y" + kMarker + "end",
         kHead + longLine + "end", std::string(99, 'n'), {}, -1, "NA_LETTER",
         {"WARN CopyString() input string being truncated."}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.language + (" " + c.rows.substr(0, 90)));
        Fresh();
        Database(c.rows);
        Conf(c.conf);
        Template(c.templ);
        c.charset ? setenv("SYSTEM_CHARSET", c.charset, 1) : unsetenv("SYSTEM_CHARSET");
        SetSystemCharset(nullptr);
        faults::state.answers = c.answers;
        faults::state.missingFieldStatus = c.missingStatus;

        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", c.language), 0);

        const std::string &body = faults::state.editedBody, report = Spooled("document.ps");
        if (c.rows.find("d09c") == std::string::npos)
            EXPECT_EQ(body, c.body);
        else
            EXPECT_NE(body.find(c.body), std::string::npos) << body;
        if (c.templ.rfind(kHead, 0) == 0) {
            EXPECT_EQ(report.substr(0, report.find('\n')),
                      "%!PS <" + Hex("Plain") + "20" + Hex("Blue") + "20" +
                          (c.device == "Caf\xe9" ? "436166e9" : Hex(c.device)) +
                          ">");
        }
        for (const char *tag : {"__ar_const_", "processState_", "__media_", "_hex_"})
            EXPECT_EQ(report.find(tag), std::string::npos) << report;
        EXPECT_EQ(Spooled("ticket"), Ticket(c.medium));
        const Texts records = Records();
        EXPECT_PRED2(HasRun, records, c.records);
        EXPECT_EQ(HasRun(records, {"NOTICE Failed to get market region from cfg server, "
                                   "defaulting to Usco"}),
                  c.conf.find("market.region") == std::string::npos);
        EXPECT_EQ(fs::directory_iterator(dir + "/tmp"), fs::directory_iterator())
            << "body file deleted, report file handed to the print service";
    }
}

// Fault: a constant tag misspelt, or given the string id of another text.
TEST_F(PluginTest, EveryConstantTagPrintsItsText)
{
    std::istringstream golden(Golden("constantTexts.txt"));
    std::string tag, text, templ, printed;
    while (std::getline(golden, tag, '\t') && std::getline(golden, text)) {
        std::string latin9; // the English texts hold no character beyond U+00FF
        for (size_t i = 0; i < text.size(); ++i) {
            char byte = text[i];
            if (byte & 0x80)
                byte = char(byte << 6 | (text[++i] & 0x3f));
            latin9 += byte;
        }
        templ += "<" + tag + ">\n", printed += "<" + Hex(latin9) + ">\n";
    }
    Template(templ);
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    EXPECT_EQ(Spooled("document.ps"), printed);
}

// Fault: a step out of order or a record misspelt on the normal path; the paths built wrongly;
// without TEMP_FILES_DIR no fallback, or the fallback logged once though the directory is read
// for both paths.
TEST_F(PluginTest, RunWithoutJobsLogsEveryStepInOrder)
{
    Conf("market.region = 1\nconnectivity.SNMP.systemGroup.sysName = lobby\n");
    EXPECT_EQ(ARL_ActivityReport(nullptr, nullptr, "en"), 0);
    const std::string tmp = dir + "/tmp/";
    Texts expected = {"ENTER ARL_ActivityReport", "INFO Job Tracker data retreived successfully",
                      "INFO Activity Report Template file " + dir + "/template.ps opened",
                      "INFO Open temp output file \"" + tmp + "ar_output_pdl.ps\"",
                      "INFO Number of jobs = 0",
                      "INFO Submit PDL File = \"" + tmp + "activityReport.ps\"",
                      "ENTER ARL_GenerateActivityReport()", "ENTER ARL_GetSpecialAttributes()",
                      "ERROR CopyString() sent to or from pointer.",
                      "ERROR CopyString() sent to or from pointer.", "INFO numVariableCmds = 5",
                      "INFO numConstantCmds = 49", "ENTER ARL_TranslateConstantText()"};
    expected.insert(expected.end(),
                    {"INFO Add command 0: type=1 find=\"__media_color__\" replace=\"White\"",
                     "INFO Add command 1: type=1 find=\"__media_type__\" replace=\"Standard\"",
                     "INFO Add command 2: type=6 find=\"__system_hex_date__\" replace=\"NULL\"",
                     "INFO Add command 3: type=7 find=\"__system_hex_time__\" replace=\"NULL\"",
                     "INFO Add command 4: type=1 find=\"__device_hex_name__\" replace=\"lobby\"",
                     "INFO ARL_GenerateActivityReport returning 0", kReleased[0], kReleased[1]});
    EXPECT_EQ(Records(), expected);
    EXPECT_EQ(faults::Calls("Sed_AddCommand(__system_hex_"),
              (Texts{"Sed_AddCommand(__system_hex_date__, 6, " + Hex("N/A") + ")",
                     "Sed_AddCommand(__system_hex_time__, 7, " + Hex("N/A") + ")"}));
    EXPECT_EQ(faults::state.editedBody, "%!PS\n");

    unsetenv("TEMP_FILES_DIR");
    fs::create_directories("/tmp/tmpfiles");
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    const Texts records = Records();
    EXPECT_EQ(std::count(records.begin(), records.end(), "ERROR ENV TEMP_FILES_DIR not defined"),
              2);
    EXPECT_EQ(faults::Calls("Sed_FileEdit(").back(),
              "Sed_FileEdit(/tmp/tmpfiles/ar_output_pdl.ps, /tmp/tmpfiles/activityReport.ps)");
}

// Fault: an early failure not reported or reported otherwise, the report data not released (or
// released when it was never obtained), a field read, or the run going on after it.
TEST_F(PluginTest, EarlyFailuresReturnTheirStatusAndGiveBackWhatWasTaken)
{
    const std::string enter = "ENTER ARL_ActivityReport", missing = dir + "/missing",
                      obtained = "INFO Job Tracker data retreived successfully",
                      noTemplate = "ERROR ENV ACTIVITY_REPORT_TEMPLATE not defined for Activity "
                                   "Report.";
    const struct {
        const char *variable; std::string value; int32_t status; Texts records; size_t releases;
    } cases[] = {
        {"ACTIVITY_REPORT_TEMPLATE", "", 1, {enter, obtained, noTemplate}, 1},
        {"ACTIVITY_REPORT_TEMPLATE", missing, 1, {enter, obtained, noTemplate}, 1},
        {"TEMP_FILES_DIR", missing, 6,
         {enter, obtained, "INFO Activity Report Template file " + dir + "/template.ps opened",
          "INFO Open temp output file \"" + missing + "/ar_output_pdl.ps\"",
          "ERROR Cannot open PDL file for writing."},
         1},
        {"JTAPI_DATABASE", missing, 4,
         {enter, "ERROR jtapi_get_completed_jobs_report_data() FAILED status = 2."}, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.records.back());
        Fresh();
        c.value.empty() ? unsetenv(c.variable) : setenv(c.variable, c.value.c_str(), 1);
        autoConvert = 0;

        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), c.status);

        EXPECT_EQ(Records(), c.records);
        EXPECT_EQ(faults::state.calls, Texts(c.releases, "jtapi_release_report_data()"));
        EXPECT_EQ(autoConvert, 1);
        EXPECT_FALSE(fs::exists(dir + "/tmp/ar_output_pdl.ps"));
    }
}

// Fault: a failure after the body file exists not ending the run with its status, later jobs
// still written, the report printed after a failed finishing pass, a failed release logged as a
// success or changing the status, or the common end skipped (data kept, body file left).
TEST_F(PluginTest, LaterFailuresPassThroughTheCommonEnd)
{
    const std::string returning = "INFO ARL_GenerateActivityReport returning ",
                      failedRelease = "ERROR jtapi_release_report_data() FAILURE 9";
    const size_t reportPath = dir.size() + sizeof "/tmp/activityReport.ps";
    const struct {
        std::map<std::string, std::vector<long>> answers; size_t failMalloc; int32_t status;
        Texts records;
    } cases[] = {
        {{{"Trans_ConvertUTF8StringToHex(Unprintable", {-1}}}, 0, 7,
         {"ERROR ARL_CvtToUtf8Hex() failed (subject).", kReleased[0], kReleased[1]}},
        {{{"jtapi_release_report_data", {9}}}, 0, 0, {returning + "0", kReleased[0], failedRelease}},
        {{{"jtapi_release_report_data", {9}}, {"Sed_FileEdit", {5}}}, 0, 3,
         {returning + "3", kReleased[0], failedRelease}},
        {{}, ARL_REPLACE_PATTERN_SIZE, 5,
         {"ERROR malloc() failed for replacePattern.", kReleased[0], kReleased[1]}},
        {{}, reportPath, 3,
         {"ERROR malloc() failed for the report path.", kReleased[0], kReleased[1]}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.records[0]);
        Fresh();
        Database("INSERT INTO jobs (id, subject) VALUES (1, 'Unprintable'), (2, 'Two');");
        faults::state.answers = c.answers;
        faults::failMallocOf = c.failMalloc;
        for (VariableCmd &record : sedCmdTable) // the buffers are allocated again
            std::free(record.replacePattern), record.replacePattern = nullptr;

        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), c.status);
        faults::failMallocOf = 0;

        const Texts records = Records();
        EXPECT_EQ(Texts(records.end() - std::min(records.size(), c.records.size()), records.end()),
                  c.records);
        EXPECT_EQ(faults::Calls("jtapi_release_report_data").size(), 1u);
        EXPECT_EQ(faults::Calls("jtapi_get_field_data(14/2/0)").empty(), c.status == 7);
        EXPECT_EQ(Spooled("ticket").empty(), c.status != 0);
        EXPECT_FALSE(fs::exists(dir + "/tmp/ar_output_pdl.ps"));
    }
}

// Fault: a failed conversion not ending the entry with 7 right before the write that needed it,
// logged with another text, the flag cleared although the subject failed, or a later field,
// address or job still read.
TEST_F(PluginTest, ConversionFailureStopsTheEntryAtOnce)
{
    const std::string hex = "ERROR Trans_ConvertUTF8StringToHex() failed.",
                      cvt = "ERROR ARL_CvtToUtf8Hex() failed (",
                      font = "DefaultFontName findfont 9 scalefont setfont\n",
                      mv = "currentColumn currentRow MoveToPosition\n",
                      col = "/currentColumn name_info_col";
    const struct {
        std::string failing; int type, state; std::string tail; Texts records; const char *read;
        int32_t flag;
    } cases[] = {
        {"01/05/2010", 0, 1, "<__ar_const_job_date__20> AR_SHOW\n" + font, {hex}, "12/1/0", 1},
        {"09:07:41", 0, 1, "/field_avail 45 def\n" + font, {hex}, "11/1/0", 1},
        {"Subject", 0, 1, "/field_avail subj_width field_delta sub def\n" + font,
         {"INFO Subject = \"Subject\"", hex, cvt + "subject)."}, "14/1/0", 1},
        {"from@example.com", 0, 1, "<__ar_const_from__20> AR_SHOW\n" + font, {cvt + "from)."},
         "15/1/0", 0},
        {"Nobody", 0, 1, col + "1_ind def\n" + mv, {cvt + "to address)."}, "20/1/1", 0},
        {"Nobody", 7, 1, col + "1_ind def\n" + mv, {cvt + "cc address)."}, "20/1/1", 0},
        {"nobody@example.com", 0, 1, col + "2_ind def\n" + mv, {cvt + "email address)."},
         "21/1/1", 0},
        {"---", 0, 9, col + "3_ind def\n" + mv, {hex}, "18/1/1", 0},
        {"01/07/2010", 0, 1, col + "4_ind def\n" + mv, {hex}, "19/1/1", 0},
        {"09:06:00", 0, 1, col + "4_ind def\n" + mv + "<" + Hex("01/07/2010") + "202020", {hex},
         "19/1/1", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.records.back() + " for " + c.failing);
        Fresh();
        Database("INSERT INTO jobs VALUES (1, '2010-01-05 09:05:03', '2010-01-06 09:07:41', 1, 1,"
                 " 0, 0, 1, 100, 'Subject', 'from@example.com'), (2, NULL, NULL, NULL, NULL,"
                 " NULL, NULL, NULL, NULL, 'Second', NULL); INSERT INTO addresses VALUES (1, 1, " +
                 std::to_string(c.type) + ", " + std::to_string(c.state) +
                 ", '2010-01-07 09:06:00', 'Nobody', 'nobody@example.com'), (1, 2, 0, 0, NULL,"
                 " 'Bob', 'bob@example.com');");
        faults::state.answers = {{"Trans_ConvertUTF8StringToHex(" + c.failing + ",", {-1}}};

        const std::string body = WriteEntries(2);

        EXPECT_EQ(body.substr(body.size() - std::min(body.size(), c.tail.size())), c.tail);
        EXPECT_EQ(entryStatus, 7);
        const Texts records = Records();
        EXPECT_EQ(Texts(records.end() - std::min(records.size(), c.records.size()), records.end()),
                  c.records);
        EXPECT_EQ(faults::Calls("jtapi_get_field_data").back(),
                  "jtapi_get_field_data(" + std::string(c.read) + ")");
        EXPECT_EQ(autoConvert, c.flag);
    }
}

// Fault: a failure of the finishing pass not ending it with its status, not reported or reported
// otherwise; commands added after it, an edit following it; Trans_Init skipped when the array
// cannot be created, or a failed Trans_Init remembered as done; the array not freed once.
TEST_F(PluginTest, FinishingPassFailuresEndTheRunWithTheirStatus)
{
    const std::string translating = "ENTER ARL_TranslateConstantText()",
                      failed = "ERROR ARL_TranslateConstantText() failed.",
                      returning3 = "INFO ARL_GenerateActivityReport returning 3";
    const struct {
        std::string call; long answer; int32_t status; Texts records; size_t commands;
        int32_t initialised;
    } cases[] = {
        {"Sed_CreateCmdArray", 0, 3,
         {"ERROR Sed_CreateCmdArray() failed.", translating,
          "ERROR ARL_TranslateConstantText()\\tsent a NULL\\tpointer.", failed, returning3},
         0, 1},
        {"Trans_Init", 6, 3,
         {translating, "ERROR Failed to init translation library, error = 6", failed, returning3},
         0, 0},
        {"Trans_TranslateString(en, 20210)", 4, 3,
         {translating, "ERROR Failed to translate string 20210 to [en], error = 4", failed,
          returning3},
         12, 1},
        {"Trans_ConvertUTF8StringToHex(Report Date:", -1, 3,
         {translating, "ERROR Trans_ConvertUTF8StringToHex() failed.",
          "ERROR ARL_CvtToUtf8Hex() failed (i = 3).", failed, returning3},
         3, 1},
        {"Sed_AddCommand(__ar_const_page__", 1, 3,
         {translating, "ERROR Sed_AddCommand(i = 7) failed.", failed, returning3}, 8, 1},
        {"Trans_ConvertUTF8StringToHex(Plain", -1, 7,
         {"INFO Add command 1: type=1 find=\"__media_type__\" replace=\"Plain\"",
          "ERROR Trans_ConvertUTF8StringToHex() failed.",
          "ERROR ARL_CvtToUtf8Hex() failed (cmdCount = 1).",
          "INFO ARL_GenerateActivityReport returning 7"},
         50, 1},
        {"Sed_FileEdit", 4, 3, {"ERROR Sed_FileEdit() failed with status 4.", returning3}, 54, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.call);
        Fresh();
        faults::state.answers = {{c.call, {c.answer}}};

        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), c.status);

        Texts records = Records(), expected = c.records;
        expected.insert(expected.end(), {kReleased[0], kReleased[1]});
        EXPECT_EQ(Texts(records.end() - std::min(records.size(), expected.size()), records.end()),
                  expected);
        EXPECT_EQ(faults::Calls("Sed_AddCommand").size(), c.commands);
        EXPECT_EQ(faults::Calls("Sed_FileEdit").size(), c.commands == 54 ? 1u : 0u);
        EXPECT_EQ(faults::Calls("Sed_FreeCommands"),
                  Texts{c.call == "Sed_CreateCmdArray" ? "Sed_FreeCommands(NULL)"
                                                       : "Sed_FreeCommands(array)"});
        EXPECT_EQ(ARL_STATE.transInitialised, c.initialised);
        EXPECT_EQ(Spooled("ticket"), "");
    }
}

// Fault: a refused variable command failing the pass, stopping the later commands, or its result
// not stored; its tag not left as written.
TEST_F(PluginTest, RefusedVariableCommandLeavesItsTag)
{
    Template("<__media_type__>\n");
    faults::state.answers = {{"Sed_AddCommand(__media_type__", {9}}};
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    EXPECT_PRED2(HasRun, Records(),
                 (Texts{"INFO Add command 1: type=1 find=\"__media_type__\" replace=\"Plain\"",
                        "ERROR Sed_AddCommand() failed.",
                        "INFO Add command 2: type=6 find=\"__system_hex_date__\" replace=\"NULL\""}));
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        EXPECT_EQ(sedCmdTable[i].addResult, i == 1 ? 9 : 0) << "record " << i;
    EXPECT_EQ(Spooled("document.ps"), "<__media_type__>\n");
}

// Fault: a later run allocating new replacement buffers, keeping the previous run's media texts,
// initialising the translation library again or not retrying it after a failure; the autoConvert
// flag not set back to 1 by every run, or cleared before, or not after, a run's first subject.
TEST_F(PluginTest, LaterRunsShareOnlyTheProcessState)
{
    Database("INSERT INTO jobs (id, subject) VALUES (1, ''), (2, 'Second');");
    std::string flags;
    faults::state.observe = [&flags](const std::string &call) {
        if (call.rfind("Trans_ConvertUTF8StringToHex(", 0) == 0)
            flags += std::to_string(autoConvert);
    };
    faults::state.answers = {{"Trans_Init", {6, 0}}};
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 3);
    char *buffers[ARL_NUM_VARIABLE_CMDS];
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        buffers[i] = sedCmdTable[i].replacePattern;
    for (int run = 0; run < 2; ++run) {
        flags.clear();
        EXPECT_EQ(ARL_ActivityReport(nullptr, nullptr, "en"), 0);
        EXPECT_EQ(flags, "11111" + std::string(61, '0')) << "4 times and the first subject";
    }
    EXPECT_EQ(faults::Calls("Trans_Init").size(), 2u);
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        EXPECT_EQ(sedCmdTable[i].replacePattern, buffers[i]) << "record " << i;
    EXPECT_EQ(faults::Calls("Sed_AddCommand(__media_").back(),
              "Sed_AddCommand(__media_type__, 1, " + Hex("Standard") + ")");
}

// Fault: a format id looked up for every time field or not stored, the time id looked up for a
// date request; the format text cached; an id that is neither format's accepted; a lookup that
// yielded 0 cached as an id; the fallback texts with leading zeros, the month counted from 0, the
// year from 1900 or the fields in another order.
TEST_F(PluginTest, FormatIdsAreLookedUpOnceAndAZeroAgain)
{
    const std::string job = "INSERT INTO jobs VALUES (1, '2010-01-05 09:05:03', '2010-01-06"
                            " 09:07:41', 1, 1, 0, 0, 1, 100, 'S', 'F'); INSERT INTO addresses"
                            " VALUES (1, 1, 0, 0, '2010-01-07 09:06:00', 'N', 'E');";
    Database(job);
    const struct tm t = {3, 5, 9, 5, 0, 110, 0, 0, 0, 0, nullptr};
    char out[51] = "untouched";
    EXPECT_EQ(FormatDateTime(OA_XID_DATE_FORMAT + 2, &t, out), 0);
    EXPECT_STREQ(out, "untouched");
    ARL_STATE.timeFormatId = 0;
    EXPECT_EQ(FormatDateTime(OA_XID_DATE_FORMAT, &t, out), 1);
    EXPECT_STREQ(out, "01/05/2010");
    EXPECT_EQ(ARL_STATE.timeFormatId, 0) << "a date request needs no time-format id";
    WriteEntries(1);
    EXPECT_EQ(faults::Calls("oa_xid_of").size(), 3u);
    EXPECT_EQ(faults::Calls("TD_GetFormat").size(), 7u);

    const std::string sent = "INFO Sent Date/Time = ";
    const struct {
        std::vector<long> date, time; std::string first, second; size_t lookups;
    } cases[] = {{{0}, {0}, " ", " ", 8},
                 {{0, OA_XID_DATE_FORMAT}, {OA_XID_TIME_FORMAT}, "1/5/2010 09:05:03",
                  "01/05/2010 09:05:03", 3},
                 {{OA_XID_DATE_FORMAT}, {0, OA_XID_TIME_FORMAT}, "01/05/2010 9:5:3",
                  "01/05/2010 09:05:03", 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        Fresh();
        Database(job);
        WriteEntries(0);
        faults::state.calls.clear();
        faults::state.answers = {{"oa_xid_of(OID_ATT_DATE_FORMAT)", c.date},
                                 {"oa_xid_of(OID_ATT_TIME_FORMAT)", c.time}};
        GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
        GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
        EXPECT_EQ(Records(), (Texts{sent + c.first, sent + c.second}));
        EXPECT_EQ(faults::Calls("oa_xid_of").size(), c.lookups);
    }
}

} // namespace
