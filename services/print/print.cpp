// Print-submission stand-in: spools each job as a numbered directory (document and ticket), and
// when PRINT_QUEUE is set hands it on to a CUPS queue through libcups.
//
// Order of a submission: check the arguments and open the document, assemble the job in a hidden
// directory of the spool (ticket, then document, both flushed to disk), rename that directory to
// the next free job number, take a transient document away, then the CUPS hand-over. Until the
// rename nothing is visible to readers, and every failure before it removes what was written, so
// a crash or a full disk never leaves a partial job.

#include "print.h"

#include "log.h"

#include <cups/cups.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *const kLogFile = "print";
const char *const kDefaultSpoolDir = "/var/spool/device-print";
const int kHighestJobNumber = 999999;
const char *const kTicketName = "ticket";
const char *const kDocumentName = "document.ps";
// Jobs are assembled under this name; readers take only six-digit names, so they never see one.
const char *const kIncomingName = ".incoming-XXXXXX";

// Owns a file descriptor; closing is the only clean-up, so this never fails.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now and reports what close says: a write error may only show here.
    bool Close()
    {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

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

// Opens the document for copying. O_NONBLOCK keeps a FIFO from blocking the open; anything but a
// regular file is refused.
Descriptor OpenDocument(const char *path)
{
    Descriptor document(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    if (!document || ::fstat(document.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): document \"%s\" cannot be read", path);
        return Descriptor();
    }
    return document;
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

std::string TicketText(const std::vector<std::string> &attributes, const char *user,
                       const char *jobName, Ds_precedence precedence, const char *operation)
{
    std::string text = std::string("user=") + user + "\njob-name=" + jobName + "\noperation=" +
                       operation + "\nprecedence=" + std::to_string(static_cast<int>(precedence)) +
                       "\n";
    for (const std::string &attribute : attributes) {
        text += attribute + "\n";
    }
    return text;
}

// ------------------------------------------------------------------------------------------------
// Writing files to disk
// ------------------------------------------------------------------------------------------------

bool WriteAll(int fd, const char *bytes, size_t size)
{
    while (size > 0) {
        ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// A document is copied into the job, or (a transient one) linked; never renamed in: the job's
// document is flushed with the job, and a transient original is only removed once the job is
// in place, so a failure takes nothing.
bool CopyAll(int from, int to)
{
    char buffer[16384];
    for (;;) {
        ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        if (!WriteAll(to, buffer, static_cast<size_t>(got)))
            return false;
    }
}

// ------------------------------------------------------------------------------------------------
// Spool
// ------------------------------------------------------------------------------------------------

std::string SpoolDirectory()
{
    const char *configured = std::getenv("PRINT_SPOOL_DIR");
    return (configured && *configured) ? configured : kDefaultSpoolDir;
}

bool IsDirectoryEntry(int dirFd, const dirent &entry)
{
    struct stat status;
    if (entry.d_type != DT_UNKNOWN)
        return entry.d_type == DT_DIR;
    return ::fstatat(dirFd, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(status.st_mode);
}

// The highest job number present in the spool; 0 for an empty one. Anything that is not a
// six-digit directory (jobs being assembled, stray files) is ignored.
int HighestJobNumber(const char *spoolDir)
{
    int highest = 0;
    DIR *spool = ::opendir(spoolDir);
    if (!spool)
        return highest;
    while (const dirent *entry = ::readdir(spool)) {
        if (zun::dmx::IsSpoolJobName(entry->d_name) && IsDirectoryEntry(::dirfd(spool), *entry)) {
            int number = std::atoi(entry->d_name);
            highest = number > highest ? number : highest;
        }
    }
    ::closedir(spool);
    return highest;
}

// Renames the assembled directory `from` to the job name `to`, never over an existing entry:
// that is the lock between submitters. Where the file system cannot refuse a replacement, the
// number is claimed with mkdir first and the empty directory replaced. Returns 0 or an errno.
int RenameToJobName(int spoolFd, const char *from, const char *to)
{
    if (::renameat2(spoolFd, from, spoolFd, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::mkdirat(spoolFd, to, 0755) != 0)
        return errno;
    if (::renameat(spoolFd, from, spoolFd, to) == 0)
        return 0;
    int error = errno;
    ::unlinkat(spoolFd, to, AT_REMOVEDIR);
    return error;
}

// One job while it is assembled in a hidden directory of the spool. Every path it will need is
// built up front, so nothing is allocated once files exist; until Publish() succeeds the
// destructor removes whatever was written.
class IncomingJob {
public:
    explicit IncomingJob(const std::string &spool)
        : spool_(spool), incoming_(spool + "/" + kIncomingName), jobDir_(spool + "/000000"),
          document_(jobDir_ + "/" + kDocumentName)
    {
    }
    IncomingJob(const IncomingJob &) = delete;
    IncomingJob &operator=(const IncomingJob &) = delete;
    ~IncomingJob()
    {
        if (created_ && !published_) {
            if (dir_) {
                ::unlinkat(dir_.get(), kTicketName, 0);
                ::unlinkat(dir_.get(), kDocumentName, 0);
            }
            ::rmdir(incoming_.c_str());
        }
    }

    // Opens the spool, made with its parents when missing, and creates the hidden directory.
    bool Create()
    {
        std::error_code error;
        fs::create_directories(spool_, error);
        spoolDir_ = Descriptor(::open(spool_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        created_ = spoolDir_ && ::mkdtemp(&incoming_[0]);
        if (!created_) {
            return false;
        }
        dir_ = Descriptor(::open(incoming_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        // mkdtemp makes the directory private; readers of the spool need to see into it.
        return dir_ && ::fchmod(dir_.get(), 0755) == 0;
    }

    bool WriteTicket(const std::string &text)
    {
        Descriptor ticket(::openat(dir_.get(), kTicketName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                   0644));
        return ticket && WriteAll(ticket.get(), text.data(), text.size()) &&
               ::fsync(ticket.get()) == 0 && ticket.Close();
    }

    // Links the open file `from` into the job as its document; false where it cannot be (another
    // file system, no /proc). Copying a report of many megabytes only to delete the original
    // cost as much as writing it. The link names the open file itself, through /proc, not
    // whatever its path names by now. The document gets the mode a copy would have.
    bool LinkDocument(int from)
    {
        char openFile[40];
        std::snprintf(openFile, sizeof openFile, "/proc/self/fd/%d", from);
        if (::linkat(AT_FDCWD, openFile, dir_.get(), kDocumentName, AT_SYMLINK_FOLLOW) != 0)
            return false;
        if (::fchmod(from, 0644) == 0 && ::fsync(from) == 0)
            return true;
        ::unlinkat(dir_.get(), kDocumentName, 0);
        return false;
    }

    bool WriteDocument(int from, bool transient)
    {
        if (transient && LinkDocument(from))
            return true;
        Descriptor document(::openat(dir_.get(), kDocumentName,
                                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        return document && CopyAll(from, document.get()) && ::fsync(document.get()) == 0 &&
               document.Close();
    }

    // Gives the complete job the next free number: one more than the highest present, wrapping
    // past 999999 to the lowest free one. The rename is flushed to disk before this returns.
    bool Publish()
    {
        if (::fsync(dir_.get()) != 0)
            return false;
        const char *incomingName = incoming_.c_str() + spool_.size() + 1;
        int highest = HighestJobNumber(spool_.c_str());
        int first = highest >= kHighestJobNumber ? 1 : highest + 1;
        for (int tried = 0; tried < kHighestJobNumber; ++tried) {
            int number = (first - 1 + tried) % kHighestJobNumber + 1;
            char jobName[16];
            std::snprintf(jobName, sizeof jobName, "%06d", number);
            if (number == 1 && (tried > 0 || highest >= kHighestJobNumber))
                Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                              "SubmitJob(): job numbers wrapped past %d in \"%s\"",
                              kHighestJobNumber, spool_.c_str());
            int error = RenameToJobName(spoolDir_.get(), incomingName, jobName);
            if (error == 0) {
                published_ = true;
                jobDir_.replace(spool_.size() + 1, 6, jobName, 6);
                document_.replace(spool_.size() + 1, 6, jobName, 6);
                ::fsync(spoolDir_.get());
                return true;
            }
            if (error != EEXIST && error != ENOTEMPTY) {
                errno = error;
                return false;
            }
        }
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "SubmitJob(): spool \"%s\" is full",
                      spool_.c_str());
        errno = ENOSPC;
        return false;
    }

    const std::string &Spool() const { return spool_; }
    const std::string &JobDir() const { return jobDir_; }
    const std::string &Document() const { return document_; }

private:
    std::string spool_, incoming_, jobDir_, document_;
    Descriptor spoolDir_, dir_;
    bool created_ = false, published_ = false;
};

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
// out, the job still prints. `count` follows every option added, so that the caller can free
// them with cupsFreeOptions even when this throws halfway.
void CupsOptions(const std::vector<std::string> &attributes, int32_t firstPage, int32_t lastPage,
                 int &count, cups_option_t **options)
{
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
}

// Submits the spooled document to the CUPS queue `queue`. libcups keeps the user per thread, so
// the caller's user is put back afterwards.
bool SubmitToCups(const char *queue, const std::string &document, const char *user,
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

// Spools one job; a failed job leaves nothing in the spool. Returns DS_OK with `job` published, or
// a DS_ERR_* status after a log record.
int SpoolJob(IncomingJob &job, const std::string &ticket, int document, bool transient)
{
    if (!job.Create()) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): spool directory \"%s\" cannot be written: %s",
                      job.Spool().c_str(), std::strerror(errno));
        return DS_ERR_SPOOL;
    }
    if (!job.WriteTicket(ticket)) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): ticket in \"%s\" cannot be written: %s", job.Spool().c_str(),
                      std::strerror(errno));
        return DS_ERR_SPOOL;
    }
    if (!job.WriteDocument(document, transient)) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): document cannot be copied into \"%s\": %s",
                      job.Spool().c_str(), std::strerror(errno));
        return DS_ERR_DOCUMENT;
    }
    if (!job.Publish()) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): job in \"%s\" cannot be put in place: %s", job.Spool().c_str(),
                      std::strerror(errno));
        return DS_ERR_SPOOL;
    }
    return DS_OK;
}

// Hands a spooled job to the CUPS queue that PRINT_QUEUE names; DS_OK when none is named. The job
// is already spooled, so running out of memory here is a failed hand-over like any other.
int HandToCups(const std::vector<std::string> &attributes, const std::string &document,
               const char *user, const char *jobName, int32_t firstPage, int32_t lastPage)
{
    const char *queue = std::getenv("PRINT_QUEUE");
    if (!queue || !*queue) {
        return DS_OK;
    }
    cups_option_t *cupsOptions = nullptr;
    int numOptions = 0;
    bool accepted = false;
    try {
        CupsOptions(attributes, firstPage, lastPage, numOptions, &cupsOptions);
        accepted = SubmitToCups(queue, document, user, jobName, numOptions, cupsOptions);
    } catch (...) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                      "SubmitJob(): out of memory handing \"%s\" to CUPS", document.c_str());
    }
    cupsFreeOptions(numOptions, cupsOptions);
    return accepted ? DS_OK : DS_ERR_QUEUE;
}

int Submit(const std::vector<std::string> &attributes, const char *user, const char *jobName,
           const char *path, Ds_precedence precedence, const char *operation, int32_t firstPage,
           int32_t lastPage, uint16_t options)
{
    if (!ArgumentsAreValid(attributes, user, jobName, path, operation)) {
        return DS_ERR_ARGUMENT;
    }
    Descriptor document = OpenDocument(path);
    if (!document) {
        return DS_ERR_ARGUMENT;
    }
    if (options != 0) {
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                      "SubmitJob(): reserved options 0x%x ignored", options);
    }
    IncomingJob job(SpoolDirectory());
    int status = SpoolJob(job, TicketText(attributes, user, jobName, precedence, operation),
                          document.get(), IsTransient(attributes));
    if (status != DS_OK) {
        return status;
    }
    if (IsTransient(attributes) && ::unlink(path) != 0) {
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                      "SubmitJob(): transient document \"%s\" spooled but not removed: %s", path,
                      std::strerror(errno));
    }
    Log_SpecEntry(logSpecInfo, kLogFile, __LINE__, "SubmitJob(): \"%s\" spooled as \"%s\"", path,
                  job.JobDir().c_str());
    return HandToCups(attributes, job.Document(), user, jobName, firstPage, lastPage);
}

} // namespace

namespace zun {
namespace dmx {

bool IsSpoolJobName(const char *name)
{
    for (int i = 0; i < 6; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
    }
    return name[6] == '\0';
}

// The job is spooled first and handed to CUPS second, so the spool holds every accepted job even
// when CUPS is down. Nothing may throw from here: the callers are device code that expects a
// status.
int SubmitJob(const std::vector<std::string> &attributes, const char *user, const char *jobName,
              const char *path, Ds_precedence precedence, const char *operation, int32_t firstPage,
              int32_t lastPage, uint16_t options)
{
    try {
        return Submit(attributes, user, jobName, path, precedence, operation, firstPage, lastPage,
                      options);
    } catch (...) {
        // Only the strings and vectors throw, and only when memory runs out; the job being
        // assembled has removed itself by now.
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "SubmitJob(): out of memory");
        return DS_ERR_SPOOL;
    }
}

} // namespace dmx
} // namespace zun
