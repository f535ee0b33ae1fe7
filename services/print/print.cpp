// Print-submission stand-in: spools each job as a numbered folder (document and ticket), and
// when PRINT_QUEUE is set hands it on to a CUPS queue through libcups.
//
// Order of a submission: check the arguments and open the document; open the spool, a verified
// folder that everything later is reached through; take the spool's lock, clearing what
// submissions that died left behind when no other one is assembling; assemble the job in a
// hidden folder made and filled through the spool's descriptor (ticket, then document, both
// flushed to disk); rename that folder to the next free job number; take a transient document
// away; then the CUPS hand-over. Until the rename nothing is visible to readers, and every
// failure before it removes what was written, so a failure never leaves a partial job.

// The library exports the functions its contract header declares, and nothing else.
#pragma GCC visibility push(default)
#include "print.h"
#pragma GCC visibility pop

#include "logrecord.h"
#include "platform.h"

#include <cups/cups.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

// A test program may define this function: it is then called at fixed points of a job's
// assembly ("made": the hidden folder was made, not yet opened; "filled": its files are written,
// the job not yet in place), to change the spool there as another user might. Null elsewhere.
extern "C" __attribute__((weak)) void PrintAssemblyPoint(const char *point, int spoolFd,
                                                         const char *incomingName);

namespace {

using platform::Descriptor;
using platform::Folder;

const char *const kLogFile = "print";
const char *const kDefaultSpoolDir = "/var/spool/device-print";
const int kHighestJobNumber = 999999;
const char *const kTicketName = "ticket";
const char *const kDocumentName = "document.ps";
// Jobs are assembled under ".incoming-" and six letters or digits; readers take only six-digit
// names, so they never see one.
const char kIncomingPrefix[] = ".incoming-";
const size_t kIncomingLetters = 6;
const char kNameLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const int kMostNameTries = 100;
// The spool's lock file (SpoolLock).
const char *const kLockName = ".lock";
// Modes of what the spool holds, whatever the submitter's umask: the print service that picks
// the jobs up runs as another user and must read them.
const mode_t kSpoolMode = 0755, kJobFolderMode = 0755, kJobFileMode = 0644, kLockMode = 0600;
const int kMostMissingFolders = 16;       // of the spool's path, made when missing
const long kLockWaitMilliseconds = 10000; // for a submission that clears leftovers
const long kLockRetryMilliseconds = 5;

// ------------------------------------------------------------------------------------------------
// Arguments and the document
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
        LOG_RECORD(logSpecError, "SubmitJob(): a NULL argument");
        return false;
    }
    bool valid = !HasLineBreak(user) && !HasLineBreak(jobName) && !HasLineBreak(operation);
    for (const std::string &attribute : attributes) {
        valid = valid && !HasLineBreak(attribute.c_str());
    }
    if (!valid) {
        LOG_RECORD(logSpecError, "SubmitJob(): a ticket text holds a line break");
    }
    return valid;
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

// A folder that could not be checked for lack of memory is not a refusal: the submission fails
// as out of memory.
void ThrowWhenOutOfMemory(const Folder &folder)
{
    if (folder.state() == Folder::State::kMissing && folder.error() == ENOMEM)
        throw std::bad_alloc();
}

// The submitted document, opened once; the job is made from this descriptor, never from the
// path again.
struct Document {
    Descriptor file;
    struct stat status = {};
    // A transient document that the service may move: opened through its verified folder
    // without following a link, a regular file with one link that the submitter (the effective
    // user) owns. Only such a one is linked into its job, made 0644 and removed afterwards; any
    // other is copied and left where it is.
    bool movable = false;
    Folder folder;
    std::string name;
};

// Opens a transient document through its verified folder; `document.movable` says whether it
// is the submitter's own file.
void OpenMovable(const char *path, Document &document)
{
    std::string folderPath;
    if (!platform::SplitPath(path, &folderPath, &document.name))
        return;
    document.folder = Folder::Open(folderPath.c_str());
    ThrowWhenOutOfMemory(document.folder);
    if (!document.folder.verified())
        return;
    document.file = platform::OpenRegularFile(document.folder.fd(), document.name.c_str(),
                                              O_RDONLY | O_NOFOLLOW, 0, &document.status);
    document.movable = document.file && platform::OwnFile(document.status);
}

// Opens the document for the job. OpenRegularFile keeps a FIFO from blocking the open and
// refuses anything but a regular file.
bool OpenDocument(const char *path, bool transient, Document &document)
{
    if (transient)
        OpenMovable(path, document);
    if (!document.movable)
        document.file = platform::OpenRegularFile(AT_FDCWD, path, O_RDONLY, 0, &document.status);
    if (!document.file) {
        LOG_RECORD(logSpecError, "SubmitJob(): document \"%s\" cannot be read", path);
        return false;
    }
    return true;
}

// Takes a transient document away once its job is in place: only a movable one, through its
// folder's descriptor, and only while its name still names the file spooled.
void RemoveTransient(const char *path, const Document &document)
{
    const char *reason = nullptr;
    struct stat now;
    if (!document.movable)
        reason = "it is not the submitter's own file in a safe folder";
    else if (::fstatat(document.folder.fd(), document.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) !=
                 0 ||
             now.st_dev != document.status.st_dev || now.st_ino != document.status.st_ino)
        reason = "its name no longer names the file spooled";
    else if (::unlinkat(document.folder.fd(), document.name.c_str(), 0) != 0)
        reason = std::strerror(errno);
    if (reason)
        LOG_RECORD(logSpecWarn,
                   "SubmitJob(): transient document \"%s\" spooled but not removed: %s", path,
                   reason);
}

std::string TicketText(const std::vector<std::string> &attributes, const char *user,
                       const char *jobName, Ds_precedence precedence, const char *operation)
{
    std::string text = std::string("user=") + user + "\njob-name=" + jobName +
                       "\noperation=" + operation +
                       "\nprecedence=" + std::to_string(static_cast<int>(precedence)) + "\n";
    for (const std::string &attribute : attributes) {
        text += attribute + "\n";
    }
    return text;
}

// A document is copied into the job, or (a movable transient one) linked; never renamed in: the
// job's document is flushed with the job, and a transient original is only removed once the job
// is in place, so a failure takes nothing. Called under SpoolJob's signal guard.
bool CopyAll(int from, int to)
{
    char buffer[16384];
    for (;;) {
        ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        if (!platform::WriteAllUnguarded(to, buffer, static_cast<size_t>(got)))
            return false;
    }
}

// ------------------------------------------------------------------------------------------------
// Spool
// ------------------------------------------------------------------------------------------------

std::string SpoolPath()
{
    const char *configured = platform::EnvValue("PRINT_SPOOL_DIR");
    return configured ? configured : kDefaultSpoolDir;
}

// Opens the spool folder, verified. A missing one is made (kSpoolMode, less the umask) inside
// its verified parent, which is made the same way when missing. `error` receives the errno of a
// spool that is missing and cannot be made.
Folder OpenSpool(const std::string &path, int missingLeft, int *error)
{
    Folder spool = Folder::Open(path.c_str());
    ThrowWhenOutOfMemory(spool);
    *error = spool.error();
    std::string parentPath, name;
    if (spool.state() != Folder::State::kMissing || spool.error() != ENOENT || missingLeft == 0 ||
        !platform::SplitPath(path, &parentPath, &name))
        return spool;
    Folder parent = OpenSpool(parentPath, missingLeft - 1, error);
    if (!parent.verified())
        return parent;
    if (::mkdirat(parent.fd(), name.c_str(), kSpoolMode) != 0 && errno != EEXIST) {
        *error = errno;
        return spool;
    }
    return OpenSpool(path, 0, error);
}

bool IsIncomingName(const char *name)
{
    if (std::strncmp(name, kIncomingPrefix, sizeof kIncomingPrefix - 1) != 0)
        return false;
    const char *letters = name + sizeof kIncomingPrefix - 1;
    return std::strlen(letters) == kIncomingLetters &&
           std::strspn(letters, kNameLetters) == kIncomingLetters;
}

// Calls `visit` with the name of every entry of the spool.
template <typename Visit>
void ForEachEntry(const Folder &spool, Visit visit)
{
    Descriptor listing(::openat(spool.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR *entries = listing ? ::fdopendir(listing.get()) : nullptr;
    if (!entries)
        return;
    listing.Release();
    while (const dirent *entry = ::readdir(entries))
        visit(*entry);
    ::closedir(entries);
}

// Removes one hidden folder that a submission which died left: only a folder of the effective
// user, and in it only the files a job holds.
void RemoveLeftover(const Folder &spool, const char *name)
{
    Descriptor folder(::openat(spool.fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status;
    if (!folder || ::fstat(folder.get(), &status) != 0 || status.st_uid != ::geteuid())
        return;
    for (const char *file : {kTicketName, kDocumentName})
        ::unlinkat(folder.get(), file, 0);
    if (::unlinkat(spool.fd(), name, AT_REMOVEDIR) == 0)
        LOG_RECORD(logSpecInfo, "SubmitJob(): removed \"%s\", left by a submission that died",
                   name);
}

// The spool's lock: a file of the service's own in the spool (kLockMode), which no other user can
// open and so cannot take. A submission holds it shared while it assembles its job; one that gets
// it alone knows that no other submission is assembling, and removes the hidden folders that
// submissions which died left behind. Open-file-description locks: a lock ends when the
// submission closes its descriptor (or dies); a child forked meanwhile holds it until it exits.
class SpoolLock {
public:
    // Takes the lock; false when another submission kept it alone for longer than
    // kLockWaitMilliseconds. A lock file that cannot be used is a warning: the job is assembled
    // without it, and leftovers stay.
    bool Take(const Folder &spool, const std::string &spoolPath)
    {
        struct stat status;
        file_ = platform::OpenRegularFile(spool.fd(), kLockName, O_RDWR | O_CREAT | O_NOFOLLOW,
                                          kLockMode, &status);
        if (!file_ || (spool.shared() && !platform::OwnFile(status))) {
            LOG_RECORD(logSpecWarn, "SubmitJob(): lock file \"%s/%s\" cannot be used: %s",
                       spoolPath.c_str(), kLockName,
                       file_ ? "it is not the service's own" : std::strerror(errno));
            file_ = Descriptor();
            return true;
        }
        if (Lock(F_WRLCK)) {
            ForEachEntry(spool, [&](const dirent &entry) {
                if (IsIncomingName(entry.d_name))
                    RemoveLeftover(spool, entry.d_name);
            });
            return Lock(F_RDLCK); // turned into a shared lock at once, never let go
        }
        for (platform::Deadline deadline(kLockWaitMilliseconds); !Lock(F_RDLCK);) {
            if (deadline.Passed()) {
                LOG_RECORD(logSpecError, "SubmitJob(): spool \"%s\" stayed locked for %ld ms",
                           spoolPath.c_str(), kLockWaitMilliseconds);
                return false;
            }
            platform::SleepMilliseconds(kLockRetryMilliseconds);
        }
        return true;
    }

private:
    bool Lock(short type)
    {
        struct flock lock = {};
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        return ::fcntl(file_.get(), F_OFD_SETLK, &lock) == 0;
    }

    Descriptor file_;
};

bool IsDirectoryEntry(int dirFd, const dirent &entry)
{
    struct stat status;
    if (entry.d_type != DT_UNKNOWN)
        return entry.d_type == DT_DIR;
    return ::fstatat(dirFd, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(status.st_mode);
}

// The highest job number present in the spool; 0 for an empty one. Anything that is not a
// six-digit folder (jobs being assembled, stray files) is ignored.
int HighestJobNumber(const Folder &spool)
{
    int highest = 0;
    ForEachEntry(spool, [&](const dirent &entry) {
        if (zun::dmx::IsSpoolJobName(entry.d_name) && IsDirectoryEntry(spool.fd(), entry)) {
            const int number = static_cast<int>(std::strtol(entry.d_name, nullptr, 10));
            highest = number > highest ? number : highest;
        }
    });
    return highest;
}

// Renames the assembled folder `from` to the job name `to`, never over an existing entry: that
// is the lock between submitters. Where the file system cannot refuse a replacement, the number
// is claimed with mkdir first and the empty folder replaced. Returns 0 or an errno.
int RenameToJobName(int spoolFd, const char *from, const char *to)
{
    if (::renameat2(spoolFd, from, spoolFd, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::mkdirat(spoolFd, to, kJobFolderMode) != 0)
        return errno;
    if (::renameat(spoolFd, from, spoolFd, to) == 0)
        return 0;
    int error = errno;
    ::unlinkat(spoolFd, to, AT_REMOVEDIR);
    return error;
}

// A fresh name ".incoming-XXXXXX" for a job being assembled.
void IncomingName(char (&name)[sizeof kIncomingPrefix + kIncomingLetters])
{
    unsigned char random[kIncomingLetters];
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        for (size_t i = 0; i < sizeof random; ++i)
            random[i] = static_cast<unsigned char>((now.tv_nsec >> (4 * i)) ^ ::getpid() ^ i);
    }
    std::memcpy(name, kIncomingPrefix, sizeof kIncomingPrefix - 1);
    for (size_t i = 0; i < kIncomingLetters; ++i)
        name[sizeof kIncomingPrefix - 1 + i] = kNameLetters[random[i] % (sizeof kNameLetters - 1)];
    name[sizeof name - 1] = '\0';
}

void AtAssemblyPoint(const char *point, int spoolFd, const char *incomingName)
{
    if (PrintAssemblyPoint)
        PrintAssemblyPoint(point, spoolFd, incomingName);
}

// One job while it is assembled in a hidden folder of the spool, made and filled through the
// spool's descriptor and its own. Until Publish() succeeds the destructor removes whatever was
// written, and puts back the mode of a document it linked.
class IncomingJob {
public:
    IncomingJob(const Folder &spool, const std::string &spoolPath)
        : spool_(spool), spoolPath_(spoolPath), jobDir_(spoolPath + "/000000")
    {
    }
    IncomingJob(const IncomingJob &) = delete;
    IncomingJob &operator=(const IncomingJob &) = delete;
    ~IncomingJob()
    {
        if (published_)
            return;
        if (dir_) {
            ::unlinkat(dir_.get(), kTicketName, 0);
            ::unlinkat(dir_.get(), kDocumentName, 0);
        }
        if (InPlace())
            ::unlinkat(spool_.fd(), name_, AT_REMOVEDIR);
        if (linkedFrom_ >= 0)
            ::fchmod(linkedFrom_, linkedMode_);
    }

    // Makes the hidden folder and opens it. What is opened must be what was made: an empty
    // folder of the effective user that no one else may enter (the umask only takes bits away).
    bool Create()
    {
        bool made = false;
        for (int tries = 0; !made && tries < kMostNameTries; ++tries) {
            IncomingName(name_);
            made = ::mkdirat(spool_.fd(), name_, 0700) == 0;
            if (!made && errno != EEXIST)
                return false;
        }
        if (!made)
            return false;
        AtAssemblyPoint("made", spool_.fd(), name_);
        dir_ = Descriptor(
            ::openat(spool_.fd(), name_, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        replaced_ = !dir_ && (errno == ELOOP || errno == ENOTDIR || errno == ENOENT);
        if (!dir_ || ::fstat(dir_.get(), &made_) != 0)
            return false;
        replaced_ =
            made_.st_uid != ::geteuid() || made_.st_nlink != 2 || (made_.st_mode & 077) != 0;
        if (replaced_) {
            dir_ = Descriptor();
            return false;
        }
        return ::fchmod(dir_.get(), kJobFolderMode) == 0;
    }

    bool WriteTicket(const std::string &text)
    {
        Descriptor ticket = CreateFile(kTicketName);
        return ticket && platform::WriteAllUnguarded(ticket.get(), text.data(), text.size()) &&
               ::fsync(ticket.get()) == 0 && ticket.Close();
    }

    bool WriteDocument(const Document &document)
    {
        if (document.movable && LinkDocument(document))
            return true;
        Descriptor copy = CreateFile(kDocumentName);
        return copy && CopyAll(document.file.get(), copy.get()) && ::fsync(copy.get()) == 0 &&
               copy.Close();
    }

    // Gives the complete job the next free number: one more than the highest present, wrapping
    // past 999999 to the lowest free one. The rename is flushed to disk before this returns.
    // The hidden name must still name the folder that was filled; else nothing is renamed.
    bool Publish()
    {
        AtAssemblyPoint("filled", spool_.fd(), name_);
        if (::fsync(dir_.get()) != 0)
            return false;
        replaced_ = !InPlace();
        if (replaced_)
            return false;
        const int highest = HighestJobNumber(spool_);
        const int first = highest >= kHighestJobNumber ? 1 : highest + 1;
        for (int tried = 0; tried < kHighestJobNumber; ++tried) {
            const int number = (first - 1 + tried) % kHighestJobNumber + 1;
            char jobName[16];
            std::snprintf(jobName, sizeof jobName, "%06d", number);
            if (number == 1 && (tried > 0 || highest >= kHighestJobNumber))
                LOG_RECORD(logSpecWarn, "SubmitJob(): job numbers wrapped past %d in \"%s\"",
                           kHighestJobNumber, spoolPath_.c_str());
            const int error = RenameToJobName(spool_.fd(), name_, jobName);
            if (error == 0) {
                published_ = true;
                jobDir_.replace(jobDir_.size() - 6, 6, jobName, 6);
                ::fsync(spool_.fd());
                return true;
            }
            if (error != EEXIST && error != ENOTEMPTY) {
                errno = error;
                return false;
            }
        }
        LOG_RECORD(logSpecError, "SubmitJob(): spool \"%s\" is full", spoolPath_.c_str());
        errno = ENOSPC;
        return false;
    }

    // True when the hidden folder was found replaced by something else (made, or filled).
    bool Replaced() const { return replaced_; }
    const char *Name() const { return name_; }
    const std::string &JobDir() const { return jobDir_; }
    // The job's document, opened for reading through the job's folder.
    Descriptor OpenSpooledDocument() const
    {
        return platform::OpenRegularFile(dir_.get(), kDocumentName, O_RDONLY | O_NOFOLLOW);
    }

private:
    // True while the hidden name names the folder that was made.
    bool InPlace() const
    {
        struct stat now;
        return dir_ && ::fstatat(spool_.fd(), name_, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
               now.st_dev == made_.st_dev && now.st_ino == made_.st_ino;
    }

    Descriptor CreateFile(const char *name)
    {
        Descriptor file(
            ::openat(dir_.get(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        return file && ::fchmod(file.get(), kJobFileMode) == 0 ? std::move(file) : Descriptor();
    }

    // Links the open document into the job; false where it cannot be (another file system, no
    // /proc). Copying a report of many megabytes only to delete the original cost as much as
    // writing it. The link names the open file itself, through /proc, not whatever its path
    // names by now. The document gets the mode a copy would have; its own is put back if the
    // submission fails.
    bool LinkDocument(const Document &document)
    {
        char openFile[40];
        std::snprintf(openFile, sizeof openFile, "/proc/self/fd/%d", document.file.get());
        if (::linkat(AT_FDCWD, openFile, dir_.get(), kDocumentName, AT_SYMLINK_FOLLOW) != 0)
            return false;
        linkedFrom_ = document.file.get();
        linkedMode_ = document.status.st_mode & 07777;
        if (::fchmod(linkedFrom_, kJobFileMode) == 0 && ::fsync(linkedFrom_) == 0)
            return true;
        ::unlinkat(dir_.get(), kDocumentName, 0);
        ::fchmod(linkedFrom_, linkedMode_);
        linkedFrom_ = -1;
        return false;
    }

    const Folder &spool_;
    std::string spoolPath_, jobDir_;
    char name_[sizeof kIncomingPrefix + kIncomingLetters] = "";
    Descriptor dir_;
    struct stat made_ = {};
    bool published_ = false, replaced_ = false;
    int linkedFrom_ = -1;
    mode_t linkedMode_ = 0;
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
const ValueMapping kOrientations[] = {
    {"portrait", "3"}, {"landscape", "4"}, {"reverse-landscape", "5"}, {"reverse-portrait", "6"}};
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
            LOG_RECORD(logSpecWarn, "SubmitJob(): attribute \"%s\" not handed to CUPS",
                       attribute.c_str());
        }
    }
    if (firstPage != -1 || lastPage != -1) {
        std::string range = std::to_string(firstPage < 1 ? 1 : firstPage) + "-" +
                            std::to_string(lastPage < 1 ? INT_MAX : lastPage);
        count = cupsAddOption("page-ranges", range.c_str(), count, options);
    }
}

// Ends the CUPS exchange at the first wait that runs out: the socket is shut down, so every
// later read or write fails at once instead of waiting its own time.
int GiveUp(http_t *http, void *timedOut)
{
    *static_cast<bool *>(timedOut) = true;
    ::shutdown(httpGetFd(http), SHUT_RDWR);
    return 0;
}

// Sends the spooled document to the CUPS queue `queue` as one Print-Job request on a connection
// of its own, bounded by the timeouts of print.h. Every call goes to that connection: libcups'
// convenience calls open one without a timeout of their own. Returns the CUPS job number, or 0
// after a record.
int PrintOnCups(const char *queue, int document, const char *documentPath, const char *user,
                const char *jobName, int numOptions, cups_option_t *options)
{
    const char *server = cupsServer();
    http_t *http = httpConnect2(server, ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                DS_CUPS_CONNECT_TIMEOUT_SECONDS * 1000, nullptr);
    if (!http) {
        LOG_RECORD(logSpecError,
                   "SubmitJob(): CUPS server \"%s\" not reached within %d s: %s; \"%s\" stays "
                   "spooled",
                   server, DS_CUPS_CONNECT_TIMEOUT_SECONDS, std::strerror(errno), documentPath);
        return 0;
    }
    bool timedOut = false;
    httpSetTimeout(http, DS_CUPS_REQUEST_TIMEOUT_SECONDS, GiveUp, &timedOut);
    char uri[HTTP_MAX_URI], resource[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", queue);
    std::snprintf(resource, sizeof resource, "/printers/%s", queue);
    ipp_t *request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, jobName);
    cupsEncodeOptions2(request, numOptions, options, IPP_TAG_OPERATION);
    cupsEncodeOptions2(request, numOptions, options, IPP_TAG_JOB);
    ipp_t *response = cupsDoIORequest(http, request, resource, document, -1);
    ipp_attribute_t *jobId = response && cupsLastError() <= IPP_STATUS_OK_CONFLICTING
                                 ? ippFindAttribute(response, "job-id", IPP_TAG_INTEGER)
                                 : nullptr;
    const int cupsJob = jobId ? ippGetInteger(jobId, 0) : 0;
    ippDelete(response);
    httpClose(http);
    if (timedOut)
        LOG_RECORD(logSpecError,
                   "SubmitJob(): CUPS server \"%s\" did not answer within %d s; \"%s\" stays "
                   "spooled",
                   server, DS_CUPS_REQUEST_TIMEOUT_SECONDS, documentPath);
    else if (cupsJob == 0)
        LOG_RECORD(logSpecError, "SubmitJob(): CUPS queue \"%s\" refused \"%s\": %s", queue,
                   documentPath, cupsLastErrorString());
    return cupsJob;
}

// Submits the spooled document to the CUPS queue `queue`. libcups writes to its socket without
// MSG_NOSIGNAL, and ignores SIGPIPE for the whole process at its first use: the guard keeps the
// signal from the host, and the host's disposition is put back while the guard still blocks it.
bool SubmitToCups(const char *queue, const IncomingJob &job, const char *user, const char *jobName,
                  int numOptions, cups_option_t *options)
{
    const std::string documentPath = job.JobDir() + "/" + kDocumentName;
    const Descriptor document = job.OpenSpooledDocument();
    if (!document) {
        LOG_RECORD(logSpecError, "SubmitJob(): \"%s\" cannot be read for CUPS: %s",
                   documentPath.c_str(), std::strerror(errno));
        return false;
    }
    struct sigaction hostPipe;
    ::sigaction(SIGPIPE, nullptr, &hostPipe);
    int cupsJob = 0;
    {
        const platform::WriteSignalGuard quiet;
        cupsJob = PrintOnCups(queue, document.get(), documentPath.c_str(), user, jobName,
                              numOptions, options);
        ::sigaction(SIGPIPE, &hostPipe, nullptr);
    }
    if (cupsJob != 0)
        LOG_RECORD(logSpecInfo, "SubmitJob(): \"%s\" is CUPS job %s-%d", documentPath.c_str(),
                   queue, cupsJob);
    return cupsJob != 0;
}

// Spools one job; a failed job leaves nothing in the spool. Returns DS_OK with `job` published,
// or a DS_ERR_* status after a log record.
int SpoolJob(IncomingJob &job, const std::string &spoolPath, const std::string &ticket,
             const Document &document)
{
    // One guard for every write of the job: a file size limit fails a write (EFBIG) instead of
    // ending the process with SIGXFSZ.
    const platform::WriteSignalGuard quiet;
    if (!job.Create()) {
        if (job.Replaced())
            LOG_RECORD(logSpecError,
                       "SubmitJob(): job folder \"%s/%s\" was replaced while it was made",
                       spoolPath.c_str(), job.Name());
        else
            LOG_RECORD(logSpecError, "SubmitJob(): spool directory \"%s\" cannot be written: %s",
                       spoolPath.c_str(), std::strerror(errno));
        return DS_ERR_SPOOL;
    }
    if (!job.WriteTicket(ticket)) {
        LOG_RECORD(logSpecError, "SubmitJob(): ticket in \"%s\" cannot be written: %s",
                   spoolPath.c_str(), std::strerror(errno));
        return DS_ERR_SPOOL;
    }
    if (!job.WriteDocument(document)) {
        LOG_RECORD(logSpecError, "SubmitJob(): document cannot be copied into \"%s\": %s",
                   spoolPath.c_str(), std::strerror(errno));
        return DS_ERR_DOCUMENT;
    }
    if (!job.Publish()) {
        if (job.Replaced())
            LOG_RECORD(logSpecError,
                       "SubmitJob(): job folder \"%s/%s\" was replaced while it was filled",
                       spoolPath.c_str(), job.Name());
        else
            LOG_RECORD(logSpecError, "SubmitJob(): job in \"%s\" cannot be put in place: %s",
                       spoolPath.c_str(), std::strerror(errno));
        return DS_ERR_SPOOL;
    }
    return DS_OK;
}

// Hands a spooled job to the CUPS queue that PRINT_QUEUE names; DS_OK when none is named. The job
// is already spooled, so running out of memory here is a failed hand-over like any other.
int HandToCups(const std::vector<std::string> &attributes, const IncomingJob &job, const char *user,
               const char *jobName, int32_t firstPage, int32_t lastPage)
{
    const char *queue = platform::EnvValue("PRINT_QUEUE");
    if (!queue) {
        return DS_OK;
    }
    cups_option_t *cupsOptions = nullptr;
    int numOptions = 0;
    bool accepted = false;
    try {
        CupsOptions(attributes, firstPage, lastPage, numOptions, &cupsOptions);
        accepted = SubmitToCups(queue, job, user, jobName, numOptions, cupsOptions);
    } catch (...) {
        LOG_RECORD(logSpecError, "SubmitJob(): out of memory handing \"%s\" to CUPS",
                   job.JobDir().c_str());
    }
    cupsFreeOptions(numOptions, cupsOptions);
    return accepted ? DS_OK : DS_ERR_QUEUE;
}

// Opens the spool and takes its lock; false after a record when it cannot be used.
bool OpenLockedSpool(const std::string &spoolPath, Folder &spool, SpoolLock &lock)
{
    int error = 0;
    spool = OpenSpool(spoolPath, kMostMissingFolders, &error);
    if (spool.state() == Folder::State::kUnsafe) {
        LOG_RECORD(logSpecError, "SubmitJob(): spool directory \"%s\" refused: %s",
                   spoolPath.c_str(), spool.why());
        return false;
    }
    if (!spool.verified()) {
        LOG_RECORD(logSpecError, "SubmitJob(): spool directory \"%s\" cannot be written: %s",
                   spoolPath.c_str(), std::strerror(error));
        return false;
    }
    return lock.Take(spool, spoolPath);
}

int Submit(const std::vector<std::string> &attributes, const char *user, const char *jobName,
           const char *path, Ds_precedence precedence, const char *operation, int32_t firstPage,
           int32_t lastPage, uint16_t options)
{
    if (!ArgumentsAreValid(attributes, user, jobName, path, operation)) {
        return DS_ERR_ARGUMENT;
    }
    const bool transient = IsTransient(attributes);
    Document document;
    if (!OpenDocument(path, transient, document)) {
        return DS_ERR_ARGUMENT;
    }
    if (options != 0) {
        LOG_RECORD(logSpecWarn, "SubmitJob(): reserved options 0x%x ignored", options);
    }
    const std::string spoolPath = SpoolPath();
    Folder spool;
    SpoolLock lock;
    if (!OpenLockedSpool(spoolPath, spool, lock)) {
        return DS_ERR_SPOOL;
    }
    IncomingJob job(spool, spoolPath);
    int status = SpoolJob(job, spoolPath,
                          TicketText(attributes, user, jobName, precedence, operation), document);
    if (status != DS_OK) {
        return status;
    }
    if (transient) {
        RemoveTransient(path, document);
    }
    LOG_RECORD(logSpecInfo, "SubmitJob(): \"%s\" spooled as \"%s\"", path, job.JobDir().c_str());
    return HandToCups(attributes, job, user, jobName, firstPage, lastPage);
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
        LOG_RECORD(logSpecError, "SubmitJob(): out of memory");
        return DS_ERR_SPOOL;
    }
}

} // namespace dmx
} // namespace zun
