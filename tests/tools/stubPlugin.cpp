// A stand-in for the report plug-in, for testing the host program alone: it records how it was
// called, optionally submits a small two-page report through the print service, and returns the
// status the test asks for.
//   STUB_RECORD  file that receives "name=value" lines: the three arguments and the template the
//                host chose ("<NULL>" for a NULL argument or an unset variable)
//   STUB_SPOOL   when set, a report is submitted as the plug-in would submit it
//   STUB_STATUS  the status to return (default 0)

#include "print.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
const char *OrNull(const char *text) { return text ? text : "<NULL>"; }
} // namespace

extern "C" __attribute__((visibility("default"))) int32_t
ARL_ActivityReport(const char *mediaType, const char *mediaColor, const char *language)
{
    const char *recordPath = std::getenv("STUB_RECORD");
    if (std::FILE *record = recordPath ? std::fopen(recordPath, "w") : nullptr) {
        std::fprintf(record, "mediaType=%s\nmediaColor=%s\nlanguage=%s\ntemplate=%s\n", OrNull(mediaType),
                     OrNull(mediaColor), OrNull(language), OrNull(std::getenv("ACTIVITY_REPORT_TEMPLATE")));
        std::fclose(record);
    }
    const char *tempDir = std::getenv("TEMP_FILES_DIR");
    const std::string path = std::string(tempDir ? tempDir : "/tmp/tmpfiles") + "/activityReport.ps";
    if (std::FILE *report = std::getenv("STUB_SPOOL") ? std::fopen(path.c_str(), "w") : nullptr) {
        std::fputs("%!PS\n/Helvetica findfont 20 scalefont setfont\n"
                   "72 720 moveto (Stub report page one) show showpage\n"
                   "72 720 moveto (Stub report page two) show showpage\n", report);
        std::fclose(report);
        zun::dmx::SubmitJob({"transient-file=TRUE"}, "System User", "Activity Report", path.c_str(),
                            DS_PRECEDENCE_REPORT, "print", -1, -1, 0);
    }
    const char *status = std::getenv("STUB_STATUS");
    return status ? std::atoi(status) : 0;
}
