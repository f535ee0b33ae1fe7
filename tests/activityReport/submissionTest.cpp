// Print job submission: the attribute list, the paper size of the market region and the nine
// arguments of SubmitJob.

#include "pluginFixture.h"

using namespace testing_support;

namespace {

class SubmissionTest : public PluginTest {};

std::vector<std::string> Attributes(const std::string &medium)
{
    return {"start-sheet=none",
            "copy-count=1",
            "content-orientation=oid-val-content-orientation-portrait",
            "sides=1",
            "plex=simplex",
            "transient-file=TRUE",
            "job-scheduling=after-complete",
            "default-medium=\"" + medium + "\""};
}

// Fault: a region mapped to the wrong paper (the A4 set is 2, 3 and 5 only), an attribute
// missing, misspelt or out of order, or the medium not last.
TEST_F(SubmissionTest, MediumFollowsTheMarketRegion)
{
    const char *media[] = {"NA_LETTER", "NA_LETTER", "ISO_A4", "ISO_A4",
                           "NA_LETTER", "ISO_A4",    "NA_LETTER", "NA_LETTER"};
    for (uint32_t region = 0; region < 8; ++region) {
        SCOPED_TRACE("region " + std::to_string(region));
        printDouble::Reset();
        logDouble::Reset();
        configDouble::Reset();
        configDouble::SetMarketRegion(0, region);

        SubmitReport("/tmp/some/activityReport.ps");

        ASSERT_EQ(printDouble::Submissions().size(), 1u);
        EXPECT_EQ(printDouble::Submissions()[0].attributes, Attributes(media[region]));
        EXPECT_EQ(configDouble::RegionRequests(), std::vector<int>{0});
        EXPECT_TRUE(logDouble::PluginRecords().empty());
    }
}

// Fault: a configuration failure stopping the submission, logged at the wrong level or with
// another text, or giving A4.
TEST_F(SubmissionTest, RegionFailureFallsBackToLetterWithOneNotice)
{
    configDouble::SetMarketRegion(2, 3);

    SubmitReport("/tmp/some/activityReport.ps");

    EXPECT_EQ(logDouble::PluginRecords(),
              std::vector<std::string>{
                  "L5 Failed to get market region from cfg server, defaulting to Usco"});
    ASSERT_EQ(printDouble::Submissions().size(), 1u);
    EXPECT_EQ(printDouble::Submissions()[0].attributes, Attributes("NA_LETTER"));
}

// Fault: any of the nine arguments wrong, swapped or taken from elsewhere.
TEST_F(SubmissionTest, SubmitJobGetsTheNineArguments)
{
    configDouble::SetMarketRegion(0, 5);

    SubmitReport("/var/tmp/x/activityReport.ps");

    ASSERT_EQ(printDouble::Submissions().size(), 1u);
    const printDouble::Submission &job = printDouble::Submissions()[0];
    EXPECT_EQ(job.attributes, Attributes("ISO_A4"));
    EXPECT_EQ(job.user, "System User");
    EXPECT_EQ(job.jobName, "Activity Report");
    EXPECT_EQ(job.path, "/var/tmp/x/activityReport.ps");
    EXPECT_EQ(static_cast<int>(job.precedence), 25);
    EXPECT_EQ(job.operation, "print");
    EXPECT_EQ(job.firstPage, -1);
    EXPECT_EQ(job.lastPage, -1);
    EXPECT_EQ(job.options, 0);
}

// Fault: a rejected submission turned into a failed run.
TEST_F(SubmissionTest, RejectedSubmissionLeavesTheRunStatusZero)
{
    const std::string templatePath = Path("template.ps");
    WriteFile(templatePath, "%!PS\n__GENERATE_BODY_HERE__\n");
    setenv("ACTIVITY_REPORT_TEMPLATE", templatePath.c_str(), 1);
    jobtrackerDouble::SetNumJobs(0);
    printDouble::SetResult(DS_ERR_SPOOL);

    EXPECT_EQ(ARL_ActivityReport("Plain", "Blue", "en"), 0);
    ASSERT_EQ(printDouble::Submissions().size(), 1u);
    EXPECT_EQ(printDouble::Submissions()[0].path, Path("activityReport.ps"));
    EXPECT_EQ(jobtrackerDouble::ReleaseCalls(), 1);
}

} // namespace
