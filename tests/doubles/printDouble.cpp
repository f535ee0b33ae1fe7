// Print-submission double: records the submission instead of spooling it.

#include "doubles.h"

#include <unistd.h>

namespace printDouble { State state; }

int zun::dmx::SubmitJob(const std::vector<std::string> &attributes, const char *user,
                        const char *jobName, const char *path, Ds_precedence precedence,
                        const char *operation, int32_t firstPage, int32_t lastPage,
                        uint16_t options)
{
    auto text = [](const char *value) { return std::string(value ? value : "NULL"); };
    printDouble::state.submissions.push_back({attributes, text(user), text(jobName), text(path),
                                              precedence, text(operation), firstPage, lastPage,
                                              options, path && access(path, R_OK) == 0});
    return printDouble::state.result;
}
