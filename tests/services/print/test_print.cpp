// Tests of the print-submission stand-in: the spool layout other tools read, job numbers,
// failures (bad arguments, no memory, a full disk, no CUPS) that must leave the spool as it was,
// and what another local user or a stalled print server can do to a submission.

#include "../files.h"
#include "faults.h"
#include "print.h"

#include <chrono>
#include <cups/cups.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kReportAttributes = {
    "start-sheet=none", "copy-count=1", "content-orientation=oid-val-content-orientation-portrait",
    "sides=1", "plex=simplex", "transient-file=TRUE", "job-scheduling=after-complete",
    "default-medium=\"ISO_A4\""};
const fs::perms kJobFolderMode = fs::perms(0755), kSpooledFileMode = fs::perms(0644);

// What the service does at a point of a job's assembly ("made", "filled"), for the test that runs.
std::function<void(const std::string &point, const fs::path &incoming)> atAssemblyPoint;

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
    // The ticket's lines, the plug-in's tests check in each report's job.
    ASSERT_EQ(Submit(kReportAttributes, document_), DS_OK);
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
    EXPECT_EQ(Entries(spool_ / "000041"), (std::vector<std::string>{"document.ps", "ticket"}));

    // Past 999999 (a stray directory of that name too) the lowest free number is taken.
    fs::create_directory(spool_ / "999999");
    ASSERT_EQ(Submit({}, document_), DS_OK);
    ASSERT_EQ(Submit({}, document_), DS_OK);
    EXPECT_TRUE(fs::exists(spool_ / "000002" / "ticket"));
    EXPECT_TRUE(fs::exists(spool_ / "000003" / "ticket"));
    EXPECT_TRUE(Contains(ReadFile(dir_ / "device.log"), "wrapped past 999999"));
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
    std::vector<std::string> before = Entries(spool_);
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
    const std::vector<std::string> before = Entries(spool_);
    const struct {
        rlim_t fileSizeLimit;
        int wantStatus;
    } rows[] = {{.fileSizeLimit = 50, .wantStatus = DS_ERR_SPOOL},
                {.fileSizeLimit = 1000, .wantStatus = DS_ERR_DOCUMENT}};
    for (const auto &row : rows) {
        const ChildRun run = InChild([&] { // SIGXFSZ at its default: the service must not need it
            const rlimit small = {row.fileSizeLimit, row.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &small);
            _exit(Submit({}, document_));
        });
        EXPECT_EQ(run.ended, row.wantStatus) << row.fileSizeLimit;
        EXPECT_EQ(Entries(spool_), before) << row.fileSizeLimit;
    }
    EXPECT_EQ(ReadFile(document_), kDocument);
    EXPECT_EQ(ReadFile(spool_ / "000001" / "document.ps"), kDocument) << "an earlier job changed";
}

// (Which owners and modes make a folder one that others could change, the platform layer's
// tests show.)
TEST_F(PrintTest, ASpoolThatOthersCouldChangeIsRefusedAndLeftUntouched)
{
    REQUIRE_ROOT();
    fs::create_directory(spool_);
    ASSERT_EQ(chown(spool_.c_str(), kOtherUid, kOtherUid), 0);
    ASSERT_EQ(chmod(spool_.c_str(), 0755), 0);
    EXPECT_EQ(Submit(kReportAttributes, document_), DS_ERR_SPOOL);
    EXPECT_TRUE(fs::is_empty(spool_));
    EXPECT_EQ(ReadFile(document_), kDocument);
    EXPECT_TRUE(Contains(ReadFile(dir_ / "device.log"), "is owned by uid 65534 with mode 0755"));
}

// A transient document that is not the submitter's own file (a planted link, a second link, a
// file of another user) is copied from what was opened: the file it reaches keeps its mode and
// its link count, and stays where it is.
TEST_F(PrintTest, ATransientDocumentIsMovedOnlyWhenItIsTheSubmittersOwn)
{
    REQUIRE_ROOT();
    const fs::path victim = dir_ / "root-only";
    const std::pair<const char *, std::function<void()>> plants[] = {
        {"symbolic link", [&] { fs::create_symlink(victim, document_); }},
        {"hard link", [&] { fs::create_hard_link(victim, document_); }},
        {"another user's file",
         [&] {
             fs::copy_file(victim, document_);
             ASSERT_EQ(chown(document_.c_str(), kOtherUid, 0), 0);
         }},
    };
    for (const auto &[name, plant] : plants) {
        fs::remove(document_);
        WriteFile(victim, kDocument);
        fs::permissions(victim, fs::perms(0600));
        plant();
        const uintmax_t links = fs::hard_link_count(victim);
        ASSERT_EQ(Submit(kReportAttributes, document_), DS_OK) << name;
        EXPECT_EQ(fs::status(victim).permissions(), fs::perms(0600)) << name;
        EXPECT_EQ(fs::hard_link_count(victim), links) << name;
        EXPECT_TRUE(fs::exists(fs::symlink_status(document_))) << name;
    }
    EXPECT_EQ(ReadFile(spool_ / "000003" / "document.ps"), kDocument);
    EXPECT_TRUE(Contains(ReadFile(dir_ / "device.log"), "spooled but not removed"));
}

// The hidden folder of a job is swapped for a link to a folder outside the spool at a fixed
// point of the assembly: the submission fails and nothing reaches the folder outside.
TEST_F(PrintTest, AJobFolderReplacedDuringAssemblyFailsTheSubmissionOnly)
{
    const fs::path outside = dir_ / "outside", movedAway = dir_ / "moved-away";
    fs::create_directory(outside);
    fs::permissions(outside, fs::perms(0700));
    for (const char *point : {"made", "filled"}) {
        atAssemblyPoint = [&](const std::string &at, const fs::path &incoming) {
            if (at != point)
                return;
            fs::rename(incoming, movedAway);
            fs::create_directory_symlink(outside, incoming);
        };
        EXPECT_EQ(Submit(kReportAttributes, document_), DS_ERR_SPOOL) << point;
        atAssemblyPoint = nullptr;
        EXPECT_TRUE(Entries(outside).empty()) << point;
        EXPECT_EQ(fs::status(outside).permissions(), fs::perms(0700)) << point;
        EXPECT_TRUE(Entries(movedAway).empty()) << point << ": the files written stayed";
        EXPECT_EQ(ReadFile(document_), kDocument) << point;
        fs::remove(movedAway);
    }
    EXPECT_TRUE(Contains(ReadFile(dir_ / "device.log"), "was replaced while it was filled"));
}

// A submission that dies while it assembles leaves its hidden folder. Another submission that
// runs meanwhile must leave it (it cannot tell a dead one from a live one, here the one that
// forked the dying child); the next one that runs alone removes it.
TEST_F(PrintTest, ALeftoverOfADeadSubmissionIsRemovedByTheNextOneThatRunsAlone)
{
    bool inChild = false, forked = false;
    atAssemblyPoint = [&](const std::string &at, const fs::path &) {
        if (at != "filled")
            return;
        if (inChild)
            raise(SIGKILL);
        if (forked)
            return;
        forked = true;
        const ChildRun dying = InChild([&] {
            inChild = true;
            _exit(Submit({}, document_));
        });
        EXPECT_EQ(dying.ended, 128 + SIGKILL);
        const size_t kLockAndTwoAssembling = 3;
        EXPECT_EQ(Entries(spool_).size(), kLockAndTwoAssembling);
        EXPECT_EQ(Submit({}, document_), DS_OK);
        EXPECT_EQ(Entries(spool_).size(), kLockAndTwoAssembling + 1) << "removed while assembling";
    };
    EXPECT_EQ(Submit({}, document_), DS_OK);
    atAssemblyPoint = nullptr;
    EXPECT_EQ(Submit({}, document_), DS_OK);
    EXPECT_EQ(Entries(spool_), (std::vector<std::string>{".lock", "000001", "000002", "000003"}));
    EXPECT_TRUE(Contains(ReadFile(dir_ / "device.log"), "left by a submission that died"));
}

// A stand-in print server on a local socket: none at all, one that takes the connection and
// never answers, or one that hangs up at once.
enum class Server { kNone, kSilent, kHangsUp };

struct FakeCupsServer {
    FakeCupsServer(Server kind, const std::string &path)
    {
        sockaddr_un address = {.sun_family = AF_UNIX, .sun_path = {}};
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        const auto *bound = reinterpret_cast<sockaddr *>(&address);
        if (kind != Server::kNone && bind(listener, bound, sizeof address) == 0)
            listen(listener, SOMAXCONN);
        if (kind == Server::kHangsUp)
            hangUp = std::thread([this] {
                for (int connection; (connection = accept(listener, nullptr, nullptr)) >= 0;)
                    close(connection);
            });
    }
    ~FakeCupsServer()
    {
        shutdown(listener, SHUT_RDWR);  // ends a waiting accept
        if (hangUp.joinable())
            hangUp.join();
        close(listener);
    }
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::thread hangUp;
};

TEST_F(PrintTest, AStalledOrMissingPrintServerEndsTheHandOverInTimeAndTheJobStaysSpooled)
{
    const struct { Server server; const char *wantRecord, *job; } cases[] = {
        {.server = Server::kNone, .wantRecord = "not reached within 3 s", .job = "000001"},
        {.server = Server::kSilent, .wantRecord = "did not answer within 5 s", .job = "000002"},
        {.server = Server::kHangsUp, .wantRecord = "refused", .job = "000003"},
    };
    const auto kBound = std::chrono::seconds(DS_CUPS_CONNECT_TIMEOUT_SECONDS +
                                             DS_CUPS_REQUEST_TIMEOUT_SECONDS + 1);
    setenv("PRINT_QUEUE", "arl-test", 1);
    for (const auto &c : cases) {
        const std::string socketPath = dir_ / ("cupsd-" + std::string(c.job) + ".sock");
        const FakeCupsServer server(c.server, socketPath);
        setenv("CUPS_SERVER", socketPath.c_str(), 1);
        cupsSetServer(nullptr);  // libcups reads CUPS_SERVER again
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Submit({}, document_), DS_ERR_QUEUE) << c.wantRecord;
        EXPECT_LT(std::chrono::steady_clock::now() - start, kBound) << c.wantRecord;
        EXPECT_EQ(ReadFile(spool_ / c.job / "document.ps"), kDocument) << c.wantRecord;
        EXPECT_TRUE(Contains(ReadFile(dir_ / "device.log"), c.wantRecord)) << c.wantRecord;
        // libcups ignores SIGPIPE for the whole process; the host's disposition is put back.
        EXPECT_EQ(signal(SIGPIPE, SIG_DFL), SIG_DFL) << c.wantRecord;
    }
    unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
}

} // namespace

extern "C" void PrintAssemblyPoint(const char *point, int, const char *incomingName)
{
    if (atAssemblyPoint)
        atAssemblyPoint(point, fs::path(getenv("PRINT_SPOOL_DIR")) / incomingName);
}
