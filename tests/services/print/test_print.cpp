// Tests of the print-submission stand-in: the spool layout other tools read, job numbers, and
// failures (bad arguments, no memory, a full disk, no CUPS) that must leave the spool as it was.

#include "../files.h"
#include "print.h"

#include <csignal>
#include <cups/cups.h>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int allocationsLeft = -1; // before operator new fails; negative: no limit
const std::vector<std::string> kReportAttributes = {
    "start-sheet=none", "copy-count=1", "content-orientation=oid-val-content-orientation-portrait", "sides=1",
    "plex=simplex", "transient-file=TRUE", "job-scheduling=after-complete", "default-medium=\"ISO_A4\""};

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
        return zun::dmx::SubmitJob(attributes, "System User", "Report", document.c_str(), DS_PRECEDENCE_REPORT,
                                   "print", -1, -1, 0);
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
    EXPECT_EQ(fs::status(spool_ / "000001").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(spool_ / "000001" / "document.ps").permissions(), fs::perms(0644));

    // Not transient: copied. Gaps stay.
    WriteFile(document_, kDocument);
    fs::create_directory(spool_ / "000040");
    ASSERT_EQ(Submit({}, document_), DS_OK);
    EXPECT_EQ(ReadFile(document_), kDocument) << "a document that is not transient was taken";
    EXPECT_EQ(Entries(spool_ / "000041"), (std::set<fs::path>{spool_ / "000041/document.ps", spool_ / "000041/ticket"}));

    // Past 999999 (a stray directory of that name too) the lowest free number is taken.
    fs::create_directory(spool_ / "999999");
    ASSERT_EQ(Submit({}, document_), DS_OK);
    ASSERT_EQ(Submit({}, document_), DS_OK);
    EXPECT_TRUE(fs::exists(spool_ / "000002" / "ticket") && fs::exists(spool_ / "000003" / "ticket"));
    EXPECT_TRUE(Contains(ReadFile(dir_ / "device.log"), "wrapped past 999999"));

    // The job is spooled before CUPS: a queue that cannot be reached fails the submission, not the job.
    setenv("PRINT_QUEUE", "arl-test", 1);
    setenv("CUPS_SERVER", (dir_ / "no-cupsd.sock").c_str(), 1);
    cupsSetServer(nullptr); // libcups reads CUPS_SERVER again
    EXPECT_EQ(Submit({}, document_), DS_ERR_QUEUE);
    EXPECT_TRUE(fs::exists(spool_ / "000004" / "ticket"));
}

TEST_F(PrintTest, RefusedSubmissionsTakeNothingAndSpoolNothing)
{
    mkfifo((dir_ / "fifo").c_str(), 0600);
    for (int status : {zun::dmx::SubmitJob({}, nullptr, "job", document_.c_str(), DS_PRECEDENCE_REPORT, "print", 0, 0, 0),
                       zun::dmx::SubmitJob({}, "user", "job", nullptr, DS_PRECEDENCE_REPORT, "print", 0, 0, 0),
                       zun::dmx::SubmitJob({}, "user", "a\nb", document_.c_str(), DS_PRECEDENCE_REPORT, "print", 0, 0, 0),
                       Submit({"copy-count=1\noperation=delete"}, document_), Submit({}, dir_ / "missing.ps"),
                       Submit({}, dir_.path), Submit({}, dir_ / "fifo")})
        EXPECT_EQ(status, DS_ERR_ARGUMENT);
    EXPECT_TRUE(Entries(spool_).empty());
    // A spool that cannot be made (root ignores permission bits): a file stands below its path.
    setenv("PRINT_SPOOL_DIR", (document_ / "spool").c_str(), 1);
    EXPECT_EQ(Submit(kReportAttributes, document_), DS_ERR_SPOOL);
    EXPECT_EQ(ReadFile(document_), kDocument) << "a failed submission took the transient document";
}

// A job that cannot be written whole (no memory; a file size limit on the ticket, then on a
// copied document) gives a status and leaves the spool as it was and the document with its owner.
TEST_F(PrintTest, FailedWritesLeaveNoPartialJob)
{
    int status = DS_ERR_SPOOL;
    for (int allowed = 0; status != DS_OK && allowed < 1000; ++allowed) {
        const size_t before = Entries(spool_).size();
        allocationsLeft = allowed;
        status = Submit(kReportAttributes, document_);
        allocationsLeft = -1;
        EXPECT_EQ(Entries(spool_).size(), before + (status == DS_OK)) << "allocation " << allowed;
        EXPECT_EQ(fs::exists(document_), status != DS_OK) << "allocation " << allowed;
    }
    WriteFile(document_, kDocument);
    const std::set<fs::path> before = Entries(spool_);
    for (const auto &[limit, expected] : {std::pair{50, DS_ERR_SPOOL}, {1000, DS_ERR_DOCUMENT}}) {
        const pid_t child = fork();
        if (child == 0) {
            const rlimit small = {rlim_t(limit), rlim_t(limit)};
            signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &small);
            _exit(Submit({}, document_));
        }
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == expected) << "limit " << limit;
        EXPECT_EQ(Entries(spool_), before) << "limit " << limit;
    }
    EXPECT_EQ(ReadFile(document_), kDocument);
    EXPECT_EQ(ReadFile(spool_ / "000001" / "document.ps"), kDocument) << "an earlier job was touched";
}

} // namespace

// Out of line, so that the compiler does not take the free() below for a mismatch with new.
__attribute__((noinline)) void *operator new(size_t size)
{
    void *block = allocationsLeft == 0 ? nullptr : std::malloc(size ? size : 1);
    allocationsLeft -= allocationsLeft > 0;
    return block ? block : throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, size_t) noexcept { ::operator delete(block); }
