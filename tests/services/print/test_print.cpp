// Tests of the print-submission stand-in: the spool layout other tools read, moving and copying
// documents, failures that must leave nothing behind, and the hand-over to a real CUPS queue.

#include "print.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The queue scripts/start-test-cups.sh creates.
const char *const kTestQueue = "arl-test";

const std::vector<std::string> kReportAttributes = {
    "start-sheet=none",
    "copy-count=1",
    "content-orientation=oid-val-content-orientation-portrait",
    "sides=1",
    "plex=simplex",
    "transient-file=TRUE",
    "job-scheduling=after-complete",
    "default-medium=\"ISO_A4\"",
};

std::string ReadFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const fs::path &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

int Submit(const std::vector<std::string> &attributes, const fs::path &document,
           const char *jobName = "Activity Report", int32_t firstPage = -1,
           int32_t lastPage = -1)
{
    return zun::dmx::SubmitJob(attributes, "System User", jobName, document.c_str(),
                               DS_PRECEDENCE_REPORT, "print", firstPage, lastPage, 0);
}

// Every test gets its own spool and log under a fresh temporary directory, and no CUPS queue.
class PrintTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/print-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        spool_ = root_ / "var" / "spool";
        log_ = root_ / "device.log";
        setenv("PRINT_SPOOL_DIR", spool_.c_str(), 1);
        setenv("DEVICE_LOG", log_.c_str(), 1);
        unsetenv("PRINT_QUEUE");
        document_ = root_ / "report.ps";
        WriteFile(document_, "%!PS\n% activity report\nshowpage\n");
    }

    void TearDown() override
    {
        std::error_code error;
        fs::remove_all(root_, error);
    }

    std::vector<std::string> SpoolEntries() const
    {
        std::vector<std::string> names;
        std::error_code error;
        for (fs::directory_iterator entry(spool_, error), end; !error && entry != end;
             entry.increment(error)) {
            names.push_back(entry->path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string Log() const { return ReadFile(log_); }

    fs::path root_, spool_, log_, document_;
};

TEST_F(PrintTest, SpoolsTheReportWithItsTicketAndTakesTheTransientDocument)
{
    const std::string content = ReadFile(document_);
    ASSERT_EQ(Submit(kReportAttributes, document_), DS_OK);

    // The spool was created with its parents; the job holds exactly the document and the ticket.
    fs::path job = spool_ / "000001";
    std::vector<std::string> files;
    for (const auto &entry : fs::directory_iterator(job)) {
        files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"document.ps", "ticket"}));
    EXPECT_EQ(ReadFile(job / "document.ps"), content);
    std::vector<std::string> ticket = {"user=System User", "job-name=Activity Report",
                                       "operation=print", "precedence=25"};
    ticket.insert(ticket.end(), kReportAttributes.begin(), kReportAttributes.end());
    EXPECT_EQ(Lines(ReadFile(job / "ticket")), ticket);
    EXPECT_FALSE(fs::exists(document_)) << "the transient document is still with the submitter";
}

TEST_F(PrintTest, NumbersJobsOneAboveTheHighestAndCopiesOtherDocuments)
{
    ASSERT_EQ(Submit({"copy-count=1"}, document_), DS_OK);
    ASSERT_EQ(Submit({}, document_), DS_OK);
    EXPECT_EQ(SpoolEntries(), (std::vector<std::string>{"000001", "000002"}));
    EXPECT_TRUE(fs::exists(document_)) << "a document that is not transient was taken";
    EXPECT_EQ(ReadFile(spool_ / "000002" / "document.ps"), ReadFile(document_));

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
    if (stat("/dev/shm", &shm) != 0 || stat(root_.c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev) {
        GTEST_SKIP() << "/dev/shm and /tmp are on one file system here";
    }
    fs::path document = "/dev/shm/print-test-" + std::to_string(getpid()) + ".ps";
    WriteFile(document, "%!PS\n% from another file system\nshowpage\n");
    int status = Submit(kReportAttributes, document);
    bool left = fs::exists(document);
    fs::remove(document);
    ASSERT_EQ(status, DS_OK);
    EXPECT_FALSE(left) << "the transient document was copied but not removed";
    EXPECT_EQ(ReadFile(spool_ / "000001" / "document.ps"),
              "%!PS\n% from another file system\nshowpage\n");
}

TEST_F(PrintTest, UnwritableSpoolFailsWithoutTakingTheDocument)
{
    // Root ignores permission bits, so make the spool impossible instead: below a regular file,
    // and a regular file itself.
    WriteFile(root_ / "plain-file", "");
    for (fs::path spool : {root_ / "plain-file" / "spool", root_ / "plain-file"}) {
        SCOPED_TRACE(spool);
        setenv("PRINT_SPOOL_DIR", spool.c_str(), 1);
        EXPECT_EQ(Submit(kReportAttributes, document_), DS_ERR_SPOOL);
        EXPECT_TRUE(fs::exists(document_)) << "a failed submission took the transient document";
    }
    EXPECT_NE(Log().find(" ERROR print:"), std::string::npos) << Log();
}

TEST_F(PrintTest, RejectsBadArgumentsBeforeTouchingTheSpool)
{
    using zun::dmx::SubmitJob;
    const char *path = document_.c_str();
    EXPECT_EQ(SubmitJob({}, nullptr, "job", path, DS_PRECEDENCE_REPORT, "print", -1, -1, 0),
              DS_ERR_ARGUMENT);
    EXPECT_EQ(SubmitJob({}, "user", nullptr, path, DS_PRECEDENCE_REPORT, "print", -1, -1, 0),
              DS_ERR_ARGUMENT);
    EXPECT_EQ(SubmitJob({}, "user", "job", nullptr, DS_PRECEDENCE_REPORT, "print", -1, -1, 0),
              DS_ERR_ARGUMENT);
    EXPECT_EQ(SubmitJob({}, "user", "job", path, DS_PRECEDENCE_REPORT, nullptr, -1, -1, 0),
              DS_ERR_ARGUMENT);
    EXPECT_EQ(Submit({}, root_ / "missing.ps"), DS_ERR_ARGUMENT);
    EXPECT_EQ(Submit({}, root_), DS_ERR_ARGUMENT) << "a directory was accepted as document";
    // A line break would forge a ticket line.
    EXPECT_EQ(Submit({"copy-count=1\noperation=delete"}, document_), DS_ERR_ARGUMENT);
    EXPECT_EQ(Submit({}, document_, "name\nuser=other"), DS_ERR_ARGUMENT);

    EXPECT_TRUE(SpoolEntries().empty());
    EXPECT_TRUE(fs::exists(document_));
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

// ------------------------------------------------------------------------------------------------
// Round trip through the CUPS scheduler
// ------------------------------------------------------------------------------------------------

std::string PrinterUri()
{
    return std::string("ipp://localhost/printers/") + kTestQueue;
}

// Asks the scheduler about the test queue: true when it answered at all; `queueExists` tells
// whether it knows the queue.
bool AskForTestQueue(bool &queueExists)
{
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 PrinterUri().c_str());
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    ipp_status_t status = cupsLastError();
    queueExists = status <= IPP_STATUS_OK_EVENTS_COMPLETE;
    return status != IPP_STATUS_ERROR_SERVICE_UNAVAILABLE && status != IPP_STATUS_ERROR_INTERNAL;
}

// The id of the newest job of the test queue with this name; 0 when there is none.
int FindJob(const std::string &jobName)
{
    cups_job_t *jobs = nullptr;
    int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kTestQueue, 0, CUPS_WHICHJOBS_ALL);
    int found = 0;
    for (int i = 0; i < count; ++i) {
        if (jobName == jobs[i].title && jobs[i].id > found) {
            found = jobs[i].id;
        }
    }
    cupsFreeJobs(count, jobs);
    return found;
}

// The job's attributes as the scheduler keeps them, each value as IPP text ("one-sided", "3").
std::map<std::string, std::string> JobAttributes(int jobId)
{
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 PrinterUri().c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    std::map<std::string, std::string> attributes;
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    for (ipp_attribute_t *attribute = ippFirstAttribute(response); attribute;
         attribute = ippNextAttribute(response)) {
        if (ippGetName(attribute)) {
            char value[256];
            ippAttributeString(attribute, value, sizeof value);
            attributes[ippGetName(attribute)] = value;
        }
    }
    ippDelete(response);
    return attributes;
}

class CupsRoundTripTest : public PrintTest {
protected:
    void SetUp() override
    {
        PrintTest::SetUp();
        bool queueExists = false;
        if (!AskForTestQueue(queueExists)) {
            if (!std::getenv("CI")) {
                GTEST_SKIP() << "no CUPS scheduler reachable; start one with "
                                "scripts/start-test-cups.sh";
            }
            FAIL() << "no CUPS scheduler reachable in CI: " << cupsLastErrorString();
        }
        ASSERT_TRUE(queueExists) << "the scheduler has no queue " << kTestQueue
                                 << "; run scripts/start-test-cups.sh as root";
        setenv("PRINT_QUEUE", kTestQueue, 1);
        // Jobs are owned by the submitting user; ask about them as that user.
        cupsSetUser("System User");
    }

    // A job name no other run of this test shares.
    static std::string UniqueJobName(const char *what)
    {
        return std::string("print-test ") + what + " " + std::to_string(getpid()) + "-" +
               std::to_string(time(nullptr));
    }
};

TEST_F(CupsRoundTripTest, ReportJobArrivesWithItsIppOptions)
{
    std::string jobName = UniqueJobName("report");
    cupsSetUser("device-software");
    ASSERT_EQ(Submit(kReportAttributes, document_, jobName.c_str()), DS_OK) << Log();
    EXPECT_STREQ(cupsUser(), "device-software") << "the caller's CUPS user was not put back";
    cupsSetUser("System User");

    int jobId = FindJob(jobName);
    ASSERT_NE(jobId, 0) << "no job named \"" << jobName << "\" on " << kTestQueue;
    std::map<std::string, std::string> job = JobAttributes(jobId);
    EXPECT_EQ(job["job-name"], jobName);
    EXPECT_EQ(job["job-originating-user-name"], "System User");
    EXPECT_EQ(job["copies"], "1");
    EXPECT_EQ(job["sides"], "one-sided");
    EXPECT_EQ(job["media"], "iso_a4_210x297mm");
    EXPECT_EQ(job["orientation-requested"], "portrait");
    EXPECT_EQ(job["job-sheets"], "none");
    EXPECT_EQ(job.count("page-ranges"), 0u);
}

TEST_F(CupsRoundTripTest, OtherValuesAndPageRangeReachCups)
{
    std::string jobName = UniqueJobName("letter");
    ASSERT_EQ(Submit({"copy-count=2", "plex=duplex", "default-medium=\"NA_LETTER\"",
                      "content-orientation=oid-val-content-orientation-landscape"},
                     document_, jobName.c_str(), 2, 3),
              DS_OK)
        << Log();
    int jobId = FindJob(jobName);
    ASSERT_NE(jobId, 0) << "no job named \"" << jobName << "\" on " << kTestQueue;
    std::map<std::string, std::string> job = JobAttributes(jobId);
    EXPECT_EQ(job["copies"], "2");
    EXPECT_EQ(job["sides"], "two-sided-long-edge");
    EXPECT_EQ(job["media"], "na_letter_8.5x11in");
    EXPECT_EQ(job["orientation-requested"], "landscape");
    EXPECT_EQ(job["page-ranges"], "2-3");
}

} // namespace
