// The report run: steps, files, environment, statuses and clean-up of ARL_ActivityReport().

#include "pluginFixture.h"

#include <cerrno>

using namespace testing_support;

namespace {

const char kMarkerLine[] = "__GENERATE_BODY_HERE__\n";

class ReportRunTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        templatePath = Path("template.ps");
        bodyPath = Path("ar_output_pdl.ps");
        reportPath = Path("activityReport.ps");
    }

    void UseTemplate(const std::string &content)
    {
        WriteFile(templatePath, content);
        setenv("ACTIVITY_REPORT_TEMPLATE", templatePath.c_str(), 1);
    }

    // A job whose every field is present; its texts are plain ASCII.
    static jobtrackerDouble::Job SimpleJob(const std::string &subject)
    {
        jobtrackerDouble::Job job;
        job.sent = jobtrackerDouble::MakeTime(2010, 1, 5, 9, 5, 3);
        job.completed = jobtrackerDouble::MakeTime(2010, 1, 5, 9, 7, 41);
        job.numRecip = 1;
        job.numConf = 1;
        job.numUnconf = 0;
        job.failed = 0;
        job.scanned = 2;
        job.attachSize = 1234;
        job.subject = subject;
        job.from = "sender@example.com";
        jobtrackerDouble::Address address;
        address.type = 0;
        address.state = 1;
        address.name = "Bob";
        address.email = "bob@example.com";
        address.status = jobtrackerDouble::MakeTime(2010, 1, 5, 9, 6, 0);
        job.addresses.push_back(address);
        return job;
    }

    // What the stream editor was given to read: the body file as the template copy left it.
    std::string EditedBody() const
    {
        const auto &edits = streameditorDouble::Edits();
        return edits.empty() ? std::string("(no edit)") : edits.back().input;
    }

    std::string templatePath, bodyPath, reportPath;
};

// Fault: the marker line copied, entries written for a count of 0 or below, or a missing count
// (in either form) read through the NULL value.
TEST_F(ReportRunTest, NoJobsDropsTheMarkerAndStillFinishesAndSubmits)
{
    const std::string before = "%!PS-Adobe-3.0\n/LM_ind 20 def\n";
    const std::string after = "showpage\n";
    UseTemplate(before + kMarkerLine + after);

    struct Case {
        const char *name;
        bool present;
        int32_t count;
        int32_t missingStatus;
        bool stale;
        std::vector<std::string> countRecords;
    };
    const std::vector<Case> cases = {
        {"zero", true, 0, 0, false, {"INFO Number of jobs = 0"}},
        {"negative", true, -3, 0, false, {"INFO Number of jobs = -3"}},
        {"missing, nonzero status", false, 0, 6, false,
         {"ERROR JTAPI_NUM_JOBS is NULL. Use default = 0", "INFO Number of jobs = 0"}},
        {"missing, NULL value", false, 0, 0, false,
         {"ERROR JTAPI_NUM_JOBS is NULL. Use default = 0", "INFO Number of jobs = 0"}},
        {"missing, nonzero status with a stale value", false, 0, 6, true,
         {"ERROR JTAPI_NUM_JOBS is NULL. Use default = 0", "INFO Number of jobs = 0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        logDouble::Reset();
        jobtrackerDouble::Reset();
        streameditorDouble::Reset();
        printDouble::Reset();
        if (c.present)
            jobtrackerDouble::SetNumJobs(c.count);
        else
            jobtrackerDouble::SetMissing(JTAPI_NUM_JOBS, 0, 0, c.missingStatus);
        jobtrackerDouble::SetStaleValueOnFailure(c.stale);

        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
        EXPECT_EQ(EditedBody(), before + after);
        EXPECT_EQ(jobtrackerDouble::Reads(),
                  (std::vector<jobtrackerDouble::Read>{{JTAPI_NUM_JOBS, 0, 0}}));
        EXPECT_EQ(printDouble::Submissions().size(), 1u);
        EXPECT_EQ(jobtrackerDouble::ReleaseCalls(), 1);
        std::vector<std::string> records = logDouble::PluginRecords();
        auto count = std::find(records.begin(), records.end(), c.countRecords.back());
        ASSERT_NE(count, records.end());
        std::vector<std::string> around(count + 1 - c.countRecords.size(), count + 1);
        EXPECT_EQ(around, c.countRecords);
    }
}

// Fault: a step out of order, a misspelt record, a wrong level, or a record missing on the normal
// path of a run; the body file left behind; the paths built wrongly.
TEST_F(ReportRunTest, WholeRunLogsEveryStepInOrder)
{
    UseTemplate(std::string("%!PS\n") + kMarkerLine);
    jobtrackerDouble::SetNumJobs(0);

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);

    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{
                    "ENTER ARL_ActivityReport",
                    "INFO Job Tracker data retreived successfully",
                    "INFO Activity Report Template file " + templatePath + " opened",
                    "INFO Open temp output file \"" + bodyPath + "\"",
                    "INFO Number of jobs = 0",
                    "INFO Submit PDL File = \"" + reportPath + "\"",
                    "ENTER ARL_GenerateActivityReport()",
                    "ENTER ARL_GetSpecialAttributes()",
                    "INFO numVariableCmds = 5",
                    "INFO numConstantCmds = 49",
                    "ENTER ARL_TranslateConstantText()",
                    "INFO Add command 0: type=1 find=\"__media_color__\" replace=\"Blue\"",
                    "INFO Add command 1: type=1 find=\"__media_type__\" replace=\"Plain\"",
                    "INFO Add command 2: type=6 find=\"__system_hex_date__\" replace=\"NULL\"",
                    "INFO Add command 3: type=7 find=\"__system_hex_time__\" replace=\"NULL\"",
                    "INFO Add command 4: type=1 find=\"__device_hex_name__\" replace=\"device-1\"",
                    "INFO ARL_GenerateActivityReport returning 0",
                    "INFO Releasing Report Data...",
                    "INFO jtapi_release_report_data() SUCCESSFUL",
              }));
    EXPECT_TRUE(logDouble::ForeignRecords().empty());
    EXPECT_EQ(jobtrackerDouble::ReportCalls(), 1);
    EXPECT_EQ(jobtrackerDouble::LastReportKind(), 5);
    EXPECT_TRUE(jobtrackerDouble::Misuse().empty()) << jobtrackerDouble::Misuse().front();

    ASSERT_EQ(streameditorDouble::Edits().size(), 1u);
    EXPECT_EQ(streameditorDouble::Edits()[0].inPath, bodyPath);
    EXPECT_EQ(streameditorDouble::Edits()[0].outPath, reportPath);
    EXPECT_FALSE(Exists(bodyPath)) << "the body file is deleted at the end of the run";
    EXPECT_TRUE(Exists(reportPath)) << "the report file is left to the print service";
    ASSERT_EQ(printDouble::Submissions().size(), 1u);
    EXPECT_EQ(printDouble::Submissions()[0].path, reportPath);
    EXPECT_TRUE(printDouble::Submissions()[0].documentExisted);
}

// Fault: a template without the marker not copied byte for byte, or entries written anyway.
TEST_F(ReportRunTest, TemplateWithoutMarkerIsCopiedExactly)
{
    const std::string content = "%!PS\n\n  indented line\t with tab\nlast line without newline";
    UseTemplate(content);
    jobtrackerDouble::SetNumJobs(2);
    jobtrackerDouble::SetJob(1, SimpleJob("One"));
    jobtrackerDouble::SetJob(2, SimpleJob("Two"));

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    EXPECT_EQ(EditedBody(), content);
    EXPECT_EQ(jobtrackerDouble::Reads().size(), 1u) << "only the job count is read";
    EXPECT_EQ(printDouble::Submissions().size(), 1u);
}

// Fault: only the first marker expanded, the series not restarted at job 1 for the second marker,
// text around the marker kept, or the entries of one series put in the wrong place.
TEST_F(ReportRunTest, EveryMarkerPieceWritesTheWholeSeriesInItsPlace)
{
    UseTemplate(std::string("%!PS\n") + "BEFORE __GENERATE_BODY_HERE__ AFTER\n" + "MIDDLE\n" +
                kMarkerLine + "end\n");
    jobtrackerDouble::SetNumJobs(2);
    jobtrackerDouble::SetJob(1, SimpleJob("One"));
    jobtrackerDouble::SetJob(2, SimpleJob("Two"));

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    std::string body = EditedBody();

    EXPECT_EQ(body.find("BEFORE"), std::string::npos) << "text before the marker is dropped";
    EXPECT_EQ(body.find("AFTER"), std::string::npos) << "text after the marker is dropped";
    EXPECT_EQ(body.find("__GENERATE_BODY_HERE__"), std::string::npos);
    EXPECT_EQ(body.compare(0, 5, "%!PS\n"), 0);
    EXPECT_EQ(body.compare(body.size() - 4, 4, "end\n"), 0);
    std::string::size_type middle = body.find("MIDDLE\n");
    ASSERT_NE(middle, std::string::npos);
    std::string first = body.substr(5, middle - 5);
    std::string second = body.substr(middle + 7, body.size() - 4 - (middle + 7));
    EXPECT_EQ(first, second) << "both places hold the same series of entries";
    EXPECT_EQ(CountOccurrences(first, "/numberOfRecipients "), 2);
    EXPECT_EQ(CountOccurrences(first, "VERTICAL_SPACE_SEPARATOR\n"), 3);
    EXPECT_EQ(CountOccurrences(first, "<" + Hex("One") + ">"), 1);
    EXPECT_LT(first.find("<" + Hex("One") + ">"), first.find("<" + Hex("Two") + ">"));

    std::vector<int32_t> jobsRead;
    for (const auto &read : jobtrackerDouble::Reads())
        if (read.field == JTAPI_NUM_ADDRESSES)
            jobsRead.push_back(read.job);
    EXPECT_EQ(jobsRead, (std::vector<int32_t>{1, 2, 1, 2}));
}

// Fault: a line longer than the line buffer cut or split with something in between, or a marker
// recognised across two pieces; the piece that holds a marker in the second half of a long line
// must go while the first piece stays.
TEST_F(ReportRunTest, LongLinesAreCopiedInPiecesOfTwoHundredFiftyFour)
{
    jobtrackerDouble::SetNumJobs(1);
    jobtrackerDouble::SetJob(1, SimpleJob("One"));
    const std::string longLine = std::string(300, 'a') + "\n";
    const std::string straddling = std::string(240, 'b') + "__GENERATE_BODY_HERE__" +
                                   std::string(20, 'c') + "\n";
    UseTemplate("%!PS\n" + longLine + straddling + "end\n");

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    EXPECT_EQ(EditedBody(), "%!PS\n" + longLine + straddling + "end\n");
    EXPECT_EQ(jobtrackerDouble::Reads().size(), 1u) << "no entry for a split marker";

    // The marker whole in the second piece: the first 254 characters stay, the rest goes.
    streameditorDouble::Reset();
    const std::string late = std::string(260, 'd') + "__GENERATE_BODY_HERE__ gone\n";
    UseTemplate("%!PS\n" + late + "end\n");
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    std::string body = EditedBody();
    EXPECT_EQ(body.compare(0, 5 + 254, "%!PS\n" + std::string(254, 'd')), 0);
    EXPECT_EQ(body.at(5 + 254), '/') << "the entry follows the first piece directly";
    EXPECT_EQ(body.find("gone"), std::string::npos);
    EXPECT_EQ(CountOccurrences(body, "/numberOfRecipients "), 1);
}

// Fault: no fallback directory, the fallback not logged, or logged once although the directory is
// read twice (for the body path and for the report path).
TEST_F(ReportRunTest, UnsetTempDirectoryFallsBackAndLogsTwice)
{
    UseTemplate(std::string("%!PS\n") + kMarkerLine);
    jobtrackerDouble::SetNumJobs(0);
    unsetenv("TEMP_FILES_DIR");
    mkdir("/tmp/tmpfiles", 0777);

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);

    EXPECT_EQ(logDouble::CountPluginRecord("ERROR ENV TEMP_FILES_DIR not defined"), 2);
    EXPECT_EQ(
        logDouble::CountPluginRecord("INFO Open temp output file \"/tmp/tmpfiles/ar_output_pdl.ps\""),
        1);
    EXPECT_EQ(
        logDouble::CountPluginRecord("INFO Submit PDL File = \"/tmp/tmpfiles/activityReport.ps\""),
        1);
    ASSERT_EQ(streameditorDouble::Edits().size(), 1u);
    EXPECT_EQ(streameditorDouble::Edits()[0].inPath, "/tmp/tmpfiles/ar_output_pdl.ps");
    EXPECT_EQ(streameditorDouble::Edits()[0].outPath, "/tmp/tmpfiles/activityReport.ps");
    EXPECT_EQ(streameditorDouble::Edits()[0].input, "%!PS\n");
    EXPECT_FALSE(Exists("/tmp/tmpfiles/ar_output_pdl.ps"));
    unlink("/tmp/tmpfiles/activityReport.ps");
}

// Fault: an unset or unreadable template not reported, the report data not released, or the run
// going on to open the body file.
TEST_F(ReportRunTest, MissingTemplateEndsWithStatusOneAndReleasesTheData)
{
    jobtrackerDouble::SetNumJobs(1);
    for (bool set : {false, true}) {
        SCOPED_TRACE(set ? "variable names a missing file" : "variable unset");
        logDouble::Reset();
        jobtrackerDouble::Reset();
        if (set)
            setenv("ACTIVITY_REPORT_TEMPLATE", Path("no-such-template.ps").c_str(), 1);
        else
            unsetenv("ACTIVITY_REPORT_TEMPLATE");
        int descriptors = OpenDescriptors();

        EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 1);

        std::vector<std::string> records = logDouble::PluginRecords();
        ASSERT_GE(records.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(records.begin(), records.begin() + 3),
                  (std::vector<std::string>{
                      "ENTER ARL_ActivityReport", "INFO Job Tracker data retreived successfully",
                      "ERROR ENV ACTIVITY_REPORT_TEMPLATE not defined for Activity Report."}));
        for (const std::string &record : records)
            EXPECT_EQ(record.find("Open temp output file"), std::string::npos);
        EXPECT_EQ(jobtrackerDouble::ReleaseCalls(), 1);
        EXPECT_TRUE(jobtrackerDouble::Reads().empty());
        EXPECT_FALSE(Exists(bodyPath));
        EXPECT_TRUE(streameditorDouble::Edits().empty());
        EXPECT_TRUE(printDouble::Submissions().empty());
        EXPECT_EQ(OpenDescriptors(), descriptors);
    }
}

// Fault: an unwritable body file not reported, the template stream left open, or the report data
// not released.
TEST_F(ReportRunTest, UnwritableBodyEndsWithStatusSix)
{
    UseTemplate(std::string("%!PS\n") + kMarkerLine);
    jobtrackerDouble::SetNumJobs(1);
    const std::string missingDir = Path("no-such-dir");
    setenv("TEMP_FILES_DIR", missingDir.c_str(), 1);
    int descriptors = OpenDescriptors();

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 6);

    std::vector<std::string> records = logDouble::PluginRecords();
    ASSERT_GE(records.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(records.begin(), records.begin() + 5),
              (std::vector<std::string>{
                  "ENTER ARL_ActivityReport", "INFO Job Tracker data retreived successfully",
                  "INFO Activity Report Template file " + templatePath + " opened",
                  "INFO Open temp output file \"" + missingDir + "/ar_output_pdl.ps\"",
                  "ERROR Cannot open PDL file for writing."}));
    EXPECT_EQ(jobtrackerDouble::ReleaseCalls(), 1);
    EXPECT_TRUE(jobtrackerDouble::Reads().empty()) << "the job count is read after the open";
    EXPECT_TRUE(streameditorDouble::Edits().empty());
    EXPECT_TRUE(printDouble::Submissions().empty());
    EXPECT_EQ(OpenDescriptors(), descriptors) << "the template stream is closed";
}

// Fault: a failed job-tracker call not reported with its status, or data released that was
// never obtained; the flag not set before the call.
TEST_F(ReportRunTest, JobTrackerFailureEndsWithStatusFourAndReleasesNothing)
{
    UseTemplate(std::string("%!PS\n") + kMarkerLine);
    jobtrackerDouble::SetReportStatus(2);
    autoConvert = 0;

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 4);

    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{
                  "ENTER ARL_ActivityReport",
                  "ERROR jtapi_get_completed_jobs_report_data() FAILED status = 2."}));
    EXPECT_EQ(jobtrackerDouble::LastReportKind(), 5);
    EXPECT_EQ(jobtrackerDouble::ReleaseCalls(), 0);
    EXPECT_TRUE(jobtrackerDouble::Reads().empty());
    EXPECT_EQ(autoConvert, 1);
    EXPECT_FALSE(Exists(bodyPath));
}

// Fault: a failed release changing the run's status, logged as a success, or not logged.
TEST_F(ReportRunTest, ReleaseFailureIsLoggedAndLeavesTheStatus)
{
    UseTemplate(std::string("%!PS\n") + kMarkerLine);
    jobtrackerDouble::SetNumJobs(0);
    jobtrackerDouble::SetReleaseStatus(9);

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    std::vector<std::string> records = logDouble::PluginRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[records.size() - 2], "INFO Releasing Report Data...");
    EXPECT_EQ(records.back(), "ERROR jtapi_release_report_data() FAILURE 9");
    EXPECT_EQ(logDouble::CountPluginRecord("INFO jtapi_release_report_data() SUCCESSFUL"), 0);

    // A failed finishing pass keeps its own status through a failed release.
    logDouble::Reset();
    streameditorDouble::SetFileEditStatus(5);
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 3);
    EXPECT_EQ(logDouble::PluginRecords().back(), "ERROR jtapi_release_report_data() FAILURE 9");
}

// Fault: a conversion failure inside a job entry not ending the run with 7, later jobs still
// written, or the common end skipped (data kept, body file left behind, streams open).
TEST_F(ReportRunTest, ConversionFailureEndsWithStatusSevenThroughTheCommonEnd)
{
    UseTemplate(std::string("%!PS\n") + kMarkerLine + "end\n");
    jobtrackerDouble::SetNumJobs(2);
    jobtrackerDouble::SetJob(1, SimpleJob("Unprintable"));
    jobtrackerDouble::SetJob(2, SimpleJob("Two"));
    translationDouble::FailHexFor("Unprintable");
    int descriptors = OpenDescriptors();

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 7);

    EXPECT_TRUE(jobtrackerDouble::ReadsOfJob(2).empty()) << "the run stops at the first 7";
    EXPECT_EQ(logDouble::CountPluginRecord("ERROR ARL_CvtToUtf8Hex() failed (subject)."), 1);
    std::vector<std::string> records = logDouble::PluginRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[records.size() - 2], "INFO Releasing Report Data...");
    EXPECT_EQ(records.back(), "INFO jtapi_release_report_data() SUCCESSFUL");
    EXPECT_EQ(jobtrackerDouble::ReleaseCalls(), 1);
    EXPECT_FALSE(Exists(bodyPath));
    EXPECT_TRUE(streameditorDouble::Edits().empty());
    EXPECT_TRUE(streameditorDouble::Capacities().empty()) << "no finishing pass";
    EXPECT_TRUE(printDouble::Submissions().empty());
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

// Fault: the report submitted although the finishing pass failed, or the common end skipped.
TEST_F(ReportRunTest, FinishingFailureSkipsTheSubmission)
{
    UseTemplate(std::string("%!PS\n") + kMarkerLine);
    jobtrackerDouble::SetNumJobs(0);
    streameditorDouble::SetFileEditStatus(4);

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 3);
    EXPECT_TRUE(printDouble::Submissions().empty());
    EXPECT_TRUE(configDouble::RegionRequests().empty());
    EXPECT_EQ(jobtrackerDouble::ReleaseCalls(), 1);
    EXPECT_FALSE(Exists(bodyPath));
    EXPECT_EQ(logDouble::PluginRecords().back(), "INFO jtapi_release_report_data() SUCCESSFUL");

    // A variable text that cannot be converted: status 7, no submission either.
    streameditorDouble::Reset();
    streameditorDouble::SetFileEditStatus(0);
    translationDouble::FailHexFor("Plain");
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 7);
    EXPECT_TRUE(printDouble::Submissions().empty());
    EXPECT_FALSE(Exists(bodyPath));
}

// Fault: scratch buffers not cleared at the start of a run (stale texts of an earlier run could
// leak into this one), or the conversion flag not set back to 1.
TEST_F(ReportRunTest, RunStartClearsScratchBuffersAndSetsAutoConvert)
{
    UseTemplate(std::string("%!PS\n") + kMarkerLine);
    jobtrackerDouble::SetNumJobs(0);
    std::memset(runScratch.hexBuffer, 'x', sizeof runScratch.hexBuffer);
    std::memset(runScratch.dateText, 'x', sizeof runScratch.dateText);
    std::memset(runScratch.timeText, 'x', sizeof runScratch.timeText);
    autoConvert = 0;

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);

    const std::string zeroHex(sizeof runScratch.hexBuffer, '\0');
    const std::string zeroText(sizeof runScratch.dateText, '\0');
    EXPECT_EQ(std::string(runScratch.hexBuffer, sizeof runScratch.hexBuffer), zeroHex);
    EXPECT_EQ(std::string(runScratch.dateText, sizeof runScratch.dateText), zeroText);
    EXPECT_EQ(std::string(runScratch.timeText, sizeof runScratch.timeText), zeroText);
    EXPECT_EQ(autoConvert, 1) << "a run without jobs leaves the flag at 1";
}

// Fault: the conversion flag carried over from an earlier run, so that the first subject of a
// later run is not converted with automatic detection.
TEST_F(ReportRunTest, EveryRunConvertsItsFirstSubjectWithAutoConvertOne)
{
    UseTemplate(std::string("%!PS\n") + kMarkerLine);
    jobtrackerDouble::SetNumJobs(2);
    jobtrackerDouble::SetJob(1, SimpleJob("First"));
    jobtrackerDouble::SetJob(2, SimpleJob("Second"));
    std::vector<std::string> seen;
    translationDouble::SetConversion([&seen](const std::string &text) {
        seen.push_back(text + "=" + std::to_string(autoConvert));
        return text;
    });

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    EXPECT_EQ(autoConvert, 0);
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);

    std::vector<std::string> subjects;
    for (const std::string &entry : seen)
        if (entry.rfind("First=", 0) == 0 || entry.rfind("Second=", 0) == 0)
            subjects.push_back(entry);
    EXPECT_EQ(subjects, (std::vector<std::string>{"First=1", "Second=0", "First=1", "Second=0"}));
}

// Fault: a later run in the same process allocating new replacement buffers, keeping the
// previous run's media texts, initialising the translation library again, or not retrying it
// after a failed first run.
TEST_F(ReportRunTest, LaterRunsReuseTheProcessState)
{
    UseTemplate(std::string("%!PS\n") + kMarkerLine);
    jobtrackerDouble::SetNumJobs(0);
    translationDouble::SetInitResult(6);

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 3);
    EXPECT_TRUE(printDouble::Submissions().empty());
    char *buffers[ARL_NUM_VARIABLE_CMDS];
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        buffers[i] = sedCmdTable[i].replacePattern;

    translationDouble::SetInitResult(0);
    streameditorDouble::Reset();
    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    EXPECT_EQ(translationDouble::InitCalls(), 2) << "a failed initialisation is tried again";

    streameditorDouble::Reset();
    EXPECT_EQ(ARL_ActivityReport(nullptr, nullptr, "en"), 0);
    EXPECT_EQ(translationDouble::InitCalls(), 2) << "a successful one is not repeated";
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        EXPECT_EQ(sedCmdTable[i].replacePattern, buffers[i]) << "record " << i;
    const auto &commands = streameditorDouble::Commands();
    ASSERT_EQ(commands.size(), 54u);
    EXPECT_EQ(commands[49].replace, Hex("White"));
    EXPECT_EQ(commands[50].replace, Hex("Standard"));
    EXPECT_EQ(printDouble::Submissions().size(), 2u);
}

} // namespace
