// Stream editor stand-in: applies a set of find-and-replace commands to a file in one streaming
// pass and writes the result to a new file.
//
// Sections, in the order a call of Sed_FileEdit() goes through them:
//   1. the command array;
//   2. replacement texts, with the system date and time of types 6 and 7;
//   3. the output target: a temporary file of the call's own, renamed into place, and the
//      removal of those that calls which died left behind;
//   4. the pass itself: read a block, copy and replace, keep the undecided tail;
//   5. the exported functions, and the tests' setting of the read-block size.

// The library exports the functions of these two headers and nothing else, which also lets the
// compiler inline and call its internal functions directly.
#pragma GCC visibility push(default)
#include "streameditor.h"
#include "streameditor_internal.h"
#pragma GCC visibility pop

#include "config.h"
#include "find_matcher.h"
#include "logrecord.h"
#include "platform.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kLogFile[] = "streameditor";
const size_t kDefaultReadBlockSize = 256 * 1024;
const size_t kWriteBufferSize = 256 * 1024;

std::atomic<size_t> readBlockSize{kDefaultReadBlockSize};
std::atomic<void (*)()> beforeRenameHook{nullptr};

} // namespace

// ---------------------------------------------------------------------------------------------
// 1. The command array
// ---------------------------------------------------------------------------------------------

struct SedCommand {
    int type;
    std::string find;
    std::string replace;
};

struct SedCmdArray {
    size_t capacity;
    std::vector<SedCommand> commands;
};

namespace {

bool IsCommandType(int type)
{
    return type == SED_CMD_REPLACE || type == SED_CMD_SYSTEM_DATE || type == SED_CMD_SYSTEM_TIME;
}

std::vector<std::string> FindTextsOf(const SedCmdArray &cmds)
{
    std::vector<std::string> finds;
    finds.reserve(cmds.commands.size());
    for (const SedCommand &command : cmds.commands)
        finds.push_back(command.find);
    return finds;
}

// ---------------------------------------------------------------------------------------------
// 2. Replacement texts
// ---------------------------------------------------------------------------------------------

// Formats `now` with the device's format named `formatName`. Returns false when the
// configuration has no such format or the format yields no text.
bool FormatWithDeviceFormat(const char *formatName, const std::tm &now, std::string *text)
{
    uint32_t formatId = oa_xid_of(formatName);
    if (formatId == 0 || formatId > UINT16_MAX)
        return false;
    char format[TD_FORMAT_SIZE] = {};
    if (TD_GetFormat(static_cast<uint16_t>(formatId), format) != CFG_OK)
        return false;
    format[TD_FORMAT_SIZE - 1] = '\0';
    char formatted[256];
    size_t length = std::strftime(formatted, sizeof formatted, format, &now);
    if (length == 0)
        return false;
    text->assign(formatted, length);
    return true;
}

// The hex text of the current date or time in the device's format, or `fallback` (the
// replacement handed with the command) when the device gives no usable format.
std::string SystemHexText(const char *formatName, const std::tm &now, const std::string &fallback)
{
    std::string text;
    if (FormatWithDeviceFormat(formatName, now, &text))
        return platform::HexOf(text);
    LOG_RECORD(logSpecWarn, "%s gives no text; using the replacement \"%s\" instead", formatName,
               fallback.c_str());
    return fallback;
}

// The replacement of every command, in command order. The date and time are taken once, so
// that every occurrence in one file shows the same moment.
std::vector<std::string> ResolveReplacements(const SedCmdArray &cmds)
{
    std::time_t seconds = std::time(nullptr);
    std::tm now = {};
    localtime_r(&seconds, &now);

    std::string dateHex, timeHex;
    bool haveDate = false, haveTime = false;
    std::vector<std::string> replacements;
    replacements.reserve(cmds.commands.size());
    for (const SedCommand &command : cmds.commands) {
        if (command.type == SED_CMD_SYSTEM_DATE) {
            if (!haveDate)
                dateHex = SystemHexText("OID_ATT_DATE_FORMAT", now, command.replace);
            haveDate = true;
            replacements.push_back(dateHex);
        } else if (command.type == SED_CMD_SYSTEM_TIME) {
            if (!haveTime)
                timeHex = SystemHexText("OID_ATT_TIME_FORMAT", now, command.replace);
            haveTime = true;
            replacements.push_back(timeHex);
        } else {
            replacements.push_back(command.replace);
        }
    }
    return replacements;
}

// ---------------------------------------------------------------------------------------------
// 3. The output target
// ---------------------------------------------------------------------------------------------

// A file size limit (EFBIG) leaves no room just as a full disk does.
int WriteFailureStatus(int error)
{
    const bool noRoom = error == ENOSPC || error == EDQUOT || error == EFBIG;
    return noRoom ? SED_ERR_NO_SPACE : SED_ERR_WRITE;
}

const char kSuffixChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
const size_t kSuffixLength = 8;

// A name suffix that differs between processes, calls and attempts.
std::string UniqueSuffix(unsigned attempt)
{
    static std::atomic<uint64_t> counter{0};
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t mixed = (uint64_t(getpid()) << 32) ^ uint64_t(now.tv_nsec) ^
                     (uint64_t(now.tv_sec) << 20) ^ (counter++ << 40) ^ attempt;
    mixed = (mixed ^ (mixed >> 31)) * 0x9e3779b97f4a7c15ULL;
    std::string suffix;
    for (size_t i = 0; i < kSuffixLength; ++i, mixed /= 62)
        suffix += kSuffixChars[mixed % 62];
    return suffix;
}

// True when `entry` is a name this editor gives the temporary output of `name`: the name, a dot
// and a suffix of UniqueSuffix(). Nothing else in the folder is ever removed.
bool IsTemporaryNameOf(const char *entry, const std::string &name)
{
    const size_t length = std::strlen(entry);
    if (length != name.size() + 1 + kSuffixLength ||
        name.compare(0, name.size(), entry, name.size()) != 0 || entry[name.size()] != '.')
        return false;
    const char *suffix = entry + name.size() + 1;
    return std::strspn(suffix, kSuffixChars) == kSuffixLength;
}

// Why `folder` was not accepted, for a record.
const char *WhyRefused(const platform::Folder &folder)
{
    return folder.state() == platform::Folder::State::kUnsafe ? folder.why()
                                                              : std::strerror(folder.error());
}

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True while `name` in `folder` is still the file `file` describes.
bool NameIsStill(const platform::Folder &folder, const std::string &name, const struct stat &file)
{
    struct stat named;
    return fstatat(folder.fd(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           SameFile(named, file);
}

// An open-file-description lock over the whole file: a live call holds it (F_WRLCK) on its
// temporary output from creation to rename, so whoever can take it knows that the call which
// made the file is gone. It belongs to the open file, not the process, so a thread of the same
// process cannot take it either.
bool TryFileLock(int fd, short type)
{
    struct flock whole = {};
    whole.l_type = type;
    whole.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &whole) == 0;
}

// Removes `entry`, a temporary output a call that died left behind, if it is a file of the
// service's own whose lock can be taken. The name is checked again after the lock, since a live
// call may have been about to lock its new file under it (it notices the loss and starts anew).
void RemoveIfLeftBehind(const platform::Folder &folder, const std::string &entry)
{
    struct stat opened;
    platform::Descriptor file = platform::OpenOwnFile(folder, entry.c_str(), O_RDONLY, &opened);
    if (!file || !TryFileLock(file.get(), F_RDLCK) || !NameIsStill(folder, entry, opened))
        return;
    if (unlinkat(folder.fd(), entry.c_str(), 0) == 0)
        LOG_RECORD(logSpecInfo, "removed %s, left by an edit that did not finish", entry.c_str());
}

// Removes the temporary outputs of `name` that earlier calls left when they died (a process
// killed while it wrote). Reads the folder through a descriptor of its own, so that the
// folder's own descriptor keeps its position.
void RemoveLeftovers(const platform::Folder &folder, const std::string &name)
{
    const int listing = openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *entries = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!entries) {
        if (listing >= 0)
            close(listing);
        return;
    }
    std::vector<std::string> leftovers;
    while (const dirent *entry = readdir(entries)) {
        if (IsTemporaryNameOf(entry->d_name, name))
            leftovers.push_back(entry->d_name);
    }
    closedir(entries);
    for (const std::string &entry : leftovers)
        RemoveIfLeftBehind(folder, entry);
}

// Where the edited text goes: a temporary file of the call's own beside the target, in the
// target's verified folder, renamed into place by Finish() through the folder's descriptor. No
// reader sees a half-written file, a failure leaves the old file as it was, and no link planted
// under either name is ever followed. A target that exists and is not a regular file (or, in a
// folder others may write, not the caller's) is refused.
//
// The file is created new (O_EXCL), mode 0600 whatever the umask, and locked (TryFileLock) for
// as long as it is written, which marks it live for RemoveLeftovers() of other calls.
// Finish() does not fsync: the output is a transient report handed straight to printing, so
// surviving a power cut is not worth a flush to storage per report.
class OutputTarget {
public:
    OutputTarget() = default;
    OutputTarget(const OutputTarget &) = delete;
    OutputTarget &operator=(const OutputTarget &) = delete;
    ~OutputTarget() { Discard(); }

    int Open(const char *outPath);
    bool Write(const void *data, size_t size);
    bool Write(const std::string &text) { return Write(text.data(), text.size()); }
    int Finish();
    // The status of the failure that made Write() return false.
    int FailureStatus() const { return WriteFailureStatus(error_); }

private:
    bool CreateTemporary();
    bool FlushBuffer();
    bool WriteThrough(const void *data, size_t size);
    void Discard();

    std::string outPath_;
    platform::Folder folder_;
    std::string name_;
    std::string tempName_; // empty once renamed into place or removed
    platform::Descriptor file_;
    struct stat created_ = {};
    std::vector<char> buffer_;
    size_t used_ = 0;
    int error_ = 0;
};

int OutputTarget::Open(const char *outPath)
{
    outPath_ = outPath;
    std::string folderPath;
    if (!platform::SplitPath(outPath_, &folderPath, &name_)) {
        LOG_RECORD(logSpecError, "output %s names no file", outPath);
        return SED_ERR_OPEN_OUTPUT;
    }
    folder_ = platform::Folder::Open(folderPath.c_str());
    if (!folder_.verified()) {
        LOG_RECORD(logSpecError, "cannot create output %s: %s", outPath, WhyRefused(folder_));
        return SED_ERR_OPEN_OUTPUT;
    }
    struct stat existing;
    if (fstatat(folder_.fd(), name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        (!S_ISREG(existing.st_mode) || (folder_.shared() && existing.st_uid != geteuid()))) {
        LOG_RECORD(logSpecError, "output %s is not a regular file of the service's own", outPath);
        return SED_ERR_OPEN_OUTPUT;
    }
    RemoveLeftovers(folder_, name_);
    if (!CreateTemporary()) {
        LOG_RECORD(logSpecError, "cannot create output for %s: %s", outPath, std::strerror(errno));
        return SED_ERR_OPEN_OUTPUT;
    }
    buffer_.resize(kWriteBufferSize);
    return SED_OK;
}

// Creates the temporary output and locks it. A file whose lock a sweeping call took first, or
// that it removed before the lock was taken, is given up for a new name.
bool OutputTarget::CreateTemporary()
{
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        tempName_ = name_ + "." + UniqueSuffix(attempt);
        platform::Descriptor file(
            openat(folder_.fd(), tempName_.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
        if (!file && errno == EEXIST)
            continue;
        file = platform::Descriptor(platform::KeepAboveStandardStreams(file.Release()));
        if (!file || fstat(file.get(), &created_) != 0)
            break;
        // Without open-file-description locks (an old kernel) the file goes unlocked, and no
        // call can prove it dead: it is then never removed as a leftover.
        const bool locked = TryFileLock(file.get(), F_WRLCK);
        if ((locked || (errno != EAGAIN && errno != EACCES)) &&
            NameIsStill(folder_, tempName_, created_)) {
            file_ = std::move(file);
            return true;
        }
    }
    tempName_.clear();
    return false;
}

bool OutputTarget::WriteThrough(const void *data, size_t size)
{
    if (!platform::WriteAllUnguarded(file_.get(), data, size)) {
        error_ = errno ? errno : EIO;
        return false;
    }
    return true;
}

bool OutputTarget::FlushBuffer()
{
    bool written = WriteThrough(buffer_.data(), used_);
    used_ = 0;
    return written;
}

// Collects small pieces into buffer_ and writes it out in one piece when full; a piece as
// large as the buffer goes out directly.
bool OutputTarget::Write(const void *data, size_t size)
{
    if (size > buffer_.size() - used_) {
        if (!FlushBuffer())
            return false;
        if (size >= buffer_.size())
            return WriteThrough(data, size);
    }
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
    return true;
}

// Writes out what is left and renames the file into place, if it is still the file this call
// wrote. Some file systems report a write error only at close, so the writing descriptor is
// closed first, a duplicate keeping the file's lock until the rename.
int OutputTarget::Finish()
{
    bool written = FlushBuffer();
    platform::Descriptor writing = std::move(file_);
    file_ = platform::Descriptor(fcntl(writing.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    if (written && (!file_ || !writing.Close())) {
        error_ = errno;
        written = false;
    }
    if (!written) {
        LOG_RECORD(logSpecError, "writing %s failed: %s", outPath_.c_str(), std::strerror(error_));
        return FailureStatus();
    }
    if (!NameIsStill(folder_, tempName_, created_) ||
        renameat(folder_.fd(), tempName_.c_str(), folder_.fd(), name_.c_str()) != 0) {
        LOG_RECORD(logSpecError, "cannot rename %s to %s: %s", tempName_.c_str(), outPath_.c_str(),
                   std::strerror(errno));
        return SED_ERR_RENAME;
    }
    tempName_.clear();
    file_.Close();
    return SED_OK;
}

// Abandons an unfinished output: the temporary file goes, an existing target stays as it was.
// Runs from the destructor, so an exception on the way out cleans up too.
void OutputTarget::Discard()
{
    if (!tempName_.empty() && NameIsStill(folder_, tempName_, created_))
        unlinkat(folder_.fd(), tempName_.c_str(), 0);
    tempName_.clear();
    file_.Close();
}

// ---------------------------------------------------------------------------------------------
// 4. The pass
// ---------------------------------------------------------------------------------------------

// Reads up to `size` bytes, fewer only at the end of the file. False, errno set, on an error.
bool ReadBlock(int fd, unsigned char *into, size_t size, size_t *got)
{
    *got = 0;
    while (*got < size) {
        const ssize_t count = ::read(fd, into + *got, size - *got);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return count == 0;
        *got += static_cast<size_t>(count);
    }
    return true;
}

// Copies data[0, held) to `output` with every decided occurrence replaced. Sets `*decided` to
// the first byte not yet written: the start of a possible occurrence that needs more input.
bool ReplaceDecided(const unsigned char *data, size_t held, bool atEnd,
                    const streameditor::FindMatcher &matcher,
                    const std::vector<std::string> &replacements, OutputTarget &output,
                    size_t *decided)
{
    size_t copied = 0, position = 0, findIndex = 0;
    while (matcher.FindNext(data, position, held, atEnd, &position, &findIndex)) {
        if (!output.Write(data + copied, position - copied) ||
            !output.Write(replacements[findIndex]))
            return false;
        position += matcher.FindLength(findIndex);
        copied = position;
    }
    *decided = position;
    return output.Write(data + copied, position - copied);
}

// Reads `input` in blocks and writes it edited. Between blocks only the undecided tail - less
// than the longest find text - is kept, in front of the next block, so occurrences across block
// edges are found while memory stays bounded. Replacements go to the output only, so replaced
// text is never scanned again.
int CopyReplacing(int input, const char *inPath, const streameditor::FindMatcher &matcher,
                  const std::vector<std::string> &replacements, OutputTarget &output)
{
    size_t blockSize = readBlockSize;
    std::vector<unsigned char> buffer(matcher.LongestFind() - 1 + blockSize);
    size_t held = 0;
    for (bool atEnd = false; !atEnd;) {
        size_t got = 0;
        if (!ReadBlock(input, buffer.data() + held, blockSize, &got)) {
            LOG_RECORD(logSpecError, "reading %s failed: %s", inPath, std::strerror(errno));
            return SED_ERR_READ;
        }
        atEnd = got < blockSize;
        held += got;
        size_t decided = 0;
        if (!ReplaceDecided(buffer.data(), held, atEnd, matcher, replacements, output, &decided))
            return output.FailureStatus();
        std::memmove(buffer.data(), buffer.data() + decided, held - decided);
        held -= decided;
    }
    return SED_OK;
}

// Opens the input: a file of the service's own (regular, one link, owned by the effective user)
// in a verified folder, opened without following a link. No other user can have planted, linked
// or swapped such a file, so what is read is the file the caller wrote.
platform::Descriptor OpenInput(const char *inPath)
{
    std::string folderPath, name;
    if (!platform::SplitPath(inPath, &folderPath, &name)) {
        LOG_RECORD(logSpecError, "input %s names no file", inPath);
        return platform::Descriptor();
    }
    const platform::Folder folder = platform::Folder::Open(folderPath.c_str());
    if (!folder.verified()) {
        LOG_RECORD(logSpecError, "cannot open input %s: %s", inPath, WhyRefused(folder));
        return platform::Descriptor();
    }
    platform::Descriptor input = platform::OpenOwnFile(folder, name.c_str(), O_RDONLY);
    input = platform::Descriptor(platform::KeepAboveStandardStreams(input.Release()));
    if (!input)
        LOG_RECORD(logSpecError, "cannot open input %s: %s", inPath, std::strerror(errno));
    return input;
}

int EditFile(const SedCmdArray &cmds, const char *inPath, const char *outPath)
{
    platform::Descriptor input = OpenInput(inPath);
    if (!input)
        return SED_ERR_OPEN_INPUT;
    std::vector<std::string> replacements = ResolveReplacements(cmds);
    streameditor::FindMatcher matcher(FindTextsOf(cmds));

    // The output's writes raise no SIGPIPE or SIGXFSZ in the caller: a file size limit is a
    // failed write like a full disk. One guard for the whole edit.
    const platform::WriteSignalGuard guard;
    OutputTarget output;
    int status = output.Open(outPath);
    if (status == SED_OK)
        status = CopyReplacing(input.get(), inPath, matcher, replacements, output);
    if (status == SED_OK) {
        if (void (*hook)() = beforeRenameHook.load())
            hook();
        status = output.Finish();
    }
    return status;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// 5. Exported functions
// ---------------------------------------------------------------------------------------------

extern "C" SedCmdArray *Sed_CreateCmdArray(int capacity)
{
    if (capacity < 1)
        return nullptr;
    SedCmdArray *cmds = new (std::nothrow) SedCmdArray;
    if (!cmds)
        return nullptr;
    cmds->capacity = static_cast<size_t>(capacity);
    return cmds;
}

extern "C" int Sed_AddCommand(SedCmdArray *cmds, int type, const char *find, const char *replace)
{
    if (!cmds || !find || !replace || !*find || !IsCommandType(type) ||
        cmds->commands.size() >= cmds->capacity)
        return SED_ERR_ARGUMENT;
    try {
        cmds->commands.push_back(SedCommand{type, find, replace});
        return SED_OK;
    } catch (...) {
        return SED_ERR_MEMORY;
    }
}

extern "C" int Sed_FileEdit(SedCmdArray *cmds, const char *inPath, const char *outPath)
{
    if (!cmds || !inPath || !outPath)
        return SED_ERR_ARGUMENT;
    try {
        return EditFile(*cmds, inPath, outPath);
    } catch (...) {
        // Only allocation can throw here; the output target has removed its temporary file.
        LOG_RECORD(logSpecError, "out of memory editing %s", inPath);
        return SED_ERR_MEMORY;
    }
}

extern "C" int Sed_FreeCommands(SedCmdArray *cmds)
{
    delete cmds;
    return 0;
}

void streameditor::SetReadBlockSize(size_t bytes)
{
    readBlockSize = bytes ? bytes : kDefaultReadBlockSize;
}

void streameditor::SetBeforeRenameHook(void (*hook)())
{
    beforeRenameHook = hook;
}
