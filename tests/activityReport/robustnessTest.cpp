// robustnessTest.cpp - the plug-in inside a long-lived device process, faults injected.
//
// The program loads build/lib/libactivityReport.so with dlopen, as the device does, and runs it
// through the real stand-in services. It links none of them itself, so unloading the plug-in
// unloads the services too and every load starts cold. Allocations fail through the fault
// harness (faults.h).
#include "../services/files.h"

#include <dlfcn.h>
#include <sys/wait.h>

#include <functional>
#include <iostream>
#include <thread>

#include "activityReport.h"
#include "faults.h"

namespace fs = std::filesystem;

namespace {

using Texts = std::vector<std::string>;
using Statuses = std::vector<int32_t>;

const unsigned kRunSeconds = 2;       // a run in a child process that takes longer is hung
const int kOverlappingRuns = 20;      // runs of each thread or process that overlap
const long kStrayBlocks = 64;         // the C library's time-zone state, read again now and then
const long kQuickSuiteStride = 11;    // the quick suite fails every eleventh allocation

const int kCalibrationLoads = 64;     // loads without faults that measure what a load keeps

// The records of a run that open its stages, in the order of a run, with the status a failed
// allocation after the record (and before the next one that appears) ends the run with. A failure
// the run can do without lets it go on to later records. The texts are the device's own, word for
// word, its misspelling included.
const struct Stage {
    const char *record;
    int32_t wantStatus;
} kStages[] = {
    {.record = "ENTER ARL_ActivityReport", .wantStatus = ARL_STATUS_NO_JOB_DATA},
    {.record = "INFO Job Tracker data retreived successfully",
     .wantStatus = ARL_STATUS_NO_TEMPLATE},
    {.record = "INFO Activity Report Template file ", .wantStatus = ARL_STATUS_BODY_NOT_WRITABLE},
    {.record = "INFO Number of jobs = ", .wantStatus = ARL_STATUS_CONVERSION_FAILED},
    {.record = "ERROR malloc() failed for replacePattern.", .wantStatus = ARL_STATUS_NO_MEMORY},
    {.record = "ERROR malloc() failed for the report path.",
     .wantStatus = ARL_STATUS_FINISHING_FAILED},
    {.record = "INFO Submit PDL File = ", .wantStatus = ARL_STATUS_FINISHING_FAILED},
    {.record = "ERROR ARL_CvtToUtf8Hex() failed (cmdCount = ",
     .wantStatus = ARL_STATUS_CONVERSION_FAILED},
    // The report is finished; a submission that fails does not change the status.
    {.record = "INFO ARL_GenerateActivityReport returning 0", .wantStatus = ARL_STATUS_OK},
};

// The status of the last stage whose record `records` holds.
int32_t StatusOfLastStage(const Texts &records)
{
    int32_t status = -1;
    for (const Stage &stage : kStages)
        for (const std::string &record : records)
            if (record.rfind(stage.record, 0) == 0)
                status = stage.wantStatus;
    return status;
}

using Report = int32_t (*)(const char *, const char *, const char *);

// The plug-in loaded as the device loads it, unloaded at the end of the scope.
class Plugin {
public:
    Plugin() : handle_(dlopen(ARL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL))
    {
        EXPECT_NE(handle_, nullptr) << dlerror();
        report_ = reinterpret_cast<Report>(dlsym(handle_, "ARL_ActivityReport"));
    }
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;
    ~Plugin() { dlclose(handle_); }

    int32_t Run() const { return report_("Plain", "Blue", "ru"); }

private:
    void *handle_;
    Report report_ = nullptr;
};

// A sandbox with the sample jobs, a small template whose report has no clock in it, the
// built catalogue, a log file, a spool and a working directory of its own.
class Robustness : public testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("arl-robust-" + std::to_string(getpid()));
    fs::path temp = dir / "tmp", spool = dir / "spool", templ = dir / "template.ps";

    void SetUp() override
    {
        fs::remove_all(dir);
        fs::create_directories(temp);
        std::string database = (dir / "jobs.db").string();
        ASSERT_EQ(0, std::system(("sqlite3 " + database + " < " ARL_SOURCE_DIR
                                  "/examples/jobs.sql").c_str()));
        std::ofstream(templ) << "%!PS\n<__ar_const_header__> <__device_hex_name__>\n"
                                "__GENERATE_BODY_HERE__\n%%EOF\n";
        setenv("JTAPI_DATABASE", database.c_str(), 1);
        setenv("ACTIVITY_REPORT_TEMPLATE", templ.c_str(), 1);
        setenv("TEMP_FILES_DIR", temp.c_str(), 1);
        setenv("PRINT_SPOOL_DIR", spool.c_str(), 1);
        setenv("DEVICE_LOG", (dir / "device.log").c_str(), 1);
        setenv("DEVICE_CONFIG", ARL_SOURCE_DIR "/examples/device.conf", 1);
        setenv("TRANS_CATALOG_DIR", ARL_DATA_DIR "/catalog", 1);
        setenv("SYSTEM_CHARSET", "UTF-8", 1);
        unsetenv("PRINT_QUEUE");
    }
    void TearDown() override { fs::remove_all(dir); }

    // Loads the plug-in, runs it `runs` times and unloads it; the statuses.
    static Statuses Load(int runs)
    {
        Plugin plugin;
        Statuses statuses;
        for (int run = 0; run < runs; ++run)
            statuses.push_back(plugin.Run());
        return statuses;
    }

    // The plug-in's records in the log, as "LEVEL message".
    // The blocks a hundred loads and runs without faults leave behind. None in the plain build. The
    // address sanitizer's runtime adds an exit handler of its own, never removed, for each one a
    // library registers, and unloading the plug-in unloads the services and the libraries they
    // loaded: with that build every load keeps blocks that are not ours, as many as this counts.
    long BlocksKeptPerHundredLoads() const
    {
#ifdef __SANITIZE_ADDRESS__
        const long before = faults::BlocksInUse();
        for (int load = 0; load < kCalibrationLoads; ++load) {
            Plugin plugin;
            plugin.Run();
            fs::remove_all(spool);
        }
        return (faults::BlocksInUse() - before) * 100 / kCalibrationLoads + 1;
#else
        return 0;
#endif
    }

    Texts Records() const { return PluginRecords(ReadFile(dir / "device.log")); }

    // The documents of the spool's jobs, oldest first. A job directory without its ticket is a
    // partial job.
    std::vector<std::string> SpooledReports() const
    {
        Texts documents;
        for (const std::string &job : fs::exists(spool) ? Entries(spool) : Texts{}) {
            if (!fs::is_directory(spool / job))
                continue;
            EXPECT_TRUE(fs::exists(spool / job / "ticket")) << "partial job " << job;
            documents.push_back(ReadFile(spool / job / "document.ps"));
        }
        return documents;
    }

    // A run in a child process that must end within kRunSeconds; its status, or 128 plus the
    // signal that ended it.
    static int RunInChild(const std::function<void()> &prepare)
    {
        return InChild([&] {
            alarm(kRunSeconds);
            prepare();
            _exit(Load(1).at(0));
        }).ended;
    }
};

// Every allocation of a cold run fails in turn. Each run must end with the status of the stage
// it failed in (kStages), leave no body file, no partial job and no block behind, and the next
// run of the same load must print the reference report: a failure must not be remembered as a
// fact. (A failing run that could do without the memory may print a whole report that lacks what
// could not be had, such as the device name.) Loading and unloading for every step keeps neither
// memory nor descriptors.
TEST_F(Robustness, EachFailedAllocationEndsWithAStatusAndPoisonsNothing)
{
    ASSERT_EQ(Load(1), Statuses{ARL_STATUS_OK});
    const std::string reference = SpooledReports().at(0);
    fs::remove_all(spool);
    long count = 0;
    {
        Plugin plugin;
        count = faults::RunFailing(0, [&] { plugin.Run(); }).allocations;
    }
    std::cout << "a cold run makes " << count << " allocations\n";
    auto descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    const long keptPerHundredLoads = BlocksKeptPerHundredLoads();
    const long blocksBefore = faults::BlocksInUse(), descriptorsBefore = descriptors();
    // Every one in the long check (a few minutes).
    const long stride = std::getenv("ARL_EVERY_ALLOCATION") ? 1 : kQuickSuiteStride;
    for (long n = 1; n <= count; n += stride) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        // Emptied, not removed: the log service appends to the file it holds open.
        fs::resize_file(dir / "device.log", 0);
        Plugin plugin;
        int32_t status = -1;
        faults::RunFailing(n, [&] { status = plugin.Run(); });
        EXPECT_EQ(status, StatusOfLastStage(Records()));
        ASSERT_EQ(plugin.Run(), ARL_STATUS_OK);
        EXPECT_FALSE(fs::exists(temp / "ar_output_pdl.ps"));
        const std::vector<std::string> reports = SpooledReports();
        ASSERT_FALSE(reports.empty());
        ASSERT_TRUE(reports.back() == reference) << "the report after the failing run differs";
        const std::string end = "%%EOF\n", &first = reports.front();
        EXPECT_EQ(first.substr(first.size() - std::min(end.size(), first.size())), end);
        fs::remove_all(spool);
    }
    const long loads = count / stride + 1;
    EXPECT_LE(std::labs(faults::BlocksInUse() - blocksBefore),
              kStrayBlocks + loads * keptPerHundredLoads / 100);
    EXPECT_EQ(descriptors(), descriptorsBefore);
}

// A template that is a FIFO ends the run at once with its status: opened as a file, it would block
// the host. (A device such as /dev/zero takes the same check; the job tracker, log, configuration
// and catalogue services' tests give them their own odd files.)
TEST_F(Robustness, ATemplateThatIsAFifoDoesNotBlock)
{
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const int status =
        RunInChild([&] { setenv("ACTIVITY_REPORT_TEMPLATE", fifo.c_str(), 1); });
    EXPECT_EQ(status, ARL_STATUS_NO_TEMPLATE);
}

// A disk that fills while the body is written: its status, and the earlier job intact. The
// child's SIGXFSZ stays at its default: the run's own writes must not end the host. (The log
// goes to /dev/null, which no file size limit applies to.)
TEST_F(Robustness, FullDiskGivesAStatusAndKeepsEarlierJobs)
{
    ASSERT_EQ(Load(1), Statuses{ARL_STATUS_OK});
    const std::string earlier = SpooledReports().at(0);
    const rlim_t fileSizeLimit = 4096; // less than the body of the sample jobs
    const int status = RunInChild([fileSizeLimit] {
        unsetenv("DEVICE_LOG");
        dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
        const struct rlimit limit = {fileSizeLimit, fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(status, ARL_STATUS_BODY_NOT_WRITABLE);
    EXPECT_EQ(SpooledReports(), Texts{earlier}) << "earlier job changed";
}

// Overlapping runs, from two threads and from another process sharing TEMP_FILES_DIR: each
// spooled report is exactly one run's.
TEST_F(Robustness, OverlappingRunsTakeTurns)
{
    ASSERT_EQ(Load(1), Statuses{ARL_STATUS_OK});
    const std::string reference = SpooledReports().at(0);
    const Statuses allFinished(kOverlappingRuns, ARL_STATUS_OK);
    // Forked before the threads start: a child forked while a run holds a lock would inherit it.
    const pid_t child = fork();
    if (child == 0)
        _exit(Load(kOverlappingRuns) == allFinished ? EXIT_SUCCESS : EXIT_FAILURE);
    auto overlapping = [&allFinished] { EXPECT_EQ(Load(kOverlappingRuns), allFinished); };
    std::thread first(overlapping), second(overlapping);
    first.join();
    second.join();
    int ended = -1;
    waitpid(child, &ended, 0);
    EXPECT_EQ(ended, 0) << "the other process's runs did not all finish";
    const std::vector<std::string> reports = SpooledReports();
    const size_t runs = 1 + 3 * kOverlappingRuns; // the reference, two threads, another process
    EXPECT_EQ(reports.size(), runs);
    for (const std::string &report : reports)
        EXPECT_TRUE(report == reference) << "a report mixes runs";
}

} // namespace
