// Print-submission double: records the submission instead of spooling it.

#include "printDouble.h"

#include <unistd.h>

namespace {

int submitResult = DS_OK;
std::vector<printDouble::Submission> submissions;

std::string Text(const char *text) { return text ? text : "NULL"; }

} // namespace

namespace zun {
namespace dmx {

int SubmitJob(const std::vector<std::string> &attributes, const char *user, const char *jobName,
              const char *path, Ds_precedence precedence, const char *operation, int32_t firstPage,
              int32_t lastPage, uint16_t options)
{
    submissions.push_back({attributes, Text(user), Text(jobName), Text(path), precedence,
                           Text(operation), firstPage, lastPage, options,
                           path != nullptr && access(path, R_OK) == 0});
    return submitResult;
}

} // namespace dmx
} // namespace zun

namespace printDouble {

void Reset()
{
    submitResult = DS_OK;
    submissions.clear();
}

void SetResult(int result) { submitResult = result; }
const std::vector<Submission> &Submissions() { return submissions; }

} // namespace printDouble
