// pluginFixture.h - the common ground of the plug-in's tests against the service doubles.
//
// The plug-in keeps process-wide state (ARL_STATE, autoConvert, the run's scratch buffers and the
// sedCmdTable buffers) that outlives a test in the same process. Every test starts from the state
// of a freshly loaded plug-in whose system charset has already been looked up ("ISO-8859-15", so
// no charset records appear unless a test asks for them), with every double reset, and with a
// private temporary directory as TEMP_FILES_DIR, holding a template with one marker line.
#ifndef TESTS_ACTIVITYREPORT_PLUGINFIXTURE_H
#define TESTS_ACTIVITYREPORT_PLUGINFIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "activityReportInternals.h"
#include "doubles.h"

using Texts = std::vector<std::string>;
using jobtrackerDouble::MakeTime;
using translationDouble::Hex;

inline std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string Golden(const std::string &name)
{ return ReadFile(std::string(ARL_GOLDEN_DIR) + "/" + name); }

inline int CountOf(const std::string &text, const std::string &what)
{
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// The last `n` texts (all of them when there are fewer).
inline Texts Tail(const Texts &texts, size_t n)
{ return Texts(texts.end() - std::min(n, texts.size()), texts.end()); }

// The last `n` bytes (all of them when there are fewer).
inline std::string Tail(const std::string &text, size_t n)
{ return text.substr(text.size() - std::min(n, text.size())); }

// The input and output paths of every edit of the stream editor.
inline Texts EditPaths()
{
    Texts paths;
    for (const streameditorDouble::Edit &edit : streameditorDouble::state.edits)
        paths.insert(paths.end(), {edit.inPath, edit.outPath});
    return paths;
}

// Open file descriptors of this process: a stream the plug-in forgets to close shows here.
inline long OpenDescriptors()
{ return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

// The plug-in keeps the system charset name it looked up for the life of the process. A test that
// replaces it keeps the old text reachable here, so that it is neither freed under the plug-in
// (it might not be the heap's) nor reported as a leak.
inline void SetSystemCharset(const char *name)
{
    static std::vector<const char *> *kept = new std::vector<const char *>;
    kept->push_back(ARL_STATE.transLibEncoding);
    ARL_STATE.transLibEncoding = name;
}

// A job whose every field is present, with one recipient; its texts are plain ASCII and its three
// times give distinct date and time texts.
inline jobtrackerDouble::Job PlainJob(const std::string &subject)
{
    return {1, MakeTime(2010, 1, 5, 9, 5, 3), MakeTime(2010, 1, 6, 9, 7, 41), 1, 1, 0, 0, 1, 100,
            subject, "from@example.com",
            {{0, 1, "Bob", "bob@example.com", MakeTime(2010, 1, 7, 9, 6, 0)}}};
}

class PluginTest : public ::testing::Test {
protected:
    void ResetDoubles()
    {
        logs = {}, config = {}, tracker = {}, sniffer = {}, translation = {}, editor = {};
        printer = {}, host = {};
    }

    void SetUp() override
    {
        ResetDoubles();
        SetSystemCharset("ISO-8859-15");
        ARL_STATE = {ARL_STATE.transLibEncoding, 0, 0, 0};
        autoConvert = 1;
        runScratch = RunScratch{};

        char pattern[] = "/tmp/arl-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        tempDir = pattern;
        setenv("TEMP_FILES_DIR", tempDir.c_str(), 1);
        UseTemplate("%!PS\n__GENERATE_BODY_HERE__\n");
        setenv("SYSTEM_CHARSET", "ISO-8859-15", 1);
    }

    void TearDown() override { std::filesystem::remove_all(tempDir); }

    std::string Path(const std::string &name) const { return tempDir + "/" + name; }

    void UseTemplate(const std::string &content)
    {
        std::ofstream(Path("template.ps"), std::ios::binary) << content;
        setenv("ACTIVITY_REPORT_TEMPLATE", Path("template.ps").c_str(), 1);
    }

    // Fills the run's report handle through the job-tracker double and hands it to the body
    // generators, as a run does before its template copy.
    void StartReport()
    {
        ASSERT_EQ(jtapi_get_completed_jobs_report_data(5, &report), 0);
        ResetRunScratch(&report);
    }

    // Starts a report, writes the entries of jobs 1..count into a fresh stream, as one marker
    // piece does, and returns what was written; `entryStatus` receives the first nonzero result.
    std::string WriteEntries(int32_t count)
    {
        StartReport();
        char *text = nullptr;
        size_t size = 0;
        FILE *body = open_memstream(&text, &size);
        entryStatus = 0;
        for (int32_t job = 1; job <= count && entryStatus == 0; ++job)
            entryStatus = WriteJobEntry(body, &report, job, "en");
        std::fclose(body);
        std::string written(text, size);
        std::free(text);
        return written;
    }

    // The doubles' state, by service.
    logDouble::State &logs = logDouble::state;
    configDouble::State &config = configDouble::state;
    jobtrackerDouble::State &tracker = jobtrackerDouble::state;
    snifferDouble::State &sniffer = snifferDouble::state;
    translationDouble::State &translation = translationDouble::state;
    streameditorDouble::State &editor = streameditorDouble::state;
    printDouble::State &printer = printDouble::state;
    unameDouble::State &host = unameDouble::state;

    std::string tempDir;
    JTAPI_ReportData report = {nullptr};
    int32_t entryStatus = -1;
};

#endif
