// Whole report runs through the real services: the body, the report, the print job and the log;
// then the failures, each injected where it happens, and the state that runs share.

#include "pluginFixture.h"

#include <algorithm>
#include <cerrno>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

const char kMarker[] = "__GENERATE_BODY_HERE__\n";
const char kHead[] = "%!PS <__media_type__20__media_color__20__device_hex_name__>\n";
const char kDayFormats[] = "OID_ATT_DATE_FORMAT = %d/%m/%Y\nOID_ATT_TIME_FORMAT = %H:%M\n";
const Texts kCommonEnd = {"INFO Releasing Report Data...",
                         "INFO jtapi_release_report_data() SUCCESSFUL"};
// A device name is cut to its replacement buffer.
const size_t kDeviceNameBytes = ARL_REPLACE_PATTERN_SIZE - 1;
// The finishing pass adds its commands in the order of constantCmdTable, then the variable ones.
const size_t kConstantCommands = 49, kVariableCommands = 5;
const size_t kAllCommands = kConstantCommands + kVariableCommands;

std::string Golden(const std::string &name) { return ReadFile(ARL_GOLDEN_DIR "/" + name); }

// Log records checked in as golden/`name`, one a line; "{dir}" stands for the test's directory.
Texts GoldenRecords(const std::string &name, const std::string &dir)
{
    std::istringstream lines(Golden(name));
    Texts records;
    for (std::string line; std::getline(lines, line);) {
        for (size_t at; (at = line.find("{dir}")) != std::string::npos;)
            line.replace(at, 5, dir);
        records.push_back(line);
    }
    return records;
}

bool HasRun(const Texts &records, const Texts &run)
{ return std::search(records.begin(), records.end(), run.begin(), run.end()) != records.end(); }

Texts Tail(const Texts &texts, size_t n)
{ return Texts(texts.end() - std::min(n, texts.size()), texts.end()); }

// The recorded calls of `name` whose first argument is `first`.
Texts CallsWith(const std::string &name, const std::string &first)
{
    Texts found;
    for (const std::string &call : faults::Calls(name))
        if (call.compare(name.size() + 1, first.size() + 1, first + ",") == 0)
            found.push_back(call);
    return found;
}

// Fault: anything between the job database and the printed job: a field read from the wrong
// column or index, a value or default written wrongly, a byte of an entry out of place (the
// golden bodies were checked line by line), a text not converted from the system charset to the
// printer encoding, the template copied wrongly (a 300-character line is two pieces; text around
// a marker is dropped with it; a marker split across pieces is no marker; every marker writes
// the series again; a NUL byte ends no line), a tag left, the paper not that of the market
// region, the media or device name texts wrong; the records of missing fields (in both forms) or
// of an entry out of order.
TEST_F(PluginTest, RunsRenderTheCheckedBodiesAndPrintThem)
{
    struct utsname host;
    ASSERT_EQ(uname(&host), 0);
    const std::string two = Golden("twoJobsWithDoubles.ps"), head = kHead, days = kDayFormats,
                      none = Golden("jobWithEveryFieldMissing.ps"),
                      three = Golden("jobWithThreeRecipients.ps"),
                      name = "connectivity.SNMP.systemGroup.sysName = ",
                      longLine = "%!PS\n" + std::string(300, 'a') + "\n" + std::string(240, 'b') +
                                 kMarker + "cc\n",
                      nulLine = std::string("e\0nd\n", 5);
    std::string utf8 = Golden("jobWithThreeRecipients.sql");
    utf8.replace(utf8.find("6e9"), 3, "6c3a9");
    utf8.replace(utf8.find("6feb"), 4, "6fc3ab");
    const struct {
        std::string rows, conf;              // job rows, device.conf
        const char *charset = "ISO-8859-15"; // SYSTEM_CHARSET (NULL: unset)
        const char *language = "en";
        std::string templ = std::string(kHead) + kMarker;
        std::string body;           // the body (or a line of it, for a bare marker)
        std::string device;         // the device name printed
        Faults faults = {};
        int missingStatus = -1;     // the status of a missing field (-1: the job tracker's own)
        const char *medium;         // the paper
        Texts records;              // a run of the log's records
    } cases[] = {
        {.rows = Golden("twoJobsWithDoubles.sql"), .conf = "market.region = 2\n" + name + "lobby",
         .body = head + two, .device = "lobby", .medium = "ISO_A4",
         .records = GoldenRecords("twoJobsWithDoubles.log", dir)},
        {.rows = Golden("jobWithEveryFieldMissing.sql"), .conf = "",
         .templ = head + kMarker + "X\n" + kMarker, .body = head + none + "X\n" + none,
         .device = host.nodename, .missingStatus = JTAPI_ERR_MISSING, .medium = "NA_LETTER",
         .records = GoldenRecords("jobWithEveryFieldMissing.log", dir)},
        {.rows = Golden("jobWithEveryFieldMissing.sql"), .conf = "market.region = 7",
         .body = head + none, .device = "", .faults = {{.call = "uname", .answer = EIO}},
         .missingStatus = JTAPI_OK, .medium = "NA_LETTER",
         .records = {"ERROR ARL_GetSpecialAttributes(): uname() failed, errno = " +
                     std::to_string(EIO) + "."}},
        {.rows = Golden("jobWithThreeRecipients.sql"),
         .conf = days + "market.region = 5\n" + name + "Caf\xe9", .charset = nullptr,
         .language = "de", .body = head + three, .device = "Caf\xe9", .medium = "ISO_A4",
         .records = {"ERROR ARL_CvtToUtf8(): getenv(SYSTEM_CHARSET) returned NULL.",
                     "INFO ARL_CvtToUtf8(): transLibEncoding = ISO-8859-15."}},
        {.rows = utf8, .conf = days + "market.region = 4\n" + name + "Caf\xe9", .charset = "UTF-8",
         .language = "fr", .body = head + three, .device = "Caf\xe9", .medium = "NA_LETTER",
         .records = {"INFO ARL_CvtToUtf8(): transLibEncoding = UTF-8."}},
        {.rows = "INSERT INTO jobs (id, subject) VALUES (1, CAST(X'd09cd0b8d180' AS TEXT));",
         .conf = "market.region = 3\n" + name + "Caf\xe9", .charset = "UTF-8", .language = "ru",
         .templ = kMarker, .body = "<bcd8e0> field_avail Substring AR_SHOW\n", .device = "",
         .faults = {{.call = "SNF_Convert(Caf\xe9, 4, ISO-8859-15)", .answer = 0}},
         .medium = "ISO_A4",
         .records = {"ERROR ARL_CvtToUtf8(): SNF_Convert(Caf\xe9, ISO-8859-15) failed.",
                     "ERROR ARL_CvtToUtf8() failed (sedCmdTable[4])."}},
        {.rows = "", .conf = "market.region = 0\n" + name + std::string(150, 'n'),
         .templ = head + longLine + "X " + kMarker + "Y" + kMarker + nulLine,
         .body = head + longLine + nulLine, .device = std::string(kDeviceNameBytes, 'n'),
         .medium = "NA_LETTER", .records = {"WARN CopyString() input string being truncated."}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.language + (" " + c.rows.substr(0, 90)));
        Fresh();
        Database(c.rows);
        Conf(c.conf);
        Template(c.templ);
        if (c.charset)
            setenv("SYSTEM_CHARSET", c.charset, 1);
        else
            unsetenv("SYSTEM_CHARSET");
        SetSystemCharset(nullptr);
        faults::state.faults = c.faults;
        faults::state.missingFieldStatus = c.missingStatus;

        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", c.language), ARL_STATUS_OK);

        const std::string &body = faults::state.removed, report = Spooled("document.ps");
        if (c.templ == kMarker)
            EXPECT_NE(body.find(c.body), std::string::npos) << body;
        else
            EXPECT_EQ(body, c.body);
        if (c.templ.rfind(kHead, 0) == 0) { // ("Caf\xe9" prints in Latin-9 on either system)
            EXPECT_EQ(report.substr(0, report.find('\n')),
                      "%!PS <" + Hex("Plain") + "20" + Hex("Blue") + "20" + Hex(c.device) + ">");
        }
        for (const char *tag : {"__ar_const_", "processState_", "__media_", "_hex_"})
            EXPECT_EQ(report.find(tag), std::string::npos) << report;
        // The ticket's lines are the same for every report but the last, its paper.
        EXPECT_EQ(Spooled("ticket"),
                  Golden("ticket.txt") + "default-medium=\"" + c.medium + "\"\n");
        const Texts records = Records();
        EXPECT_PRED2(HasRun, records, c.records);
        EXPECT_EQ(HasRun(records, {"NOTICE Failed to get market region from cfg server, "
                                   "defaulting to Usco"}),
                  c.conf.find("market.region") == std::string::npos);
        EXPECT_EQ(Entries(dir + "/tmp"), Texts{"activityReport.lock"}) << "the report is spooled";
    }
}

std::string Times(int count, const std::string &text)
{
    std::string repeated;
    for (int i = 0; i < count; ++i)
        repeated += text;
    return repeated;
}

// Fault: a subject cut by UTF-8 rules in its printer encoding (ISO-8859-5 capitals look like
// continuation bytes, and the subject vanished), a character split or a byte the bound allows
// dropped; on a device whose system charset is a national one, the job's or the catalogue's texts
// read as anything but that charset.
TEST_F(PluginTest, SubjectsKeepWhatTheBoundAllowsAndNationalDevicesPrintTheirOwnTexts)
{
    const struct {
        const char *charset, *language; std::string subject, label, printed;
    } cases[] = { // the label (Subject:) and the subject in the printer encoding, in hex
        {.charset = "UTF-8", .language = "ja", .subject = "1" + Times(299, "表"),
         .label = "8c8f96bc8146", .printed = "31" + Times(127, "955c")},
        {.charset = "UTF-8", .language = "ru", .subject = Times(300, "П"), .label = "c2d5dcd03a",
         .printed = Times(255, "bf")},
        {.charset = "SHIFT_JIS", .language = "ja", .subject = "\x95\x5c\x83\x5c\xb1",
         .label = "8c8f96bc8146", .printed = "955c835cb1"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.charset) + " " + c.language);
        Fresh();
        Database("INSERT INTO jobs (id, subject) VALUES (1, CAST(X'" + Hex(c.subject) +
                 "' AS TEXT));");
        // The translation service reads the system charset once per process: a run of its own.
        const ChildRun run = InChild([&] {
            setenv("SYSTEM_CHARSET", c.charset, 1);
            SetSystemCharset(nullptr);
            _exit(ARL_ActivityReport("Plain", "Blue", c.language));
        });
        EXPECT_EQ(run.ended, ARL_STATUS_OK);
        const std::string report = Spooled("document.ps");
        EXPECT_NE(report.find("<" + c.label + "20> AR_SHOW\n"), std::string::npos) << report;
        EXPECT_NE(report.find("<" + c.printed + "> field_avail Substring AR_SHOW\n"),
                  std::string::npos);
    }
}

// Fault: a constant tag misspelt, or given the string id of another text.
TEST_F(PluginTest, EveryConstantTagPrintsItsText)
{
    std::istringstream golden(Golden("constantTexts.txt"));
    std::string tag, text, templ, printed;
    while (std::getline(golden, tag, '\t') && std::getline(golden, text)) {
        // The copyright sign: one Latin-9 byte.
        for (size_t at; (at = text.find('\xc2')) != text.npos;)
            text.erase(at, 1);
        templ += "<" + tag + ">\n";
        printed += "<" + Hex(text) + ">\n";
    }
    Template(templ);
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), ARL_STATUS_OK);
    EXPECT_EQ(Spooled("document.ps"), printed);
}

// Fault: a step out of order or a record misspelt on the normal path; the paths built wrongly;
// the date and time commands without their replacement; without TEMP_FILES_DIR no fallback, or
// the fallback logged once though the directory is read for both paths.
TEST_F(PluginTest, RunWithoutJobsLogsEveryStepInOrder)
{
    EXPECT_EQ(ARL_ActivityReport(nullptr, nullptr, "en"), ARL_STATUS_OK);
    EXPECT_EQ(Records(), GoldenRecords("runWithoutJobs.log", dir));
    EXPECT_EQ(CallsWith("Sed_AddCommand", "__system_hex_date__"),
              Texts{"Sed_AddCommand(__system_hex_date__, 6, " + Hex("N/A") + ")"});
    EXPECT_EQ(CallsWith("Sed_AddCommand", "__system_hex_time__"),
              Texts{"Sed_AddCommand(__system_hex_time__, 7, " + Hex("N/A") + ")"});

    unsetenv("TEMP_FILES_DIR");
    std::filesystem::create_directories("/tmp/tmpfiles");
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), ARL_STATUS_OK);
    const Texts records = Records();
    EXPECT_EQ(std::count(records.begin(), records.end(), "ERROR ENV TEMP_FILES_DIR not defined"),
              2);
    EXPECT_EQ(faults::Calls("Sed_FileEdit").back(),
              "Sed_FileEdit(/tmp/tmpfiles/ar_output_pdl.ps, /tmp/tmpfiles/activityReport.ps)");
}

// Fault: a failure not ending the run with the status of its stage, not reported or reported
// otherwise; the report data not released (or released when never obtained); fields read after
// an early failure, or a later field, address or job read after a 7, or an address read when the
// job's count is missing; the flag cleared although the subject failed; commands added or an edit
// made after a failure of the finishing pass (a refused variable command stops nothing), the array
// not freed; Trans_Init skipped when the array cannot be created, or a failed one remembered as
// done; the report printed after a failure; the common end skipped.
TEST_F(PluginTest, FailuresEndTheRunWithTheStatusOfTheirStage)
{
    const std::string opened = "INFO Activity Report Template file " + dir + "/template.ps opened";
    const std::string missing = dir + "/missing", enter = "ENTER ARL_ActivityReport",
                      got = "INFO Job Tracker data retreived successfully",
                      noTemplate = "ERROR ENV ACTIVITY_REPORT_TEMPLATE not defined for Activity "
                                   "Report.",
                      cannotOpen = "ERROR Cannot open PDL file for writing.",
                      translating = "ENTER ARL_TranslateConstantText()",
                      failed = "ERROR ARL_TranslateConstantText() failed.",
                      pass = "INFO ARL_GenerateActivityReport returning ",
                      released = "ERROR jtapi_release_report_data() FAILURE 9",
                      hex = "ERROR Trans_ConvertUTF8StringToHex() failed.",
                      cvt = "ERROR ARL_CvtToUtf8Hex() failed (", add = "INFO Add command ";
    const int32_t finishing = ARL_STATUS_FINISHING_FAILED;
    // Commands added when the finishing pass stops: before the text of "Report Date:", through
    // the page tag, before string 20210.
    const size_t beforeReportDate = 3, throughPage = 8, beforeString20210 = 12;
    // The plug-in's own mallocs in a run whose replacement buffers are to be made again: the
    // body path, the three text buffers, then the report path.
    const long bodyPath = 1, firstBuffer = 2, reportPath = 5;
    const auto noHex = [](const std::string &text) { // its hex text cannot be made
        const std::string bound = std::to_string(ARL_HEX_BUFFER_SIZE);
        return faults::Fault{.call = "Trans_ConvertUTF8StringToHex(" + text + ", " + bound + ")",
                             .answer = -1};
    };
    const auto addFails = [](const std::string &tag, const std::string &text, long answer) {
        return faults::Fault{.call = "Sed_AddCommand(" + tag + ", 1, " + Hex(text) + ")",
                             .answer = answer};
    };
    const faults::Fault releaseFails = {.call = "jtapi_release_report_data", .answer = 9};
    const struct {
        std::string env = ""; // a variable set, "NAME=value"
        Faults faults = {};
        int32_t wantStatus = ARL_STATUS_CONVERSION_FAILED; // that of most failures
        Texts records; // a run of the records before the common end
        size_t commands = 0; // Sed_AddCommand calls
        bool initialised = false; // Trans_Init succeeded
        int32_t autoConvert = 0; // the flag after the run
        std::string lastRead = ""; // the last field read, after a failure in a job entry
    } cases[] = {
        {.env = "ACTIVITY_REPORT_TEMPLATE=" + missing, .wantStatus = ARL_STATUS_NO_TEMPLATE,
         .records = {enter, got, noTemplate}, .autoConvert = 1},
        {.env = "TEMP_FILES_DIR=" + missing, .wantStatus = ARL_STATUS_BODY_NOT_WRITABLE,
         .records = {enter, got, opened,
                     "INFO Open temp output file \"" + missing + "/ar_output_pdl.ps\"", cannotOpen},
         .autoConvert = 1},
        {.env = "JTAPI_DATABASE=" + missing, .wantStatus = ARL_STATUS_NO_JOB_DATA,
         .records = {enter, "ERROR jtapi_get_completed_jobs_report_data() FAILED status = 2."},
         .autoConvert = 1},
        {.faults = {{.call = "malloc", .answer = 0, .nth = bodyPath}},
         .wantStatus = ARL_STATUS_BODY_NOT_WRITABLE, .records = {enter, got, opened, cannotOpen},
         .autoConvert = 1},
        {.faults = {{.call = "malloc", .answer = 0, .nth = firstBuffer}},
         .wantStatus = ARL_STATUS_NO_MEMORY,
         .records = {"ERROR malloc() failed for replacePattern."}},
        {.faults = {{.call = "malloc", .answer = 0, .nth = reportPath}}, .wantStatus = finishing,
         .records = {"ERROR malloc() failed for the report path."}},
        {.faults = {releaseFails}, .wantStatus = ARL_STATUS_OK, .records = {pass + "0"},
         .commands = kAllCommands, .initialised = true},
        {.faults = {releaseFails, {.call = "Sed_FileEdit", .answer = 5}}, .wantStatus = finishing,
         .records = {"ERROR Sed_FileEdit() failed with status 5.", pass + "3"},
         .commands = kAllCommands, .initialised = true},
        {.faults = {{.call = "jtapi_get_field_data(0/0/0)", .answer = JTAPI_ERR_MISSING}},
         .wantStatus = ARL_STATUS_OK,
         .records = {"ERROR JTAPI_NUM_JOBS is NULL. Use default = 0", "INFO Number of jobs = 0"},
         .commands = kAllCommands, .initialised = true, .autoConvert = 1},
        {.faults = {{.call = "jtapi_get_field_data(16/2/0)", .answer = JTAPI_ERR_MISSING}},
         .wantStatus = ARL_STATUS_OK,
         .records = {"ERROR jtapi_get_field_data() FAILURE = 6", "INFO Number of Addresses = 0"},
         .commands = kAllCommands, .initialised = true},
        {.faults = {{.call = "Sed_CreateCmdArray", .answer = 0}}, .wantStatus = finishing,
         .records = {"ERROR Sed_CreateCmdArray() failed.", translating,
                     "ERROR ARL_TranslateConstantText()\\tsent a NULL\\tpointer.", failed,
                     pass + "3"},
         .initialised = true},
        {.faults = {{.call = "Trans_Init", .answer = 6}}, .wantStatus = finishing,
         .records = {"ERROR Failed to init translation library, error = 6", failed, pass + "3"}},
        {.faults = {{.call = "Trans_TranslateString(en, 20210)", .answer = 4}},
         .wantStatus = finishing,
         .records = {"ERROR Failed to translate string 20210 to [en], error = 4", failed,
                     pass + "3"},
         .commands = beforeString20210, .initialised = true},
        {.faults = {noHex("Report Date:")}, .wantStatus = finishing,
         .records = {hex, "ERROR ARL_CvtToUtf8Hex() failed (i = 3).", failed, pass + "3"},
         .commands = beforeReportDate, .initialised = true},
        {.faults = {addFails("__ar_const_page__", "Page", 1)}, .wantStatus = finishing,
         .records = {"ERROR Sed_AddCommand(i = 7) failed.", failed, pass + "3"},
         .commands = throughPage, .initialised = true},
        {.faults = {noHex("Plain")},
         .records = {add + "1: type=1 find=\"__media_type__\" replace=\"Plain\"", hex,
                     "ERROR ARL_CvtToUtf8Hex() failed (cmdCount = 1).", pass + "7"},
         .commands = kConstantCommands + 1, .initialised = true},
        {.faults = {addFails("__media_type__", "Plain", 9)}, .wantStatus = ARL_STATUS_OK,
         .records = {"ERROR Sed_AddCommand() failed.",
                     add + "2: type=6 find=\"__system_hex_date__\" replace=\"NULL\"",
                     add + "3: type=7 find=\"__system_hex_time__\" replace=\"NULL\"",
                     add + "4: type=1 find=\"__device_hex_name__\" replace=\"lobby\"", pass + "0"},
         .commands = kAllCommands, .initialised = true},
        {.faults = {noHex("01/05/2010")}, .records = {hex}, .autoConvert = 1, .lastRead = "12/1/0"},
        {.faults = {noHex("09:07:41")}, .records = {hex}, .autoConvert = 1, .lastRead = "11/1/0"},
        {.faults = {noHex("Subject")}, .records = {hex, cvt + "subject)."}, .autoConvert = 1,
         .lastRead = "14/1/0"},
        {.faults = {noHex("from@example.com")}, .records = {cvt + "from)."}, .lastRead = "15/1/0"},
        {.faults = {noHex("Nobody")}, .records = {cvt + "to address)."}, .lastRead = "20/1/1"},
        {.faults = {noHex("Carl")}, .records = {cvt + "cc address)."}, .lastRead = "20/1/2"},
        {.faults = {noHex("nobody@example.com")}, .records = {cvt + "email address)."},
         .lastRead = "21/1/1"},
        {.faults = {noHex("---")}, .records = {hex}, .lastRead = "18/1/2"},
        {.faults = {noHex("01/07/2010")}, .records = {hex}, .lastRead = "19/1/1"},
        {.faults = {noHex("09:06:00")}, .records = {hex}, .lastRead = "19/1/1"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.records.back());
        Fresh();
        Database(Golden("twoJobsForFailures.sql"));
        const size_t equals = c.env.find('=');
        if (equals != std::string::npos)
            setenv(c.env.substr(0, equals).c_str(), c.env.substr(equals + 1).c_str(), 1);
        faults::state.faults = c.faults;
        for (VariableCmd &record : sedCmdTable) { // the buffers are allocated again
            std::free(record.replacePattern);
            record.replacePattern = nullptr;
        }
        autoConvert = 0;

        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), c.wantStatus);

        const bool early = c.wantStatus == ARL_STATUS_NO_TEMPLATE ||
                           c.wantStatus == ARL_STATUS_NO_JOB_DATA ||
                           c.wantStatus == ARL_STATUS_BODY_NOT_WRITABLE;
        const Texts records = Records();
        EXPECT_PRED2(HasRun, records, c.records);
        const bool releaseFailed = !c.faults.empty() && c.faults[0].call == releaseFails.call;
        const Texts end = {kCommonEnd[0], releaseFailed ? released : kCommonEnd[1]};
        EXPECT_EQ(early ? records : Tail(records, end.size()), early ? c.records : end);
        const size_t releases = c.wantStatus == ARL_STATUS_NO_JOB_DATA ? 0 : 1;
        EXPECT_EQ(faults::Calls("jtapi_release_report_data").size(), releases);
        EXPECT_EQ(faults::Calls("jtapi_get_field_data").empty(), early);
        EXPECT_EQ(faults::Calls("Sed_AddCommand").size(), c.commands);
        const size_t edits = c.commands == kAllCommands ? 1 : 0;
        EXPECT_EQ(faults::Calls("Sed_FileEdit").size(), edits);
        EXPECT_EQ(faults::Calls("Sed_FreeCommands").size(),
                  faults::Calls("Sed_CreateCmdArray").size());
        EXPECT_EQ(ARL_STATE.transInitialised != 0, c.initialised);
        EXPECT_EQ(autoConvert, c.autoConvert);
        EXPECT_EQ(Spooled("ticket").empty(), c.wantStatus != ARL_STATUS_OK);
        EXPECT_FALSE(std::filesystem::exists(dir + "/tmp/ar_output_pdl.ps"));
        if (!c.lastRead.empty()) {
            EXPECT_EQ(faults::Calls("jtapi_get_field_data").back(),
                      "jtapi_get_field_data(" + c.lastRead + ")");
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
    faults::state.faults = {{.call = "Trans_Init", .answer = 6, .once = true}};
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), ARL_STATUS_FINISHING_FAILED);
    char *const buffer = sedCmdTable[0].replacePattern;
    for (int run = 0; run < 2; ++run) {
        flags.clear();
        EXPECT_EQ(ARL_ActivityReport(nullptr, nullptr, "en"), ARL_STATUS_OK);
        // Set for the two conversions of the first job's empty subject, the second job's
        // subject, the two before it; clear for every later one.
        const size_t set = 5, clear = 61;
        EXPECT_EQ(flags, std::string(set, '1') + std::string(clear, '0'));
    }
    const size_t initialisations = 2; // the failed one and the next
    EXPECT_EQ(faults::Calls("Trans_Init").size(), initialisations);
    EXPECT_EQ(sedCmdTable[0].replacePattern, buffer);
    EXPECT_EQ(CallsWith("Sed_AddCommand", "__media_type__").back(),
              "Sed_AddCommand(__media_type__, 1, " + Hex("Standard") + ")");
}

// Fault: a format id looked up for every time field or not stored; the format text cached; a
// lookup that yielded 0 cached as an id; the fallback texts with leading zeros, the month counted
// from 0, the year from 1900 or the fields in another order.
TEST_F(PluginTest, FormatIdsAreLookedUpOnceAndAZeroAgain)
{
    const faults::Fault noDateId = {.call = "oa_xid_of(OID_ATT_DATE_FORMAT)", .answer = 0},
                        noTimeId = {.call = "oa_xid_of(OID_ATT_TIME_FORMAT)", .answer = 0},
                        noDateIdOnce = {.call = noDateId.call, .answer = 0, .once = true},
                        noTimeIdOnce = {.call = noTimeId.call, .answer = 0, .once = true};
    const struct {
        Faults faults;
        std::string sent, completed = "01/06/2010 09:07:41";
        size_t lookups, formats; // oa_xid_of and TD_GetFormat calls
    } cases[] = {
        {.faults = {}, .sent = "01/05/2010 09:05:03", .lookups = 2, .formats = 4},
        {.faults = {noDateId, noTimeId}, .sent = " ", .completed = " ", .lookups = 8, .formats = 4},
        {.faults = {noDateIdOnce}, .sent = "1/5/2010 09:05:03", .lookups = 3, .formats = 3},
        {.faults = {noTimeIdOnce}, .sent = "01/05/2010 9:5:3", .lookups = 3, .formats = 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sent);
        Fresh();
        Database("INSERT INTO jobs (id, sent_time, completed_time) VALUES (1,"
                 " '2010-01-05 09:05:03', '2010-01-06 09:07:41');");
        faults::state.faults = c.faults;
        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), ARL_STATUS_OK);
        EXPECT_PRED2(HasRun, Records(), (Texts{"INFO Sent Date/Time = " + c.sent,
                                               "INFO Completed Date/Time = " + c.completed}));
        EXPECT_EQ(faults::Calls("oa_xid_of").size(), c.lookups);
        EXPECT_EQ(faults::Calls("TD_GetFormat").size(), c.formats);
    }
}

} // namespace
