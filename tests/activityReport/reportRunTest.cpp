// The report run: steps, files, environment, statuses and clean-up of ARL_ActivityReport(), and
// the submission of the report file.

#include "pluginFixture.h"

namespace {

namespace fs = std::filesystem;

class ReportRunTest : public PluginTest {
protected:
    static int32_t Run(const char *type = "Plain", const char *color = "Blue")
    { return ARL_ActivityReport(type, color, "de"); }

    // What the stream editor was given to read: the body file as the template copy left it.
    std::string EditedBody()
    { return editor.edits.empty() ? "(no edit)" : editor.edits.back().input; }
};

// Fault: a step out of order, or a record misspelt, at the wrong level or missing on the normal
// path; the marker line copied; the paths built wrongly; the body file left behind; the scratch
// buffers not cleared or the flag not set at the start; a rejected submission failing the run.
// Without a temporary directory: no fallback, the fallback not logged, or logged once although
// the directory is read twice (for the body path and for the report path).
TEST_F(ReportRunTest, RunWithoutJobsLogsEveryStepInOrder)
{
    tracker.numJobs = 0;
    std::memset(&runScratch, 'x', sizeof runScratch);
    autoConvert = 0;
    printer.result = DS_ERR_SPOOL;

    EXPECT_EQ(Run(), 0);

    const std::string bodyPath = Path("ar_output_pdl.ps"), reportPath = Path("activityReport.ps");
    EXPECT_EQ(logs.records,
              (Texts{"ENTER ARL_ActivityReport", "INFO Job Tracker data retreived successfully",
                     "INFO Activity Report Template file " + Path("template.ps") + " opened",
                     "INFO Open temp output file \"" + bodyPath + "\"", "INFO Number of jobs = 0",
                     "INFO Submit PDL File = \"" + reportPath + "\"",
                     "ENTER ARL_GenerateActivityReport()", "ENTER ARL_GetSpecialAttributes()",
                     "INFO numVariableCmds = 5", "INFO numConstantCmds = 49",
                     "ENTER ARL_TranslateConstantText()",
                     "INFO Add command 0: type=1 find=\"__media_color__\" replace=\"Blue\"",
                     "INFO Add command 1: type=1 find=\"__media_type__\" replace=\"Plain\"",
                     "INFO Add command 2: type=6 find=\"__system_hex_date__\" replace=\"NULL\"",
                     "INFO Add command 3: type=7 find=\"__system_hex_time__\" replace=\"NULL\"",
                     "INFO Add command 4: type=1 find=\"__device_hex_name__\" replace=\"device-1\"",
                     "INFO ARL_GenerateActivityReport returning 0", "INFO Releasing Report Data...",
                     "INFO jtapi_release_report_data() SUCCESSFUL"}));
    EXPECT_EQ(tracker.reportKinds, std::vector<int32_t>{5});
    EXPECT_EQ(tracker.reads[0], Texts{"0/0"});
    EXPECT_TRUE(tracker.misuse.empty());
    EXPECT_EQ(EditPaths(), (Texts{bodyPath, reportPath}));
    EXPECT_EQ(EditedBody(), "%!PS\n");
    EXPECT_FALSE(fs::exists(bodyPath));
    EXPECT_TRUE(fs::exists(reportPath)) << "the report file is left to the print service";
    ASSERT_EQ(printer.submissions.size(), 1u);
    EXPECT_EQ(printer.submissions[0].path, reportPath);
    EXPECT_TRUE(printer.submissions[0].documentExisted);
    EXPECT_EQ(std::string(runScratch.hexBuffer, 613), std::string(613, '\0')) << "texts cleared";
    EXPECT_EQ(autoConvert, 1);

    // Without TEMP_FILES_DIR, both the body path and the report path fall back, logged each time.
    ResetDoubles();
    unsetenv("TEMP_FILES_DIR");
    fs::create_directories("/tmp/tmpfiles");
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(logDouble::Count("ERROR ENV TEMP_FILES_DIR not defined"), 2);
    EXPECT_EQ(logDouble::Count("INFO Open temp output file \"/tmp/tmpfiles/ar_output_pdl.ps\""), 1);
    EXPECT_EQ(logDouble::Count("INFO Submit PDL File = \"/tmp/tmpfiles/activityReport.ps\""), 1);
    EXPECT_EQ(EditPaths(),
              (Texts{"/tmp/tmpfiles/ar_output_pdl.ps", "/tmp/tmpfiles/activityReport.ps"}));
    EXPECT_EQ(EditedBody(), "%!PS\n");
    EXPECT_FALSE(fs::exists("/tmp/tmpfiles/ar_output_pdl.ps"));
    fs::remove("/tmp/tmpfiles/activityReport.ps");
}

// Fault: entries written for a negative count, or a missing count (in either form) read through
// the value pointer or not reported.
TEST_F(ReportRunTest, NegativeOrMissingJobCountMeansNoJobs)
{
    for (int32_t form : {-3, int32_t{JTAPI_ERR_MISSING}, 0}) {
        SCOPED_TRACE(form);
        ResetDoubles();
        tracker.jobs[1] = PlainJob("One");
        if (form < 0)
            tracker.numJobs = form;
        tracker.missingStatus = form < 0 ? JTAPI_ERR_MISSING : form;

        EXPECT_EQ(Run(), 0);

        const std::string count = "INFO Number of jobs = " + std::to_string(form < 0 ? form : 0);
        auto at = std::find(logs.records.begin(), logs.records.end(), count);
        ASSERT_NE(at, logs.records.end());
        EXPECT_EQ(*(at - 1) == "ERROR JTAPI_NUM_JOBS is NULL. Use default = 0", form >= 0);
        EXPECT_EQ(EditedBody(), "%!PS\n");
        EXPECT_EQ(tracker.reads.size(), 1u) << "only the job count is read";
        EXPECT_EQ(tracker.releaseCalls, 1);
        EXPECT_EQ(printer.submissions.size(), 1u);
    }
}

// Fault: a template line cut, or split with something in between; a marker recognised across the
// 254-character piece boundary, or the rest of a piece holding a marker kept; only the first
// marker expanded, or the second series not restarted at job 1 with its separators.
TEST_F(ReportRunTest, TemplateIsCopiedInPiecesAndEveryMarkerPieceWritesTheSeries)
{
    tracker.numJobs = 2;
    tracker.jobs = {{1, PlainJob("One")}, {2, PlainJob("Two")}};
    const std::string copied = "%!PS\n\n  tab\there\n" + std::string(300, 'a') + "\n" +
                               std::string(240, 'b') + "__GENERATE_BODY_HERE__" +
                               std::string(20, 'c') + "\nlast line without newline";
    UseTemplate(copied);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(EditedBody(), copied);
    EXPECT_EQ(tracker.reads.size(), 1u) << "no entry for a split marker";

    tracker.reads.clear();
    const std::string firstPiece = "%!PS\n" + std::string(254, 'd');
    UseTemplate(firstPiece + "dddddd__GENERATE_BODY_HERE__ gone\nMIDDLE\n"
                             "BEFORE __GENERATE_BODY_HERE__ AFTER\nend\n");
    EXPECT_EQ(Run(), 0);
    const std::string body = EditedBody();
    ASSERT_EQ(body.compare(0, firstPiece.size(), firstPiece), 0);
    const size_t middle = body.find("MIDDLE\n");
    ASSERT_NE(middle, std::string::npos);
    const std::string first = body.substr(firstPiece.size(), middle - firstPiece.size());
    EXPECT_EQ(body.substr(middle + 7), first + "end\n");
    EXPECT_EQ(first.rfind("/numberOfRecipients 1 ", 0), 0u);
    EXPECT_EQ(CountOf(first, "/numberOfRecipients "), 2);
    EXPECT_EQ(CountOf(first, "VERTICAL_SPACE_SEPARATOR\n"), 3);
    EXPECT_LT(first.find(Hex("One")), first.find(Hex("Two")));
    for (const char *dropped : {"gone", "BEFORE", "AFTER", "__GENERATE_BODY_HERE__"})
        EXPECT_EQ(body.find(dropped), std::string::npos) << dropped;
    for (const Texts &reads : {tracker.reads[1], tracker.reads[2]})
        EXPECT_EQ(std::count(reads.begin(), reads.end(), "16/0"), 2);
}

// Fault: an early failure not reported or reported otherwise, the report data not released (or
// released when it was never obtained), a stream left open, or the run going on after it.
TEST_F(ReportRunTest, EarlyFailuresReturnTheirStatusAndGiveBackWhatWasTaken)
{
    const std::string enter = "ENTER ARL_ActivityReport", noDir = Path("no-dir"),
                      obtained = "INFO Job Tracker data retreived successfully",
                      noTemplate = "ERROR ENV ACTIVITY_REPORT_TEMPLATE not defined for Activity "
                                   "Report.";
    const std::tuple<std::function<void()>, int32_t, Texts, int> cases[] = {
        // the failure, the status, the records, jtapi_release_report_data calls
        {[] { unsetenv("ACTIVITY_REPORT_TEMPLATE"); }, 1, {enter, obtained, noTemplate}, 1},
        {[&] { setenv("ACTIVITY_REPORT_TEMPLATE", noDir.c_str(), 1); }, 1,
         {enter, obtained, noTemplate}, 1},
        {[&] { setenv("TEMP_FILES_DIR", noDir.c_str(), 1); }, 6,
         {enter, obtained, "INFO Activity Report Template file " + Path("template.ps") + " opened",
          "INFO Open temp output file \"" + noDir + "/ar_output_pdl.ps\"",
          "ERROR Cannot open PDL file for writing."},
         1},
        {[&] { tracker.reportStatus = 2; }, 4,
         {enter, "ERROR jtapi_get_completed_jobs_report_data() FAILED status = 2."}, 0}};
    for (const auto &[fail, status, records, releases] : cases) {
        SCOPED_TRACE(records.back());
        UseTemplate("%!PS\n__GENERATE_BODY_HERE__\n");
        setenv("TEMP_FILES_DIR", tempDir.c_str(), 1);
        ResetDoubles();
        tracker.numJobs = 1;
        fail();
        autoConvert = 0;
        const long descriptors = OpenDescriptors();

        EXPECT_EQ(Run(), status);

        EXPECT_EQ(logs.records, records);
        EXPECT_EQ(tracker.releaseCalls, releases);
        EXPECT_TRUE(tracker.reads.empty());
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_EQ(autoConvert, 1);
        EXPECT_FALSE(fs::exists(Path("ar_output_pdl.ps")));
        EXPECT_TRUE(editor.edits.empty());
        EXPECT_TRUE(printer.submissions.empty());
    }
}

// Fault: a failure after the body file exists not ending the run with its status, the report
// submitted after a failed finishing pass, later jobs still written, a failed release logged as a
// success or changing the status, or the common end skipped (data kept, body file left, streams
// open).
TEST_F(ReportRunTest, LaterFailuresPassThroughTheCommonEnd)
{
    const std::string releasing = "INFO Releasing Report Data...",
                      failedRelease = "ERROR jtapi_release_report_data() FAILURE 9";
    const std::tuple<bool, int, int, int32_t, Texts> cases[] = {
        // a subject that cannot be converted, the edit's and the release's status, the run's
        // status, the last records
        {true, 0, 0, 7,
         {"ERROR ARL_CvtToUtf8Hex() failed (subject).", releasing,
          "INFO jtapi_release_report_data() SUCCESSFUL"}},
        {false, 0, 9, 0,
         {"INFO ARL_GenerateActivityReport returning 0", releasing, failedRelease}},
        {false, 5, 9, 3,
         {"INFO ARL_GenerateActivityReport returning 3", releasing, failedRelease}}};
    for (const auto &[badSubject, editStatus, releaseStatus, status, records] : cases) {
        SCOPED_TRACE(records[0]);
        ResetDoubles();
        if (badSubject) {
            tracker.numJobs = 2;
            tracker.jobs = {{1, PlainJob("Unprintable")}, {2, PlainJob("Two")}};
            translation.hexResults["Unprintable"] = -1;
        }
        editor.editStatus = editStatus;
        tracker.releaseStatus = releaseStatus;
        const long descriptors = OpenDescriptors();

        EXPECT_EQ(Run(), status);

        EXPECT_EQ(Tail(logs.records, records.size()), records);
        EXPECT_EQ(tracker.releaseCalls, 1);
        EXPECT_EQ(tracker.reads.count(2), 0u) << "the run stops at the first 7";
        EXPECT_EQ(editor.capacities.size(), badSubject ? 0u : 1u);
        EXPECT_EQ(printer.submissions.size(), status == 0 ? 1u : 0u);
        EXPECT_EQ(config.regionRequests.size(), status == 0 ? 1u : 0u);
        EXPECT_FALSE(fs::exists(Path("ar_output_pdl.ps")));
        EXPECT_EQ(OpenDescriptors(), descriptors);
    }
}

// Fault: the flag not set back to 1 by a later run, not cleared after a run's first subject,
// cleared before that subject is converted, or cleared only for a non-empty subject; a text
// converted for another language than the run's.
TEST_F(ReportRunTest, OnlyTheFirstSubjectOfEachRunIsConvertedWithAutoConvert)
{
    tracker.numJobs = 2;
    tracker.jobs = {{1, PlainJob("First")}, {2, PlainJob("Second")}};
    Texts seen;
    translation.conversion = [&seen](const std::string &text) {
        if (text[0] != 'T') // not a translated constant text
            seen.push_back(text + "=" + std::to_string(autoConvert));
        return text;
    };

    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(autoConvert, 0);
    EXPECT_EQ(Run(), 0);

    const Texts run = {"First=1", "from@example.com=0", "Bob=0", "bob@example.com=0", "Second=0",
                       "from@example.com=0", "Bob=0", "bob@example.com=0", "Blue=0", "Plain=0",
                       "N/A=0", "N/A=0", "device-1=0"};
    Texts expected = run;
    expected.insert(expected.end(), run.begin(), run.end());
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(translationDouble::Events("Translater("),
              Texts(2 * (run.size() + 49), "Translater(de)"));

    // An empty subject needs no converter, and still clears the flag.
    seen.clear();
    tracker.jobs[1].subject = "";
    EXPECT_EQ(Run(), 0);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0], "from@example.com=0");
}

// Fault: a later run in the same process allocating new replacement buffers, keeping the previous
// run's media texts, initialising the translation library again, or not retrying it after a
// failed first run.
TEST_F(ReportRunTest, LaterRunsReuseTheProcessState)
{
    translation.initResult = 6;
    EXPECT_EQ(Run(), 3);
    EXPECT_TRUE(printer.submissions.empty());
    char *buffers[ARL_NUM_VARIABLE_CMDS];
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        buffers[i] = sedCmdTable[i].replacePattern;

    translation.initResult = 0;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(translation.initCalls, 2) << "a failed initialisation is tried again";

    editor = {};
    EXPECT_EQ(Run(nullptr, nullptr), 0);
    EXPECT_EQ(translation.initCalls, 2) << "a successful one is not repeated";
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        EXPECT_EQ(sedCmdTable[i].replacePattern, buffers[i]) << "record " << i;
    ASSERT_EQ(editor.commands.size(), 54u);
    EXPECT_EQ(editor.commands[49].replace + editor.commands[50].replace, Hex("WhiteStandard"));
    EXPECT_EQ(printer.submissions.size(), 2u);
}

// Fault: a region mapped to the wrong paper (A4 is 2, 3 and 5 only); a configuration failure
// stopping the submission, giving A4 or logged otherwise; an attribute missing, misspelt or out
// of order, the medium not last; any of the nine arguments of SubmitJob wrong or swapped.
TEST_F(PluginTest, SubmissionUsesThePaperOfTheMarketRegion)
{
    const char *const media[] = {"NA_LETTER", "NA_LETTER", "ISO_A4",    "ISO_A4",   "NA_LETTER",
                                 "ISO_A4",    "NA_LETTER", "NA_LETTER", "NA_LETTER"};
    for (uint32_t region = 0; region <= 8; ++region) {
        SCOPED_TRACE(region == 8 ? "configuration fails" : "region " + std::to_string(region));
        ResetDoubles();
        config.region = region == 8 ? 3 : region;
        config.regionStatus = region == 8 ? CFG_ERR_ABSENT : CFG_OK;

        SubmitReport("/var/tmp/x/activityReport.ps");

        EXPECT_EQ(logs.records,
                  region == 8 ? Texts{"L5 Failed to get market region from cfg server, defaulting "
                                      "to Usco"}
                              : Texts{});
        EXPECT_EQ(config.regionRequests, std::vector<int>{0});
        ASSERT_EQ(printer.submissions.size(), 1u);
        const printDouble::Submission &job = printer.submissions[0];
        EXPECT_EQ(job.attributes,
                  (Texts{"start-sheet=none", "copy-count=1",
                         "content-orientation=oid-val-content-orientation-portrait", "sides=1",
                         "plex=simplex", "transient-file=TRUE", "job-scheduling=after-complete",
                         "default-medium=\"" + std::string(media[region]) + "\""}));
        EXPECT_EQ(
            Texts({job.user, job.jobName, job.path, job.operation}),
            (Texts{"System User", "Activity Report", "/var/tmp/x/activityReport.ps", "print"}));
        EXPECT_EQ(std::vector<int>({job.precedence, job.firstPage, job.lastPage, job.options}),
                  (std::vector<int>{25, -1, -1, 0}));
    }
}

} // namespace
