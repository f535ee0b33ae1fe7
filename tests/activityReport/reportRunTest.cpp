// Whole report runs through the real services: the body, the report, the print job and the log;
// then the failures, each injected where it happens, and the state that runs share.

#include "pluginFixture.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <sys/utsname.h>

namespace {

const char kMarker[] = "__GENERATE_BODY_HERE__\n";
const char kHead[] = "%!PS <__media_type__20__media_color__20__device_hex_name__>\n";
const char kDayFormats[] = "OID_ATT_DATE_FORMAT = %d/%m/%Y\nOID_ATT_TIME_FORMAT = %H:%M\n";
const Texts kCommonEnd = {"INFO Releasing Report Data...",
                         "INFO jtapi_release_report_data() SUCCESSFUL"};

std::string Golden(const std::string &name) { return ReadFile(ARL_GOLDEN_DIR "/" + name); }

bool HasRun(const Texts &records, const Texts &run)
{ return std::search(records.begin(), records.end(), run.begin(), run.end()) != records.end(); }

Texts Tail(const Texts &texts, size_t n)
{ return Texts(texts.end() - std::min(n, texts.size()), texts.end()); }

Texts Join(Texts texts, const Texts &more) // `texts`, then `more`
{ return texts.insert(texts.end(), more.begin(), more.end()), texts; }

std::string Ticket(const std::string &medium)
{
    return "user=System User\njob-name=Activity Report\noperation=print\nprecedence=25\n"
           "start-sheet=none\ncopy-count=1\ncontent-orientation=oid-val-content-orientation-"
           "portrait\nsides=1\nplex=simplex\ntransient-file=TRUE\njob-scheduling=after-complete\n"
           "default-medium=\"" + medium + "\"\n";
}

// Fault: anything between the job database and the printed job: a field read from the wrong
// column or index, a value or default written wrongly, a byte of an entry out of place (the
// golden bodies were checked line by line), a text not converted from the system charset to the
// printer encoding, the template copied wrongly (a 300-character line is two pieces; text around
// a marker is dropped with it; a marker split across pieces is no marker; every marker writes
// the series again), a tag left, the paper not that of the market region, the media or device
// name texts wrong; the records of missing fields (in both forms) or of an entry out of order.
TEST_F(PluginTest, RunsRenderTheCheckedBodiesAndPrintThem)
{
    struct utsname host;
    ASSERT_EQ(uname(&host), 0);
    const std::string two = Golden("twoJobsWithDoubles.ps"), head = kHead, days = kDayFormats,
                      none = Golden("jobWithEveryFieldMissing.ps"), sent = "INFO Sent Date/Time = ",
                      three = Golden("jobWithThreeRecipients.ps"),
                      name = "connectivity.SNMP.systemGroup.sysName = ",
                      longLine = "%!PS\n" + std::string(300, 'a') + "\n" + std::string(240, 'b') +
                                 kMarker + "cc\n";
    std::string utf8 = Golden("jobWithThreeRecipients.sql");
    utf8.replace(utf8.find("6e9"), 3, "6c3a9"), utf8.replace(utf8.find("6feb"), 4, "6fc3ab");
    const Texts missing = {
        "INFO Number of Addresses = 1", "INFO JTAPI_SENT_DATE_TIME is NULL. Use blanks", sent + " ",
        "ERROR JTAPI_COMPLETE_DATE_TIME is NULL. Use blanks", "INFO Completed Date/Time =  ",
        "ERROR JTAPI_NUM_CONF is NULL. Use default = 0", "INFO Num Confirmed = 0",
        "ERROR JTAPI_NUM_RECIP is NULL. Use default = 0", "INFO Num Recipients = 0",
        "ERROR JTAPI_SUBJECT is NULL. Use default = 0 length string", "INFO Subject = \"\"",
        "ERROR JTAPI_FROM is NULL. Use default = 0 length string", "INFO From = \"\"",
        "ERROR JTAPI_NUM_UNCONF is NULL. Use default = 0", "INFO Number unconfirmed = 0",
        "ERROR JTAPI_FAILED is NULL. Use default = 0", "INFO Number failed = 0",
        "INFO Num Scanned = 0", "INFO Attach Size = 0", "INFO Addr Type = 0",
        "ERROR JTAPI_FRIENDLY_NAME is NULL.", "INFO Use default 0 len string.",
        "INFO Friendly Name = \"\"", "ERROR JTAPI_EMAIL_ADDRESS is NULL. Use default 0 len str",
        "INFO Email Addr = \"\"", "ERROR JTAPI_PROC_STATE is NULL.",
        "INFO Use default = JTAPI_PROCESS_STATE_SENT",
        "ERROR JTAPI_STATUS_DATE_TIME is NULL. Using default", "INFO Status Date/Time =  "};
    const struct {
        std::string rows, conf; const char *charset, *language; std::string templ, body, device;
        Answers answers; int missingStatus; const char *medium; Texts records;
    } cases[] = {
        // job rows, device.conf, SYSTEM_CHARSET, language, template, the body (or a line of it),
        // the device name printed, answers, the status of a missing field, the paper, records
        {Golden("twoJobsWithDoubles.sql"), "market.region = 2\n" + name + "lobby",
         "ISO-8859-15", "en", head + kMarker, head + two, "lobby", {}, -1, "ISO_A4",
         {"INFO Number of Addresses = 7", sent + "12/31/2011 23:59:58",
          "INFO Completed Date/Time = 01/01/2012 00:00:02", "INFO Num Confirmed = 12",
          "INFO Num Recipients = 7", "INFO Subject = \"\"", "INFO From = \"dave@example.net\"",
          "INFO Number unconfirmed = -1", "INFO Number failed = 2", "INFO Num Scanned = 10",
          "INFO Attach Size = 0", "INFO Addr Type = 0", "INFO Friendly Name = \"Eve\""}},
        {Golden("jobWithEveryFieldMissing.sql"), "", "ISO-8859-15", "en",
         head + kMarker + "X\n" + kMarker, head + none + "X\n" + none, host.nodename, {}, 6,
         "NA_LETTER", missing},
        {Golden("jobWithEveryFieldMissing.sql"), "market.region = 7", "ISO-8859-15", "en",
         head + kMarker, head + none, "", {{"uname()", {EIO}}}, 0, "NA_LETTER",
         {"ERROR ARL_GetSpecialAttributes(): uname() failed, errno = " + std::to_string(EIO) +
          "."}},
        {Golden("jobWithThreeRecipients.sql"), days + "market.region = 5\n" + name + "Caf\xe9",
         nullptr, "de", head + kMarker, head + three, "Caf\xe9", {}, -1, "ISO_A4",
         {"ERROR ARL_CvtToUtf8(): getenv(SYSTEM_CHARSET) returned NULL.",
          "INFO ARL_CvtToUtf8(): transLibEncoding = ISO-8859-15."}},
        {utf8, days + "market.region = 4\n" + name + "Caf\xe9", "UTF-8", "fr", head + kMarker,
         head + three, "Caf\xe9", {}, -1, "NA_LETTER",
         {"INFO ARL_CvtToUtf8(): transLibEncoding = UTF-8."}},
        {"INSERT INTO jobs (id, subject) VALUES (1, CAST(X'd09cd0b8d180' AS TEXT));",
         "market.region = 3\n" + name + "Caf\xe9", "UTF-8", "ru", kMarker,
         "<bcd8e0> field_avail Substring AR_SHOW\n", "", {{"SNF_Convert(Caf\xe9", {0}}}, -1,
         "ISO_A4",
         {"ERROR ARL_CvtToUtf8(): SNF_Convert(Caf\xe9, ISO-8859-15) failed.",
          "ERROR ARL_CvtToUtf8() failed (sedCmdTable[4])."}},
        {"", "market.region = 0\n" + name + std::string(150, 'n'), "ISO-8859-15", "en",
         head + longLine + "X " + kMarker + "Y" + kMarker + "end", head + longLine + "end",
         std::string(99, 'n'), {}, -1, "NA_LETTER",
         {"WARN CopyString() input string being truncated."}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.language + (" " + c.rows.substr(0, 90)));
        Fresh();
        Database(c.rows), Conf(c.conf), Template(c.templ);
        c.charset ? setenv("SYSTEM_CHARSET", c.charset, 1) : unsetenv("SYSTEM_CHARSET");
        SetSystemCharset(nullptr);
        faults::state.answers = c.answers;
        faults::state.missingFieldStatus = c.missingStatus;

        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", c.language), 0);

        const std::string &body = faults::state.removed, report = Spooled("document.ps");
        EXPECT_TRUE(c.templ == kMarker ? body.find(c.body) != body.npos : body == c.body) << body;
        if (c.templ.rfind(kHead, 0) == 0) { // ("Caf\xe9" prints in Latin-9 on either system)
            EXPECT_EQ(report.substr(0, report.find('\n')),
                      "%!PS <" + Hex("Plain") + "20" + Hex("Blue") + "20" + Hex(c.device) + ">");
        }
        for (const char *tag : {"__ar_const_", "processState_", "__media_", "_hex_"})
            EXPECT_EQ(report.find(tag), std::string::npos) << report;
        EXPECT_EQ(Spooled("ticket"), Ticket(c.medium));
        const Texts records = Records();
        EXPECT_PRED2(HasRun, records, c.records);
        EXPECT_EQ(HasRun(records, {"NOTICE Failed to get market region from cfg server, "
                                   "defaulting to Usco"}),
                  c.conf.find("market.region") == std::string::npos);
        EXPECT_EQ(Entries(dir + "/tmp"), Texts{"activityReport.lock"}) << "the report is spooled";
    }
}

// Fault: a constant tag misspelt, or given the string id of another text.
TEST_F(PluginTest, EveryConstantTagPrintsItsText)
{
    std::istringstream golden(Golden("constantTexts.txt"));
    std::string tag, text, templ, printed;
    while (std::getline(golden, tag, '\t') && std::getline(golden, text)) {
        for (size_t at; (at = text.find('\xc2')) != text.npos;) // the copyright sign: one Latin-9 byte
            text.erase(at, 1);
        templ += "<" + tag + ">\n", printed += "<" + Hex(text) + ">\n";
    }
    Template(templ);
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    EXPECT_EQ(Spooled("document.ps"), printed);
}

// Fault: a step out of order or a record misspelt on the normal path; the paths built wrongly;
// the date and time commands without their replacement; without TEMP_FILES_DIR no fallback, or
// the fallback logged once though the directory is read for both paths.
TEST_F(PluginTest, RunWithoutJobsLogsEveryStepInOrder)
{
    Conf("market.region = 1\nconnectivity.SNMP.systemGroup.sysName = lobby\n");
    EXPECT_EQ(ARL_ActivityReport(nullptr, nullptr, "en"), 0);
    const std::string tmp = dir + "/tmp/", pointer = "ERROR CopyString() sent to or from pointer.";
    const std::string add = "INFO Add command ";
    EXPECT_EQ(Records(),
              Join({"ENTER ARL_ActivityReport", "INFO Job Tracker data retreived successfully",
                    "INFO Activity Report Template file " + dir + "/template.ps opened",
                    "INFO Open temp output file \"" + tmp + "ar_output_pdl.ps\"",
                    "INFO Number of jobs = 0",
                    "INFO Submit PDL File = \"" + tmp + "activityReport.ps\"",
                    "ENTER ARL_GenerateActivityReport()", "ENTER ARL_GetSpecialAttributes()",
                    pointer, pointer, "INFO numVariableCmds = 5", "INFO numConstantCmds = 49",
                    "ENTER ARL_TranslateConstantText()",
                    add + "0: type=1 find=\"__media_color__\" replace=\"White\"",
                    add + "1: type=1 find=\"__media_type__\" replace=\"Standard\"",
                    add + "2: type=6 find=\"__system_hex_date__\" replace=\"NULL\"",
                    add + "3: type=7 find=\"__system_hex_time__\" replace=\"NULL\"",
                    add + "4: type=1 find=\"__device_hex_name__\" replace=\"lobby\"",
                    "INFO ARL_GenerateActivityReport returning 0"},
                   kCommonEnd));
    EXPECT_EQ(faults::Calls("Sed_AddCommand(__system_hex_"),
              (Texts{"Sed_AddCommand(__system_hex_date__, 6, " + Hex("N/A") + ")",
                     "Sed_AddCommand(__system_hex_time__, 7, " + Hex("N/A") + ")"}));

    unsetenv("TEMP_FILES_DIR");
    std::filesystem::create_directories("/tmp/tmpfiles");
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    const Texts records = Records();
    EXPECT_EQ(std::count(records.begin(), records.end(), "ERROR ENV TEMP_FILES_DIR not defined"),
              2);
    EXPECT_EQ(faults::Calls("Sed_FileEdit(").back(),
              "Sed_FileEdit(/tmp/tmpfiles/ar_output_pdl.ps, /tmp/tmpfiles/activityReport.ps)");
}

// Fault: a failure not ending the run with the status of its stage (a failed conversion in an
// entry right before the write that needed it), not reported or reported otherwise; the report
// data not released (or released when never obtained); fields read after an early failure, or a
// later field, address or job read after a 7; the flag cleared although the subject failed;
// commands added or an edit made after a failure of the finishing pass (a refused variable
// command stops nothing), the array not freed; Trans_Init skipped when the array cannot be
// created, or a failed one remembered as done; the report printed after a failure; the common
// end skipped.
TEST_F(PluginTest, FailuresEndTheRunWithTheStatusOfTheirStage)
{
    const std::string missing = dir + "/missing", enter = "ENTER ARL_ActivityReport",
                      got = "INFO Job Tracker data retreived successfully",
                      noTemplate = "ERROR ENV ACTIVITY_REPORT_TEMPLATE not defined for Activity "
                                   "Report.",
                      translating = "ENTER ARL_TranslateConstantText()",
                      failed = "ERROR ARL_TranslateConstantText() failed.",
                      pass = "INFO ARL_GenerateActivityReport returning ",
                      released = "ERROR jtapi_release_report_data() FAILURE 9",
                      hex = "ERROR Trans_ConvertUTF8StringToHex() failed.",
                      cvt = "ERROR ARL_CvtToUtf8Hex() failed (", add = "INFO Add command ",
                      font = "DefaultFontName findfont 9 scalefont setfont\n",
                      mv = "currentColumn currentRow MoveToPosition\n",
                      col = "/currentColumn name_info_col", fail = "Trans_ConvertUTF8StringToHex(";
    const struct {
        std::string env; Answers answers; size_t malloc; int32_t status; Texts records;
        size_t commands; int32_t initialised, flag; std::string tail = "", read = "";
    } cases[] = {
        // an environment variable set (or unset), answers, a malloc size that fails, the status,
        // records (before the common end), Sed_AddCommand calls, Trans_Init succeeded,
        // autoConvert after the run, the end of the body, the last field read
        {"ACTIVITY_REPORT_TEMPLATE", {}, 0, 1, {enter, got, noTemplate}, 0, 0, 1},
        {"ACTIVITY_REPORT_TEMPLATE=" + missing, {}, 0, 1, {enter, got, noTemplate}, 0, 0, 1},
        {"TEMP_FILES_DIR=" + missing, {}, 0, 6,
         {enter, got, "INFO Activity Report Template file " + dir + "/template.ps opened",
          "INFO Open temp output file \"" + missing + "/ar_output_pdl.ps\"",
          "ERROR Cannot open PDL file for writing."}, 0, 0, 1},
        {"JTAPI_DATABASE=" + missing, {}, 0, 4,
         {enter, "ERROR jtapi_get_completed_jobs_report_data() FAILED status = 2."}, 0, 0, 1},
        {"", {}, ARL_REPLACE_PATTERN_SIZE, 5, {"ERROR malloc() failed for replacePattern."}, 0, 0,
         0},
        {"", {}, dir.size() + sizeof "/tmp/activityReport.ps", 3,
         {"ERROR malloc() failed for the report path."}, 0, 0, 0},
        {"", {{"jtapi_release", {9}}}, 0, 0, {pass + "0"}, 54, 1, 0},
        {"", {{"jtapi_release", {9}}, {"Sed_FileEdit", {5}}}, 0, 3,
         {"ERROR Sed_FileEdit() failed with status 5.", pass + "3"}, 54, 1, 0},
        {"", {{"jtapi_get_field_data(0/0/0)", {6}}}, 0, 0,
         {"ERROR JTAPI_NUM_JOBS is NULL. Use default = 0", "INFO Number of jobs = 0"}, 54, 1, 1},
        {"", {{"Sed_CreateCmdArray", {0}}}, 0, 3,
         {"ERROR Sed_CreateCmdArray() failed.", translating,
          "ERROR ARL_TranslateConstantText()\\tsent a NULL\\tpointer.", failed, pass + "3"},
         0, 1, 0},
        {"", {{"Trans_Init", {6}}}, 0, 3,
         {"ERROR Failed to init translation library, error = 6", failed, pass + "3"}, 0, 0, 0},
        {"", {{"Trans_TranslateString(en, 20210)", {4}}}, 0, 3,
         {"ERROR Failed to translate string 20210 to [en], error = 4", failed, pass + "3"}, 12, 1,
         0},
        {"", {{fail + "Report Date:", {-1}}}, 0, 3,
         {hex, "ERROR ARL_CvtToUtf8Hex() failed (i = 3).", failed, pass + "3"}, 3, 1, 0},
        {"", {{"Sed_AddCommand(__ar_const_page__", {1}}}, 0, 3,
         {"ERROR Sed_AddCommand(i = 7) failed.", failed, pass + "3"}, 8, 1, 0},
        {"", {{fail + "Plain", {-1}}}, 0, 7,
         {add + "1: type=1 find=\"__media_type__\" replace=\"Plain\"", hex,
          "ERROR ARL_CvtToUtf8Hex() failed (cmdCount = 1).", pass + "7"}, 50, 1, 0},
        {"", {{"Sed_AddCommand(__media_type__", {9}}}, 0, 0,
         {"ERROR Sed_AddCommand() failed.", add + "2: type=6 find=\"__system_hex_date__\" replace="
          "\"NULL\"", add + "3: type=7 find=\"__system_hex_time__\" replace=\"NULL\"",
          add + "4: type=1 find=\"__device_hex_name__\" replace=\"lobby\"", pass + "0"}, 54, 1, 0},
        {"", {{fail + "01/05/2010", {-1}}}, 0, 7, {hex}, 0, 0, 1,
         "<__ar_const_job_date__20> AR_SHOW\n" + font, "12/1/0"},
        {"", {{fail + "09:07:41", {-1}}}, 0, 7, {hex}, 0, 0, 1, "/field_avail 45 def\n" + font,
         "11/1/0"},
        {"", {{fail + "Subject", {-1}}}, 0, 7,
         {"INFO Subject = \"Subject\"", hex, cvt + "subject)."}, 0, 0, 1,
         "/field_avail subj_width field_delta sub def\n" + font, "14/1/0"},
        {"", {{fail + "from@", {-1}}}, 0, 7, {cvt + "from)."}, 0, 0, 0,
         "<__ar_const_from__20> AR_SHOW\n" + font, "15/1/0"},
        {"", {{fail + "Nobody", {-1}}}, 0, 7, {cvt + "to address)."}, 0, 0, 0,
         col + "1_ind def\n" + mv, "20/1/1"},
        {"", {{fail + "Carl", {-1}}}, 0, 7, {cvt + "cc address)."}, 0, 0, 0,
         col + "1_ind def\n" + mv, "20/1/2"},
        {"", {{fail + "nobody@", {-1}}}, 0, 7, {cvt + "email address)."}, 0, 0, 0,
         col + "2_ind def\n" + mv, "21/1/1"},
        {"", {{fail + "---", {-1}}}, 0, 7, {hex}, 0, 0, 0, col + "3_ind def\n" + mv, "18/1/2"},
        {"", {{fail + "01/07/2010", {-1}}}, 0, 7, {hex}, 0, 0, 0, col + "4_ind def\n" + mv,
         "19/1/1"},
        {"", {{fail + "09:06:00", {-1}}}, 0, 7, {hex}, 0, 0, 0,
         col + "4_ind def\n" + mv + "<" + Hex("01/07/2010") + "202020", "19/1/1"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.records.back());
        Fresh();
        Database("INSERT INTO jobs VALUES (1, '2010-01-05 09:05:03', '2010-01-06 09:07:41', 1, 1,"
                 " 0, 0, 1, 100, 'Subject', 'from@example.com'), (2, NULL, NULL, NULL, NULL, NULL,"
                 " NULL, NULL, NULL, 'Second', NULL); INSERT INTO addresses VALUES (1, 1, 0, 1,"
                 " '2010-01-07 09:06:00', 'Nobody', 'nobody@example.com'), (1, 2, 7, 9, NULL,"
                 " 'Carl', 'carl@example.com');");
        Conf("market.region = 1\nconnectivity.SNMP.systemGroup.sysName = lobby\n");
        const size_t equals = c.env.find('=');
        if (!c.env.empty() && equals == std::string::npos)
            unsetenv(c.env.c_str());
        else if (!c.env.empty())
            setenv(c.env.substr(0, equals).c_str(), c.env.substr(equals + 1).c_str(), 1);
        faults::state.answers = c.answers;
        faults::failMallocOf = c.malloc;
        for (VariableCmd &record : sedCmdTable) // the buffers are allocated again
            std::free(record.replacePattern), record.replacePattern = nullptr;
        autoConvert = 0;

        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), c.status);
        faults::failMallocOf = 0;

        const bool early = c.status == 1 || c.status == 4 || c.status == 6;
        const Texts records = Records();
        EXPECT_PRED2(HasRun, records, c.records);
        const bool release = c.answers.count("jtapi_release");
        const Texts end = {kCommonEnd[0], release ? released : kCommonEnd[1]};
        EXPECT_EQ(early ? records : Tail(records, 2), early ? c.records : end);
        EXPECT_EQ(faults::Calls("jtapi_release").size(), c.status == 4 ? 0u : 1u);
        EXPECT_EQ(faults::Calls("jtapi_get_field_data").empty(), early);
        EXPECT_EQ(faults::Calls("Sed_AddCommand").size(), c.commands);
        EXPECT_EQ(faults::Calls("Sed_FileEdit").size(), c.commands == 54 ? 1u : 0u);
        EXPECT_EQ(faults::Calls("Sed_FreeCommands").size(), faults::Calls("Sed_Create").size());
        EXPECT_EQ(ARL_STATE.transInitialised, c.initialised);
        EXPECT_EQ(autoConvert, c.flag);
        EXPECT_EQ(Spooled("ticket").empty(), c.status != 0);
        EXPECT_FALSE(std::filesystem::exists(dir + "/tmp/ar_output_pdl.ps"));
        if (!c.read.empty()) {
            const std::string &body = faults::state.removed;
            EXPECT_EQ(body.substr(body.size() - std::min(body.size(), c.tail.size())), c.tail);
            EXPECT_EQ(faults::Calls("jtapi_get_field_data").back(),
                      "jtapi_get_field_data(" + c.read + ")");
        }
    }
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
    char *const buffer = sedCmdTable[0].replacePattern;
    for (int run = 0; run < 2; ++run) {
        flags.clear();
        EXPECT_EQ(ARL_ActivityReport(nullptr, nullptr, "en"), 0);
        EXPECT_EQ(flags, "11111" + std::string(61, '0')) << "two times, then the first subject";
    }
    EXPECT_EQ(faults::Calls("Trans_Init").size(), 2u);
    EXPECT_EQ(sedCmdTable[0].replacePattern, buffer);
    EXPECT_EQ(faults::Calls("Sed_AddCommand(__media_type__").back(),
              "Sed_AddCommand(__media_type__, 1, " + Hex("Standard") + ")");
}

// Fault: a format id looked up for every time field or not stored, the time id looked up for a
// date request; the format text cached; an id that is neither format's accepted; a lookup that
// yielded 0 cached as an id; the fallback texts with leading zeros, the month counted from 0, the
// year from 1900 or the fields in another order.
TEST_F(PluginTest, FormatIdsAreLookedUpOnceAndAZeroAgain)
{
    const struct tm t = {3, 5, 9, 5, 0, 110, 0, 0, 0, 0, nullptr};
    char out[51] = "untouched";
    EXPECT_EQ(FormatDateTime(OA_XID_DATE_FORMAT + 2, &t, out), 0);
    EXPECT_STREQ(out, "untouched");
    ARL_STATE.timeFormatId = 0;
    EXPECT_EQ(FormatDateTime(OA_XID_DATE_FORMAT, &t, out), 1);
    EXPECT_STREQ(out, "01/05/2010");
    EXPECT_EQ(ARL_STATE.timeFormatId, 0) << "a date request needs no time-format id";

    const struct {
        std::vector<long> date, time; std::string sent, completed; size_t lookups, formats;
    } cases[] = {{{}, {}, "01/05/2010 09:05:03", "01/06/2010 09:07:41", 2, 4},
                 {{0}, {0}, " ", " ", 8, 4},
                 {{0, OA_XID_DATE_FORMAT}, {OA_XID_TIME_FORMAT}, "1/5/2010 09:05:03",
                  "01/06/2010 09:07:41", 3, 3},
                 {{OA_XID_DATE_FORMAT}, {0, OA_XID_TIME_FORMAT}, "01/05/2010 9:5:3",
                  "01/06/2010 09:07:41", 3, 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sent);
        Fresh();
        Database("INSERT INTO jobs (id, sent_time, completed_time) VALUES (1,"
                 " '2010-01-05 09:05:03', '2010-01-06 09:07:41');");
        faults::state.answers = {{"oa_xid_of(OID_ATT_DATE_FORMAT)", c.date},
                                 {"oa_xid_of(OID_ATT_TIME_FORMAT)", c.time}};
        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
        EXPECT_PRED2(HasRun, Records(), (Texts{"INFO Sent Date/Time = " + c.sent,
                                               "INFO Completed Date/Time = " + c.completed}));
        EXPECT_EQ(faults::Calls("oa_xid_of").size(), c.lookups);
        EXPECT_EQ(faults::Calls("TD_GetFormat").size(), c.formats);
    }
}

} // namespace
