// Tests of the host program: the faults an operator meets (a language the catalogue lacks, a
// spool it cannot write, a misspelt log level, rendering that fails, a working folder that is a
// file) are named on the terminal with an exit status of their own, and nothing else is.

#include "../services/files.h"

#include <sys/wait.h>

#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace {

const int kStatusOk = 0;
const int kStatusBodyNotWritable = 6;
const int kStatusBadOptions = 64;
const int kStatusRenderFailed = 73;
const int kStatusNotSubmitted = 74;

struct Outcome {
    int status;
    std::string err;
};

// "{dir}" in a text stands for the folder of the run.
std::string InDir(std::string text, const fs::path &dir)
{
    for (size_t at; (at = text.find("{dir}")) != std::string::npos;)
        text.replace(at, 5, dir.string());
    return text;
}

// Runs the host program on the sample jobs, with a spool, a working folder and a log of its own in
// `dir`, in an environment of its own: `environment` overrides those; arguments hold no blanks.
Outcome RunHost(const fs::path &dir, const std::string &arguments,
                const std::map<std::string, std::string> &environment = {})
{
    static const TempDir data;
    static const bool database = std::system(("sqlite3 " + data / "jobs.db" +
                                              " < " SOURCE_DIR "/examples/jobs.sql").c_str()) == 0;
    EXPECT_TRUE(database) << "the sample database could not be built";
    std::map<std::string, std::string> variables = {
        {"JTAPI_DATABASE", data / "jobs.db"}, {"DEVICE_CONFIG", SOURCE_DIR "/examples/device.conf"},
        {"SYSTEM_CHARSET", "UTF-8"},          {"PRINT_SPOOL_DIR", "{dir}/spool"},
        {"TEMP_FILES_DIR", "{dir}/work"},     {"DEVICE_LOG", "{dir}/device.log"}};
    for (const auto &[name, value] : environment)
        variables[name] = value;
    std::string command = "env -u ACTIVITY_REPORT_TEMPLATE -u TRANS_CATALOG_DIR -u PRINT_QUEUE "
                          "-u DEVICE_LOG_LEVEL";
    for (const auto &[name, value] : variables)
        command += " " + name + "='" + InDir(value, dir) + "'";
    command += " " HOST_PROGRAM " " + InDir(arguments, dir) + " >/dev/null 2>" +
               (dir / "err").string();
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir / "err")};
}

// Fault: an operator's mistake reported as another, with the wrong status, or not at all.
TEST(HostProgramTest, NamesWhatWentWrongWithAStatusOfItsOwn)
{
    struct Case {
        std::string arguments = "";
        std::map<std::string, std::string> environment = {};
        int wantStatus = kStatusOk;
        std::vector<std::string> wantErr = {}; // parts of standard error
        const char *unwantedErr = "";     // a text that must not reach the terminal
        const char *wantLog = "";         // a part of the log
    };
    const Case cases[] = {
        {.arguments = "--language EN", .wantStatus = kStatusBadOptions,
         .wantErr = {"unknown language \"EN\"", " en, "}},
        {.environment = {{"PRINT_SPOOL_DIR", "{dir}/plain-file"}},
         .wantStatus = kStatusNotSubmitted,
         .wantErr = {"finished but not submitted", "{dir}/plain-file"}},
        {.environment = {{"DEVICE_LOG_LEVEL", "BOGUS"}}, .wantStatus = kStatusOk,
         .wantErr = {"DEVICE_LOG_LEVEL \"BOGUS\""}},
        {.arguments = "--png {dir}/plain-file", .wantStatus = kStatusRenderFailed,
         .wantErr = {"--png {dir}/plain-file: not a folder"}, .unwantedErr = "Error"},
        {.arguments = "--pdf {dir}/missing/report.pdf", .wantStatus = kStatusRenderFailed,
         .wantErr = {"Ghostscript (pdfwrite)"}, .unwantedErr = "GPL Ghostscript",
         .wantLog = "Could not open the file {dir}/missing/report.pdf"},
        {.environment = {{"TEMP_FILES_DIR", "{dir}/plain-file"}},
         .wantStatus = kStatusBodyNotWritable,
         .wantErr = {"TEMP_FILES_DIR {dir}/plain-file is not a folder"},
         .unwantedErr = "File exists"},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.arguments +
                     (row.environment.empty() ? "" : " " + row.environment.begin()->first));
        const TempDir dir;
        WriteFile(dir / "plain-file", "not a folder");
        const Outcome outcome = RunHost(dir.path, row.arguments, row.environment);
        EXPECT_EQ(outcome.status, row.wantStatus) << outcome.err;
        for (const std::string &part : row.wantErr)
            EXPECT_TRUE(Contains(outcome.err, InDir(part, dir.path))) << outcome.err;
        if (*row.unwantedErr) {
            EXPECT_FALSE(Contains(outcome.err, row.unwantedErr)) << outcome.err;
        }
        EXPECT_TRUE(Contains(ReadFile(dir / "device.log"), InDir(row.wantLog, dir.path)));
        // Refused options run nothing, so that no log is made.
        const bool wantRun = row.wantStatus != kStatusBadOptions;
        EXPECT_EQ(fs::exists(dir / "device.log"), wantRun);
        const bool wantWorkFolder = wantRun && row.environment.count("TEMP_FILES_DIR") == 0;
        EXPECT_EQ(fs::exists(dir / "work"), wantWorkFolder)
            << "the working folder is made for a run, never for one that is refused";
    }
}

} // namespace
