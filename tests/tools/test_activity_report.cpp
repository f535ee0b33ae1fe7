// Tests of the host program against a stub plug-in: what it passes to the plug-in, the
// environment it prepares, how it reports each status, and the rendering of the spooled report.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

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

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Environment changes for one run: a value sets the variable, nullopt removes it.
typedef std::map<std::string, std::optional<std::string>> Environment;

class ActivityReportHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/activity-report-host-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        fs::create_directory(root_ / "catalog");
        environment_ = {
            {"PRINT_SPOOL_DIR", (root_ / "spool").string()},
            {"TEMP_FILES_DIR", (root_ / "work").string()},
            {"DEVICE_LOG", (root_ / "device.log").string()},
            {"TRANS_CATALOG_DIR", (root_ / "catalog").string()},
            {"STUB_RECORD", (root_ / "record").string()},
            {"ACTIVITY_REPORT_TEMPLATE", std::nullopt},
            {"PRINT_QUEUE", std::nullopt},
            {"STUB_SPOOL", std::nullopt},
            {"STUB_STATUS", std::nullopt},
        };
    }

    void TearDown() override
    {
        std::error_code error;
        fs::remove_all(root_, error);
    }

    // Runs the host program with the stub plug-in unless the arguments name another one.
    Outcome Run(std::vector<std::string> arguments, bool withStub = true)
    {
        if (withStub) {
            arguments.insert(arguments.begin(), {"--plugin", STUB_PLUGIN});
        }
        arguments.insert(arguments.begin(), HOST_PROGRAM);
        fs::path out = root_ / "stdout", err = root_ / "stderr";
        pid_t child = fork();
        if (child == 0) {
            Exec(arguments, out, err);
        }
        Outcome outcome;
        int status = 0;
        if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
            outcome.exitCode = WEXITSTATUS(status);
        }
        outcome.out = ReadFile(out);
        outcome.err = ReadFile(err);
        return outcome;
    }

    // Reads the stub's record of its call: the arguments and the template it was given.
    std::map<std::string, std::string> Record() const
    {
        std::map<std::string, std::string> record;
        std::istringstream in(ReadFile(root_ / "record"));
        for (std::string line; std::getline(in, line);) {
            size_t equals = line.find('=');
            record[line.substr(0, equals)] = line.substr(equals + 1);
        }
        return record;
    }

    fs::path root_;
    Environment environment_;

private:
    [[noreturn]] void Exec(const std::vector<std::string> &arguments, const fs::path &out,
                           const fs::path &err) const
    {
        for (const auto &[name, value] : environment_) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        std::vector<char *> argv;
        for (const std::string &argument : arguments) {
            argv.push_back(const_cast<char *>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
};

TEST_F(ActivityReportHostTest, PassesTheArgumentsAndExitsWithTheRunStatus)
{
    Outcome outcome = Run({"--language", "fr", "--media-type", "Plain"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    std::map<std::string, std::string> record = Record();
    EXPECT_EQ(record["language"], "fr");
    EXPECT_EQ(record["mediaType"], "Plain");
    EXPECT_EQ(record["mediaColor"], "<NULL>") << "an absent option must reach the plug-in as NULL";
    EXPECT_TRUE(Contains(outcome.out, "status 0, language fr")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "spool job none")) << outcome.out;

    outcome = Run({"--media-color", "Blue"});
    record = Record();
    EXPECT_EQ(record["language"], "en");
    EXPECT_EQ(record["mediaType"], "<NULL>");
    EXPECT_EQ(record["mediaColor"], "Blue");
}

TEST_F(ActivityReportHostTest, ExplainsEveryFailureStatus)
{
    const std::map<int, std::string> hints = {
        {1, "ACTIVITY_REPORT_TEMPLATE"}, {3, "finishing pass"}, {4, "JTAPI_DATABASE"},
        {5, "allocated"},                {6, "TEMP_FILES_DIR"}, {7, "converted"},
    };
    for (const auto &[status, hint] : hints) {
        SCOPED_TRACE(status);
        environment_["STUB_STATUS"] = std::to_string(status);
        Outcome outcome = Run({"--pdf", (root_ / "report.pdf").string()});
        EXPECT_EQ(outcome.exitCode, status);
        EXPECT_TRUE(Contains(outcome.err, "status " + std::to_string(status) + ": "));
        EXPECT_TRUE(Contains(outcome.err, hint)) << outcome.err;
        EXPECT_FALSE(fs::exists(root_ / "report.pdf")) << "a failed run was rendered";
    }
}

TEST_F(ActivityReportHostTest, PreparesTheEnvironmentTheDeviceWould)
{
    // The working directory is created with its parents, private to the device software.
    fs::path work = root_ / "var" / "tmp" / "work";
    environment_["TEMP_FILES_DIR"] = work.string();
    ASSERT_EQ(Run({}).exitCode, 0);
    struct stat workStat;
    ASSERT_EQ(stat(work.c_str(), &workStat), 0) << "TEMP_FILES_DIR was not created";
    EXPECT_EQ(workStat.st_mode & 0777, 0700u);

    // Without a template in the environment, the one of the language's printer encoding is used.
    WriteFile(root_ / "catalog" / "cs.po",
              "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
              "\"X-Printer-Encoding: ISO-8859-2\\n\"\n");
    ASSERT_EQ(Run({"--language", "cs"}).exitCode, 0);
    EXPECT_EQ(Record()["template"],
              std::string(ARL_DATA_DIR) + "/templates/activityReport-ISO-8859-2.ps");
    ASSERT_EQ(Run({"--language", "xx"}).exitCode, 0);
    EXPECT_EQ(Record()["template"],
              std::string(ARL_DATA_DIR) + "/templates/activityReport-ISO-8859-15.ps");

    // A template set by the integrator is passed on untouched.
    environment_["ACTIVITY_REPORT_TEMPLATE"] = "/opt/device/custom report.ps";
    Outcome outcome = Run({"--language", "cs"});
    EXPECT_EQ(Record()["template"], "/opt/device/custom report.ps");
    EXPECT_TRUE(Contains(outcome.out, "template /opt/device/custom report.ps")) << outcome.out;
}

TEST_F(ActivityReportHostTest, WarnsButStillRunsWhenTheWorkingDirectoryCannotBeMade)
{
    WriteFile(root_ / "plain-file", "");
    environment_["TEMP_FILES_DIR"] = (root_ / "plain-file" / "work").string();
    Outcome outcome = Run({});
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(Contains(outcome.err, "cannot create")) << outcome.err;
    EXPECT_TRUE(fs::exists(root_ / "record")) << "the plug-in was not called";
}

TEST_F(ActivityReportHostTest, RendersTheReportThisRunSpooled)
{
    fs::path pdf = root_ / "report.pdf", png = root_ / "png";
    fs::create_directories(png);
    WriteFile(png / "page-3.png", "left from a longer report");
    environment_["STUB_SPOOL"] = "1";
    Outcome outcome = Run({"--pdf", pdf.string(), "--png", png.string()});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;

    EXPECT_EQ(ReadFile(pdf).substr(0, 5), "%PDF-");
    for (const char *page : {"page-1.png", "page-2.png"}) {
        EXPECT_EQ(ReadFile(png / page).substr(1, 3), "PNG") << page;
        EXPECT_TRUE(Contains(outcome.out, "wrote " + (png / page).string())) << outcome.out;
    }
    EXPECT_FALSE(fs::exists(png / "page-3.png")) << "a stale page survived";
    EXPECT_TRUE(Contains(outcome.out, "wrote " + pdf.string())) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "spool job " + (root_ / "spool" / "000001").string()))
        << outcome.out;

    // A job spooled by an earlier run is not this run's report.
    environment_["STUB_SPOOL"] = std::nullopt;
    outcome = Run({"--pdf", pdf.string()});
    EXPECT_NE(outcome.exitCode, 0);
    EXPECT_TRUE(Contains(outcome.err, "spooled no report")) << outcome.err;
    EXPECT_TRUE(Contains(outcome.out, "spool job none")) << outcome.out;
}

TEST_F(ActivityReportHostTest, FailsClearlyWithoutAUsablePlugin)
{
    Outcome outcome = Run({"--plugin", (root_ / "missing.so").string()}, false);
    EXPECT_EQ(outcome.exitCode, 69);
    EXPECT_TRUE(Contains(outcome.err, "cannot load the plug-in")) << outcome.err;

    outcome = Run({"--plugin", LIBRARY_WITHOUT_ENTRY_POINT}, false);
    EXPECT_EQ(outcome.exitCode, 69);
    EXPECT_TRUE(Contains(outcome.err, "has no ARL_ActivityReport")) << outcome.err;

    outcome = Run({"--colour", "Blue"});
    EXPECT_EQ(outcome.exitCode, 64);
    EXPECT_FALSE(fs::exists(root_ / "record")) << "the plug-in ran despite a bad option";

    outcome = Run({"--help"});
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(Contains(outcome.out, "--media-color")) << outcome.out;
}

} // namespace
