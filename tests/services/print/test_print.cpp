// Tests of the print-submission stand-in: the spool layout other tools read, job numbers, and
// failures (bad arguments, no memory, a full disk, no CUPS) that must leave the spool as it was.

#include "../files.h"
#include "faults.h"
#include "print.h"

#include <csignal>
#include <cups/cups.h>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kReportAttributes = {
    "start-sheet=none", "copy-count=1", "content-orientation=oid-val-content-orientation-portrait",
    "sides=1", "plex=simplex", "transient-file=TRUE", "job-scheduling=after-complete",
    "default-medium=\"ISO_A4\""};
const fs::perms kJobFolderMode = fs::perms(0755), kSpooledFileMode = fs::perms(0644);

// Everything in a directory, hidden entries included.
std::set<fs::path> Entries(const fs::path &directory)
{
    std::error_code error;
    return {fs::directory_iterator(directory, error), fs::directory_iterator()};
}

struct PrintTest : ::testing::Test {
    void SetUp() override
    {
        setenv("PRINT_SPOOL_DIR", spool_.c_str(), 1);
        setenv("DEVICE_LOG", (dir_ / "device.log").c_str(), 1);
        unsetenv("PRINT_QUEUE");
        WriteFile(document_, kDocument);
    }
    int Submit(const std::vector<std::string> &attributes, const fs::path &document)
    {
        return zun::dmx::SubmitJob(attributes, "System User", "Report", document.c_str(),
                                   DS_PRECEDENCE_REPORT, "print", -1, -1, 0);
    }

    const std::string kDocument = "%!PS\n" + std::string(2000, '%') + "\nshowpage\n";
    TempDir dir_;
    const fs::path spool_ = dir_ / "spool", document_ = dir_ / "report.ps";
};

TEST_F(PrintTest, SpoolsEachJobWithItsTicketUnderTheNextNumber)
{
    fs::permissions(document_, fs::perms(0600));
    ASSERT_EQ(Submit(kReportAttributes, document_), DS_OK);
    std::string ticket = "user=System User\njob-name=Report\noperation=print\nprecedence=25\n";
    for (const std::string &attribute : kReportAttributes)
        ticket += attribute + "\n";
    EXPECT_EQ(ReadFile(spool_ / "000001" / "ticket"), ticket);
    EXPECT_EQ(ReadFile(spool_ / "000001" / "document.ps"), kDocument);
    EXPECT_FALSE(fs::exists(document_)) << "the transient document is still with the submitter";
    EXPECT_FALSE(Contains(ReadFile(dir_ / "device.log"), " WARN ")) << "a plain submission warned";
    // Readable by the print service that picks the job up, whatever the submitter's umask.
    EXPECT_EQ(fs::status(spool_ / "000001").permissions(), kJobFolderMode);
    EXPECT_EQ(fs::status(spool_ / "000001" / "document.ps").permissions(), kSpooledFileMode);

    // Not transient: copied. Gaps stay.
    WriteFile(document_, kDocument);
    fs::create_directory(spool_ / "000040");
    ASSERT_EQ(Submit({}, document_), DS_OK);
    EXPECT_EQ(ReadFile(document_), kDocument) << "a document that is not transient was taken";
    EXPECT_EQ(Entries(spool_ / "000041"),
              (std::set<fs::path>{spool_ / "000041/document.ps", spool_ / "000041/ticket"}));

    // Past 999999 (a stray directory of that name too) the lowest free number is taken.
    fs::create_directory(spool_ / "999999");
    ASSERT_EQ(Submit({}, document_), DS_OK);
    ASSERT_EQ(Submit({}, document_), DS_OK);
    EXPECT_TRUE(fs::exists(spool_ / "000002" / "ticket"));
    EXPECT_TRUE(fs::exists(spool_ / "000003" / "ticket"));
    EXPECT_TRUE(Contains(ReadFile(dir_ / "device.log"), "wrapped past 999999"));

    // The job is spooled before CUPS: a queue that cannot be reached fails the submission, not
    // the job.
    setenv("PRINT_QUEUE", "arl-test", 1);
    setenv("CUPS_SERVER", (dir_ / "no-cupsd.sock").c_str(), 1);
    cupsSetServer(nullptr); // libcups reads CUPS_SERVER again
    EXPECT_EQ(Submit({}, document_), DS_ERR_QUEUE);
    EXPECT_TRUE(fs::exists(spool_ / "000004" / "ticket"));
}

TEST_F(PrintTest, RefusedSubmissionsTakeNothingAndSpoolNothing)
{
    mkfifo((dir_ / "fifo").c_str(), 0600);
    const auto submitAs = [](const char *user, const char *job, const char *document) {
        return zun::dmx::SubmitJob({}, user, job, document, DS_PRECEDENCE_REPORT, "print", 0, 0, 0);
    };
    for (int status : {submitAs(nullptr, "job", document_.c_str()),
                       submitAs("user", "job", nullptr),
                       submitAs("user", "a\nb", document_.c_str()),
                       Submit({"copy-count=1\noperation=delete"}, document_),
                       Submit({}, dir_ / "missing.ps"), Submit({}, dir_.path),
                       Submit({}, dir_ / "fifo")})
        EXPECT_EQ(status, DS_ERR_ARGUMENT);
    EXPECT_TRUE(Entries(spool_).empty());
    // A spool that cannot be made (root ignores permission bits): a file stands below its path.
    setenv("PRINT_SPOOL_DIR", (document_ / "spool").c_str(), 1);
    EXPECT_EQ(Submit(kReportAttributes, document_), DS_ERR_SPOOL);
    EXPECT_EQ(ReadFile(document_), kDocument) << "a failed submission took the transient document";
}

// Fault: a failed allocation, each in turn, not ending the submission with DS_ERR_SPOOL, leaving
// a partial job or a block behind, or taking the transient document.
TEST_F(PrintTest, FailedAllocationsLeaveNoPartialJob)
{
    ASSERT_EQ(Submit({}, document_), DS_OK); // what the first submission keeps is not a leak
    std::set<fs::path> before = Entries(spool_);
    int status = DS_OK;
    faults::FailEachAllocationInTurn(
        [&] { status = Submit(kReportAttributes, document_); },
        [&](const faults::AllocationRun &run) {
            SCOPED_TRACE("allocation " + std::to_string(run.nth));
            if (status == DS_OK) { // a failure it could do without, such as a log record's
                EXPECT_EQ(Entries(spool_).size(), before.size() + 1);
                WriteFile(document_, kDocument);
                before = Entries(spool_);
                return;
            }
            EXPECT_EQ(status, DS_ERR_SPOOL);
            EXPECT_EQ(Entries(spool_), before);
            EXPECT_EQ(ReadFile(document_), kDocument);
            EXPECT_EQ(run.blocksKept, 0);
        });
    EXPECT_EQ(status, DS_OK);
}

// Fault: a file size limit on the ticket, then on a copied document, not ending the submission
// with its status, or leaving a partial job or an earlier job changed.
TEST_F(PrintTest, FullDiskLeavesNoPartialJob)
{
    ASSERT_EQ(Submit({}, document_), DS_OK);
    const std::set<fs::path> before = Entries(spool_);
    const struct {
        rlim_t fileSizeLimit;
        int wantStatus;
    } rows[] = {{.fileSizeLimit = 50, .wantStatus = DS_ERR_SPOOL},
                {.fileSizeLimit = 1000, .wantStatus = DS_ERR_DOCUMENT}};
    for (const auto &row : rows) {
        SCOPED_TRACE("limit " + std::to_string(row.fileSizeLimit));
        const pid_t child = fork();
        if (child == 0) {
            const rlimit small = {row.fileSizeLimit, row.fileSizeLimit};
            signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &small);
            _exit(Submit({}, document_));
        }
        int wait = 0;
        waitpid(child, &wait, 0);
        ASSERT_TRUE(WIFEXITED(wait));
        EXPECT_EQ(WEXITSTATUS(wait), row.wantStatus);
        EXPECT_EQ(Entries(spool_), before);
    }
    EXPECT_EQ(ReadFile(document_), kDocument);
    EXPECT_EQ(ReadFile(spool_ / "000001" / "document.ps"), kDocument) << "an earlier job changed";
}

} // namespace
