// Print-submission stand-in: spools each job as a numbered directory (document and ticket), and
// when PRINT_QUEUE is set hands it on to a CUPS queue through libcups.
//
// Order of a submission: check the arguments, claim a job directory, write the ticket under a
// temporary name, move or copy the document in, rename the ticket into place, then the CUPS
// hand-over.

#include "print.h"

#include "log.h"

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *const kLogFile = "print";
const char *const kDefaultSpoolDir = "/var/spool/device-print";
const int kHighestJobNumber = 999999;

// ------------------------------------------------------------------------------------------------
// Arguments
// ------------------------------------------------------------------------------------------------

bool HasLineBreak(const char *text)
{
    return std::strpbrk(text, "\r\n") != nullptr;
}

// A ticket holds one item a line, so no text written into it may carry a line break.
bool ArgumentsAreValid(const std::vector<std::string> &attributes, const char *user,
                       const char *jobName, const char *path, const char *operation)
{
    if (!user || !jobName || !path || !operation) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "SubmitJob(): a NULL argument");
        return false;
    }
    bool valid = !HasLineBreak(user) && !HasLineBreak(jobName) && !HasLineBreak(operation);
    for (const std::string &attribute : attributes) {
        valid = valid && !HasLineBreak(attribute.c_str());
    }
    if (!valid) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): a ticket text holds a line break");
    }
    return valid;
}

bool DocumentIsReadable(const char *path)
{
    std::error_code error;
    std::FILE *document = fs::is_regular_file(path, error) ? std::fopen(path, "rb") : nullptr;
    if (!document) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): document \"%s\" cannot be read", path);
        return false;
    }
    std::fclose(document);
    return true;
}

bool IsTransient(const std::vector<std::string> &attributes)
{
    for (const std::string &attribute : attributes) {
        if (attribute == "transient-file=TRUE") {
            return true;
        }
    }
    return false;
}

// ------------------------------------------------------------------------------------------------
// Spool
// ------------------------------------------------------------------------------------------------

fs::path SpoolDirectory()
{
    const char *configured = std::getenv("PRINT_SPOOL_DIR");
    return (configured && *configured) ? configured : kDefaultSpoolDir;
}

bool IsJobNumberName(const std::string &name)
{
    if (name.size() != 6) {
        return false;
    }
    for (char c : name) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// The highest job number present in the spool; 0 for an empty one. Anything that is not a
// six-digit directory (tickets being renamed, stray files) is ignored.
int HighestJobNumber(const fs::path &spool)
{
    int highest = 0;
    std::error_code error;
    for (fs::directory_iterator entry(spool, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string name = entry->path().filename().string();
        std::error_code typeError;
        if (IsJobNumberName(name) && entry->is_directory(typeError)) {
            highest = std::max(highest, std::atoi(name.c_str()));
        }
    }
    return highest;
}

std::string JobNumberName(int number)
{
    char name[16];
    std::snprintf(name, sizeof name, "%06d", number);
    return name;
}

// Claims a new job directory. mkdir is the lock: a submitter that loses the race for a number
// gets EEXIST and moves on to the next one. Returns an empty path on failure, after a log record.
fs::path ClaimJobDirectory(const fs::path &spool)
{
    std::error_code error;
    fs::create_directories(spool, error);
    if (error) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): spool directory \"%s\" cannot be created: %s",
                      spool.c_str(), error.message().c_str());
        return {};
    }
    for (int number = HighestJobNumber(spool) + 1; number <= kHighestJobNumber; ++number) {
        fs::path jobDir = spool / JobNumberName(number);
        if (::mkdir(jobDir.c_str(), 0755) == 0) {
            return jobDir;
        }
        if (errno != EEXIST) {
            Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                          "SubmitJob(): job directory \"%s\" cannot be created: %s",
                          jobDir.c_str(), std::strerror(errno));
            return {};
        }
    }
    Log_SpecEntry(logSpecError, kLogFile, __LINE__, "SubmitJob(): spool \"%s\" is full",
                  spool.c_str());
    return {};
}

// Takes a transient document away from the submitter. rename cannot cross file systems, so there
// the document is copied and the original removed.
bool MoveDocument(const fs::path &from, const fs::path &to, std::error_code &error)
{
    fs::rename(from, to, error);
    if (error != std::errc::cross_device_link) {
        return !error;
    }
    error.clear();
    if (!fs::copy_file(from, to, error)) {
        return false;
    }
    std::error_code removeError;
    if (!fs::remove(from, removeError)) {
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                      "SubmitJob(): transient document \"%s\" spooled but not removed: %s",
                      from.c_str(), removeError.message().c_str());
    }
    return true;
}

bool CopyDocument(const fs::path &from, const fs::path &to, std::error_code &error)
{
    return fs::copy_file(from, to, error);
}

bool WriteLines(const fs::path &path, const std::vector<std::string> &lines)
{
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        return false;
    }
    bool written = true;
    for (const std::string &line : lines) {
        written = written && std::fprintf(file, "%s\n", line.c_str()) >= 0;
    }
    return std::fclose(file) == 0 && written;
}

std::vector<std::string> TicketLines(const std::vector<std::string> &attributes, const char *user,
                                     const char *jobName, Ds_precedence precedence,
                                     const char *operation)
{
    std::vector<std::string> lines = {
        std::string("user=") + user,
        std::string("job-name=") + jobName,
        std::string("operation=") + operation,
        "precedence=" + std::to_string(static_cast<int>(precedence)),
    };
    lines.insert(lines.end(), attributes.begin(), attributes.end());
    return lines;
}

// The ticket is written under a temporary name before the document is taken, so that a transient
// document is only taken once nothing but the final rename can fail. Readers take a job directory
// as complete once "ticket" exists.
const char *const kPendingTicket = "ticket.tmp";

bool PrepareTicket(const fs::path &jobDir, const std::vector<std::string> &lines)
{
    return WriteLines(jobDir / kPendingTicket, lines);
}

bool PublishTicket(const fs::path &jobDir, std::error_code &error)
{
    fs::rename(jobDir / kPendingTicket, jobDir / "ticket", error);
    return !error;
}

// Gives back a job directory that never got its ticket.
void DiscardJobDirectory(const fs::path &jobDir)
{
    std::error_code error;
    fs::remove_all(jobDir, error);
}

// ------------------------------------------------------------------------------------------------
// CUPS hand-over
// ------------------------------------------------------------------------------------------------

std::string Unquoted(const std::string &value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// One device attribute value and the IPP value it stands for.
struct ValueMapping {
    const char *device;
    const char *ipp;
};

template <size_t N>
const char *Lookup(const ValueMapping (&table)[N], const std::string &deviceValue)
{
    for (const ValueMapping &mapping : table) {
        if (deviceValue == mapping.device) {
            return mapping.ipp;
        }
    }
    return nullptr;
}

const ValueMapping kSides[] = {{"1", "one-sided"},
                               {"2", "two-sided-long-edge"},
                               {"simplex", "one-sided"},
                               {"duplex", "two-sided-long-edge"},
                               {"tumble", "two-sided-short-edge"}};
const ValueMapping kMedia[] = {{"ISO_A4", "iso_a4_210x297mm"},
                               {"ISO_A3", "iso_a3_297x420mm"},
                               {"ISO_A5", "iso_a5_148x210mm"},
                               {"NA_LETTER", "na_letter_8.5x11in"},
                               {"NA_LEGAL", "na_legal_8.5x14in"}};
const ValueMapping kOrientations[] = {{"portrait", "3"},
                                      {"landscape", "4"},
                                      {"reverse-landscape", "5"},
                                      {"reverse-portrait", "6"}};
const ValueMapping kStartSheets[] = {{"none", "none"}, {"standard", "standard"}};

// Attributes that only concern the spool, never CUPS.
bool IsSpoolOnly(const std::string &name)
{
    return name == "transient-file" || name == "job-scheduling";
}

// Translates one device attribute into an IPP option name and value. Returns false when the
// attribute has no IPP counterpart.
bool IppOption(const std::string &name, const std::string &value, std::string &ippName,
               const char *&ippValue)
{
    const std::string orientationPrefix = "oid-val-content-orientation-";
    ippValue = nullptr;
    if (name == "copy-count") {
        ippName = "copies";
        bool isCount = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
        ippValue = isCount ? value.c_str() : nullptr;
    } else if (name == "sides" || name == "plex") {
        ippName = "sides";
        ippValue = Lookup(kSides, value);
    } else if (name == "default-medium") {
        ippName = "media";
        ippValue = Lookup(kMedia, Unquoted(value));
    } else if (name == "content-orientation") {
        ippName = "orientation-requested";
        bool prefixed = value.compare(0, orientationPrefix.size(), orientationPrefix) == 0;
        ippValue = Lookup(kOrientations, prefixed ? value.substr(orientationPrefix.size()) : value);
    } else if (name == "start-sheet") {
        ippName = "job-sheets";
        ippValue = Lookup(kStartSheets, value);
    }
    return ippValue != nullptr;
}

// Builds the CUPS options of a job; attributes without an IPP counterpart are logged and left
// out, the job still prints. The caller frees the options with cupsFreeOptions.
int CupsOptions(const std::vector<std::string> &attributes, int32_t firstPage, int32_t lastPage,
                cups_option_t **options)
{
    int count = 0;
    for (const std::string &attribute : attributes) {
        size_t equals = attribute.find('=');
        std::string name = attribute.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : attribute.substr(equals + 1);
        std::string ippName;
        const char *ippValue = nullptr;
        if (IppOption(name, value, ippName, ippValue)) {
            count = cupsAddOption(ippName.c_str(), ippValue, count, options);
        } else if (!IsSpoolOnly(name)) {
            Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                          "SubmitJob(): attribute \"%s\" not handed to CUPS", attribute.c_str());
        }
    }
    if (firstPage != -1 || lastPage != -1) {
        std::string range = std::to_string(firstPage < 1 ? 1 : firstPage) + "-" +
                            std::to_string(lastPage < 1 ? INT_MAX : lastPage);
        count = cupsAddOption("page-ranges", range.c_str(), count, options);
    }
    return count;
}

// Submits the spooled document to the CUPS queue `queue`. libcups keeps the user per thread, so
// the caller's user is put back afterwards.
bool SubmitToCups(const char *queue, const fs::path &document, const char *user,
                  const char *jobName, int numOptions, cups_option_t *options)
{
    std::string previousUser = cupsUser();
    cupsSetUser(user);
    int cupsJob = cupsPrintFile(queue, document.c_str(), jobName, numOptions, options);
    cupsSetUser(previousUser.c_str());
    if (cupsJob == 0) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): CUPS queue \"%s\" refused \"%s\": %s", queue,
                      document.c_str(), cupsLastErrorString());
        return false;
    }
    Log_SpecEntry(logSpecInfo, kLogFile, __LINE__, "SubmitJob(): \"%s\" is CUPS job %s-%d",
                  document.c_str(), queue, cupsJob);
    return true;
}

// Spools one job: claims its directory, prepares the ticket, takes the document in, publishes the
// ticket. Returns DS_OK with `document` set to the spooled copy, or a DS_ERR_* status after a log
// record; a failed job leaves no directory behind.
int SpoolJob(const std::vector<std::string> &ticketLines, const char *path, bool transient,
             fs::path &document)
{
    fs::path jobDir = ClaimJobDirectory(SpoolDirectory());
    if (jobDir.empty()) {
        return DS_ERR_SPOOL;
    }
    if (!PrepareTicket(jobDir, ticketLines)) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): ticket of \"%s\" cannot be written: %s", jobDir.c_str(),
                      std::strerror(errno));
        DiscardJobDirectory(jobDir);
        return DS_ERR_SPOOL;
    }
    document = jobDir / "document.ps";
    std::error_code error;
    if (!(transient ? MoveDocument(path, document, error) : CopyDocument(path, document, error))) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): document \"%s\" cannot be %s into \"%s\": %s", path,
                      transient ? "moved" : "copied", jobDir.c_str(), error.message().c_str());
        DiscardJobDirectory(jobDir);
        return DS_ERR_DOCUMENT;
    }
    if (!PublishTicket(jobDir, error)) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): ticket of \"%s\" cannot be put in place: %s", jobDir.c_str(),
                      error.message().c_str());
        DiscardJobDirectory(jobDir);
        return DS_ERR_SPOOL;
    }
    Log_SpecEntry(logSpecInfo, kLogFile, __LINE__, "SubmitJob(): \"%s\" spooled as \"%s\"", path,
                  jobDir.c_str());
    return DS_OK;
}

// Hands a spooled job to the CUPS queue that PRINT_QUEUE names; DS_OK when none is named.
int HandToCups(const std::vector<std::string> &attributes, const fs::path &document,
               const char *user, const char *jobName, int32_t firstPage, int32_t lastPage)
{
    const char *queue = std::getenv("PRINT_QUEUE");
    if (!queue || !*queue) {
        return DS_OK;
    }
    cups_option_t *cupsOptions = nullptr;
    int numOptions = CupsOptions(attributes, firstPage, lastPage, &cupsOptions);
    bool accepted = SubmitToCups(queue, document, user, jobName, numOptions, cupsOptions);
    cupsFreeOptions(numOptions, cupsOptions);
    return accepted ? DS_OK : DS_ERR_QUEUE;
}

} // namespace

namespace zun {
namespace dmx {

// The job is spooled first and handed to CUPS second, so the spool holds every accepted job even
// when CUPS is down.
int SubmitJob(const std::vector<std::string> &attributes, const char *user, const char *jobName,
              const char *path, Ds_precedence precedence, const char *operation, int32_t firstPage,
              int32_t lastPage, uint16_t options)
{
    if (!ArgumentsAreValid(attributes, user, jobName, path, operation) ||
        !DocumentIsReadable(path)) {
        return DS_ERR_ARGUMENT;
    }
    if (options != 0) {
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                      "SubmitJob(): reserved options 0x%x ignored", options);
    }
    fs::path document;
    int status = SpoolJob(TicketLines(attributes, user, jobName, precedence, operation), path,
                          IsTransient(attributes), document);
    if (status != DS_OK) {
        return status;
    }
    return HandToCups(attributes, document, user, jobName, firstPage, lastPage);
}

} // namespace dmx
} // namespace zun
