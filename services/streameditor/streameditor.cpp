// Stream editor stand-in: applies a set of find-and-replace commands to a file in one streaming
// pass and writes the result to a new file.
//
// Sections, in the order a call of Sed_FileEdit() goes through them:
//   1. the command array;
//   2. replacement texts, with the system date and time of types 6 and 7;
//   3. the output target: a temporary file renamed into place;
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
#include "log.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
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

std::string HexOf(const std::string &text)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(text.size() * 2);
    for (unsigned char byte : text) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}

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
        return HexOf(text);
    Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                  "%s gives no text; using the replacement \"%s\" instead", formatName,
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

// A file size limit (EFBIG, with SIGXFSZ ignored) leaves no room just as a full disk does.
int WriteFailureStatus(int error)
{
    return (error == ENOSPC || error == EDQUOT || error == EFBIG) ? SED_ERR_NO_SPACE : SED_ERR_WRITE;
}

// A name suffix that differs between processes, calls and attempts.
std::string UniqueSuffix(unsigned attempt)
{
    static std::atomic<uint64_t> counter{0};
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t mixed = (uint64_t(getpid()) << 32) ^ uint64_t(now.tv_nsec) ^
                     (uint64_t(now.tv_sec) << 20) ^ (counter++ << 40) ^ attempt;
    mixed = (mixed ^ (mixed >> 31)) * 0x9e3779b97f4a7c15ULL;
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix;
    for (int i = 0; i < 8; ++i, mixed /= 62)
        suffix += kChars[mixed % 62];
    return suffix;
}

// Creates "<outPath>.<suffix>", a new file in the directory of `outPath`, so that the final
// rename stays within one file system. The file gets the usual 0666 less the umask, as if it
// had been created under its final name. Returns the descriptor, or -1 with errno set.
int CreateTempBeside(const std::string &outPath, std::string *tempPath)
{
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        *tempPath = outPath + "." + UniqueSuffix(attempt);
        int fd = open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0)
                tempPath->clear();
            return fd;
        }
    }
    tempPath->clear();
    return -1;
}

// Where the edited text goes: a temporary file beside the target, renamed into place by
// Finish(), so no reader sees a half-written file and a failure leaves the old file as it was.
// A target that exists and is not a regular file is refused: a rename would put a plain file
// where a device or FIFO was, and writing to one directly could block or never fill.
//
// Finish() flushes and closes but does not fsync: the output is a transient report handed
// straight to printing, so surviving a power cut is not worth a flush to storage per report.
// Write errors, a full disk included, surface from fwrite, fflush or fclose.
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
    bool FlushBuffer();
    bool WriteThrough(const void *data, size_t size);
    int CloseFile();
    void Discard();

    std::string outPath_;
    std::string tempPath_;  // empty once renamed into place
    FILE *file_ = nullptr;
    std::vector<char> buffer_;
    size_t used_ = 0;
    int error_ = 0;
};

int OutputTarget::Open(const char *outPath)
{
    outPath_ = outPath;
    struct stat status;
    if (stat(outPath, &status) == 0 && !S_ISREG(status.st_mode)) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "output %s is not a regular file", outPath);
        return SED_ERR_OPEN_OUTPUT;
    }
    int fd = CreateTempBeside(outPath_, &tempPath_);
    if (fd >= 0) {
        file_ = fdopen(fd, "wb");
        if (!file_)
            close(fd);
    }
    if (!file_) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "cannot create output for %s: %s",
                      outPath, std::strerror(errno));
        return SED_ERR_OPEN_OUTPUT;
    }
    // Writes already come in large blocks from buffer_; a second buffer in stdio would only
    // copy them again.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    buffer_.resize(kWriteBufferSize);
    return SED_OK;
}

bool OutputTarget::WriteThrough(const void *data, size_t size)
{
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) {
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

int OutputTarget::CloseFile()
{
    errno = 0;
    bool flushed = FlushBuffer() && std::fflush(file_) == 0 && !std::ferror(file_);
    if (!flushed && error_ == 0)
        error_ = errno ? errno : EIO;
    FILE *file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0 && flushed) {
        error_ = errno ? errno : EIO;
        flushed = false;
    }
    if (!flushed) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "writing %s failed: %s",
                      outPath_.c_str(), std::strerror(error_));
        return FailureStatus();
    }
    return SED_OK;
}

// Writes out what is left, closes the file and renames it into place.
int OutputTarget::Finish()
{
    int status = CloseFile();
    if (status != SED_OK)
        return status;
    if (std::rename(tempPath_.c_str(), outPath_.c_str()) != 0) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "cannot rename %s to %s: %s",
                      tempPath_.c_str(), outPath_.c_str(), std::strerror(errno));
        return SED_ERR_RENAME;
    }
    tempPath_.clear();
    return SED_OK;
}

// Abandons an unfinished output: the temporary file goes, an existing target stays as it was.
// Runs from the destructor, so an exception on the way out cleans up too.
void OutputTarget::Discard()
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!tempPath_.empty()) {
        std::remove(tempPath_.c_str());
        tempPath_.clear();
    }
}

// ---------------------------------------------------------------------------------------------
// 4. The pass
// ---------------------------------------------------------------------------------------------

struct FileCloser {
    void operator()(FILE *file) const { std::fclose(file); }
};
using InputFile = std::unique_ptr<FILE, FileCloser>;

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
int CopyReplacing(FILE *input, const char *inPath, const streameditor::FindMatcher &matcher,
                  const std::vector<std::string> &replacements, OutputTarget &output)
{
    size_t blockSize = readBlockSize;
    std::vector<unsigned char> buffer(matcher.LongestFind() - 1 + blockSize);
    size_t held = 0;
    for (bool atEnd = false; !atEnd;) {
        size_t got = std::fread(buffer.data() + held, 1, blockSize, input);
        if (got < blockSize) {
            if (std::ferror(input)) {
                Log_SpecEntry(logSpecError, kLogFile, __LINE__, "reading %s failed: %s",
                              inPath, std::strerror(errno));
                return SED_ERR_READ;
            }
            atEnd = true;
        }
        held += got;
        size_t decided = 0;
        if (!ReplaceDecided(buffer.data(), held, atEnd, matcher, replacements, output, &decided))
            return output.FailureStatus();
        std::memmove(buffer.data(), buffer.data() + decided, held - decided);
        held -= decided;
    }
    return SED_OK;
}

// Opens `inPath` for reading only if it is a regular file. O_NONBLOCK keeps the open itself from
// waiting for a FIFO's writer; it is cleared again once the file is known to be regular.
InputFile OpenRegularInput(const char *inPath)
{
    int fd = open(inPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const char *failure = fd < 0 ? std::strerror(errno) : nullptr;
    struct stat status;
    if (!failure && (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)))
        failure = "not a regular file";
    else if (!failure && fcntl(fd, F_SETFL, O_RDONLY) != 0)
        failure = std::strerror(errno);
    FILE *file = failure ? nullptr : fdopen(fd, "rb");
    if (!file && fd >= 0)
        close(fd);
    if (!file)
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "cannot open input %s: %s", inPath,
                      failure ? failure : "out of memory");
    return InputFile(file);
}

int EditFile(const SedCmdArray &cmds, const char *inPath, const char *outPath)
{
    InputFile input = OpenRegularInput(inPath);
    if (!input)
        return SED_ERR_OPEN_INPUT;
    std::vector<std::string> replacements = ResolveReplacements(cmds);
    streameditor::FindMatcher matcher(FindTextsOf(cmds));

    OutputTarget output;
    int status = output.Open(outPath);
    if (status == SED_OK)
        status = CopyReplacing(input.get(), inPath, matcher, replacements, output);
    if (status == SED_OK)
        status = output.Finish();
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
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "out of memory editing %s", inPath);
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
