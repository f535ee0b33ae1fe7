/*
 * pluginFixture.h - the common ground of the plug-in's tests against the service doubles.
 *
 * The plug-in keeps process-wide state (ARL_STATE, autoConvert, the run's scratch buffers and the
 * sedCmdTable buffers) that outlives a test in the same process. Every test starts from the
 * state of a freshly loaded plug-in whose system charset has already been looked up
 * ("ISO-8859-15", so no charset records appear unless a test asks for them), with every double
 * reset, and with a private temporary directory as TEMP_FILES_DIR.
 */
#ifndef TESTS_ACTIVITYREPORT_PLUGINFIXTURE_H
#define TESTS_ACTIVITYREPORT_PLUGINFIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "activityReportInternals.h"
#include "configDouble.h"
#include "jobtrackerDouble.h"
#include "logDouble.h"
#include "printDouble.h"
#include "snifferDouble.h"
#include "streameditorDouble.h"
#include "translationDouble.h"
#include "unameDouble.h"

namespace testing_support {

inline std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline bool Exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Open file descriptors of this process: a stream the plug-in forgets to close shows here.
inline int OpenDescriptors()
{
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

inline void RemoveTree(const std::string &path)
{
    if (DIR *dir = opendir(path.c_str())) {
        while (dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "/" + name;
            struct stat info;
            if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
                RemoveTree(child);
            else
                unlink(child.c_str());
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

// Splits a text after each newline, keeping the newlines.
inline std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

inline int CountOccurrences(const std::string &text, const std::string &what)
{
    int count = 0;
    for (std::string::size_type at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size()))
        ++count;
    return count;
}

inline std::string Hex(const std::string &text) { return translationDouble::Hex(text); }

// The plug-in keeps the system charset name it looked up for the life of the process. A test
// that makes it forget the name keeps the text reachable here, so it is neither freed under the
// plug-in (it might not be the heap's) nor reported as a leak.
inline void ForgetSystemCharset()
{
    static std::vector<const char *> *kept = new std::vector<const char *>;
    if (ARL_STATE.transLibEncoding)
        kept->push_back(ARL_STATE.transLibEncoding);
    ARL_STATE.transLibEncoding = nullptr;
}

} // namespace testing_support

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logDouble::Reset();
        configDouble::Reset();
        jobtrackerDouble::Reset();
        snifferDouble::Reset();
        translationDouble::Reset();
        streameditorDouble::Reset();
        printDouble::Reset();
        unameDouble::Reset();

        testing_support::ForgetSystemCharset();
        ARL_STATE = {};
        ARL_STATE.transLibEncoding = "ISO-8859-15";
        autoConvert = 1;
        runScratch = RunScratch{};

        char pattern[] = "/tmp/arl-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        tempDir = pattern;
        setenv("TEMP_FILES_DIR", tempDir.c_str(), 1);
        unsetenv("ACTIVITY_REPORT_TEMPLATE");
        setenv("SYSTEM_CHARSET", "ISO-8859-15", 1);
    }

    void TearDown() override { testing_support::RemoveTree(tempDir); }

    // Fills the run's report handle through the job-tracker double and hands it to the body
    // generators, as a run does before its template copy.
    void StartReport()
    {
        ASSERT_EQ(jtapi_get_completed_jobs_report_data(5, &report), 0);
        ResetRunScratch(&report);
    }

    // Writes the entries of jobs 1..count into a fresh stream, as one marker piece does, and
    // returns what was written; `status` receives the first nonzero result.
    std::string WriteEntries(int32_t count, int32_t *status = nullptr,
                             const char *language = "en")
    {
        FILE *body = tmpfile();
        int32_t result = 0;
        for (int32_t job = 1; job <= count && result == 0; ++job)
            result = WriteJobEntry(body, &report, job, language);
        if (status)
            *status = result;
        std::fflush(body);
        std::rewind(body);
        std::string text;
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, body)) > 0)
            text.append(buffer, got);
        std::fclose(body);
        return text;
    }

    std::string Path(const std::string &name) const { return tempDir + "/" + name; }

    std::string tempDir;
    JTAPI_ReportData report = {nullptr};
};

#endif
