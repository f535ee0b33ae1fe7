// Tests of the host program against a stub plug-in: what it passes to the plug-in, the
// environment it prepares, how it reports each status, and the rendering of the spooled report.

#include "../services/files.h"

#include <map>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int exitCode;
    std::string out, err;
};

// Every test gets a fresh directory for the spool, the working directory, the log, the
// catalogue and the stub's record of its call, and the environment set to use them.
class ActivityReportHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directory(root_ / "catalog");
        for (const auto &[name, file] : {std::pair{"PRINT_SPOOL_DIR", "spool"}, {"TEMP_FILES_DIR", "work"},
                                         {"DEVICE_LOG", "device.log"}, {"TRANS_CATALOG_DIR", "catalog"},
                                         {"STUB_RECORD", "record"}})
            setenv(name, (root_ / file).c_str(), 1);
        for (const char *name : {"ACTIVITY_REPORT_TEMPLATE", "PRINT_QUEUE", "STUB_SPOOL", "STUB_STATUS"})
            unsetenv(name);
    }

    // Runs the host program, with the stub plug-in unless told otherwise; arguments hold no blanks.
    Outcome Run(const std::string &arguments, bool withStub = true)
    {
        const std::string command = "'" HOST_PROGRAM "'" +
                                    std::string(withStub ? " --plugin '" STUB_PLUGIN "' " : " ") + arguments +
                                    " >" + (root_ / "out").string() + " 2>" + (root_ / "err").string();
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(root_ / "out"),
                ReadFile(root_ / "err")};
    }

    // The stub's record of its call: the arguments and the template it was given.
    std::string Record() const { return ReadFile(root_ / "record"); }

    TempDir dir_;
    const fs::path root_ = dir_.path;
};

TEST_F(ActivityReportHostTest, PassesTheOptionsOnAndRefusesBadOnes)
{
    // An absent option must reach the plug-in as NULL; a language without a catalogue gets the
    // template of the default printer encoding.
    const std::string defaultTemplate = "template=" ARL_DATA_DIR "/templates/activityReport-ISO-8859-15.ps\n";
    Outcome outcome = Run("--language fr --media-type Plain");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(Record(), "mediaType=Plain\nmediaColor=<NULL>\nlanguage=fr\n" + defaultTemplate);
    EXPECT_TRUE(Contains(outcome.out, "status 0, language fr") && Contains(outcome.out, "spool job none"))
        << outcome.out;
    Run("--media-color Blue");
    EXPECT_EQ(Record(), "mediaType=<NULL>\nmediaColor=Blue\nlanguage=en\n" + defaultTemplate);

    fs::remove(root_ / "record");
    EXPECT_EQ(Run("--colour Blue").exitCode, 64);
    EXPECT_FALSE(fs::exists(root_ / "record")) << "the plug-in ran despite a bad option";
    outcome = Run("--help");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(Contains(outcome.out, "--media-color")) << outcome.out;

    outcome = Run("--plugin " + (root_ / "missing.so").string(), false);
    EXPECT_EQ(outcome.exitCode, 69);
    EXPECT_TRUE(Contains(outcome.err, "cannot load the plug-in")) << outcome.err;
    outcome = Run("--plugin " LIBRARY_WITHOUT_ENTRY_POINT, false);
    EXPECT_EQ(outcome.exitCode, 69);
    EXPECT_TRUE(Contains(outcome.err, "has no ARL_ActivityReport")) << outcome.err;
}

TEST_F(ActivityReportHostTest, ExplainsEveryFailureStatus)
{
    const std::map<int, std::string> hints = {
        {1, "ACTIVITY_REPORT_TEMPLATE"}, {3, "finishing pass"}, {4, "JTAPI_DATABASE"},
        {5, "allocated"},                {6, "TEMP_FILES_DIR"}, {7, "converted"},
    };
    for (const auto &[status, hint] : hints) {
        setenv("STUB_STATUS", std::to_string(status).c_str(), 1);
        Outcome outcome = Run("--pdf " + (root_ / "report.pdf").string());
        EXPECT_EQ(outcome.exitCode, status);
        EXPECT_TRUE(Contains(outcome.err, "status " + std::to_string(status) + ": ")) << outcome.err;
        EXPECT_TRUE(Contains(outcome.err, hint)) << outcome.err;
        EXPECT_FALSE(fs::exists(root_ / "report.pdf")) << "a failed run was rendered";
    }
}

TEST_F(ActivityReportHostTest, PreparesTheEnvironmentTheDeviceWould)
{
    // The working directory is created with its parents, private to the device software.
    fs::path work = root_ / "var" / "tmp" / "work";
    setenv("TEMP_FILES_DIR", work.c_str(), 1);
    ASSERT_EQ(Run("").exitCode, 0);
    struct stat workStat;
    ASSERT_EQ(stat(work.c_str(), &workStat), 0) << "TEMP_FILES_DIR was not created";
    EXPECT_EQ(workStat.st_mode & 0777, 0700u);
    // One that cannot be made is a warning; the plug-in still runs.
    WriteFile(root_ / "plain-file", "x");
    setenv("TEMP_FILES_DIR", (root_ / "plain-file" / "work").c_str(), 1);
    fs::remove(root_ / "record");
    Outcome outcome = Run("");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(Contains(outcome.err, "cannot create")) << outcome.err;
    EXPECT_TRUE(fs::exists(root_ / "record")) << "the plug-in was not called";

    // Without a template in the environment, the one of the language's printer encoding is used.
    WriteFile(root_ / "catalog" / "cs.po", "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                                           "\"X-Printer-Encoding: ISO-8859-2\\n\"\n");
    ASSERT_EQ(Run("--language cs").exitCode, 0);
    EXPECT_TRUE(Contains(Record(), "\ntemplate=" ARL_DATA_DIR "/templates/activityReport-ISO-8859-2.ps\n"));

    // A template set by the integrator is passed on untouched.
    setenv("ACTIVITY_REPORT_TEMPLATE", "/opt/device/custom report.ps", 1);
    outcome = Run("--language cs");
    EXPECT_TRUE(Contains(Record(), "\ntemplate=/opt/device/custom report.ps\n")) << Record();
    EXPECT_TRUE(Contains(outcome.out, "template /opt/device/custom report.ps")) << outcome.out;
}

TEST_F(ActivityReportHostTest, RendersTheReportThisRunSpooled)
{
    fs::path pdf = root_ / "report.pdf", png = root_ / "png";
    fs::create_directories(png);
    WriteFile(png / "page-3.png", "left from a longer report");
    setenv("STUB_SPOOL", "1", 1);
    Outcome outcome = Run("--pdf " + pdf.string() + " --png " + png.string());
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;

    EXPECT_EQ(ReadFile(pdf).substr(0, 5), "%PDF-");
    for (const char *page : {"page-1.png", "page-2.png"}) {
        EXPECT_EQ(ReadFile(png / page).substr(1, 3), "PNG") << page;
        EXPECT_TRUE(Contains(outcome.out, "wrote " + (png / page).string())) << outcome.out;
    }
    EXPECT_FALSE(fs::exists(png / "page-3.png")) << "a stale page survived";
    EXPECT_TRUE(Contains(outcome.out, "wrote " + pdf.string())) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "spool job " + (root_ / "spool" / "000001").string())) << outcome.out;

    // A job spooled by an earlier run is not this run's report.
    unsetenv("STUB_SPOOL");
    outcome = Run("--pdf " + pdf.string());
    EXPECT_NE(outcome.exitCode, 0);
    EXPECT_TRUE(Contains(outcome.err, "spooled no report")) << outcome.err;
    EXPECT_TRUE(Contains(outcome.out, "spool job none")) << outcome.out;
}

} // namespace
