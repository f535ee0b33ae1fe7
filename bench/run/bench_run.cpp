// Whole report runs through the host program, as the device makes them, on generated job
// databases of 1,000 and 10,000 jobs with five recipients each, the log going to a file. Each run
// is set against the floor of its own I/O, measured in the same process right after it: copying
// the report twice (the body file and the report file are written once each) and the log once.
//
// Prints per size: the run's wall time (best of three), the floor (best of three) and their ratio;
// the same in processor time, which a machine busy with other work inflates less; the system calls
// per job counted by `strace -f -c` (when strace is installed) and the read and write calls per job
// from /proc/<pid>/io (a lower bound: only the I/O calls); the peak RSS; and the sizes of the
// report and the log. Below each row: the time a plain loop takes to append the run's log records
// to a file with one write each, as the logging service must, since that part of the run no
// service can make cheaper on a given machine. Last, a Japanese report of 10,000 jobs (Japanese
// subjects, senders and names, printed in CP932: every such text goes through iconv, which no
// shortcut of the converter spares) against the English one of the same jobs in accented Latin.
//
// Usage: bench-run [--keep] [jobs...]   (default 1000 10000; --keep leaves the scratch folder,
//                                         e.g. to profile the host program on its database)

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

const int kRepetitions = 3;
const int kCompareJobs = 10000;

struct RunFigures {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    long peakRssKb = 0;
    long long ioCalls = 0; // syscr + syscw of /proc/<pid>/io
};

[[noreturn]] void Fail(const std::string &what)
{
    std::fprintf(stderr, "bench-run: %s\n", what.c_str());
    std::exit(1);
}

double CpuSeconds(const rusage &usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Now()
{
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

std::string ReadText(const fs::path &path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The texts of the generated jobs, as SQL expressions of the job number i and, for a recipient,
// of its position a.
struct JobTexts {
    const char *language;
    const char *subject, *sender, *name, *email;
};
const JobTexts kLatinTexts = {
    "en", "'Angebot Nr. ' || i || ' – Fassadenplanung Haus B, Rückfragen bitte bis Freitag'",
    "'juergen.weisskopf' || (i % 17) || '@atelier-lumen.example'", "'Hélène Crépin-' || a",
    "'h.crepin' || a || '@bureau-etudes.example'"};
const JobTexts kJapaneseTexts = {
    "ja", "'見積書 第' || i || '号 – 外装パネル工事（B棟）、ご質問は金曜日まで'",
    "'田中' || (i % 17) || '@田中建築設計.example'", "'山本 美咲-' || a",
    "'m.yamamoto' || a || '@kouzou-sekkei.example'"};

// The schema comes from the sample database, so the bench follows any change to it; its sample
// jobs are replaced by `jobs` generated ones with five recipients each, in UTF-8, sent one minute
// apart.
void BuildDatabase(const fs::path &path, int jobs, const JobTexts &texts = kLatinTexts)
{
    fs::remove(path);
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        Fail("cannot create " + path.string());
    const std::string sql =
        ReadText(fs::path(ARL_SOURCE_DIR) / "examples" / "jobs.sql") +
        "BEGIN; DELETE FROM addresses; DELETE FROM jobs;"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(jobs) +
        ") INSERT INTO jobs SELECT i, datetime('2024-03-11 08:00:00', '+' || i || ' minutes'),"
        " datetime('2024-03-11 08:03:00', '+' || i || ' minutes'), 5, 4, 1, 0, i % 40 + 1,"
        " 1000 * i, " +
        texts.subject + ", " + texts.sender +
        " FROM n;"
        "WITH RECURSIVE p(a) AS (SELECT 1 UNION ALL SELECT a + 1 FROM p WHERE a < 5)"
        " INSERT INTO addresses SELECT id, a, a > 3, (id + a) % 6,"
        " datetime(completed_time, '+' || a || ' seconds'), " +
        texts.name + ", " + texts.email +
        " FROM jobs, p;"
        "COMMIT;";
    char *error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
        Fail(std::string("cannot fill the job database: ") + (error ? error : "?"));
    sqlite3_close(db);
}

long long IoCallsOf(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    long long calls = 0, value = 0;
    for (std::string key; io >> key >> value;) {
        if (key == "syscr:" || key == "syscw:")
            calls += value;
    }
    return calls;
}

// Runs `argv` with its output discarded. The child is reaped only after its /proc/<pid>/io has
// been read, so the counts are those of the whole run.
RunFigures Run(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    RunFigures figures;
    const double start = Now();
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (child < 0)
        Fail("fork failed");
    siginfo_t info;
    waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
    figures.seconds = Now() - start;
    figures.ioCalls = IoCallsOf(child);
    int status = 0;
    rusage usage;
    wait4(child, &status, 0, &usage);
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    figures.peakRssKb = usage.ru_maxrss;
    figures.cpuSeconds = CpuSeconds(usage);
    return figures;
}

void CopyFile(const fs::path &from, const fs::path &to)
{
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0)
        Fail("cannot copy " + from.string());
    static std::vector<char> buffer(1 << 20);
    for (ssize_t got; (got = read(in, buffer.data(), buffer.size())) > 0;) {
        if (write(out, buffer.data(), static_cast<size_t>(got)) != got)
            Fail("cannot write " + to.string());
    }
    close(in);
    close(out);
}

// The least any run must spend on its output: the report written twice and the log once. Gives
// the wall time and, in `cpuSeconds`, the processor time (which a loaded machine inflates less).
double Floor(const fs::path &report, const fs::path &log, const fs::path &scratch,
             double &cpuSeconds)
{
    rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    const double start = Now();
    CopyFile(report, scratch / "floor-1");
    CopyFile(report, scratch / "floor-2");
    CopyFile(log, scratch / "floor-log");
    const double seconds = Now() - start;
    getrusage(RUSAGE_SELF, &after);
    cpuSeconds = CpuSeconds(after) - CpuSeconds(before);
    for (const char *name : {"floor-1", "floor-2", "floor-log"})
        fs::remove(scratch / name);
    return seconds;
}

// A plain loop that appends the records of `log` to a new file with one O_APPEND write each:
// what the log alone costs on this machine, however cheaply its records are made. The log is
// mapped, not read into the heap: a forked run's peak RSS counts this process's pages at the fork.
double LogWriteLoop(const fs::path &log, const fs::path &scratch, size_t &records)
{
    int in = open(log.c_str(), O_RDONLY | O_CLOEXEC);
    const size_t size = in < 0 ? 0 : fs::file_size(log);
    void *mapped = size == 0 ? MAP_FAILED : mmap(nullptr, size, PROT_READ, MAP_PRIVATE, in, 0);
    if (in >= 0)
        close(in);
    if (mapped == MAP_FAILED)
        Fail("cannot map " + log.string());
    const std::string_view text(static_cast<const char *>(mapped), size);
    const fs::path copy = scratch / "loop-log";
    int out = open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0)
        Fail("cannot create " + copy.string());
    records = 0;
    const double start = Now();
    for (size_t begin = 0, end; begin < text.size(); begin = end + 1, ++records) {
        end = text.find('\n', begin);
        if (end == std::string_view::npos)
            end = text.size() - 1;
        if (write(out, text.data() + begin, end + 1 - begin) < 0)
            Fail("cannot write " + copy.string());
    }
    const double seconds = Now() - start;
    close(out);
    munmap(mapped, size);
    fs::remove(copy);
    return seconds;
}

// The document of the only job in the spool; hidden entries (the spool's lock, jobs being
// assembled) are no jobs.
fs::path SpooledReport(const fs::path &spool)
{
    for (const fs::directory_entry &job : fs::directory_iterator(spool)) {
        if (job.path().filename().string()[0] != '.')
            return job.path() / "document.ps";
    }
    Fail("the run spooled no report");
}

// System calls of one run as `strace -f -c` counts them; 0 when strace is not installed.
long long StraceCalls(const std::string &host, const fs::path &scratch)
{
    if (system("command -v strace > /dev/null 2>&1") != 0)
        return 0;
    const fs::path summary = scratch / "strace.txt";
    Run({"/bin/sh", "-c", "exec strace -f -c -o " + summary.string() + " " + host});
    std::istringstream lines(ReadText(summary));
    long long calls = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> word{std::istream_iterator<std::string>(words), {}};
        if (word.size() >= 5 && word.back() == "total")
            calls = std::atoll(word[3].c_str());
    }
    return calls;
}

void MeasureSize(const std::string &host, const fs::path &scratch, int jobs)
{
    BuildDatabase(scratch / "jobs.db", jobs);
    const fs::path spool = scratch / "spool", log = scratch / "device.log";
    RunFigures best;
    double floor = 1e9, floorCpu = 1e9, logLoop = 1e9;
    size_t records = 0;
    fs::path report;
    for (int i = 0; i < kRepetitions; ++i) {
        fs::remove_all(spool);
        fs::remove(log);
        RunFigures run = Run({host});
        if (!run.ok)
            Fail("the host program failed on " + std::to_string(jobs) + " jobs; see " +
                 log.string());
        if (i == 0 || run.seconds < best.seconds)
            best = run;
        report = SpooledReport(spool);
        double cpu = 0;
        floor = std::min(floor, Floor(report, log, scratch, cpu));
        floorCpu = std::min(floorCpu, cpu);
        logLoop = std::min(logLoop, LogWriteLoop(log, scratch, records));
    }
    const double reportMb = fs::file_size(report) / 1e6, logMb = fs::file_size(log) / 1e6;
    fs::remove_all(spool);
    const long long straced = StraceCalls(host, scratch);
    std::printf("%6d %7.3f %7.3f %6.1f %7.3f %7.3f %6.1f %9.1f %9.1f %7.1f %7.1f %7.1f\n", jobs,
                best.seconds, floor, best.seconds / floor, best.cpuSeconds, floorCpu,
                best.cpuSeconds / std::max(floorCpu, 1e-3), straced / double(jobs),
                best.ioCalls / double(jobs), best.peakRssKb / 1024.0, reportMb, logMb);
    std::printf(
        "        its %zu log records appended in a plain loop, one write each: %.3f s"
        " (%.1f times the floor)\n",
        records, logLoop, logLoop / floor);
    std::fflush(stdout);
}

// The Japanese report of `jobs` jobs against the English one: best of three each, in turns, so
// that a machine busy with other work weighs on both alike.
void CompareJapanese(const std::string &host, const fs::path &scratch, int jobs)
{
    RunFigures best[2];
    const JobTexts *texts[2] = {&kLatinTexts, &kJapaneseTexts};
    for (int i = 0; i < kRepetitions; ++i) {
        for (int k = 0; k < 2; ++k) {
            BuildDatabase(scratch / "jobs.db", jobs, *texts[k]);
            fs::remove_all(scratch / "spool");
            fs::remove(scratch / "device.log");
            const RunFigures run = Run({host, "--language", texts[k]->language});
            if (!run.ok)
                Fail(std::string("the host program failed in ") + texts[k]->language);
            if (i == 0 || run.cpuSeconds < best[k].cpuSeconds)
                best[k] = run;
        }
    }
    std::printf(
        "%d jobs in Japanese (CP932, every text through iconv) against English: wall %.3f s"
        " / %.3f s = %.2f, processor %.3f s / %.3f s = %.2f (target <= 1.5)\n",
        jobs, best[1].seconds, best[0].seconds, best[1].seconds / best[0].seconds,
        best[1].cpuSeconds, best[0].cpuSeconds, best[1].cpuSeconds / best[0].cpuSeconds);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    bool keep = false;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty())
        sizes = {1000, 10000};

    char pattern[] = "/tmp/bench-run-XXXXXX";
    if (!mkdtemp(pattern))
        Fail("cannot create a scratch folder");
    const fs::path scratch = pattern;
    const std::string host = (fs::read_symlink("/proc/self/exe").parent_path() / "activity-report");
    fs::create_directory(scratch / "tmp");
    setenv("JTAPI_DATABASE", (scratch / "jobs.db").c_str(), 1);
    setenv("DEVICE_CONFIG", (fs::path(ARL_SOURCE_DIR) / "examples" / "device.conf").c_str(), 1);
    setenv("DEVICE_LOG", (scratch / "device.log").c_str(), 1);
    setenv("PRINT_SPOOL_DIR", (scratch / "spool").c_str(), 1);
    setenv("TEMP_FILES_DIR", (scratch / "tmp").c_str(), 1);
    setenv("SYSTEM_CHARSET", "UTF-8", 1);
    for (const char *name : {"PRINT_QUEUE", "ACTIVITY_REPORT_TEMPLATE", "DEVICE_LOG_LEVEL"})
        unsetenv(name);

    std::printf("Whole runs of %s, five recipients a job, log to a file; best of %d.\n",
                host.c_str(), kRepetitions);
    std::printf(
        "          wall time (s)             processor time (s)   system calls a job   peak   "
        "output (MB)\n");
    std::printf(
        "  jobs     run   floor  ratio     run   floor  ratio  (strace) (/proc io)  RSS MB  "
        "report     log\n");
    for (int jobs : sizes)
        MeasureSize(host, scratch, jobs);
    std::printf(
        "Targets at 10000 jobs: wall ratio <= 5, system calls <= 40 a job, RSS <= 32 MB.\n");
    CompareJapanese(host, scratch, kCompareJobs);
    if (keep)
        std::printf("Scratch folder kept: %s\n", scratch.c_str());
    else
        fs::remove_all(scratch);
    return 0;
}
