/*
 * activityReport.cpp - the Internet Fax Activity Report plug-in.
 *
 * The device software calls ARL_ActivityReport(); one call is one report run:
 *
 *   1. fetch the completed Internet Fax jobs from the job tracker;
 *   2. copy the PostScript template into the body file, writing one job entry per job where the
 *      template holds the marker line "__GENERATE_BODY_HERE__";
 *   3. have the stream editor turn the body file into the report file, replacing every tag by
 *      the hex text of its translated or run-time value;
 *   4. submit the report file as a print job.
 *
 * The file reads in the order of a run:
 *
 *   1. Process-wide state and tag tables
 *   2. The report run and the print submission
 *   3. The report body: job entries, recipient rows, date and time texts
 *   4. Text conversion
 *   5. The finishing pass
 *
 * Every text reaches the PostScript as hex text (two hex digits per byte) inside a hex string
 * "<...>"; tags stand inside those strings as plain text until the finishing pass replaces them.
 * Only ARL_ActivityReport is exported; everything else has hidden visibility and is declared in
 * activityReportInternals.h for the tests.
 */

#include "activityReportInternals.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <stdio_ext.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

#include "config.h"
#include "jtapi.h"
#include "log.h"
#include "print.h"
#include "sniffer.h"
#include "streameditor.h"
#include "translation.h"

/* Every record names this file and the line it comes from. */
#define LOG_RECORD(kind, ...) Log_SpecEntry((kind), "activityReport", __LINE__, __VA_ARGS__)
#define LOG_LEVEL(level, ...) Log_Entry((level), "activityReport", __LINE__, __VA_ARGS__)

/* ============================================================================================
 * 1. Process-wide state and tag tables
 *
 * These outlive a run. ARL_ActivityReport lets one run at a time touch them (section 2), and
 * everything they hold on the heap goes back when the device unloads the plug-in.
 * ========================================================================================== */

ArlState ARL_STATE = {nullptr, 0, 0, 0};
int32_t autoConvert = 1;
RunScratch runScratch;

namespace {

const char kMarker[] = "__GENERATE_BODY_HERE__";
const char kDefaultTempDir[] = "/tmp/tmpfiles";
const char kBodyFileName[] = "ar_output_pdl.ps";
char bodyBuffer[64 * 1024]; // the body stream's buffer; one run at a time uses it
const char kReportFileName[] = "activityReport.ps";
const char kLockFileName[] = "activityReport.lock";

enum { kTemplatePieceSize = 255, kReportKind = 5 };
enum { kInStrSystemCharset = 1, kInStrUnicode = 2, kInStrLatin9 = 3 };

} // namespace

/* The 49 constant tags: each is replaced by the translated text of its string id. */
const ConstantCmd constantCmdTable[ARL_NUM_CONSTANT_CMDS] = {
    {"__ar_const_header__", 20200},
    {"__ar_const_internet_fax_activity_report__", 20201},
    {"__ar_const_device_name__", 20202},
    {"__ar_const_report_date__", 20203},
    {"__ar_const_report_time__", 20204},
    {"__ar_const_copyright__", 42000},
    {"__ar_const_copyright_extra__", 42001},
    {"__ar_const_page__", 20205},
    {"__ar_const_of__", 20206},
    {"__ar_const_job_date__", 20207},
    {"__ar_const_job_time__", 20208},
    {"__ar_const_completion_date__", 20209},
    {"__ar_const_completion_time__", 20210},
    {"__ar_const_recipients_acknowledged__", 20211},
    {"__ar_const_subject__", 20212},
    {"__ar_const_from__", 20213},
    {"__ar_const_internet_fax_job_status__", 20214},
    {"__ar_const_ifax_job_status_successful__", 20215},
    {"__ar_const_ifax_job_status_unconfirmed__", 20216},
    {"__ar_const_ifax_job_status_failed__", 20217},
    {"__ar_const_pages_scanned__", 20218},
    {"__ar_const_attachment_size__", 20219},
    {"__ar_const_friendly_name__", 20220},
    {"__ar_const_email_address__", 20221},
    {"__ar_const_process_state__", 20222},
    {"__ar_const_status_date_time__", 20223},
    {"__ar_const_to__", 20224},
    {"__ar_const_cc__", 20225},
    {"__ar_const_max_recipients_msg__", 20226},
    {"__ar_const_process_steps__", 20227},
    {"__ar_const_success_processing_unconfirmed__", 20228},
    {"__ar_const_failure__", 20229},
    {"__ar_const_at_sending__", 20230},
    {"__ar_const_at_delivery__", 20231},
    {"__ar_const_at_receiving_device__", 20232},
    {"__ar_const_sent_accepted_by_email__", 20233},
    {"__ar_const_delivered_accepted_by_email__", 20234},
    {"__ar_const_processed_file_printed__", 20235},
    {"__ar_const_error_sheet_printed__", 20236},
    {"__ar_const_failed_delivery_to_email__", 20237},
    {"__ar_const_rejected_file_not_printed__", 20238},
    {"processState_Sent", 20239},
    {"processState_Delivered", 20240},
    {"processState_Processed", 20241},
    {"processState_Error", 20242},
    {"processState_Failed", 20243},
    {"processState_Rejected", 20244},
    {"__ar_const_cpyright_year__", 42002},
    {"__ar_const_cpyright_string__", 42003},
};

/* The 5 variable tags. Their replacement buffers are allocated by the first run and kept. */
VariableCmd sedCmdTable[ARL_NUM_VARIABLE_CMDS] = {
    {1, SED_CMD_REPLACE, "__media_color__", nullptr, "White", 0},
    {2, SED_CMD_REPLACE, "__media_type__", nullptr, "Standard", 0},
    {3, SED_CMD_SYSTEM_DATE, "__system_hex_date__", nullptr, nullptr, 0},
    {4, SED_CMD_SYSTEM_TIME, "__system_hex_time__", nullptr, nullptr, 0},
    {5, SED_CMD_REPLACE, "__device_hex_name__", nullptr, "", 0},
};

enum { kMediaColorAttr = 1, kMediaTypeAttr = 2, kDeviceNameAttr = 5 };

namespace {

/* The system charset name as the plug-in copied it; ARL_STATE points at it. */
char *ownedCharsetName = nullptr;

/* 'ProcessStateRelease' - gives back the replacement buffers and the charset name when the
 * plug-in is unloaded, so that a device that loads it again and again loses nothing. */
struct ProcessStateRelease {
    ~ProcessStateRelease()
    {
        for (VariableCmd &record : sedCmdTable) {
            std::free(record.replacePattern);
            record.replacePattern = nullptr;
        }
        if (ARL_STATE.transLibEncoding == ownedCharsetName)
            ARL_STATE.transLibEncoding = nullptr;
        std::free(ownedCharsetName);
        ownedCharsetName = nullptr;
    }
} processStateRelease;

} // namespace

/* ============================================================================================
 * 2. The report run and the print submission
 * ========================================================================================== */

namespace {

/* One run at a time in this process: the runs share the process-wide state above. */
std::mutex runMutex;

struct FreeDeleter {
    void operator()(char *text) const { std::free(text); }
};
typedef std::unique_ptr<char, FreeDeleter> HeapText;

struct FileCloser {
    void operator()(FILE *stream) const { std::fclose(stream); }
};
typedef std::unique_ptr<FILE, FileCloser> Stream;

/* 'TempFilesDir()' - the directory of the run's working files; logs when the default is used. */
const char *TempFilesDir()
{
    const char *dir = std::getenv("TEMP_FILES_DIR");
    if (!dir) {
        LOG_RECORD(logSpecError, "ENV TEMP_FILES_DIR not defined");
        dir = kDefaultTempDir;
    }
    return dir;
}

/* ---- The working folder ------------------------------------------------------------------
 *
 * The run creates, writes and removes files only in the folder of its working files, which it
 * checks once and then reaches through its descriptor alone: every folder of the path must be
 * owned by root or the run's user and writable by no one else unless it is sticky, and a link
 * on the way is followed only when root or the run's user owns it. In a sticky folder that
 * others may write (such as /tmp itself), only the run's own files are touched. A missing
 * folder is not created: the device makes it (0700, the run's user's) before it calls the
 * plug-in, and without it the body cannot be opened, as ever. The device's services have these
 * rules in their platform layer; the plug-in must build against the device's own service
 * libraries alone, so it keeps these small copies of the few it needs. */

/* 'AboveStandardStreams()' - `fd` moved to a number of 3 or more: a host that runs with its
 * standard streams closed must not find its output or its error records in the run's files. */
int AboveStandardStreams(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

/* 'Descriptor' - owns one file descriptor, never 0, 1 or 2, and closes it. */
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(AboveStandardStreams(fd)) {}
    Descriptor(Descriptor &&other) noexcept : fd_(other.Release()) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

/* 'WorkFolder' - the folder of the run's working files, checked one folder of its path at a
 * time from "/" (or the current folder), so that no folder is entered before its owner and
 * mode were looked at. Refused (kUnsafe) for an owner or mode that lets another user change
 * it; kMissing when a folder on the way is missing, not a folder, or cannot be entered. */
class WorkFolder {
public:
    enum State { kVerified, kMissing, kUnsafe };

    explicit WorkFolder(const char *path);
    State state() const { return state_; }
    bool verified() const { return state_ == kVerified; }
    int fd() const { return fd_.get(); }
    bool shared() const { return shared_; }
    const char *path() const { return path_; }
    /* Why it was refused: the folder, its owner and its mode, or the link and its owner. */
    const char *why() const { return why_; }

private:
    bool Begin(bool absolute);
    bool Enter(const char *name);
    bool Follow(const char *name, uid_t owner, char *pending, size_t *at);
    bool Check(const char *name);

    const char *path_;
    State state_ = kMissing;
    Descriptor fd_;
    bool shared_ = false;
    int linksFollowed_ = 0;
    char why_[160] = "";
};

enum { kMostLinksFollowed = 16 };

bool TrustedOwner(uid_t owner)
{
    return owner == 0 || owner == geteuid();
}

WorkFolder::WorkFolder(const char *path) : path_(path)
{
    char pending[PATH_MAX]; // what is left of the path, links replaced by their targets
    if (std::snprintf(pending, sizeof pending, "%s", path) >= int(sizeof pending) ||
        !Begin(pending[0] == '/'))
        return;
    char name[NAME_MAX + 1];
    for (size_t at = 0; pending[at += std::strspn(pending + at, "/")];) {
        const size_t length = std::strcspn(pending + at, "/");
        if (length > NAME_MAX)
            return;
        std::memcpy(name, pending + at, length);
        name[length] = '\0';
        at += length;
        struct stat entry;
        if (std::strcmp(name, ".") == 0)
            continue;
        if (fstatat(fd_.get(), name, &entry, AT_SYMLINK_NOFOLLOW) != 0)
            return;
        if (S_ISLNK(entry.st_mode) ? !Follow(name, entry.st_uid, pending, &at) : !Enter(name))
            return;
    }
    state_ = kVerified;
}

bool WorkFolder::Begin(bool absolute)
{
    fd_ = Descriptor(open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd_ && Check(absolute ? "/" : ".");
}

bool WorkFolder::Enter(const char *name)
{
    Descriptor next(openat(fd_.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next)
        return false;
    fd_ = std::move(next);
    return Check(name);
}

/* A link is trusted as far as its owner: one that root or the run's user made points where they
 * meant. Its target takes its place in what is left of the path, and is walked like the rest. */
bool WorkFolder::Follow(const char *name, uid_t owner, char *pending, size_t *at)
{
    if (!TrustedOwner(owner)) {
        std::snprintf(why_, sizeof why_, "\"%.100s\" is a symbolic link owned by uid %u", name,
                      unsigned(owner));
        state_ = kUnsafe;
        return false;
    }
    char target[PATH_MAX];
    const ssize_t length = readlinkat(fd_.get(), name, target, sizeof target);
    const size_t rest = std::strlen(pending + *at);
    if (++linksFollowed_ > kMostLinksFollowed || length <= 0 || size_t(length) + rest >= PATH_MAX)
        return false;
    std::memmove(pending + length, pending + *at, rest + 1);
    std::memcpy(pending, target, size_t(length));
    *at = 0;
    return pending[0] != '/' || Begin(true);
}

bool WorkFolder::Check(const char *name)
{
    struct stat status;
    if (fstat(fd_.get(), &status) != 0)
        return false;
    shared_ = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (TrustedOwner(status.st_uid) && (!shared_ || (status.st_mode & S_ISVTX) != 0))
        return true;
    std::snprintf(why_, sizeof why_, "\"%.100s\" is owned by uid %u with mode %04o", name,
                  unsigned(status.st_uid), unsigned(status.st_mode & 07777));
    state_ = kUnsafe;
    return false;
}

/* 'CreateBody()' - the body stream on a file created new in the verified folder, mode 0600,
 * never through a link. Whatever stood under its name is removed first without being followed;
 * in a folder others may write, only when it is the run's own. NULL when it cannot be made. */
FILE *CreateBody(const WorkFolder &folder)
{
    struct stat existing;
    if (fstatat(folder.fd(), kBodyFileName, &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (folder.shared() && existing.st_uid != geteuid())
            return nullptr;
        unlinkat(folder.fd(), kBodyFileName, 0); // a folder stays, and the create fails
    }
    Descriptor file(openat(folder.fd(), kBodyFileName,
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
    FILE *body = file ? fdopen(file.get(), "w") : nullptr;
    if (body)
        file.Release();
    return body;
}

/* ---- The run's lock ------------------------------------------------------------------------ */

/* 'SleepMilliseconds()' - sleeps the whole time, however often a signal interrupts it. */
void SleepMilliseconds(long milliseconds)
{
    timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {}
}

long MillisecondsSince(const timespec &start)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return long(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

/* 'RunLock' - one run at a time in a working folder, across processes: a POSIX record lock on
 * a lock file of the run's own (regular, one link, the run's user's, mode 0600) that stays in
 * the verified folder. No other user can open that file, so none can take the lock; and a
 * record lock belongs to the process, so a child that the host forks during a run does not
 * hold it, and it ends with the run. Record locks do not keep threads of one process apart:
 * runMutex does that. The lock file is never removed, since a run waiting on it would then
 * lock a file that no later run sees. */
class RunLock {
public:
    enum Outcome { kTaken, kBusy, kNotOwn, kNoFile };

    Outcome Take(const WorkFolder &folder);

private:
    Descriptor file_; // closing it drops the lock
};

RunLock::Outcome RunLock::Take(const WorkFolder &folder)
{
    file_ =
        Descriptor(openat(folder.fd(), kLockFileName,
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600));
    struct stat status;
    if (!file_ || fstat(file_.get(), &status) != 0) {
        // Something that is not the run's file in its place, or a folder the run cannot write.
        return fstatat(folder.fd(), kLockFileName, &status, AT_SYMLINK_NOFOLLOW) == 0 ? kNotOwn
                                                                                      : kNoFile;
    }
    if (!S_ISREG(status.st_mode) || status.st_nlink != 1 || status.st_uid != geteuid() ||
        (status.st_mode & 077) != 0)
        return kNotOwn;
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long pause = 1; fcntl(file_.get(), F_SETLK, &whole) != 0;
         pause = std::min(pause * 2, 64L)) {
        if (errno != EAGAIN && errno != EACCES)
            return kNoFile;
        if (MillisecondsSince(start) >= runLockWaitMilliseconds)
            return kBusy;
        SleepMilliseconds(pause);
    }
    return kTaken;
}

/* 'WriteSignalGuard' - while the run writes, SIGPIPE and SIGXFSZ are blocked on its thread, so
 * a write past a file size limit fails (EFBIG) instead of ending the host. At the end, one of
 * the two that arrived meanwhile is taken back and the host's mask restored: once per run, not
 * per write. One that the host had blocked and pending before stays. */
class WriteSignalGuard {
public:
    WriteSignalGuard()
    {
        sigset_t guarded;
        sigemptyset(&guarded);
        sigaddset(&guarded, SIGPIPE);
        sigaddset(&guarded, SIGXFSZ);
        sigemptyset(&pendingBefore_);
        pthread_sigmask(SIG_BLOCK, &guarded, &previous_);
        if (sigismember(&previous_, SIGPIPE) == 1 || sigismember(&previous_, SIGXFSZ) == 1)
            sigpending(&pendingBefore_);
    }
    ~WriteSignalGuard()
    {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        for (const int signal : {SIGPIPE, SIGXFSZ}) {
            if (sigismember(&pending, signal) == 1 && sigismember(&pendingBefore_, signal) != 1)
                TakeBack(signal);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    WriteSignalGuard(const WriteSignalGuard &) = delete;
    WriteSignalGuard &operator=(const WriteSignalGuard &) = delete;

private:
    static void TakeBack(int signal)
    {
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        const timespec now = {0, 0};
        while (sigtimedwait(&one, nullptr, &now) < 0 && errno == EINTR) {}
    }

    sigset_t previous_, pendingBefore_;
};

/* 'OpenRegularFile()' - a read stream on `path` when it names a regular file, else NULL. A FIFO
 * would block the open and a device or a folder would never end the copy; neither is a file of
 * the run. Only the open itself does not wait (O_NONBLOCK); reads then behave as on any file. */
FILE *OpenRegularFile(const char *path)
{
    Descriptor file(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status;
    if (!file || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return nullptr;
    fcntl(file.get(), F_SETFL, fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    FILE *stream = fdopen(file.get(), "r");
    if (stream)
        file.Release();
    return stream;
}

/* 'TempFilePath()' - "<dir>/<name>" in a heap text that fits exactly; the caller frees it.
 * NULL when it cannot be allocated. */
char *TempFilePath(const char *dir, const char *name)
{
    size_t size = std::strlen(dir) + 1 + std::strlen(name) + 1;
    char *path = static_cast<char *>(std::malloc(size));
    if (path)
        std::snprintf(path, size, "%s/%s", dir, name);
    return path;
}

/* 'ReadField()' - reads one job-tracker field; the value's address, or NULL when the field is
 * missing. `status` (optional) receives the call's own status. */
const void *ReadField(JTAPI_ReportData *report, int32_t field, int32_t jobIndex,
                      int32_t addressIndex, int32_t *status = nullptr)
{
    void *value = nullptr;
    int32_t result =
        jtapi_get_field_data(report, field, jobIndex, addressIndex, &value, &runScratch.aux);
    if (status)
        *status = result;
    return result == 0 ? value : nullptr;
}

/* 'CountValue()' - the count a field holds, 0 when the field is missing. */
int32_t CountValue(const void *value)
{
    return value ? *static_cast<const int32_t *>(value) : 0;
}

int32_t ReadJobCount(JTAPI_ReportData *report)
{
    const void *value = ReadField(report, JTAPI_NUM_JOBS, 0, 0);
    if (!value)
        LOG_RECORD(logSpecError, "JTAPI_NUM_JOBS is NULL. Use default = 0");
    int32_t jobCount = CountValue(value);
    LOG_RECORD(logSpecInfo, "Number of jobs = %d", jobCount);
    return jobCount;
}

/* 'ReadPiece()' - reads the next template piece into `piece`: up to and including a newline, at
 * most 254 bytes, NUL bytes included. Returns its length; 0 at the end or on a read error. */
size_t ReadPiece(FILE *templateFile, char *piece)
{
    size_t length = 0;
    int byte = 0;
    while (length < kTemplatePieceSize - 1 && (byte = getc_unlocked(templateFile)) != EOF) {
        piece[length++] = static_cast<char>(byte);
        if (byte == '\n')
            break;
    }
    return length;
}

/* 'CopyTemplate()' - copies the template into the body in pieces of at most 254 bytes. A piece
 * holding the marker is replaced by the entries of every job. Returns ARL_STATUS_OK, or
 * ARL_STATUS_CONVERSION_FAILED when a text of a job entry cannot be converted (the copy stops
 * there). */
int32_t CopyTemplate(FILE *templateFile, FILE *body, JTAPI_ReportData *report, int32_t jobCount,
                     const char *language)
{
    char piece[kTemplatePieceSize];
    while (size_t length = ReadPiece(templateFile, piece)) {
        if (std::string_view(piece, length).find(kMarker) == std::string_view::npos) {
            std::fwrite(piece, 1, length, body);
            continue;
        }
        for (int32_t jobIndex = 1; jobIndex <= jobCount; ++jobIndex) {
            if (WriteJobEntry(body, report, jobIndex, language) == ARL_STATUS_CONVERSION_FAILED)
                return ARL_STATUS_CONVERSION_FAILED;
        }
    }
    return ARL_STATUS_OK;
}

/* 'CloseRunFiles()' - closes the template and then the body, and turns an I/O error that the
 * copy could not see into the run's status: a template that could not be read to its end, or a
 * body that could not be written whole (a full disk), must not become a report. */
int32_t CloseRunFiles(Stream &templateFile, Stream &body, const char *templatePath)
{
    bool templateRead = std::ferror(templateFile.get()) == 0;
    templateFile.reset();
    bool bodyWritten = std::ferror(body.get()) == 0;
    bodyWritten = std::fclose(body.release()) == 0 && bodyWritten;
    if (!templateRead) {
        LOG_RECORD(logSpecError, "Activity Report Template file %s cannot be read.", templatePath);
        return ARL_STATUS_NO_TEMPLATE;
    }
    if (!bodyWritten) {
        LOG_RECORD(logSpecError, "Cannot write PDL file, errno = %i.", errno);
        return ARL_STATUS_BODY_NOT_WRITABLE;
    }
    return ARL_STATUS_OK;
}

/* 'FinishAndSubmit()' - runs the finishing pass and, when it succeeded, submits the report.
 * Returns the run's status. */
int32_t FinishAndSubmit(const char *mediaType, const char *mediaColor, const char *bodyPath,
                        const char *language)
{
    HeapText reportPath(TempFilePath(TempFilesDir(), kReportFileName));
    if (!reportPath) {
        // Without a path there is no report file to write: the finishing pass cannot run.
        LOG_RECORD(logSpecError, "malloc() failed for the report path.");
        return ARL_STATUS_FINISHING_FAILED;
    }
    LOG_RECORD(logSpecInfo, "Submit PDL File = \"%s\"", reportPath.get());
    int32_t status =
        ARL_GenerateActivityReport(mediaType, mediaColor, bodyPath, reportPath.get(), language);
    if (status == ARL_STATUS_OK)
        SubmitReport(reportPath.get());
    return status;
}

/* 'ReportData' - the job tracker's report data of one run. Whatever way the run ends, the data
 * goes back: through Release() at the run's common end, silently on an early exit. */
class ReportData {
public:
    ReportData() { ResetRunScratch(&data_); }
    ~ReportData()
    {
        if (held_)
            jtapi_release_report_data(&data_);
        runScratch.report = nullptr; // the handle lives on this run's stack
    }
    ReportData(const ReportData &) = delete;
    ReportData &operator=(const ReportData &) = delete;

    int32_t Fetch()
    {
        int32_t result = jtapi_get_completed_jobs_report_data(kReportKind, &data_);
        held_ = result == 0;
        return result;
    }
    void Release()
    {
        held_ = false;
        LOG_RECORD(logSpecInfo, "Releasing Report Data...");
        int32_t result = jtapi_release_report_data(&data_);
        if (result != 0)
            LOG_RECORD(logSpecError, "jtapi_release_report_data() FAILURE %d", result);
        else
            LOG_RECORD(logSpecInfo, "jtapi_release_report_data() SUCCESSFUL");
    }
    JTAPI_ReportData *get() { return &data_; }

private:
    JTAPI_ReportData data_ = {};
    bool held_ = false;
};

/* 'GenerateAndFinish()' - from the job count to the submitted report: the steps of a run that
 * follow the opening of its files. `stage` always holds the status that an exception thrown
 * by the step under way means. Returns the run's status. */
int32_t GenerateAndFinish(const char *mediaType, const char *mediaColor, const char *language,
                          ReportData &report, Stream &templateFile, Stream &body,
                          const char *templatePath, const char *bodyPath, int32_t &stage)
{
    stage = ARL_STATUS_CONVERSION_FAILED;
    int32_t jobCount = ReadJobCount(report.get());
    int32_t status = CopyTemplate(templateFile.get(), body.get(), report.get(), jobCount, language);
    int32_t closed = CloseRunFiles(templateFile, body, templatePath);
    if (status == ARL_STATUS_OK)
        status = closed;
    if (status != ARL_STATUS_OK)
        return status;
    stage = ARL_STATUS_NO_MEMORY;
    status = PrepareReplacementBuffers();
    if (status != ARL_STATUS_OK)
        return status;
    stage = ARL_STATUS_FINISHING_FAILED;
    return FinishAndSubmit(mediaType, mediaColor, bodyPath, language);
}

/* 'RunReport()' - one report run in `folder`, which it writes only when `locked` says that the
 * caller holds the run locks. Nothing throws out of it. */
int32_t RunReport(const char *mediaType, const char *mediaColor, const char *language,
                  const WorkFolder &folder, bool locked)
{
    static const char kName[] = "ARL_ActivityReport";
    LOG_RECORD(logSpecEnter, "ARL_ActivityReport");
    autoConvert = 1;

    ReportData report;
    int32_t result = report.Fetch();
    if (result != 0) {
        LOG_RECORD(logSpecError, "jtapi_get_completed_jobs_report_data() FAILED status = %d.",
                   result);
        return ARL_STATUS_NO_JOB_DATA;
    }
    LOG_RECORD(logSpecInfo, "Job Tracker data retreived successfully");

    const char *templatePath = std::getenv("ACTIVITY_REPORT_TEMPLATE");
    Stream templateFile(templatePath ? OpenRegularFile(templatePath) : nullptr);
    if (!templateFile) {
        LOG_RECORD(logSpecError, "ENV ACTIVITY_REPORT_TEMPLATE not defined for Activity Report.");
        return ARL_STATUS_NO_TEMPLATE;
    }
    LOG_RECORD(logSpecInfo, "Activity Report Template file %s opened", templatePath);

    HeapText bodyPath(TempFilePath(TempFilesDir(), kBodyFileName));
    if (bodyPath)
        LOG_RECORD(logSpecInfo, "Open temp output file \"%s\"", bodyPath.get());
    Stream body(bodyPath && locked ? CreateBody(folder) : nullptr);
    if (!body) {
        if (folder.state() == WorkFolder::kUnsafe)
            LOG_RECORD(logSpecError, "%s(): working folder %s refused: %s.", kName, folder.path(),
                       folder.why());
        LOG_RECORD(logSpecError, "Cannot open PDL file for writing.");
        return ARL_STATUS_BODY_NOT_WRITABLE;
    }
    // From here on the run writes: a file size limit must fail a write, not end the host.
    const WriteSignalGuard guard;
    // The body is this run's alone, so stdio need not lock it, and a large buffer writes the
    // report in a few thousand system calls instead of one per 4 KiB.
    __fsetlocking(body.get(), FSETLOCKING_BYCALLER);
    std::setvbuf(body.get(), bodyBuffer, _IOFBF, sizeof bodyBuffer);

    int32_t stage = ARL_STATUS_CONVERSION_FAILED;
    int32_t status;
    try {
        status = GenerateAndFinish(mediaType, mediaColor, language, report, templateFile, body,
                                   templatePath, bodyPath.get(), stage);
    } catch (const std::exception &error) {
        // Out of memory, or an exception of the translation classes: the stage's status.
        LOG_RECORD(logSpecError, "%s(): %s, status = %d.", kName, error.what(), stage);
        status = stage;
    } catch (...) {
        LOG_RECORD(logSpecError, "%s(): unknown exception, status = %d.", kName, stage);
        status = stage;
    }
    templateFile.reset();
    body.reset();

    // Common end: whatever happened after the body file existed. The report file stays; it
    // belongs to the print service now (or shows what the stream editor left after a failure).
    report.Release();
    unlinkat(folder.fd(), kBodyFileName, 0);
    return status;
}

/* Market regions 2, 3 and 5 print on A4; every other region on Letter. */
bool RegionUsesA4(uint32_t region)
{
    return region <= 5 && ((0x2cu >> region) & 1u) != 0;
}

} // namespace

ARL_INTERNAL void ResetRunScratch(JTAPI_ReportData *report)
{
    std::memset(&runScratch, 0, sizeof runScratch);
    runScratch.report = report;
}

ARL_INTERNAL long runLockWaitMilliseconds = 30000;

/* 'ARL_ActivityReport()' - one report run, from the job data to the print job. Calls of several
 * threads, and of several processes sharing the working folder, run one after the other; a run
 * that finds the folder held by another for runLockWaitMilliseconds ends with
 * ARL_STATUS_BODY_NOT_WRITABLE before it starts, having written nothing. */
extern "C" int32_t ARL_ActivityReport(const char *mediaType, const char *mediaColor,
                                      const char *language)
{
    static const char kName[] = "ARL_ActivityReport";
    try {
        std::lock_guard<std::mutex> oneRunInThisProcess(runMutex);
        // The folder of the body path "%s/%s": an empty TEMP_FILES_DIR puts the files in "/".
        const char *dir = std::getenv("TEMP_FILES_DIR");
        const WorkFolder folder(!dir ? kDefaultTempDir : *dir ? dir : "/");
        RunLock oneRunInThisFolder;
        // A folder that is refused, missing or cannot be written is not locked: the run writes
        // nothing there, and the body's open reports it.
        const RunLock::Outcome lock =
            folder.verified() ? oneRunInThisFolder.Take(folder) : RunLock::kNoFile;
        if (lock == RunLock::kBusy) {
            LOG_RECORD(logSpecError, "%s(): another run held the working folder %s for %ld ms.",
                       kName, folder.path(), runLockWaitMilliseconds);
            return ARL_STATUS_BODY_NOT_WRITABLE;
        }
        if (lock == RunLock::kNotOwn) {
            LOG_RECORD(logSpecError, "%s(): %s in %s is not a lock file of the run's own.", kName,
                       kLockFileName, folder.path());
            return ARL_STATUS_BODY_NOT_WRITABLE;
        }
        return RunReport(mediaType, mediaColor, language, folder, lock == RunLock::kTaken);
    } catch (...) {
        // Only the process lock itself can fail here; the run did not start.
        LOG_RECORD(logSpecError, "%s(): the run lock cannot be taken.", "ARL_ActivityReport");
        return ARL_STATUS_NO_JOB_DATA;
    }
}

/* 'SubmitReport()' - hands the report file to the print service as a transient one-copy simplex
 * job on the paper of the market region. The print service's answer is not examined. */
ARL_INTERNAL void SubmitReport(const char *reportPath)
{
    try {
        std::vector<std::string> attributes = {
            "start-sheet=none",
            "copy-count=1",
            "content-orientation=oid-val-content-orientation-portrait",
            "sides=1",
            "plex=simplex",
            "transient-file=TRUE",
            "job-scheduling=after-complete",
        };
        uint32_t region = 0;
        if (CfgSrvGetMarketRegion(0, &region) != 0) {
            LOG_LEVEL(LOG_LEVEL_NOTICE,
                      "Failed to get market region from cfg server, defaulting to Usco");
            region = 0;
        }
        attributes.push_back(RegionUsesA4(region) ? "default-medium=\"ISO_A4\""
                                                  : "default-medium=\"NA_LETTER\"");
        zun::dmx::SubmitJob(attributes, "System User", "Activity Report", reportPath,
                            DS_PRECEDENCE_REPORT, "print", -1, -1, 0);
    } catch (...) {
        // The attribute list could not be built; the report is finished all the same.
        LOG_RECORD(logSpecError, "%s(): out of memory, report not submitted.", "SubmitReport");
    }
}

/* ============================================================================================
 * 3. The report body: job entries, recipient rows, date and time texts
 *
 * The generated PostScript draws nothing by itself: it names columns and rows and hands hex
 * strings to procedures the template defines. Every value is converted into the run's hex
 * buffer right before the write that uses it, so one buffer serves them all.
 * ========================================================================================== */

namespace {

const char kBoldFontLine[] = "DefaultFontNameBold findfont 9 scalefont setfont\n";
const char kRegularFontLine[] = "DefaultFontName findfont 9 scalefont setfont\n";
const char kMoveLine[] = "currentColumn currentRow MoveToPosition\n";
const char kNextRowLine[] = "NextRow\n\n";
const char kMeasureComment[] =
    "% Calculate the boundary box (field_avail) for next printing text\n";
const char kMeasureLine[] =
    "currentpoint pop % get the current x,y position, push onto stack, then pop y to discard.\n";

/* The prologue decides in the printer whether the whole entry still fits on the page. */
const char kPageBreakPrologue[] =
    "def % this should be replace with tag\n"
    "/rowsNeededForThisEntry 4 numberOfRecipients add def\n"
    "/sizeNeededForThisEntry rowHeight "
    "rowsNeededForThisEntry mul def\n"
    "currentpoint % push the current x,y onto stack\n"
    "/yPos exch def\n"
    "/currY pageLength yPos sub def\n"
    "/currY currY sizeNeededForThisEntry add def\n\n"
    "currY maxY gt % is currY greater than maxY ?\n"
    "\t{\n"
    "\t\t% if this is the first page\n"
    "\t\tpageCounter 1 eq\n"
    "\t\t\t{\n"
    "\t\t\tPrintMax50Msg\n"
    "\t\t\t} if\n"
    "\t\tPrintFooter\n"
    "\t\tshowpage\n\n"
    "\t\t% page break\n"
    "\t\tIncreaseCounter\n"
    "\t\t/currentRow 3 def\n"
    "\t\t% recalculate the maxY for "
    "pages other than the first one\n"
    "\t\t/rowsUsed footerRowsUsed 1 add def\n"
    "\t\t/usedYpos rowHeight rowsUsed mul def\n"
    "\t\t/maxY pageLength usedYpos sub def\n"
    "\t} if\n\n";

/* The heading row of a job's recipient table. */
const char kRecipientHeadings[] =
    "/currentColumn name_info_col1_ind def\n"
    "currentColumn currentRow MoveToPosition\n"
    "DefaultFontName findfont 9 scalefont setfont\n"
    "<__ar_const_friendly_name__> fname_width "
    "Substring UNDERLINE_SHOW\n\n"
    "/currentColumn name_info_col2_ind def\n"
    "currentColumn currentRow MoveToPosition\n"
    "<__ar_const_email_address__> email_width "
    "Substring UNDERLINE_SHOW\n\n"
    "/currentColumn name_info_col3_ind def\n"
    "currentColumn currentRow MoveToPosition\n"
    "<__ar_const_process_state__> pstate_width "
    "Substring UNDERLINE_SHOW\n\n"
    "/currentColumn name_info_col4_ind def\n"
    "currentColumn currentRow MoveToPosition\n"
    "<__ar_const_status_date_time__> UNDERLINE_SHOW\n"
    "NextRow\n\n";

void Put(FILE *body, const char *text)
{
    std::fputs(text, body);
}

/* 'PutWithText()' - writes `format` with `text` in place of its one "%s". Most body lines carry
 * one converted text, and parsing a printf format cost more than writing the whole line; the
 * line is put together first, since each stdio call costs about as much as a short line. */
void PutWithText(FILE *body, const char *format, const char *text)
{
    const std::string_view whole(format), textView(text);
    const size_t slot = whole.find("%s");
    const std::string_view before = whole.substr(0, slot), after = whole.substr(slot + 2);
    char line[ARL_HEX_BUFFER_SIZE + 128];
    if (before.size() + textView.size() + after.size() > sizeof line) {
        std::fwrite(before.data(), 1, before.size(), body);
        std::fwrite(textView.data(), 1, textView.size(), body);
        std::fwrite(after.data(), 1, after.size(), body);
        return;
    }
    char *end = std::copy(before.begin(), before.end(), line);
    end = std::copy(textView.begin(), textView.end(), end);
    end = std::copy(after.begin(), after.end(), end);
    std::fwrite(line, 1, static_cast<size_t>(end - line), body);
}

/* 'MoveToColumn()' - names the column and moves there. */
void MoveToColumn(FILE *body, const char *column)
{
    PutWithText(body, "/currentColumn %s def\n", column);
    Put(body, kMoveLine);
}

/* 'ReadText()' - a job's or an address's text field, or NULL when it is missing. */
const char *ReadText(JTAPI_ReportData *report, int32_t field, int32_t jobIndex,
                     int32_t addressIndex)
{
    return static_cast<const char *>(ReadField(report, field, jobIndex, addressIndex));
}

/* 'CountHex()' - the count's hex text in the run's hex buffer; NULL (after a record) on failure. */
const char *CountHex(int32_t count)
{
    if (ConvertIntToHexString(runScratch.hexBuffer, count, ARL_HEX_BUFFER_SIZE) < 0) {
        LOG_RECORD(logSpecError, "ConvertIntToHexString() failed.");
        return nullptr;
    }
    return runScratch.hexBuffer;
}

/* 'PlainHex()' - hex text of a text whose bytes go to the printer as they are (dates, times,
 * fixed texts); NULL (after a record) on failure. */
const char *PlainHex(const char *text)
{
    if (Trans_ConvertUTF8StringToHex(runScratch.hexBuffer, text, ARL_HEX_BUFFER_SIZE) < 0) {
        LOG_RECORD(logSpecError, "Trans_ConvertUTF8StringToHex() failed.");
        return nullptr;
    }
    return runScratch.hexBuffer;
}

/* 'DeviceTextHex()' - hex text of a device text in the printer encoding of the language, in
 * the run's hex buffer; NULL on failure (the caller logs which text failed). */
const char *DeviceTextHex(const char *text, const char *language)
{
    return ARL_CvtToUtf8Hex(text, kInStrSystemCharset, autoConvert, runScratch.hexBuffer,
                            ARL_HEX_BUFFER_SIZE, language);
}

/* How a job time is laid out: its labels, and whether the room of its time text is measured from
 * the end of its label (the sent time) or fixed (the completion time). */
struct JobTimeLayout {
    int32_t field;
    const char *dateLabel;
    const char *timeLabel;
    bool measured;
};
const JobTimeLayout kSentTime = {JTAPI_SENT_DATE_TIME, "<__ar_const_job_date__20> AR_SHOW\n",
                                 "<20__ar_const_job_time__20> AR_SHOW\n", true};
const JobTimeLayout kCompletionTime = {JTAPI_COMPLETE_DATE_TIME,
                                       "<__ar_const_completion_date__20> AR_SHOW\n",
                                       "<20__ar_const_completion_time__20> AR_SHOW\n", false};

/* 'WriteJobTime()' - writes a job time: the date label, the date, the time label and the time.
 * Returns ARL_STATUS_OK, or ARL_STATUS_CONVERSION_FAILED when a text cannot be converted. */
int32_t WriteJobTime(FILE *body, int32_t jobIndex, const JobTimeLayout &layout)
{
    GetDateTimeText(layout.field, jobIndex, 0);
    Put(body, kBoldFontLine);
    Put(body, layout.dateLabel);
    Put(body, kRegularFontLine);
    const char *hex = PlainHex(runScratch.dateText);
    if (!hex)
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "<%s> AR_SHOW\n", hex);
    Put(body, kBoldFontLine);
    Put(body, layout.timeLabel);
    Put(body, kMeasureComment);
    if (layout.measured) {
        Put(body, kMeasureLine);
        Put(body, "/field_delta exch def\n");
        Put(body, "/field_avail job_date_col2_ind field_delta sub def\n");
    } else {
        Put(body, "/field_avail 45 def\n");
    }
    Put(body, kRegularFontLine);
    if (!(hex = PlainHex(runScratch.timeText)))
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "<%s> field_avail Substring AR_SHOW\n\n", hex);
    return ARL_STATUS_OK;
}

/* First row: sent time, completion time, and "<confirmed> of <recipients> acknowledged". */
int32_t WriteFirstRow(FILE *body, JTAPI_ReportData *report, int32_t jobIndex, int32_t *confirmed)
{
    if (WriteJobTime(body, jobIndex, kSentTime) != ARL_STATUS_OK)
        return ARL_STATUS_CONVERSION_FAILED;
    MoveToColumn(body, "job_date_col2_ind");
    if (WriteJobTime(body, jobIndex, kCompletionTime) != ARL_STATUS_OK)
        return ARL_STATUS_CONVERSION_FAILED;
    MoveToColumn(body, "RM_ind");

    const void *value = ReadField(report, JTAPI_NUM_CONF, jobIndex, 0);
    if (!value)
        LOG_RECORD(logSpecError, "JTAPI_NUM_CONF is NULL. Use default = 0");
    *confirmed = CountValue(value);
    LOG_RECORD(logSpecInfo, "Num Confirmed = %d", *confirmed);
    if (!(value = ReadField(report, JTAPI_NUM_RECIP, jobIndex, 0)))
        LOG_RECORD(logSpecError, "JTAPI_NUM_RECIP is NULL. Use default = 0");
    int32_t recipients = CountValue(value);
    LOG_RECORD(logSpecInfo, "Num Recipients = %d", recipients);
    Put(body, kBoldFontLine);
    const char *hex = CountHex(*confirmed);
    if (!hex)
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "<%s20__ar_const_of__20", hex);
    if (!(hex = CountHex(recipients)))
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "%s20__ar_const_recipients_acknowledged__2020", hex);
    Put(body, "> ack_width Substring RIGHT_SHOW\n");
    Put(body, kNextRowLine);
    return ARL_STATUS_OK;
}

/* Second row: subject (cut to its field) and sender. The first successful subject conversion
 * of a run clears autoConvert: only the run's first text asks the sniffer to detect. */
int32_t WriteSecondRow(FILE *body, JTAPI_ReportData *report, int32_t jobIndex, const char *language)
{
    MoveToColumn(body, "LM_ind");
    const char *subject = ReadText(report, JTAPI_SUBJECT, jobIndex, 0);
    if (!subject) {
        LOG_RECORD(logSpecError, "JTAPI_SUBJECT is NULL. Use default = 0 length string");
        subject = "";
    }
    LOG_RECORD(logSpecInfo, "Subject = \"%s\"", subject);
    Put(body, kBoldFontLine);
    Put(body, "<__ar_const_subject__20> AR_SHOW\n");
    Put(body, kMeasureComment);
    Put(body, kMeasureLine);
    Put(body, "/field_delta exch LM_ind sub def\n");
    Put(body, "/field_avail subj_width field_delta sub def\n");
    Put(body, kRegularFontLine);
    const char *hex = DeviceTextHex(subject, language);
    if (!hex) {
        LOG_RECORD(logSpecError, "ARL_CvtToUtf8Hex() failed (subject).");
        return ARL_STATUS_CONVERSION_FAILED;
    }
    autoConvert = 0;
    PutWithText(body, "<%s> field_avail Substring AR_SHOW\n\n", hex);

    MoveToColumn(body, "subj_head_col2_ind");
    const char *sender = ReadText(report, JTAPI_FROM, jobIndex, 0);
    if (!sender) {
        LOG_RECORD(logSpecError, "JTAPI_FROM is NULL. Use default = 0 length string");
        sender = "";
    }
    LOG_RECORD(logSpecInfo, "From = \"%s\"", sender);
    Put(body, kBoldFontLine);
    Put(body, "<__ar_const_from__20> AR_SHOW\n");
    Put(body, kRegularFontLine);
    if (!(hex = DeviceTextHex(sender, language))) {
        LOG_RECORD(logSpecError, "ARL_CvtToUtf8Hex() failed (from).");
        return ARL_STATUS_CONVERSION_FAILED;
    }
    PutWithText(body, "<%s> AR_SHOW\n", hex);
    Put(body, kNextRowLine);
    return ARL_STATUS_OK;
}

/* Third row: the job status counts, pages scanned and attachment size. Each count is read
 * right after the write before the one that shows it. */
int32_t WriteThirdRow(FILE *body, JTAPI_ReportData *report, int32_t jobIndex, int32_t confirmed)
{
    MoveToColumn(body, "LM_ind");
    Put(body, kBoldFontLine);
    Put(body, "<__ar_const_internet_fax_job_status__20> AR_SHOW\n");
    Put(body, kMeasureComment);
    Put(body, kMeasureLine);
    Put(body, "/field_delta exch LM_ind sub def\n");
    Put(body, "/field_avail job_status_width field_delta sub def\n");
    Put(body, kRegularFontLine);
    const char *hex = CountHex(confirmed);
    if (!hex)
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "<%s20__ar_const_ifax_job_status_successful__20", hex);
    const void *value = ReadField(report, JTAPI_NUM_UNCONF, jobIndex, 0);
    if (!value)
        LOG_RECORD(logSpecError, "JTAPI_NUM_UNCONF is NULL. Use default = 0");
    LOG_RECORD(logSpecInfo, "Number unconfirmed = %d", CountValue(value));
    if (!(hex = CountHex(CountValue(value))))
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "%s20__ar_const_ifax_job_status_unconfirmed__20", hex);
    if (!(value = ReadField(report, JTAPI_FAILED, jobIndex, 0)))
        LOG_RECORD(logSpecError, "JTAPI_FAILED is NULL. Use default = 0");
    LOG_RECORD(logSpecInfo, "Number failed = %d", CountValue(value));
    if (!(hex = CountHex(CountValue(value))))
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "%s20__ar_const_ifax_job_status_failed__> ", hex);
    Put(body, "field_avail Substring AR_SHOW\n\n");

    MoveToColumn(body, "subj_head_col2_ind");
    int32_t scanned = CountValue(ReadField(report, JTAPI_NUM_SCANNED, jobIndex, 0));
    LOG_RECORD(logSpecInfo, "Num Scanned = %d", scanned);
    Put(body, kBoldFontLine);
    Put(body, "<__ar_const_pages_scanned__20> AR_SHOW\n");
    Put(body, kRegularFontLine);
    if (!(hex = CountHex(scanned)))
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "<%s> AR_SHOW\n", hex);
    int32_t attachSize = CountValue(ReadField(report, JTAPI_ATTACH_SIZE, jobIndex, 0));
    LOG_RECORD(logSpecInfo, "Attach Size = %d", attachSize);
    Put(body, kBoldFontLine);
    Put(body, "<202020__ar_const_attachment_size__20> AR_SHOW\n");
    Put(body, kRegularFontLine);
    if (!(hex = CountHex(attachSize)))
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "<%s> AR_SHOW\n", hex);
    Put(body, kNextRowLine);
    return ARL_STATUS_OK;
}

/* 'ListedAddressCount()' - the job's address count, capped at the five rows the report lists. */
int32_t ListedAddressCount(JTAPI_ReportData *report, int32_t jobIndex)
{
    int32_t status = 0;
    const void *value = ReadField(report, JTAPI_NUM_ADDRESSES, jobIndex, 0, &status);
    int32_t addresses = 0;
    if (value)
        addresses = *static_cast<const int32_t *>(value);
    else
        LOG_RECORD(logSpecError, "jtapi_get_field_data() FAILURE = %d", status);
    LOG_RECORD(logSpecInfo, "Number of Addresses = %d", addresses);
    return addresses < ARL_MAX_LISTED_ADDRESSES ? addresses : ARL_MAX_LISTED_ADDRESSES;
}

} // namespace

/* 'WriteJobEntry()' - writes one job's entry: page-break prologue, three job rows, the heading
 * row of its recipient table, and its recipient rows. Returns ARL_STATUS_OK, or
 * ARL_STATUS_CONVERSION_FAILED when a text cannot be converted; what was written so far stays
 * in the body. */
ARL_INTERNAL int32_t WriteJobEntry(FILE *body, JTAPI_ReportData *report, int32_t jobIndex,
                                   const char *language)
{
    int32_t addressCount = ListedAddressCount(report, jobIndex);
    std::fprintf(body, "/numberOfRecipients %d ", addressCount);
    Put(body, kPageBreakPrologue);

    Put(body, kBoldFontLine);
    Put(body, "/currentColumn LM_ind def\n");
    Put(body, "VERTICAL_SPACE_SEPARATOR\n");
    if (jobIndex > 1)
        Put(body, "VERTICAL_SPACE_SEPARATOR\n");
    Put(body, kMoveLine);

    int32_t confirmed = 0;
    if (WriteFirstRow(body, report, jobIndex, &confirmed) != ARL_STATUS_OK ||
        WriteSecondRow(body, report, jobIndex, language) != ARL_STATUS_OK ||
        WriteThirdRow(body, report, jobIndex, confirmed) != ARL_STATUS_OK)
        return ARL_STATUS_CONVERSION_FAILED;

    Put(body, kRecipientHeadings);
    return WriteRecipientRows(body, report, jobIndex, addressCount, language);
}

namespace {

/* The state cell of each known process state, in two pieces. */
const char *const kProcessStateCells[][2] = {
    {"<processState_Sent> ", "pstate_width Substring AR_SHOW\n"},
    {"<processState_Delivered> ", "pstate_width Substring AR_SHOW\n"},
    {"<processState_Processed> ", "pstate_width Substring AR_SHOW\n"},
    {"<processState_Error> pstate_width ", "Substring AR_SHOW\n"},
    {"<processState_Failed> pstate_width ", "Substring AR_SHOW\n"},
    {"<processState_Rejected> pstate_width ", "Substring AR_SHOW\n"},
};
const uint32_t kKnownProcessStates = sizeof kProcessStateCells / sizeof kProcessStateCells[0];

/* The name cell: "To" for address type 0, "Cc" for every other value, then the name. */
int32_t WriteNameCell(FILE *body, JTAPI_ReportData *report, int32_t jobIndex, int32_t addressIndex,
                      const char *language)
{
    const void *typeValue = ReadField(report, JTAPI_ADDR_TYPE, jobIndex, addressIndex);
    int32_t type = typeValue ? *static_cast<const int32_t *>(typeValue) : JTAPI_TYPE_TO;
    LOG_RECORD(logSpecInfo, "Addr Type = %d", type);
    bool typeTo = type == JTAPI_TYPE_TO;
    MoveToColumn(body, "name_info_col1_ind");

    const char *name = ReadText(report, JTAPI_FRIENDLY_NAME, jobIndex, addressIndex);
    if (!name) {
        LOG_RECORD(logSpecError, "JTAPI_FRIENDLY_NAME is NULL.");
        LOG_RECORD(logSpecInfo, "Use default 0 len string.");
        name = "";
    }
    LOG_RECORD(logSpecInfo, "Friendly Name = \"%s\"", name);
    const char *hex = DeviceTextHex(name, language);
    if (!hex && typeTo)
        LOG_RECORD(logSpecError, "ARL_CvtToUtf8Hex() failed (to address).");
    else if (!hex)
        LOG_RECORD(logSpecError, "ARL_CvtToUtf8Hex() failed (cc address).");
    if (!hex)
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, typeTo ? "<__ar_const_to__20%s> " : "<__ar_const_cc__20%s> ", hex);
    Put(body, "fname_width Substring AR_SHOW\n");
    return ARL_STATUS_OK;
}

int32_t WriteEmailCell(FILE *body, JTAPI_ReportData *report, int32_t jobIndex, int32_t addressIndex,
                       const char *language)
{
    MoveToColumn(body, "name_info_col2_ind");
    const char *email = ReadText(report, JTAPI_EMAIL_ADDRESS, jobIndex, addressIndex);
    if (!email) {
        LOG_RECORD(logSpecError, "JTAPI_EMAIL_ADDRESS is NULL. Use default 0 len str");
        email = "";
    }
    LOG_RECORD(logSpecInfo, "Email Addr = \"%s\"", email);
    const char *hex = DeviceTextHex(email, language);
    if (!hex) {
        LOG_RECORD(logSpecError, "ARL_CvtToUtf8Hex() failed (email address).");
        return ARL_STATUS_CONVERSION_FAILED;
    }
    PutWithText(body, "<%s> email_width Substring AR_SHOW\n", hex);
    return ARL_STATUS_OK;
}

/* A state outside the six known ones shows "---", untranslated and uncut. */
int32_t WriteStateCell(FILE *body, JTAPI_ReportData *report, int32_t jobIndex, int32_t addressIndex)
{
    MoveToColumn(body, "name_info_col3_ind");
    const void *value = ReadField(report, JTAPI_PROC_STATE, jobIndex, addressIndex);
    uint32_t state = JTAPI_PROCESS_STATE_SENT;
    if (value) {
        state = static_cast<uint32_t>(*static_cast<const int32_t *>(value));
    } else {
        LOG_RECORD(logSpecError, "JTAPI_PROC_STATE is NULL.");
        LOG_RECORD(logSpecInfo, "Use default = JTAPI_PROCESS_STATE_SENT");
    }
    if (state < kKnownProcessStates) {
        Put(body, kProcessStateCells[state][0]);
        Put(body, kProcessStateCells[state][1]);
        return ARL_STATUS_OK;
    }
    const char *hex = PlainHex("---");
    if (!hex)
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "<%s> AR_SHOW\n", hex);
    return ARL_STATUS_OK;
}

/* The status cell: date, three blanks and time in one uncut string. */
int32_t WriteStatusCell(FILE *body, int32_t jobIndex, int32_t addressIndex)
{
    MoveToColumn(body, "name_info_col4_ind");
    GetDateTimeText(JTAPI_STATUS_DATE_TIME, jobIndex, addressIndex);
    const char *hex = PlainHex(runScratch.dateText);
    if (!hex)
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "<%s202020", hex);
    if (!(hex = PlainHex(runScratch.timeText)))
        return ARL_STATUS_CONVERSION_FAILED;
    PutWithText(body, "%s> AR_SHOW\n", hex);
    return ARL_STATUS_OK;
}

} // namespace

/* 'WriteRecipientRows()' - writes the font preamble and one row for each of the first
 * `addressCount` addresses. Returns ARL_STATUS_OK, or ARL_STATUS_CONVERSION_FAILED when a text
 * cannot be converted. */
ARL_INTERNAL int32_t WriteRecipientRows(FILE *body, JTAPI_ReportData *report, int32_t jobIndex,
                                        int32_t addressCount, const char *language)
{
    Put(body, "% Print recipients info\n");
    Put(body, "DefaultFontName findfont DefaultFontSize ");
    Put(body, "scalefont setfont\n\n");

    for (int32_t addressIndex = 1; addressIndex <= addressCount; ++addressIndex) {
        if (WriteNameCell(body, report, jobIndex, addressIndex, language) != ARL_STATUS_OK ||
            WriteEmailCell(body, report, jobIndex, addressIndex, language) != ARL_STATUS_OK ||
            WriteStateCell(body, report, jobIndex, addressIndex) != ARL_STATUS_OK ||
            WriteStatusCell(body, jobIndex, addressIndex) != ARL_STATUS_OK)
            return ARL_STATUS_CONVERSION_FAILED;
        Put(body, kNextRowLine);
    }
    return ARL_STATUS_OK;
}

namespace {

/* Format ids are looked up on first need and cached; a lookup that yields 0 is repeated at the
 * next need, since 0 also means "not looked up yet". */
uint16_t DateFormatId()
{
    if (ARL_STATE.dateFormatId == 0)
        ARL_STATE.dateFormatId = static_cast<uint16_t>(oa_xid_of("OID_ATT_DATE_FORMAT"));
    return ARL_STATE.dateFormatId;
}

uint16_t TimeFormatId()
{
    if (ARL_STATE.timeFormatId == 0)
        ARL_STATE.timeFormatId = static_cast<uint16_t>(oa_xid_of("OID_ATT_TIME_FORMAT"));
    return ARL_STATE.timeFormatId;
}

/* `value` + `offset` without the undefined behaviour of a signed overflow: a job tracker that
 * hands out a nonsense year must not break the run. */
int WrappingAdd(int value, int offset)
{
    return static_cast<int>(static_cast<unsigned>(value) + static_cast<unsigned>(offset));
}

/* 'LogTimeField()' - the records of one time field: its missing-field record, then the texts. */
void LogTimeField(int32_t field, bool missing)
{
    const char *date = runScratch.dateText;
    const char *time = runScratch.timeText;
    switch (field) {
    case JTAPI_SENT_DATE_TIME:
        if (missing)
            LOG_RECORD(logSpecInfo, "JTAPI_SENT_DATE_TIME is NULL. Use blanks");
        LOG_RECORD(logSpecInfo, "Sent Date/Time = %s %s", date, time);
        break;
    case JTAPI_COMPLETE_DATE_TIME:
        if (missing)
            LOG_RECORD(logSpecError, "JTAPI_COMPLETE_DATE_TIME is NULL. Use blanks");
        LOG_RECORD(logSpecInfo, "Completed Date/Time = %s %s", date, time);
        break;
    case JTAPI_STATUS_DATE_TIME:
        if (missing)
            LOG_RECORD(logSpecError, "JTAPI_STATUS_DATE_TIME is NULL. Using default");
        LOG_RECORD(logSpecInfo, "Status Date/Time = %s %s", date, time);
        break;
    default:
        break;
    }
}

} // namespace

/* 'FormatDateTime()' - formats `t` with the configured format of `formatId` into `out` (50
 * bytes at most). Returns 1, or 0 when the id is neither format's id (`out` untouched). */
ARL_INTERNAL int32_t FormatDateTime(uint16_t formatId, const struct tm *t, char *out)
{
    // The time id is looked up only for an id that is not the date id.
    if (formatId != DateFormatId() && formatId != TimeFormatId())
        return 0;
    char format[TD_FORMAT_SIZE];
    std::memset(format, 0, sizeof format);
    TD_GetFormat(formatId, format);
    format[sizeof format - 1] = '\0';
    if (std::strftime(out, 50, format, t) == 0)
        out[0] = '\0'; // the C library leaves a result that does not fit undefined
    return 1;
}

/* 'GetDateTimeText()' - fills the run's date text and time text from one time field, both
 * empty when the field is missing, and logs the field's records. Its three parameters are the
 * device's own, so the report comes from the run's scratch, set before any entry is written. */
ARL_INTERNAL void GetDateTimeText(int32_t field, int32_t jobIndex, int32_t addressIndex)
{
    const void *value = ReadField(runScratch.report, field, jobIndex, addressIndex);
    runScratch.dateText[0] = '\0';
    runScratch.timeText[0] = '\0';

    if (value) {
        const struct tm *t = static_cast<const struct tm *>(value);
        if (!FormatDateTime(DateFormatId(), t, runScratch.dateText))
            std::snprintf(runScratch.dateText, 50, "%d/%d/%d", WrappingAdd(t->tm_mon, 1),
                          t->tm_mday, WrappingAdd(t->tm_year, 1900));
        if (!FormatDateTime(TimeFormatId(), t, runScratch.timeText))
            std::snprintf(runScratch.timeText, 50, "%d:%d:%d", t->tm_hour, t->tm_min, t->tm_sec);
    }
    LogTimeField(field, value == nullptr);
}

/* ============================================================================================
 * 4. Text conversion
 * ========================================================================================== */

namespace {

/* 'SystemCharset()' - the device's system charset, looked up once per process. Where the name
 * cannot be copied it is used for this call only and looked up again at the next. */
const char *SystemCharset()
{
    if (!ARL_STATE.transLibEncoding) {
        const char *charset = std::getenv("SYSTEM_CHARSET");
        if (!charset) {
            LOG_LEVEL(LOG_LEVEL_ERROR, "%s(): getenv(%s) returned NULL.", "ARL_CvtToUtf8",
                      "SYSTEM_CHARSET");
            charset = "ISO-8859-15";
        }
        LOG_LEVEL(LOG_LEVEL_INFO, "%s(): transLibEncoding = %s.", "ARL_CvtToUtf8", charset);
        // Our own copy: a later setenv() must neither change nor invalidate it.
        std::free(ownedCharsetName);
        ownedCharsetName = strdup(charset);
        if (!ownedCharsetName)
            return charset;
        ARL_STATE.transLibEncoding = ownedCharsetName;
    }
    return ARL_STATE.transLibEncoding;
}

/* 'HexInPrinterEncoding()' - hex text of a UTF-8 text converted to the printer encoding of the
 * language. Objects are destroyed in reverse order: results, translater, converter. */
int HexInPrinterEncoding(const char *utf8, char *out, int32_t maxBytes, const char *language)
{
    EncodingConverter converter;
    Translater translater(std::string(language ? language : ""));
    converter.convertTo(translater.printEncoding());
    EncodingConverter::ConversionResults results =
        converter.convertFrom("UTF-8").convert(std::string(utf8));
    return Trans_ConvertUTF8StringToHex(out, results.second.c_str(), maxBytes);
}

/* 'LogEscapeCut()' - the warning of an escape that no longer fits, for the byte it escapes. */
void LogEscapeCut(char byte)
{
    if (byte == '\\')
        LOG_RECORD(logSpecWarn, "%s() input string being truncated (backslash).", "CopyString");
    else if (byte == '(')
        LOG_RECORD(logSpecWarn, "%s() input string being truncated (open paren).", "CopyString");
    else
        LOG_RECORD(logSpecWarn, "%s() input string being truncated (close paren).", "CopyString");
}

/* 'CopyEscaped()' - bounded copy with the escapes of a PostScript literal string. An escape is
 * written only when both its bytes and a NUL still fit. */
void CopyEscaped(char *dst, const char *src, uint32_t maxBytes)
{
    uint32_t written = 0;
    for (; written < maxBytes && *src; ++src) {
        bool escaped = *src == '\\' || *src == '(' || *src == ')';
        if (!escaped) {
            dst[written++] = *src;
        } else if (written + 2 < maxBytes) {
            dst[written++] = '\\';
            dst[written++] = *src;
        } else {
            LogEscapeCut(*src);
            break;
        }
    }
    dst[written == maxBytes ? maxBytes - 1 : written] = '\0';
}

} // namespace

/* 'ARL_CvtToUtf8()' - a new UTF-8 copy of `inStr` that the caller frees, or NULL. On a system
 * whose charset is not UTF-8 the copy is unchanged: device texts are already printable there. */
ARL_INTERNAL char *ARL_CvtToUtf8(const char *inStr, int32_t inStrEncoding, int32_t autoConvertFlag)
{
    static const char kName[] = "ARL_CvtToUtf8";
    if (!inStr) {
        LOG_LEVEL(LOG_LEVEL_ERROR, "%s(): received NULL inStr.", kName);
        return nullptr;
    }
    const char *systemCharset = SystemCharset();
    if (std::strcmp(systemCharset, "UTF-8") != 0) {
        char *copy = strdup(inStr);
        if (!copy)
            LOG_LEVEL(LOG_LEVEL_ERROR, "%s(): strdup(%s) failed.", kName, inStr);
        return copy;
    }

    size_t length = std::strlen(inStr);
    char *result = nullptr;
    switch (inStrEncoding) {
    case kInStrSystemCharset:
        if (SNF_Convert(inStr, length, systemCharset, &result) != 0)
            return result;
        LOG_LEVEL(LOG_LEVEL_ERROR, "%s(): SNF_Convert(%s, %s) failed.", kName, inStr,
                  systemCharset);
        break;
    case kInStrUnicode: {
        int converted = autoConvertFlag == 1 ? SNF_AutoConvert(inStr, length, &result)
                                             : SNF_ConvertUTF(inStr, length, &result);
        if (converted == 1)
            return result;
        LOG_LEVEL(LOG_LEVEL_ERROR, "%s(): UTF8 conversion failed (%s, %i).", kName, inStr,
                  autoConvertFlag);
        break;
    }
    case kInStrLatin9:
        if (SNF_Convert(inStr, length, "ISO-8859-15", &result) != 0)
            return result;
        LOG_LEVEL(LOG_LEVEL_ERROR, "%s(): SNF_Convert(%s, %s) failed.", kName, inStr,
                  "ISO-8859-15");
        break;
    default:
        LOG_LEVEL(LOG_LEVEL_ERROR, "%s(): invalid inStrEncoding (%i).", kName, inStrEncoding);
        break;
    }
    std::free(result);
    return nullptr;
}

/* 'ARL_CvtToUtf8Hex()' - writes into `out` the hex text of `inStr` in the printer encoding of
 * `language`. Returns `out`, or NULL on failure. */
ARL_INTERNAL char *ARL_CvtToUtf8Hex(const char *inStr, int32_t inStrEncoding,
                                    int32_t autoConvertFlag, char *out, int32_t maxBytes,
                                    const char *language)
{
    static const char kName[] = "ARL_CvtToUtf8Hex";
    if (!inStr) {
        LOG_RECORD(logSpecError, "%s(): received NULL argument (%p, %p).", kName,
                   static_cast<const void *>(inStr), static_cast<void *>(out));
        return nullptr;
    }
    HeapText utf8(ARL_CvtToUtf8(inStr, inStrEncoding, autoConvertFlag));
    if (!utf8) {
        LOG_RECORD(logSpecError, "%s(): ARL_CvtToUtf8(%s) failed.", kName, inStr);
        return nullptr;
    }
    // An empty text needs no converter and no language.
    int hexResult = utf8.get()[0] == '\0'
                        ? Trans_ConvertUTF8StringToHex(out, utf8.get(), maxBytes)
                        : HexInPrinterEncoding(utf8.get(), out, maxBytes, language);
    utf8.reset();
    if (hexResult < 0) {
        LOG_RECORD(logSpecError, "Trans_ConvertUTF8StringToHex() failed.");
        return nullptr;
    }
    return out;
}

/* 'ConvertIntToHexString()' - writes the decimal digits of `value` as hex text. Returns the bytes
 * written with the NUL, or -1 when they do not fit `maxBytes` (`out` untouched). */
ARL_INTERNAL int32_t ConvertIntToHexString(char *out, int32_t value, int32_t maxBytes)
{
    static const char kDigits[] = "0123456789abcdef";
    char decimal[12];
    int length = std::snprintf(decimal, sizeof decimal, "%d", value);
    int32_t needed = 2 * length + 1;
    if (needed > maxBytes) {
        LOG_LEVEL(LOG_LEVEL_ERROR, "%s() insufficient memory allocated for output string.",
                  "ConvertIntToHexString");
        return -1;
    }
    for (int i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(decimal[i]);
        out[2 * i] = kDigits[byte >> 4];
        out[2 * i + 1] = kDigits[byte & 0x0f];
    }
    out[2 * length] = '\0';
    return needed;
}

/* 'CopyString()' - bounded copy of `src` into `dst`: plain (type 1) or with PostScript string
 * escapes (type 2). Problems show only in the log. */
ARL_INTERNAL void CopyString(char *dst, const char *src, uint32_t maxBytes, int32_t type)
{
    static const char kName[] = "CopyString";
    if (!dst || !src) {
        LOG_RECORD(logSpecError, "%s() sent to or from pointer.", kName);
        return;
    }
    if (maxBytes == 0) {
        LOG_RECORD(logSpecError, "%s() sent maxBytes of zero.", kName);
        return;
    }
    switch (type) {
    case COPY_PLAIN:
        if (strnlen(src, maxBytes) >= maxBytes)
            LOG_RECORD(logSpecWarn, "%s() input string being truncated.", kName);
        std::strncpy(dst, src, maxBytes);
        dst[maxBytes - 1] = '\0';
        break;
    case COPY_POSTSCRIPT_ESCAPED:
        CopyEscaped(dst, src, maxBytes);
        break;
    default:
        LOG_RECORD(logSpecError, "%s() sent invalid string type.", kName);
        break;
    }
}

/* ============================================================================================
 * 5. The finishing pass
 *
 * 49 constant commands (translated texts) and 5 variable commands (run-time values) go to the
 * stream editor, which writes the report file from the body file in one pass.
 * ========================================================================================== */

/* 'PrepareReplacementBuffers()' - gives each text record of sedCmdTable its buffer (first run
 * only) and resets every buffer to its default. Returns ARL_STATUS_OK, or ARL_STATUS_NO_MEMORY
 * when a buffer cannot be allocated; buffers allocated so far are kept for the next run. */
ARL_INTERNAL int32_t PrepareReplacementBuffers()
{
    for (VariableCmd &record : sedCmdTable) {
        if (record.cmdType != SED_CMD_REPLACE || record.replacePattern)
            continue;
        char *buffer = static_cast<char *>(std::malloc(ARL_REPLACE_PATTERN_SIZE));
        if (!buffer) {
            LOG_RECORD(logSpecError, "malloc() failed for replacePattern.");
            return ARL_STATUS_NO_MEMORY;
        }
        buffer[0] = '\0';
        record.replacePattern = buffer;
    }
    for (VariableCmd &record : sedCmdTable) {
        if (record.cmdType == SED_CMD_REPLACE && record.replacePattern)
            CopyString(record.replacePattern, record.defaultText, ARL_REPLACE_PATTERN_SIZE,
                       COPY_PLAIN);
    }
    return ARL_STATUS_OK;
}

namespace {

/* 'GetDeviceName()' - the configured device name, else the host's node name, else "". */
void GetDeviceName(char *name, size_t size)
{
    name[0] = '\0';
    if (Cfg_GetAttrValue("connectivity.SNMP.systemGroup.sysName", name, size) == 0 &&
        name[0] != '\0') {
        name[size - 1] = '\0';
        return;
    }
    struct utsname host;
    if (uname(&host) != 0) {
        LOG_RECORD(logSpecError, "%s(): uname() failed, errno = %i.", "ARL_GetSpecialAttributes",
                   errno);
        name[0] = '\0';
        return;
    }
    std::snprintf(name, size, "%s", host.nodename);
}

/* 'AddVariableCommands()' - adds the commands of the variable tags. A refused command only
 * leaves its tag in the report; a replacement that cannot be converted stops with
 * ARL_STATUS_CONVERSION_FAILED. */
int32_t AddVariableCommands(SedCmdArray *cmdArray, const char *language)
{
    char hex[ARL_HEX_BUFFER_SIZE];
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i) {
        VariableCmd &record = sedCmdTable[i];
        LOG_RECORD(logSpecInfo, "Add command %d: type=%d find=\"%s\" replace=\"%s\"", i,
                   record.cmdType, record.findPattern,
                   record.replacePattern ? record.replacePattern : "NULL");
        const char *replacement = record.replacePattern ? record.replacePattern : "N/A";
        if (!ARL_CvtToUtf8Hex(replacement, kInStrSystemCharset, autoConvert, hex,
                              ARL_HEX_BUFFER_SIZE, language)) {
            LOG_RECORD(logSpecError, "ARL_CvtToUtf8Hex() failed (cmdCount = %i).", i);
            return ARL_STATUS_CONVERSION_FAILED;
        }
        record.addResult = Sed_AddCommand(cmdArray, record.cmdType, record.findPattern, hex);
        if (record.addResult != 0)
            LOG_RECORD(logSpecError, "Sed_AddCommand() failed.");
    }
    return ARL_STATUS_OK;
}

} // namespace

namespace {

/* 'CommandArray' - the stream-editor commands of one pass. Released exactly once whichever way
 * the pass ends, the null handle of a failed creation included. */
class CommandArray {
public:
    explicit CommandArray(int capacity) : array_(Sed_CreateCmdArray(capacity)) {}
    ~CommandArray() { Sed_FreeCommands(array_); }
    CommandArray(const CommandArray &) = delete;
    CommandArray &operator=(const CommandArray &) = delete;
    SedCmdArray *get() const { return array_; }

private:
    SedCmdArray *array_;
};

} // namespace

/* 'ARL_GenerateActivityReport()' - writes the report file from the body file with every tag
 * replaced. Returns ARL_STATUS_OK, ARL_STATUS_FINISHING_FAILED (translation or stream editor
 * failed) or ARL_STATUS_CONVERSION_FAILED (a variable replacement cannot be converted). */
ARL_INTERNAL int32_t ARL_GenerateActivityReport(const char *mediaType, const char *mediaColor,
                                                const char *bodyPath, const char *reportPath,
                                                const char *language)
{
    static const char kName[] = "ARL_GenerateActivityReport";
    LOG_RECORD(logSpecEnter, "%s()", kName);
    ARL_GetSpecialAttributes(mediaType, mediaColor);
    LOG_RECORD(logSpecInfo, "numVariableCmds = %d", ARL_NUM_VARIABLE_CMDS);
    LOG_RECORD(logSpecInfo, "numConstantCmds = %d", ARL_NUM_CONSTANT_CMDS);

    int32_t status = ARL_STATUS_OK;
    CommandArray commands(ARL_NUM_CONSTANT_CMDS + ARL_NUM_VARIABLE_CMDS);
    SedCmdArray *cmdArray = commands.get();
    if (!cmdArray) {
        LOG_RECORD(logSpecError, "Sed_CreateCmdArray() failed.");
        status = ARL_STATUS_FINISHING_FAILED;
    }
    // Runs even without an array, so that the translation library is initialised all the same.
    if (ARL_TranslateConstantText(language, cmdArray) == 0) {
        LOG_RECORD(logSpecError, "ARL_TranslateConstantText() failed.");
        status = ARL_STATUS_FINISHING_FAILED;
    }
    if (status == ARL_STATUS_OK)
        status = AddVariableCommands(cmdArray, language);
    if (status == ARL_STATUS_OK) {
        int32_t editStatus = Sed_FileEdit(cmdArray, bodyPath, reportPath);
        if (editStatus != 0) {
            LOG_RECORD(logSpecError, "Sed_FileEdit() failed with status %d.", editStatus);
            status = ARL_STATUS_FINISHING_FAILED;
        }
    }
    LOG_RECORD(logSpecInfo, "%s returning %d", kName, status);
    return status;
}

/* 'ARL_TranslateConstantText()' - adds one command per constant tag with the hex text of its
 * translation. Returns 1, or 0 on the first failure (commands added so far stay in the array). */
ARL_INTERNAL int32_t ARL_TranslateConstantText(const char *language, SedCmdArray *cmdArray)
{
    static const char kName[] = "ARL_TranslateConstantText";
    const char *text = nullptr;
    char hex[ARL_HEX_BUFFER_SIZE];
    std::memset(hex, 0, sizeof hex);
    LOG_RECORD(logSpecEnter, "%s()", kName);

    // Initialised once per process; a failure is tried again by the next run.
    if (ARL_STATE.transInitialised != 1) {
        int error = Trans_Init();
        if (error != 0) {
            LOG_RECORD(logSpecError, "Failed to init translation library, error = %d", error);
            return 0;
        }
        ARL_STATE.transInitialised = 1;
    }
    if (!cmdArray) {
        LOG_RECORD(logSpecError, "%s()\tsent a NULL\tpointer.", kName);
        return 0;
    }
    for (int i = 0; i < ARL_NUM_CONSTANT_CMDS; ++i) {
        const ConstantCmd &row = constantCmdTable[i];
        int error = Trans_TranslateString(language, row.stringId, &text);
        if (error != 0) {
            LOG_RECORD(logSpecError, "Failed to translate string %d to [%s], error = %d",
                       row.stringId, language ? language : "(null)", error);
            return 0;
        }
        if (!ARL_CvtToUtf8Hex(text, kInStrSystemCharset, 0, hex, ARL_HEX_BUFFER_SIZE, language)) {
            LOG_RECORD(logSpecError, "ARL_CvtToUtf8Hex() failed (i = %i).", i);
            return 0;
        }
        if (Sed_AddCommand(cmdArray, SED_CMD_REPLACE, row.findPattern, hex) != 0) {
            LOG_RECORD(logSpecError, "Sed_AddCommand(i = %i) failed.", i);
            return 0;
        }
    }
    return 1;
}

/* 'ARL_GetSpecialAttributes()' - fills the replacement buffers of media colour, media type and
 * device name. A NULL media text keeps the buffer's default. */
ARL_INTERNAL void ARL_GetSpecialAttributes(const char *mediaType, const char *mediaColor)
{
    LOG_RECORD(logSpecEnter, "%s()", "ARL_GetSpecialAttributes");
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i) {
        VariableCmd &record = sedCmdTable[i];
        switch (record.specialAttr) {
        case kMediaColorAttr:
            CopyString(record.replacePattern, mediaColor, ARL_REPLACE_PATTERN_SIZE, COPY_PLAIN);
            break;
        case kMediaTypeAttr:
            CopyString(record.replacePattern, mediaType, ARL_REPLACE_PATTERN_SIZE, COPY_PLAIN);
            break;
        case kDeviceNameAttr: {
            // The name is read as ISO-8859-15, the charset of the configuration service.
            char deviceName[1064];
            GetDeviceName(deviceName, sizeof deviceName);
            HeapText name(ARL_CvtToUtf8(deviceName, kInStrLatin9, 0));
            if (!name) {
                LOG_RECORD(logSpecError, "ARL_CvtToUtf8() failed (sedCmdTable[%i]).", i);
                break;
            }
            CopyString(record.replacePattern, name.get(), ARL_REPLACE_PATTERN_SIZE, COPY_PLAIN);
            break;
        }
        default:
            break; // the system date and time come from the stream editor itself
        }
    }
}
