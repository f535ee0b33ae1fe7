// activity-report - plays the device software around the Internet Fax Activity Report plug-in:
// loads libactivityReport.so, prepares the environment the device would, calls
// ARL_ActivityReport once, and optionally renders the spooled report with Ghostscript.
//
// Flow of main: parse options, check what the run cannot check early enough itself, prepare the
// environment, run the plug-in, render, report.

#include "log.h"
#include "platform.h"
#include "print.h"
#include "translation.h"

#include <dlfcn.h>
#include <getopt.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *const kDefaultTempDir = "/tmp/tmpfiles";
const char *const kDefaultSpoolDir = "/var/spool/device-print";
const char *const kEntryPoint = "ARL_ActivityReport";
const char *const kLogFile = "activity-report";
// Far above the time any report takes to render: it only ends a Ghostscript that hangs.
const unsigned kRenderSeconds = 600;
// What is kept of Ghostscript's messages for the log.
const size_t kMaxRenderMessages = 64 * 1024;

// Exit codes of this program's own failures, apart from the plug-in's statuses (0 to 7).
enum {
    EXIT_BAD_OPTIONS = EX_USAGE,
    EXIT_PLUGIN_UNAVAILABLE = EX_UNAVAILABLE,
    EXIT_RENDER_FAILED = EX_CANTCREAT,
    EXIT_NOT_SUBMITTED = EX_IOERR
};

typedef int32_t (*ActivityReportFunction)(const char *, const char *, const char *);

struct Options {
    std::string language = "en";
    std::optional<std::string> mediaType;
    std::optional<std::string> mediaColor;
    std::optional<std::string> plugin;
    std::optional<std::string> pdf;
    std::optional<std::string> pngDir;
    bool help = false;
    bool version = false;
};

// What the run used and produced, for the summary.
struct RunReport {
    int status = -1;
    std::string templatePath;
    fs::path spoolJob; // empty when the run spooled no job
    std::vector<std::string> rendered;
};

// ------------------------------------------------------------------------------------------------
// Options
// ------------------------------------------------------------------------------------------------

// The options, the environment and the exit statuses, in lines of at most 80 columns.
void PrintUsage()
{
    std::printf(
        "Usage: activity-report [options]\n"
        "Prints the device's Internet Fax Activity Report of the completed jobs.\n"
        "\n"
        "  --language L     report language, as the catalogue names it (default en)\n"
        "  --media-type T   media type shown on the report (default: the plug-in's)\n"
        "  --media-color C  media colour shown on the report (default: the plug-in's)\n"
        "  --plugin PATH    the plug-in to load (default: the one installed with this\n"
        "                   program, or ../lib/libactivityReport.so in a build tree):\n"
        "                   %s\n"
        "  --pdf FILE       after a successful run, render the spooled report as PDF\n"
        "  --png DIR        after a successful run, render it as DIR/page-N.png (100 dpi)\n"
        "  -h, --help       this text\n"
        "  --version        the version of this program\n"
        "\n"
        "Environment (folders named relative to this program):\n"
        "  ACTIVITY_REPORT_TEMPLATE  the template (default: the one of the language's\n"
        "                     printer encoding in ../share/activity-report/templates)\n"
        "  TEMP_FILES_DIR     the plug-in's working folder, made 0700 if missing\n"
        "                     (default %s)\n"
        "  SYSTEM_CHARSET     the charset of the job data (default ISO-8859-15)\n"
        "  JTAPI_DATABASE     the job tracker's database\n"
        "  TRANS_CATALOG_DIR  the catalogue (default ../share/activity-report/catalog)\n"
        "  DEVICE_CONFIG      the device configuration\n"
        "  PRINT_SPOOL_DIR    the print spool (default %s)\n"
        "  PRINT_QUEUE        a CUPS destination that prints the report as well\n"
        "  DEVICE_LOG         where log records go: unset for standard error, syslog,\n"
        "                     or a file\n"
        "  DEVICE_LOG_LEVEL   the least level logged: ENTER, INFO, NOTICE, WARN or ERROR\n"
        "\n"
        "Exit status: 0 the report was finished and submitted (and rendered, when\n"
        "asked); the plug-in's failures 1 and 3 to 7; %d bad options or an unknown\n"
        "language; %d the plug-in cannot be loaded; %d rendering failed; %d the\n"
        "finished report was not submitted.\n",
        ARL_PLUGIN_FROM_BINDIR, kDefaultTempDir, kDefaultSpoolDir, EXIT_BAD_OPTIONS,
        EXIT_PLUGIN_UNAVAILABLE, EXIT_RENDER_FAILED, EXIT_NOT_SUBMITTED);
}

// Fills `options` from the command line; false (after a message) on anything it does not know.
bool ParseOptions(int argc, char **argv, Options &options)
{
    enum { LANGUAGE = 1, MEDIA_TYPE, MEDIA_COLOR, PLUGIN, PDF, PNG, HELP = 'h', VERSION = 0x100 };
    static const option longOptions[] = {
        {"language", required_argument, nullptr, LANGUAGE},
        {"media-type", required_argument, nullptr, MEDIA_TYPE},
        {"media-color", required_argument, nullptr, MEDIA_COLOR},
        {"plugin", required_argument, nullptr, PLUGIN},
        {"pdf", required_argument, nullptr, PDF},
        {"png", required_argument, nullptr, PNG},
        {"help", no_argument, nullptr, HELP},
        {"version", no_argument, nullptr, VERSION},
        {nullptr, 0, nullptr, 0},
    };
    for (int choice; (choice = getopt_long(argc, argv, "h", longOptions, nullptr)) != -1;) {
        switch (choice) {
        case LANGUAGE:
            options.language = optarg;
            break;
        case MEDIA_TYPE:
            options.mediaType = optarg;
            break;
        case MEDIA_COLOR:
            options.mediaColor = optarg;
            break;
        case PLUGIN:
            options.plugin = optarg;
            break;
        case PDF:
            options.pdf = optarg;
            break;
        case PNG:
            options.pngDir = optarg;
            break;
        case HELP:
            options.help = true;
            break;
        case VERSION:
            options.version = true;
            break;
        default:
            return false; // getopt_long has said what was wrong
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "%s: unexpected argument \"%s\"\n", argv[0], argv[optind]);
        return false;
    }
    return true;
}

// ------------------------------------------------------------------------------------------------
// Environment
// ------------------------------------------------------------------------------------------------

std::string EnvironmentOr(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value ? value : fallback;
}

// The device creates the plug-in's working directory before calling it; the plug-in only reports
// when it cannot write there, so a failure here is only a warning.
void PrepareTempDir()
{
    fs::path dir = EnvironmentOr("TEMP_FILES_DIR", kDefaultTempDir);
    std::error_code error;
    if (fs::is_directory(dir, error)) {
        return;
    }
    if (fs::exists(fs::symlink_status(dir, error))) {
        std::fprintf(stderr,
                     "activity-report: TEMP_FILES_DIR %s is not a folder; running the "
                     "plug-in anyway\n",
                     dir.c_str());
        return;
    }
    fs::create_directories(dir.parent_path(), error);
    if (::mkdir(dir.c_str(), 0700) != 0) {
        std::fprintf(stderr, "activity-report: cannot create %s: %s; running the plug-in anyway\n",
                     dir.c_str(), std::strerror(errno));
    }
}

// The folder of this program: its data and the plug-in lie relative to it, in the install tree
// as in the build tree, so that either can be moved as a whole.
fs::path ExecutableDir(const char *argv0)
{
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return (error ? fs::absolute(argv0, error) : self).parent_path();
}

// The data that comes with this program (templates, catalogue). The translation service finds
// the same folder from its own library, which the two trees keep beside this program's.
fs::path DataDir(const char *argv0)
{
    return (ExecutableDir(argv0) / ".." / "share" / "activity-report").lexically_normal();
}

// The languages of the catalogue the translation service reads, by their "<language>.po" files;
// empty when the folder cannot be read.
std::set<std::string> CatalogueLanguages(const fs::path &catalogue)
{
    std::set<std::string> languages;
    std::error_code error;
    for (fs::directory_iterator entry(catalogue, error), end; !error && entry != end;
         entry.increment(error)) {
        const fs::path name = entry->path().filename();
        if (name.extension() == ".po" && name.string()[0] != '.') {
            languages.insert(name.stem().string());
        }
    }
    return languages;
}

// A language the catalogue lacks is refused before anything is written: the plug-in would find
// out only when translating, after the whole body. A catalogue that cannot be read is left to the
// run, whose log names it.
bool CheckLanguage(const std::string &language, const char *argv0)
{
    const char *configured = std::getenv("TRANS_CATALOG_DIR");
    const fs::path catalogue =
        configured && *configured ? fs::path(configured) : DataDir(argv0) / "catalog";
    const std::set<std::string> languages = CatalogueLanguages(catalogue);
    if (languages.empty() || languages.count(language) != 0) {
        return true;
    }
    std::string known;
    for (const std::string &name : languages) {
        known += (known.empty() ? "" : ", ") + name;
    }
    std::fprintf(stderr, "activity-report: unknown language \"%s\"; the catalogue %s has %s\n",
                 language.c_str(), catalogue.c_str(), known.c_str());
    return false;
}

// The logging service writes every record when DEVICE_LOG_LEVEL names no level; an operator who
// set one meant to filter, so a misspelt level is named. Compared as the service compares it,
// ASCII letters only, whatever the host's locale.
void CheckLogLevel()
{
    const char *level = std::getenv("DEVICE_LOG_LEVEL");
    if (!level || !*level) {
        return;
    }
    for (const char *known : {"ENTER", "INFO", "NOTICE", "WARN", "ERROR"}) {
        if (platform::AsciiEqualIgnoringCase(level, known)) {
            return;
        }
    }
    std::fprintf(stderr,
                 "activity-report: DEVICE_LOG_LEVEL \"%s\" is not ENTER, INFO, NOTICE, "
                 "WARN or ERROR; every record is logged\n",
                 level);
}

// The plug-in installed with this program; in a build tree, the one beside the services.
fs::path DefaultPluginPath(const char *argv0)
{
    const fs::path bin = ExecutableDir(argv0);
    std::error_code error;
    fs::path installed = (bin / ARL_PLUGIN_FROM_BINDIR).lexically_normal();
    if (fs::exists(installed, error))
        return installed;
    return (bin / ".." / "lib" / "libactivityReport.so").lexically_normal();
}

// The template the device would choose: one per printer encoding, because the fonts and the
// encoding vector of the PostScript must match the bytes of the translated texts. A template set
// in the environment is left as it is. One that is missing is named here: the plug-in can only
// say that it has no template.
std::string ChooseTemplate(const std::string &language, const char *argv0)
{
    if (const char *configured = std::getenv("ACTIVITY_REPORT_TEMPLATE")) {
        return configured;
    }
    std::string encoding = Translater(language).printEncoding();
    fs::path path = DataDir(argv0) / "templates" / ("activityReport-" + encoding + ".ps");
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        std::fprintf(stderr, "activity-report: no template for %s: %s is missing\n",
                     encoding.c_str(), path.c_str());
    }
    setenv("ACTIVITY_REPORT_TEMPLATE", path.c_str(), 1);
    return path;
}

// Sets up what the device provides before it calls the plug-in; returns the template in use.
std::string PrepareEnvironment(const std::string &language, const char *argv0)
{
    PrepareTempDir();
    return ChooseTemplate(language, argv0);
}

// ------------------------------------------------------------------------------------------------
// Running the plug-in
// ------------------------------------------------------------------------------------------------

// Loads the plug-in and runs one report. The plug-in stays loaded until the program ends, as on
// the device. Returns false (after a message) when the plug-in or its entry point is missing.
bool RunPlugin(const std::string &pluginPath, const Options &options, int &status)
{
    void *plugin = dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        std::fprintf(stderr, "activity-report: cannot load the plug-in: %s\n", dlerror());
        return false;
    }
    auto activityReport = reinterpret_cast<ActivityReportFunction>(dlsym(plugin, kEntryPoint));
    if (!activityReport) {
        std::fprintf(stderr, "activity-report: %s has no %s: %s\n", pluginPath.c_str(), kEntryPoint,
                     dlerror());
        return false;
    }
    status = activityReport(options.mediaType ? options.mediaType->c_str() : nullptr,
                            options.mediaColor ? options.mediaColor->c_str() : nullptr,
                            options.language.c_str());
    return true;
}

// The complete jobs of the print spool, in number order. Jobs still being assembled are hidden
// from readers; a ticket marks a complete job in spools written before that was so.
std::set<fs::path> SpoolJobs()
{
    std::set<fs::path> jobs;
    std::error_code error;
    fs::path spool = EnvironmentOr("PRINT_SPOOL_DIR", kDefaultSpoolDir);
    for (fs::directory_iterator entry(spool, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ticketError;
        if (zun::dmx::IsSpoolJobName(entry->path().filename().c_str()) &&
            fs::exists(entry->path() / "ticket", ticketError)) {
            jobs.insert(entry->path());
        }
    }
    return jobs;
}

// Runs the plug-in once and notes the spool job it submitted, if any: a job that was not there
// before. Job numbers wrap, so the newest job need not have the highest number. False when the
// plug-in cannot be loaded.
bool RunReportOnce(const Options &options, const char *argv0, RunReport &report)
{
    std::string pluginPath = options.plugin.value_or(DefaultPluginPath(argv0).string());
    std::set<fs::path> before = SpoolJobs();
    if (!RunPlugin(pluginPath, options, report.status)) {
        return false;
    }
    for (const fs::path &job : SpoolJobs()) {
        if (before.count(job) == 0) {
            report.spoolJob = job;
        }
    }
    return true;
}

// ------------------------------------------------------------------------------------------------
// Rendering
// ------------------------------------------------------------------------------------------------

// Logs what a program wrote, one record a line. Its messages are for the log, not the terminal.
void LogProgramMessages(const char *program, int messages, bool failed)
{
    std::string text(kMaxRenderMessages, '\0');
    const ssize_t length = pread(messages, &text[0], text.size(), 0);
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            Log_SpecEntry(failed ? logSpecError : logSpecInfo, kLogFile, __LINE__, "%s: %s",
                          program, line.c_str());
        }
    }
}

// Why a program that ended with `status` (from waitpid) failed; "" when it exited with 0.
std::string EndingFailure(int status)
{
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return "";
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        return "cannot run it";
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
        return "it did not finish in " + std::to_string(kRenderSeconds) + " s";
    }
    return "it failed; its messages are in the log";
}

// Runs a program with its arguments, without a shell, for at most kRenderSeconds; its output
// goes to the log. Returns "" when it exits with 0, else why it did not.
std::string RunProgram(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    // The messages wait in memory, in no folder, until the program has ended.
    const int messages = memfd_create("program-messages", MFD_CLOEXEC);
    const pid_t child = fork();
    if (child == 0) {
        if (messages >= 0) {
            dup2(messages, STDOUT_FILENO);
            dup2(messages, STDERR_FILENO);
        }
        alarm(kRenderSeconds); // survives the exec, and ends a program that hangs
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    pid_t waited = -1;
    while (child > 0 && (waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {}
    std::string failure = waited == child ? EndingFailure(status) : std::strerror(errno);
    if (messages >= 0) {
        LogProgramMessages(argv[0], messages, !failure.empty());
        close(messages);
    }
    return failure;
}

bool RunGhostscript(const std::string &device, const std::vector<std::string> &extra,
                    const std::string &output, const fs::path &document)
{
    std::vector<std::string> arguments = {"gs",      "-q",        "-dSAFER",
                                          "-dBATCH", "-dNOPAUSE", "-sDEVICE=" + device};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("-sOutputFile=" + output);
    arguments.push_back(document.string());
    const std::string failure = RunProgram(arguments);
    if (!failure.empty()) {
        std::fprintf(stderr, "activity-report: Ghostscript (%s) on %s: %s\n", device.c_str(),
                     document.c_str(), failure.c_str());
        return false;
    }
    return true;
}

// Page images of this report, in page order.
std::vector<std::string> PageImages(const fs::path &dir)
{
    std::vector<std::string> pages;
    for (int page = 1; fs::exists(dir / ("page-" + std::to_string(page) + ".png")); ++page) {
        pages.push_back((dir / ("page-" + std::to_string(page) + ".png")).string());
    }
    return pages;
}

// "page-<number>.png", as Ghostscript names the pages it writes.
bool IsPageImageName(const std::string &name)
{
    const std::string prefix = "page-", suffix = ".png";
    if (name.size() <= prefix.size() + suffix.size()) {
        return false;
    }
    std::string number = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return name.rfind(prefix, 0) == 0 && name.substr(name.size() - suffix.size()) == suffix &&
           number.find_first_not_of("0123456789") == std::string::npos;
}

// Page images left by an earlier, longer report would pass for pages of this one.
void RemovePageImages(const fs::path &dir)
{
    std::error_code error;
    for (fs::directory_iterator entry(dir, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code removeError;
        if (IsPageImageName(entry->path().filename().string())) {
            fs::remove(entry->path(), removeError);
        }
    }
}

// The paper the job was submitted on, as Ghostscript options. The template lays the report out
// on the page size in force, so rendering must use the paper the printer would.
std::vector<std::string> PaperOptions(const fs::path &spoolJob)
{
    std::ifstream ticket(spoolJob / "ticket");
    for (std::string line; std::getline(ticket, line);) {
        if (line == "default-medium=\"ISO_A4\"") {
            return {"-sPAPERSIZE=a4", "-dFIXEDMEDIA"};
        }
        if (line == "default-medium=\"NA_LETTER\"") {
            return {"-sPAPERSIZE=letter", "-dFIXEDMEDIA"};
        }
    }
    return {};
}

bool RenderPdf(const fs::path &document, const std::string &pdf, RunReport &report)
{
    if (!RunGhostscript("pdfwrite", PaperOptions(document.parent_path()), pdf, document)) {
        return false;
    }
    report.rendered.push_back(pdf);
    return true;
}

bool RenderPng(const fs::path &document, const fs::path &dir, RunReport &report)
{
    std::error_code error;
    fs::create_directories(dir, error);
    if (!fs::is_directory(dir, error)) {
        std::fprintf(stderr, "activity-report: --png %s: not a folder for the page images\n",
                     dir.c_str());
        return false;
    }
    RemovePageImages(dir);
    std::vector<std::string> options = PaperOptions(document.parent_path());
    options.push_back("-r100");
    if (!RunGhostscript("png16m", options, (dir / "page-%d.png").string(), document)) {
        return false;
    }
    std::vector<std::string> pages = PageImages(dir);
    report.rendered.insert(report.rendered.end(), pages.begin(), pages.end());
    return true;
}

// Renders the report this run spooled into the requested files; true when nothing was asked or
// everything asked was written.
bool Render(const Options &options, RunReport &report)
{
    if (!options.pdf && !options.pngDir) {
        return true;
    }
    if (report.spoolJob.empty()) {
        std::fprintf(stderr, "activity-report: the run spooled no report to render\n");
        return false;
    }
    fs::path document = report.spoolJob / "document.ps";
    bool rendered = true;
    if (options.pdf) {
        rendered = RenderPdf(document, *options.pdf, report) && rendered;
    }
    if (options.pngDir) {
        rendered = RenderPng(document, *options.pngDir, report) && rendered;
    }
    return rendered;
}

// ------------------------------------------------------------------------------------------------
// Report
// ------------------------------------------------------------------------------------------------

// The plug-in's status says whether the report was finished, not whether the print service took
// it; a finished report that spooled no job was not submitted.
bool NotSubmitted(const RunReport &report)
{
    return report.status == 0 && report.spoolJob.empty();
}

const char *StatusMeaning(int status)
{
    switch (status) {
    case 0:
        return "report finished and submitted";
    case 1:
        return "template not available: ACTIVITY_REPORT_TEMPLATE is unset or the file cannot "
               "be read";
    case 3:
        return "finishing pass failed: the report texts could not be translated or the report "
               "file could not be written (see the log)";
    case 4:
        return "no job-tracker report data: check JTAPI_DATABASE";
    case 5:
        return "a replacement buffer could not be allocated";
    case 6:
        return "the working file cannot be written: check TEMP_FILES_DIR";
    case 7:
        return "a text could not be converted for the report (see the log)";
    default:
        return "unknown status";
    }
}

void PrintSummary(const Options &options, const RunReport &report)
{
    std::printf("activity-report: status %d, language %s, template %s, spool job %s\n",
                report.status, options.language.c_str(), report.templatePath.c_str(),
                report.spoolJob.empty() ? "none" : report.spoolJob.c_str());
    if (report.status != 0) {
        std::fprintf(stderr, "activity-report: status %d: %s\n", report.status,
                     StatusMeaning(report.status));
    }
    if (NotSubmitted(report)) {
        std::fprintf(stderr,
                     "activity-report: the report was finished but not submitted: no job "
                     "reached the print spool %s (see the log)\n",
                     EnvironmentOr("PRINT_SPOOL_DIR", kDefaultSpoolDir).c_str());
    }
    for (const std::string &file : report.rendered) {
        std::printf("activity-report: wrote %s\n", file.c_str());
    }
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "Try '%s --help'.\n", argv[0]);
        return EXIT_BAD_OPTIONS;
    }
    if (options.help) {
        PrintUsage();
        return 0;
    }
    if (options.version) {
        std::printf("activity-report %s\n", ARL_VERSION);
        return 0;
    }

    if (!CheckLanguage(options.language, argv[0])) {
        return EXIT_BAD_OPTIONS;
    }
    CheckLogLevel();
    RunReport report;
    report.templatePath = PrepareEnvironment(options.language, argv[0]);
    if (!RunReportOnce(options, argv[0], report)) {
        return EXIT_PLUGIN_UNAVAILABLE;
    }
    const bool rendered = report.status != 0 || NotSubmitted(report) || Render(options, report);
    PrintSummary(options, report);
    if (NotSubmitted(report)) {
        return EXIT_NOT_SUBMITTED;
    }
    return rendered ? report.status : EXIT_RENDER_FAILED;
}
