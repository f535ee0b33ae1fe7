// Logging stand-in: formats each record as one escaped line in a buffer on the stack and hands it
// to the sink that DEVICE_LOG names (standard error, syslog, or a file kept open for append).
// Nothing here allocates or throws: a logging call cannot fail its caller.

#include "log.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

extern "C" {
const LogSpec logSpecEnter = {LOG_SPEC_ENTER, "ENTER"};
const LogSpec logSpecInfo = {LOG_SPEC_INFO, "INFO"};
const LogSpec logSpecWarn = {LOG_SPEC_WARN, "WARN"};
const LogSpec logSpecError = {LOG_SPEC_ERROR, "ERROR"};
}

namespace {

const size_t kRecordSize = 8192;                   // the longest record, as log.h promises
const size_t kStampLength = 23;                    // "YYYY-MM-DDTHH:MM:SS.mmm"
const long kRotationCheckNanoseconds = 100000000;  // look for a rotated file every 100 ms...
const unsigned kRotationCheckRecords = 256;        // ...or every 256 records, whichever is first

// Level names from the least to the most severe; DEVICE_LOG_LEVEL names the least one written.
const char *const kLevelOrder[] = {"ENTER", "INFO", "NOTICE", "WARN", "ERROR"};
const int kInfoRank = 1;

// The log file and the timestamp cache, shared by all threads under `mutex`. The file stays open
// between records; opening it per record cost four system calls a record. It is closed when the
// library is unloaded.
struct LogFile {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    int fd = -1;
    char path[PATH_MAX] = "";  // the DEVICE_LOG value `fd` was opened from
    dev_t device = 0;
    ino_t inode = 0;
    timespec lastCheck = {0, 0};
    unsigned recordsSinceCheck = 0;
    time_t stampSecond = -1;
    char stamp[kStampLength + 8] = "";  // "YYYY-MM-DDTHH:MM:SS" of stampSecond

    ~LogFile() { Close(); }
    void Close()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
        path[0] = '\0';
    }
};
LogFile logFile;

int RankOf(const char *levelName)
{
    for (int rank = 0; rank < 5; ++rank) {
        if (std::strcmp(levelName, kLevelOrder[rank]) == 0)
            return rank;
    }
    return kInfoRank;  // "L<n>" records of Log_Entry
}

// The two variables that steer a record, found in one pass over the environment: every record
// reads them, and getenv would walk the environment once for each.
struct Settings {
    const char *sink = nullptr;          // DEVICE_LOG
    const char *minimumLevel = nullptr;  // DEVICE_LOG_LEVEL
};

Settings ReadSettings()
{
    static const char kSink[] = "DEVICE_LOG", kLevelSuffix[] = "_LEVEL=";
    const size_t sinkLength = sizeof kSink - 1, suffixLength = sizeof kLevelSuffix - 1;
    Settings settings;
    for (char **entry = environ; entry && *entry; ++entry) {
        const char *variable = *entry;
        if (variable[0] != kSink[0] || std::strncmp(variable, kSink, sinkLength) != 0)
            continue;
        if (variable[sinkLength] == '=' && !settings.sink)
            settings.sink = variable + sinkLength + 1;
        else if (std::strncmp(variable + sinkLength, kLevelSuffix, suffixLength) == 0 &&
                 !settings.minimumLevel)
            settings.minimumLevel = variable + sinkLength + suffixLength;
    }
    return settings;
}

bool Filtered(const char *levelName, const char *minimumLevel)
{
    if (!minimumLevel)
        return false;
    for (int rank = 0; rank < 5; ++rank) {
        if (strcasecmp(minimumLevel, kLevelOrder[rank]) == 0)
            return RankOf(levelName) < rank;
    }
    return false;
}

// Writes "YYYY-MM-DDTHH:MM:SS.mmm" (local time of `now`) to `out`. The part up to the seconds
// changes once a second, so it is formatted once a second. Called with the mutex held.
void PutTimestamp(char *out, const timespec &now)
{
    if (now.tv_sec != logFile.stampSecond) {
        tm local;
        if (!localtime_r(&now.tv_sec, &local))
            std::memset(&local, 0, sizeof local);
        std::strftime(logFile.stamp, sizeof logFile.stamp, "%Y-%m-%dT%H:%M:%S", &local);
        logFile.stampSecond = now.tv_sec;
    }
    const long milliseconds = now.tv_nsec / 1000000;
    std::memcpy(out, logFile.stamp, kStampLength - 4);
    out[kStampLength - 4] = '.';
    out[kStampLength - 3] = static_cast<char>('0' + milliseconds / 100);
    out[kStampLength - 2] = static_cast<char>('0' + milliseconds / 10 % 10);
    out[kStampLength - 1] = static_cast<char>('0' + milliseconds % 10);
}

size_t EscapedSize(unsigned char c)
{
    if (c == '\n' || c == '\t' || c == '\\')
        return 2;
    return (c < 0x20 || c == 0x7f) ? 4 : 1;
}

// Escapes control bytes and backslashes of `text` in place, so that no data can split or forge a
// record. The escaped text is cut before the first byte whose escape would pass `room`. Returns
// the escaped length.
size_t EscapeInPlace(char *text, size_t length, size_t room)
{
    // The plain part first, in a tight loop: most records have nothing to escape.
    static const auto kPlain = [] {
        std::array<bool, 256> plain{};
        for (unsigned c = 0; c < plain.size(); ++c)
            plain[c] = EscapedSize(static_cast<unsigned char>(c)) == 1;
        return plain;
    }();
    const size_t plainEnd = length < room ? length : room;
    size_t kept = 0;
    while (kept < plainEnd && kPlain[static_cast<unsigned char>(text[kept])])
        ++kept;
    size_t escaped = kept;
    while (kept < length && escaped + EscapedSize(static_cast<unsigned char>(text[kept])) <= room)
        escaped += EscapedSize(static_cast<unsigned char>(text[kept++]));
    if (escaped == kept)
        return kept;
    // From the end backwards, so every byte is read before its place is written.
    for (size_t from = kept, to = escaped; from > 0;) {
        const unsigned char c = static_cast<unsigned char>(text[--from]);
        to -= EscapedSize(c);
        if (c == '\n' || c == '\t' || c == '\\') {
            text[to] = '\\';
            text[to + 1] = c == '\n' ? 'n' : c == '\t' ? 't' : '\\';
        } else if (c < 0x20 || c == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            std::memcpy(text + to, hex, 4);
        } else {
            text[to] = static_cast<char>(c);
        }
    }
    return escaped;
}

// Writes the decimal digits of `magnitude` at `out`, after a '-' when `negative`; returns the end.
char *PutDecimal(char *out, unsigned long long magnitude, bool negative)
{
    char digits[24];
    char *first = digits + sizeof digits;
    do
        *--first = static_cast<char>('0' + magnitude % 10);
    while (magnitude /= 10);
    if (negative)
        *--first = '-';
    const size_t length = static_cast<size_t>(digits + sizeof digits - first);
    std::memcpy(out, first, length);
    return out + length;
}

// Formats a message whose format holds only %s, %d, %i, %u and %% into `out` (`room` bytes), as
// vsnprintf would. Returns its length, or -1 for any other directive, a null text, or a message
// that does not fit: vsnprintf does those. Nearly every record is of this kind, and printf's
// machinery cost more than the rest of the record.
int FormatPlain(char *out, size_t room, const char *format, va_list args)
{
    const char *const end = out + room - 1;
    char *at = out;
    for (const char *next = format; *next; ++next) {
        if (*next != '%') {
            const char *literalEnd = strchrnul(next, '%');
            const size_t literal = static_cast<size_t>(literalEnd - next);
            if (literal > static_cast<size_t>(end - at))
                return -1;
            std::memcpy(at, next, literal);
            at += literal;
            next = literalEnd - 1;
            continue;
        }
        char number[24];
        const char *piece = number;
        size_t length;
        switch (*++next) {
        case '%':
            piece = "%";
            length = 1;
            break;
        case 's':
            piece = va_arg(args, const char *);
            if (!piece)
                return -1;
            length = std::strlen(piece);
            break;
        case 'd':
        case 'i': {
            const int value = va_arg(args, int);
            const unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : value;
            length = static_cast<size_t>(PutDecimal(number, magnitude, value < 0) - number);
            break;
        }
        case 'u':
            length = static_cast<size_t>(PutDecimal(number, va_arg(args, unsigned), false) - number);
            break;
        default:  // flags, widths, other conversions, or a '%' that ends the format
            return -1;
        }
        if (length > static_cast<size_t>(end - at))
            return -1;
        std::memcpy(at, piece, length);
        at += length;
    }
    *at = '\0';
    return static_cast<int>(at - out);
}

// Formats the message into `out` (`room` bytes) and escapes it there; returns its length.
size_t PutMessage(char *out, size_t room, const char *format, va_list args)
{
    va_list plainArgs;
    va_copy(plainArgs, args);
    int length = format ? FormatPlain(out, room, format, plainArgs) : -1;
    va_end(plainArgs);
    if (length < 0 && format)
        length = std::vsnprintf(out, room, format, args);
    if (length < 0 && format)
        length = std::snprintf(out, room, "(unprintable) %s", format);
    else if (length < 0)
        length = std::snprintf(out, room, "(null format)");
    const size_t formatted = static_cast<size_t>(length) < room ? static_cast<size_t>(length) : room - 1;
    return EscapeInPlace(out, formatted, room - 1);
}

int SyslogPriority(const char *levelName)
{
    const int priorities[] = {LOG_DEBUG, LOG_INFO, LOG_NOTICE, LOG_WARNING, LOG_ERR};
    return priorities[RankOf(levelName)];
}

// Opens `path` for appending; only a regular file will do. O_NONBLOCK keeps a FIFO without a
// reader from blocking the caller: its open fails, and one with a reader is refused by fstat.
bool OpenLogFile(const char *path, const timespec &now)
{
    logFile.Close();
    if (std::strlen(path) >= sizeof logFile.path)
        return false;
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    logFile.fd = fd;
    std::strcpy(logFile.path, path);
    logFile.device = status.st_dev;
    logFile.inode = status.st_ino;
    logFile.lastCheck = now;
    logFile.recordsSinceCheck = 0;
    return true;
}

// True when the file at the path is no longer the open one (rotated or removed). Looked at only
// every 100 ms or 256 records, so a run of records costs one write each. `now` is the record's
// own clock reading; a clock set back counts as time passed.
bool Rotated(const timespec &now)
{
    const long long elapsed = (now.tv_sec - logFile.lastCheck.tv_sec) * 1000000000LL +
                              (now.tv_nsec - logFile.lastCheck.tv_nsec);
    if (++logFile.recordsSinceCheck < kRotationCheckRecords && elapsed >= 0 &&
        elapsed < kRotationCheckNanoseconds)
        return false;
    logFile.lastCheck = now;
    logFile.recordsSinceCheck = 0;
    struct stat status;
    return stat(logFile.path, &status) != 0 || status.st_dev != logFile.device ||
           status.st_ino != logFile.inode;
}

bool WriteAll(int fd, const char *record, size_t length)
{
    return write(fd, record, length) == static_cast<ssize_t>(length);
}

// Appends one record to the file `path` with one write, so that records of several processes
// never interleave. A failed write may mean the file went away: it is reopened and tried once more.
bool WriteToFile(const char *path, const char *record, size_t length, const timespec &now)
{
    if (logFile.fd < 0 || std::strcmp(path, logFile.path) != 0 || Rotated(now)) {
        if (!OpenLogFile(path, now))
            return false;
    }
    if (WriteAll(logFile.fd, record, length))
        return true;
    return OpenLogFile(path, now) && WriteAll(logFile.fd, record, length);
}

// Appends `text` at `out`; returns the end.
char *PutText(char *out, const char *text)
{
    const size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
}

// Writes " LEVEL file:line " at `out`, the file name cut to `fileRoom` bytes; returns the end.
// Built by hand: a second printf per record cost as much as the message's own.
char *PutHead(char *out, const char *levelName, const char *file, size_t fileRoom, int line)
{
    *out++ = ' ';
    out = PutText(out, levelName);
    *out++ = ' ';
    const size_t fileLength = strnlen(file ? file : "?", fileRoom);
    std::memcpy(out, file ? file : "?", fileLength);
    out += fileLength;
    *out++ = ':';
    const unsigned magnitude = line < 0 ? 0u - static_cast<unsigned>(line) : line;
    out = PutDecimal(out, magnitude, line < 0);
    *out++ = ' ';
    return out;
}

// Builds the record "stamp LEVEL file:line message" and writes it to the sink of DEVICE_LOG, or
// to standard error when that cannot be opened.
void Emit(const char *levelName, const char *file, int line, const char *format, va_list args)
{
    const Settings settings = ReadSettings();
    if (Filtered(levelName, settings.minimumLevel))
        return;
    char record[kRecordSize];
    const size_t headRoom = kRecordSize / 2 - 32;  // level name, separators and line number fit
    size_t length = PutHead(record + kStampLength, levelName, file, headRoom, line) - record;
    length += PutMessage(record + length, kRecordSize - 1 - length, format, args);
    record[length++] = '\n';
    record[length] = '\0';

    pthread_mutex_lock(&logFile.mutex);
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    PutTimestamp(record, now);
    const char *sink = settings.sink;
    if (sink && std::strcmp(sink, "syslog") == 0)
        syslog(LOG_USER | SyslogPriority(levelName), "%s", record + kStampLength + 1);
    else if (!sink || !*sink || !WriteToFile(sink, record, length, now))
        WriteAll(STDERR_FILENO, record, length);
    pthread_mutex_unlock(&logFile.mutex);
}

} // namespace

extern "C" void Log_SpecEntry(LogSpec kind, const char *file, int line, const char *format, ...)
{
    int savedErrno = errno;  // logging must not disturb the caller's errno
    va_list args;
    va_start(args, format);
    Emit(kind.name ? kind.name : "INFO", file, line, format, args);
    va_end(args);
    errno = savedErrno;
}

extern "C" void Log_Entry(int level, const char *file, int line, const char *format, ...)
{
    int savedErrno = errno;
    char name[16];
    switch (level) {
    case LOG_LEVEL_INFO: std::strcpy(name, "INFO"); break;
    case LOG_LEVEL_ERROR: std::strcpy(name, "ERROR"); break;
    case LOG_LEVEL_NOTICE: std::strcpy(name, "NOTICE"); break;
    default: std::snprintf(name, sizeof name, "L%d", level);
    }
    va_list args;
    va_start(args, format);
    Emit(name, file, line, format, args);
    va_end(args);
    errno = savedErrno;
}
