// Tests of the print-submission stand-in: the spool layout other tools read, moving and copying
// documents, failures that must leave nothing behind, and the hand-over to a real CUPS queue.

#include "../files.h"
#include "print.h"

#include <algorithm>
#include <cups/cups.h>
#include <map>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The queue scripts/start-test-cups.sh creates.
const char *const kTestQueue = "arl-test";
const char *const kTestQueueUri = "ipp://localhost/printers/arl-test";

const std::vector<std::string> kReportAttributes = {
    "start-sheet=none", "copy-count=1", "content-orientation=oid-val-content-orientation-portrait",
    "sides=1", "plex=simplex", "transient-file=TRUE", "job-scheduling=after-complete",
    "default-medium=\"ISO_A4\"",
};

// The names in a directory, sorted; none when it does not exist.
std::vector<std::string> Entries(const fs::path &directory)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end; entry.increment(error))
        names.push_back(entry->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int Submit(const std::vector<std::string> &attributes, const fs::path &document,
           const char *jobName = "Activity Report", int32_t firstPage = -1, int32_t lastPage = -1)
{
    return zun::dmx::SubmitJob(attributes, "System User", jobName, document.c_str(), DS_PRECEDENCE_REPORT,
                               "print", firstPage, lastPage, 0);
}

// Every test gets its own spool and log under a fresh temporary directory, and no CUPS queue.
class PrintTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("PRINT_SPOOL_DIR", spool_.c_str(), 1);
        setenv("DEVICE_LOG", (root_ / "device.log").c_str(), 1);
        unsetenv("PRINT_QUEUE");
        WriteFile(document_, kDocument);
    }
    std::string Log() const { return ReadFile(root_ / "device.log"); }

    const std::string kDocument = "%!PS\n% activity report\nshowpage\n";
    TempDir dir_;
    const fs::path root_ = dir_.path, spool_ = root_ / "var" / "spool", document_ = root_ / "report.ps";
};

TEST_F(PrintTest, SpoolsEachJobWithItsTicketInTheNextDirectory)
{
    // The spool is created with its parents; the job holds exactly the document and the ticket;
    // the transient document is taken.
    ASSERT_EQ(Submit(kReportAttributes, document_), DS_OK);
    fs::path job = spool_ / "000001";
    EXPECT_EQ(Entries(job), (std::vector<std::string>{"document.ps", "ticket"}));
    EXPECT_EQ(ReadFile(job / "document.ps"), kDocument);
    std::string ticket = "user=System User\njob-name=Activity Report\noperation=print\nprecedence=25\n";
    for (const std::string &attribute : kReportAttributes)
        ticket += attribute + "\n";
    EXPECT_EQ(ReadFile(job / "ticket"), ticket);
    EXPECT_FALSE(fs::exists(document_)) << "the transient document is still with the submitter";

    // A second submission in a row gets the next number; a document that is not transient is
    // copied.
    WriteFile(document_, kDocument);
    ASSERT_EQ(Submit({"copy-count=1"}, document_), DS_OK);
    EXPECT_EQ(Entries(spool_), (std::vector<std::string>{"000001", "000002"}));
    EXPECT_EQ(ReadFile(document_), kDocument) << "a document that is not transient was taken";
    EXPECT_EQ(ReadFile(spool_ / "000002" / "document.ps"), kDocument);

    // Gaps are not refilled; names that are not six-digit directories do not count, but a
    // number already taken by a file is skipped, as a number another submitter just took is.
    fs::create_directory(spool_ / "000040");
    fs::create_directory(spool_ / "1234567");
    WriteFile(spool_ / "000090", "");
    WriteFile(spool_ / "000041", "");
    ASSERT_EQ(Submit({}, document_), DS_OK);
    EXPECT_TRUE(fs::exists(spool_ / "000042" / "ticket"));
    EXPECT_FALSE(fs::exists(spool_ / "000091"));
}

TEST_F(PrintTest, TransientDocumentIsMovedAcrossFileSystems)
{
    struct stat shm, tmp;
    if (stat("/dev/shm", &shm) != 0 || stat(root_.c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "/dev/shm and /tmp are on one file system here";
    fs::path document = "/dev/shm/print-test-" + std::to_string(getpid()) + ".ps";
    WriteFile(document, kDocument);
    EXPECT_EQ(Submit(kReportAttributes, document), DS_OK);
    EXPECT_FALSE(fs::remove(document)) << "the transient document was copied but not removed";
    EXPECT_EQ(ReadFile(spool_ / "000001" / "document.ps"), kDocument);
}

TEST_F(PrintTest, RefusedSubmissionsTakeNothingAndSpoolNothing)
{
    using zun::dmx::SubmitJob;
    const char *path = document_.c_str();
    const Ds_precedence report = DS_PRECEDENCE_REPORT;
    EXPECT_EQ(SubmitJob({}, nullptr, "job", path, report, "print", -1, -1, 0), DS_ERR_ARGUMENT);
    EXPECT_EQ(SubmitJob({}, "user", nullptr, path, report, "print", -1, -1, 0), DS_ERR_ARGUMENT);
    EXPECT_EQ(SubmitJob({}, "user", "job", nullptr, report, "print", -1, -1, 0), DS_ERR_ARGUMENT);
    EXPECT_EQ(SubmitJob({}, "user", "job", path, report, nullptr, -1, -1, 0), DS_ERR_ARGUMENT);
    EXPECT_EQ(Submit({}, root_ / "missing.ps"), DS_ERR_ARGUMENT);
    EXPECT_EQ(Submit({}, root_), DS_ERR_ARGUMENT) << "a directory was accepted as document";
    // A line break would forge a ticket line.
    EXPECT_EQ(Submit({"copy-count=1\noperation=delete"}, document_), DS_ERR_ARGUMENT);
    EXPECT_EQ(Submit({}, document_, "name\nuser=other"), DS_ERR_ARGUMENT);
    EXPECT_TRUE(Entries(spool_).empty());

    // A spool that cannot be written: root ignores permission bits, so the spool is below a
    // regular file, or a regular file itself.
    WriteFile(root_ / "plain-file", "");
    for (fs::path spool : {root_ / "plain-file" / "spool", root_ / "plain-file"}) {
        setenv("PRINT_SPOOL_DIR", spool.c_str(), 1);
        EXPECT_EQ(Submit(kReportAttributes, document_), DS_ERR_SPOOL) << spool;
    }
    EXPECT_TRUE(fs::exists(document_)) << "a failed submission took the transient document";
    EXPECT_NE(Log().find(" ERROR print:"), std::string::npos) << Log();
}

TEST_F(PrintTest, UnreachableCupsFailsButKeepsTheJobSpooled)
{
    // libcups reads CUPS_SERVER again after cupsSetServer(NULL).
    setenv("CUPS_SERVER", (root_ / "no-cupsd.sock").c_str(), 1);
    cupsSetServer(nullptr);
    setenv("PRINT_QUEUE", kTestQueue, 1);
    int status = Submit(kReportAttributes, document_);
    unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);

    EXPECT_EQ(status, DS_ERR_QUEUE);
    EXPECT_TRUE(fs::exists(spool_ / "000001" / "ticket"));
    EXPECT_NE(Log().find(" ERROR print:"), std::string::npos) << Log();
}

// The attributes the scheduler keeps for the newest job of the test queue named `jobName`,
// each value as IPP text ("one-sided", "3"); none when there is no such job.
std::map<std::string, std::string> JobAttributes(const std::string &jobName)
{
    cups_job_t *jobs = nullptr;
    int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kTestQueue, 0, CUPS_WHICHJOBS_ALL);
    int jobId = 0;
    for (int i = 0; i < count; ++i)
        jobId = jobName == jobs[i].title ? std::max(jobId, jobs[i].id) : jobId;
    cupsFreeJobs(count, jobs);
    std::map<std::string, std::string> attributes;
    if (jobId == 0)
        return attributes;

    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, kTestQueueUri);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    for (ipp_attribute_t *attribute = ippFirstAttribute(response); attribute;
         attribute = ippNextAttribute(response)) {
        char value[256];
        ippAttributeString(attribute, value, sizeof value);
        if (ippGetName(attribute))
            attributes[ippGetName(attribute)] = value;
    }
    ippDelete(response);
    return attributes;
}

// Round trip through the CUPS scheduler that scripts/start-test-cups.sh starts; skipped without
// one, except in CI.
TEST_F(PrintTest, JobsReachCupsWithTheirIppOptions)
{
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, kTestQueueUri);
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    const ipp_status_t queueStatus = cupsLastError();
    if (queueStatus == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || queueStatus == IPP_STATUS_ERROR_INTERNAL) {
        if (!std::getenv("CI"))
            GTEST_SKIP() << "no CUPS scheduler reachable; start one with scripts/start-test-cups.sh";
        FAIL() << "no CUPS scheduler reachable in CI: " << cupsLastErrorString();
    }
    ASSERT_LE(queueStatus, IPP_STATUS_OK_EVENTS_COMPLETE)
        << "the scheduler has no queue " << kTestQueue << "; run scripts/start-test-cups.sh as root";
    setenv("PRINT_QUEUE", kTestQueue, 1);
    // Job names no other run shares keep the queue's jobs apart.
    const std::string unique = " " + std::to_string(getpid()) + "-" + std::to_string(time(nullptr));

    // The report's own attributes; the caller's CUPS user is put back afterwards.
    cupsSetUser("device-software");
    ASSERT_EQ(Submit(kReportAttributes, document_, ("print-test report" + unique).c_str()), DS_OK) << Log();
    EXPECT_STREQ(cupsUser(), "device-software") << "the caller's CUPS user was not put back";
    // Jobs are owned by the submitting user; ask about them as that user.
    cupsSetUser("System User");
    // Each expected attribute of the named job as the scheduler keeps it.
    auto expectJob = [&unique](const std::string &name, const std::map<std::string, std::string> &expected) {
        std::map<std::string, std::string> job = JobAttributes("print-test " + name + unique);
        ASSERT_FALSE(job.empty()) << "no " << name << " job on " << kTestQueue;
        for (const auto &[attribute, value] : expected)
            EXPECT_EQ(job[attribute], value) << attribute;
    };
    expectJob("report", {{"job-name", "print-test report" + unique}, {"job-originating-user-name", "System User"},
                         {"copies", "1"}, {"sides", "one-sided"}, {"media", "iso_a4_210x297mm"},
                         {"orientation-requested", "portrait"}, {"job-sheets", "none"}, {"page-ranges", ""}});

    // The other values, and a page range.
    WriteFile(document_, kDocument);
    ASSERT_EQ(Submit({"copy-count=2", "plex=duplex", "default-medium=\"NA_LETTER\"",
                      "content-orientation=oid-val-content-orientation-landscape"},
                     document_, ("print-test letter" + unique).c_str(), 2, 3),
              DS_OK) << Log();
    expectJob("letter", {{"copies", "2"}, {"sides", "two-sided-long-edge"}, {"media", "na_letter_8.5x11in"},
                         {"orientation-requested", "landscape"}, {"page-ranges", "2-3"}});
}

} // namespace
