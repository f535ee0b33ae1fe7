// activity-report - plays the device software around the Internet Fax Activity Report plug-in:
// loads libactivityReport.so, prepares the environment the device would, calls
// ARL_ActivityReport once, and optionally renders the spooled report with Ghostscript.
//
// Flow of main: parse options, prepare the environment, run the plug-in, render, report.

#include "print.h"
#include "translation.h"

#include <dlfcn.h>
#include <getopt.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *const kDefaultTempDir = "/tmp/tmpfiles";
const char *const kDefaultSpoolDir = "/var/spool/device-print";
const char *const kEntryPoint = "ARL_ActivityReport";

// Exit codes of this program's own failures, apart from the plug-in's statuses (0 to 7).
enum { EXIT_PLUGIN_UNAVAILABLE = EX_UNAVAILABLE, EXIT_RENDER_FAILED = EX_CANTCREAT };

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

void PrintUsage(const char *program)
{
    std::printf(
        "Usage: %s [options]\n"
        "Prints the Internet Fax Activity Report of the completed jobs, as the device does.\n"
        "\n"
        "  --language L      report language (default en)\n"
        "  --media-type T    media type shown on the report (default: the plug-in's)\n"
        "  --media-color C   media colour shown on the report (default: the plug-in's)\n"
        "  --plugin PATH     the plug-in to load (default: the one installed with this\n"
        "                    program, " ARL_PLUGIN_FROM_BINDIR "\n"
        "                    or ../lib/libactivityReport.so in a build tree)\n"
        "  --pdf FILE        after a successful run, render the spooled report as PDF\n"
        "  --png DIR         after a successful run, render it as DIR/page-N.png (100 dpi)\n"
        "  -h, --help        this text\n"
        "  --version         the version of this program\n"
        "\n"
        "Environment: ACTIVITY_REPORT_TEMPLATE (default: the template of the language's\n"
        "printer encoding, in ../share/activity-report/templates), TEMP_FILES_DIR (default %s, created 0700), PRINT_SPOOL_DIR,\n"
        "and those of the services (JTAPI_DATABASE, DEVICE_CONFIG, TRANS_CATALOG_DIR,\n"
        "SYSTEM_CHARSET, DEVICE_LOG, PRINT_QUEUE).\n"
        "\n"
        "Exit status: the plug-in's status (0 report printed, 1, 3 to 7 failures), %d when\n"
        "the plug-in cannot be loaded, %d when rendering fails, %d for bad options.\n",
        program, kDefaultTempDir, EXIT_PLUGIN_UNAVAILABLE, EXIT_RENDER_FAILED, EX_USAGE);
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
        case LANGUAGE: options.language = optarg; break;
        case MEDIA_TYPE: options.mediaType = optarg; break;
        case MEDIA_COLOR: options.mediaColor = optarg; break;
        case PLUGIN: options.plugin = optarg; break;
        case PDF: options.pdf = optarg; break;
        case PNG: options.pngDir = optarg; break;
        case HELP: options.help = true; break;
        case VERSION: options.version = true; break;
        default: return false; // getopt_long has said what was wrong
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
    fs::path path = (ExecutableDir(argv0) / ".." / "share" / "activity-report" / "templates" /
                     ("activityReport-" + encoding + ".ps")).lexically_normal();
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
        std::fprintf(stderr, "activity-report: %s has no %s: %s\n", pluginPath.c_str(),
                     kEntryPoint, dlerror());
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

// Runs a program with its arguments, without a shell; true when it exits with 0.
bool RunProgram(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "activity-report: cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        std::fprintf(stderr, "activity-report: cannot run %s: %s\n", argv[0], std::strerror(errno));
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool RunGhostscript(const std::string &device, const std::vector<std::string> &extra,
                    const std::string &output, const fs::path &document)
{
    std::vector<std::string> arguments = {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                                          "-sDEVICE=" + device};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("-sOutputFile=" + output);
    arguments.push_back(document.string());
    if (!RunProgram(arguments)) {
        std::fprintf(stderr, "activity-report: Ghostscript (%s) failed on %s\n", device.c_str(),
                     document.c_str());
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

const char *StatusMeaning(int status)
{
    switch (status) {
    case 0: return "report finished and submitted";
    case 1: return "template not available: ACTIVITY_REPORT_TEMPLATE is unset or the file cannot "
                   "be read";
    case 3: return "finishing pass failed: the report texts could not be translated or the report "
                   "file could not be written (see the log)";
    case 4: return "no job-tracker report data: check JTAPI_DATABASE";
    case 5: return "a replacement buffer could not be allocated";
    case 6: return "the working file cannot be written: check TEMP_FILES_DIR";
    case 7: return "a text could not be converted for the report (see the log)";
    default: return "unknown status";
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
        return EX_USAGE;
    }
    if (options.help) {
        PrintUsage(argv[0]);
        return 0;
    }
    if (options.version) {
        std::printf("activity-report %s\n", ARL_VERSION);
        return 0;
    }

    RunReport report;
    report.templatePath = PrepareEnvironment(options.language, argv[0]);
    if (!RunReportOnce(options, argv[0], report)) {
        return EXIT_PLUGIN_UNAVAILABLE;
    }
    bool rendered = report.status != 0 || Render(options, report);
    PrintSummary(options, report);
    return rendered ? report.status : EXIT_RENDER_FAILED;
}
