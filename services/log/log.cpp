// Logging stand-in: formats each record as one escaped line in a buffer on the stack and hands it
// to the sink that DEVICE_LOG names (standard error, syslog, or a file kept open for append).
// A record is built and written without allocating; only opening the file checks its folder
// with a few allocations, and a failure there is a refusal like any other. Nothing throws: a
// logging call cannot fail its caller.

// The library exports the functions its contract header declares, and nothing else.
#pragma GCC visibility push(default)
#include "log.h"
#pragma GCC visibility pop

#include "platform.h"

#include <algorithm>
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
#include <string>
#include <sys/resource.h>
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

const size_t kRecordSize = 8192;                  // the longest record, as log.h promises
const size_t kStampLength = 23;                   // "YYYY-MM-DDTHH:MM:SS.mmm"
const long kRotationCheckNanoseconds = 100000000; // look for a rotated file every 100 ms...
const unsigned kRotationCheckRecords = 256;       // ...or every 256 records, whichever is first
const char *const kOwnFile = "log";               // the file name in the log's own records
const size_t kZoneRoom = 256;                     // a longer TZ value counts as changed each time

// Level names from the least to the most severe; DEVICE_LOG_LEVEL names the least one written.
const char *const kLevelOrder[] = {"ENTER", "INFO", "NOTICE", "WARN", "ERROR"};
const int kInfoRank = 1;

// The log file and the timestamp cache, shared by all threads under `mutex`. The file stays open
// between records; opening it per record cost four system calls a record. Its folder stays open
// too, so that the look for a rotated file goes through the folder that was verified.
struct LogFile {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    platform::Descriptor file;
    platform::Folder folder;
    char path[PATH_MAX] = ""; // the DEVICE_LOG value `file` was opened from
    size_t nameOffset = 0;    // where the file's name within `folder` starts in `path`
    bool guarded = true;      // a file-size limit was set when last looked at
    dev_t device = 0;
    ino_t inode = 0;
    timespec lastCheck = {0, 0};
    unsigned recordsSinceCheck = 0;
    char refused[PATH_MAX] = ""; // the last DEVICE_LOG value whose refusal was recorded
    time_t stampSecond = -1;
    char stamp[kStampLength + 8] = ""; // "YYYY-MM-DDTHH:MM:SS" of stampSecond
    bool zoneKnown = false, zoneSet = false;
    char zone[kZoneRoom] = ""; // the TZ value the stamp was made under

    ~LogFile() { Close(); }
    // Closed for good when the library is unloaded: a record written later goes to a path
    // opened anew, never to a number that may name another file by then.
    void Close()
    {
        file = platform::Descriptor();
        folder = platform::Folder();
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
    return kInfoRank; // "L<n>" records of Log_Entry
}

// The variables that steer a record, found in one pass over the environment: every record reads
// them, and getenv would walk the environment once for each.
struct Settings {
    const char *sink = nullptr;         // DEVICE_LOG; empty counts as unset
    const char *minimumLevel = nullptr; // DEVICE_LOG_LEVEL
    const char *zone = nullptr;         // TZ, as it stands (empty is a zone of its own)
};

constexpr std::array<bool, 256> kSettingInitial = [] {
    std::array<bool, 256> initial{};
    initial['D'] = initial['T'] = true;
    return initial;
}();

Settings ReadSettings()
{
    static const char kSink[] = "DEVICE_LOG", kLevelSuffix[] = "_LEVEL=";
    const size_t sinkLength = sizeof kSink - 1, suffixLength = sizeof kLevelSuffix - 1;
    Settings settings;
    for (char **entry = environ; entry && *entry; ++entry) {
        const char *variable = *entry;
        // One look-up passes over every variable that starts with neither letter.
        if (!kSettingInitial[static_cast<unsigned char>(variable[0])])
            continue;
        if (variable[0] == 'T') {
            if (variable[1] == 'Z' && variable[2] == '=' && !settings.zone)
                settings.zone = variable + 3;
            continue;
        }
        if (std::strncmp(variable, kSink, sinkLength) != 0)
            continue;
        if (variable[sinkLength] == '=' && !settings.sink)
            settings.sink = variable + sinkLength + 1;
        else if (std::strncmp(variable + sinkLength, kLevelSuffix, suffixLength) == 0 &&
                 !settings.minimumLevel)
            settings.minimumLevel = variable + sinkLength + suffixLength;
    }
    if (settings.sink && !*settings.sink)
        settings.sink = nullptr;
    return settings;
}

// Level names are compared ASCII-only: under a Turkish locale strcasecmp folds "i" to a dotless
// one, and "info" would name no level.
bool Filtered(const char *levelName, const char *minimumLevel)
{
    if (!minimumLevel)
        return false;
    for (int rank = 0; rank < 5; ++rank) {
        if (platform::AsciiEqualIgnoringCase(minimumLevel, kLevelOrder[rank]))
            return RankOf(levelName) < rank;
    }
    return false;
}

// glibc's localtime_r reads TZ only once: a host that changes it expects the next record in the
// new zone, so a changed value is handed to tzset and the cached stamp is dropped. Called with
// the mutex held.
void NoticeZone(const char *zone)
{
    const bool set = zone != nullptr;
    if (logFile.zoneKnown && set == logFile.zoneSet &&
        (!set || std::strcmp(zone, logFile.zone) == 0))
        return;
    tzset();
    const bool fits = !set || std::strlen(zone) < sizeof logFile.zone;
    logFile.zoneKnown = fits; // a value cut to fit is never taken for the same
    logFile.zoneSet = set;
    std::snprintf(logFile.zone, sizeof logFile.zone, "%s", set && fits ? zone : "");
    logFile.stampSecond = -1;
}

// Writes "YYYY-MM-DDTHH:MM:SS.mmm" (local time of `now`) to `out`. The part up to the seconds
// changes once a second, so it is formatted once a second. Called with the mutex held.
void PutTimestamp(char *out, const timespec &now, const char *zone)
{
    NoticeZone(zone);
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

/* ---- Escaping -------------------------------------------------------------------------------- */

// What a byte of a message asks for: nothing, an escape, or a look at the bytes after it (the
// first byte of a line separator in UTF-8).
enum ByteClass : unsigned char { kPlain, kEscaped, kMaybeSeparator };

constexpr std::array<unsigned char, 256> kByteClass = [] {
    std::array<unsigned char, 256> classes{};
    for (unsigned c = 0; c < classes.size(); ++c) {
        const bool control = c < 0x20 || c == 0x7f || c == '\\';
        classes[c] = control ? kEscaped : (c == 0xc2 || c == 0xe2) ? kMaybeSeparator : kPlain;
    }
    return classes;
}();

// The length of the line separator that starts at `text` (`left` bytes), 0 for none: U+0085,
// U+2028 and U+2029 start a new line for a reader of the log as Unicode text. (U+000B, U+000C
// and U+001C to U+001E are control bytes, escaped as such.)
size_t SeparatorLength(const unsigned char *text, size_t left)
{
    if (left >= 2 && text[0] == 0xc2 && text[1] == 0x85)
        return 2;
    if (left >= 3 && text[0] == 0xe2 && text[1] == 0x80 && (text[2] == 0xa8 || text[2] == 0xa9))
        return 3;
    return 0;
}

// The length of the line separator that ends with text[end - 1], 0 for none.
size_t SeparatorEndingAt(const unsigned char *text, size_t end)
{
    if (end >= 2 && SeparatorLength(text + end - 2, 2) == 2)
        return 2;
    if (end >= 3 && SeparatorLength(text + end - 3, 3) == 3)
        return 3;
    return 0;
}

// One character of a message: its bytes, and how many it takes once escaped. A UTF-8 sequence
// is one unit, so that a cut never falls inside it; a byte that is not UTF-8 is a unit alone.
struct Unit {
    size_t bytes;
    size_t escaped;
};

Unit UnitAt(const unsigned char *text, size_t left)
{
    const unsigned char c = text[0];
    if (const size_t separator = SeparatorLength(text, left))
        return {separator, 4 * separator};
    if (c == '\n' || c == '\t' || c == '\\')
        return {1, 2};
    if (c < 0x20 || c == 0x7f)
        return {1, 4};
    const size_t sequence = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
    size_t bytes = 1;
    while (bytes < sequence && bytes < left && (text[bytes] & 0xc0) == 0x80)
        ++bytes;
    return {bytes, bytes};
}

// The end of the last whole character among the first `cut` bytes of `text`: a cut inside a
// UTF-8 sequence moves back to where the sequence starts.
size_t CharacterBoundary(const char *text, size_t cut)
{
    for (size_t back = 1; back <= 3 && back <= cut; ++back) {
        const unsigned char c = static_cast<unsigned char>(text[cut - back]);
        if ((c & 0xc0) == 0x80)
            continue;
        const size_t sequence = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
        return sequence > back ? cut - back : cut;
    }
    return cut;
}

char *PutByteEscape(char *out, unsigned char c)
{
    *out++ = '\\';
    *out++ = 'x';
    return platform::PutHex(out, &c, 1);
}

// Escapes control bytes, backslashes and line separators of `text` in place, so that no data
// can split or forge a record. The escaped text is cut before the first character whose escape
// would pass `room`. Returns the escaped length.
size_t EscapeInPlace(char *text, size_t length, size_t room)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    // The plain part first, in a tight loop: most records have nothing to escape.
    const size_t plainEnd = length < room ? length : room;
    const unsigned char *at = bytes, *const plainStop = bytes + plainEnd;
    for (;;) {
        while (at < plainStop && kByteClass[*at] == kPlain)
            ++at;
        // A separator's first byte is mostly that of another character (an en dash, an "Â").
        if (at == plainStop || kByteClass[*at] == kEscaped ||
            SeparatorLength(at, length - static_cast<size_t>(at - bytes)) != 0)
            break;
        ++at;
    }
    size_t kept = static_cast<size_t>(at - bytes);
    if (kept == length)
        return kept;
    if (kept == room)
        return CharacterBoundary(text, kept);
    size_t escaped = kept;
    while (kept < length) {
        const Unit unit = UnitAt(bytes + kept, length - kept);
        if (escaped + unit.escaped > room)
            break;
        escaped += unit.escaped;
        kept += unit.bytes;
    }
    // From the end backwards, so every byte is read before its place is written; a separator is
    // recognised by the bytes before it, which are not written yet.
    for (size_t from = kept, to = escaped; to != from;) {
        const unsigned char c = bytes[from - 1];
        if (const size_t separator = SeparatorEndingAt(bytes, from)) {
            from -= separator;
            to -= 4 * separator;
            char *out = text + to;
            for (size_t i = 0; i < separator; ++i)
                out = PutByteEscape(out, bytes[from + i]);
            continue;
        }
        --from;
        if (c == '\n' || c == '\t' || c == '\\') {
            to -= 2;
            text[to] = '\\';
            text[to + 1] = c == '\n' ? 'n' : c == '\t' ? 't' : '\\';
        } else if (c < 0x20 || c == 0x7f) {
            to -= 4;
            PutByteEscape(text + to, c);
        } else {
            text[--to] = static_cast<char>(c);
        }
    }
    return escaped;
}

/* ---- Formatting ------------------------------------------------------------------------------ */

// Writes the decimal digits of `magnitude` at `out`, after a '-' when `negative`; returns the end.
char *PutDecimal(char *out, unsigned long long magnitude, bool negative)
{
    char digits[24];
    char *first = digits + sizeof digits;
    do
        *--first = static_cast<char>('0' + magnitude % 10);
    while ((magnitude /= 10) != 0);
    if (negative)
        *--first = '-';
    const size_t length = static_cast<size_t>(digits + sizeof digits - first);
    std::memcpy(out, first, length);
    return out + length;
}

// Formats a message whose format holds only %s, %d, %i, %u and %% into `out` (`room` bytes), as
// vsnprintf would. Returns its length, or -1 for any other directive, a null text, or a message
// that does not fit: vsnprintf does those. Nearly every record is of this kind, and printf's
// machinery cost more than the rest of the record: this saves 8% of the instructions of a whole
// run of 10,000 jobs (bench-run's data under callgrind: 2.36 G with vsnprintf, 2.18 G without).
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
            length =
                static_cast<size_t>(PutDecimal(number, va_arg(args, unsigned), false) - number);
            break;
        default: // flags, widths, other conversions, or a '%' that ends the format
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

// Formats the message into `out` (`room` bytes) and escapes it there; returns its length. A
// message too long for the record is cut at a character boundary.
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
    const size_t formatted = static_cast<size_t>(length) < room ? static_cast<size_t>(length)
                                                                : CharacterBoundary(out, room - 1);
    return EscapeInPlace(out, formatted, room - 1);
}

// Appends `text` at `out`; returns the end.
char *PutText(char *out, const char *text)
{
    return std::copy_n(text, std::strlen(text), out);
}

// Writes " LEVEL file:line " at `out`, the file name cut to `fileRoom` bytes; returns the end.
// Built by hand: a second printf per record cost as much as the message's own (17% of the
// instructions of a whole run of 10,000 jobs: 2.56 G with snprintf, 2.18 G without).
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

// Builds "LEVEL file:line message\n" in `record` after the room of its time stamp, which is put
// in once the record's turn comes; returns the record's length.
size_t BuildRecord(char *record, const char *levelName, const char *file, int line,
                   const char *format, va_list args)
{
    const size_t headRoom = kRecordSize / 2 - 32; // level name, separators and line number fit
    size_t length = PutHead(record + kStampLength, levelName, file, headRoom, line) - record;
    length += PutMessage(record + length, kRecordSize - 1 - length, format, args);
    record[length++] = '\n';
    record[length] = '\0';
    return length;
}

/* ---- Sinks ----------------------------------------------------------------------------------- */

int SyslogPriority(const char *levelName)
{
    const int priorities[] = {LOG_DEBUG, LOG_INFO, LOG_NOTICE, LOG_WARNING, LOG_ERR};
    return priorities[RankOf(levelName)];
}

// True when a file-size limit is set: a write past it raises SIGXFSZ, so the file's writes take
// the signal guard. Without a limit a regular file raises neither signal, and the guard's two
// system calls a record are saved.
bool FileSizeLimited()
{
    rlimit limit;
    return getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY;
}

// Says in `why` why the file sink was refused; returns false.
bool Refuse(char (&why)[512], const char *format, const char *detail)
{
    std::snprintf(why, sizeof why, format, detail);
    return false;
}

// Opens `path` for appending, through its verified folder and never through a link; only a
// regular file will do, and in a folder that others may write only the service's own. O_NONBLOCK
// keeps a FIFO without a reader from blocking the caller. `why` says why a path was refused.
bool OpenLogFile(const char *path, const timespec &now, char (&why)[512])
{
    logFile.Close();
    if (std::strlen(path) >= sizeof logFile.path)
        return Refuse(why, "%s", "the path is too long");
    std::string folderPath, name;
    try {
        if (!platform::SplitPath(path, &folderPath, &name))
            return Refuse(why, "%s", "it names a folder");
    } catch (const std::bad_alloc &) {
        return Refuse(why, "%s", std::strerror(ENOMEM));
    }
    platform::Folder folder = platform::Folder::Open(folderPath.c_str());
    if (folder.state() == platform::Folder::State::kUnsafe)
        return Refuse(why, "its folder is not safe: %s", folder.why());
    if (!folder.verified())
        return Refuse(why, "its folder cannot be opened: %s", std::strerror(folder.error()));
    struct stat status;
    platform::Descriptor file = platform::OpenRegularFile(
        folder.fd(), name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0644, &status);
    if (!file) {
        // A link fails with ELOOP, or with EACCES where the kernel protects links in sticky
        // folders; either way the record should say what stands there.
        const int error = errno;
        struct stat entry;
        if (fstatat(folder.fd(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(entry.st_mode))
            return Refuse(why, "%s", "it is a symbolic link");
        return Refuse(why, "%s",
                      error == EINVAL ? "it is not a regular file" : std::strerror(error));
    }
    if (folder.shared() && !platform::OwnFile(status))
        return Refuse(why, "%s", "others may write its folder and the file is not the log's own");
    file = platform::Descriptor(platform::KeepAboveStandardStreams(file.Release()));
    if (!file)
        return Refuse(why, "%s", std::strerror(errno));
    logFile.file = std::move(file);
    logFile.folder = std::move(folder);
    std::strcpy(logFile.path, path);
    logFile.nameOffset = std::strlen(path) - name.size();
    logFile.guarded = FileSizeLimited();
    logFile.device = status.st_dev;
    logFile.inode = status.st_ino;
    logFile.lastCheck = now;
    logFile.recordsSinceCheck = 0;
    return true;
}

// True once every 100 ms or 256 records: the times to look for a rotated file, or to try a
// refused path again. `now` is the record's own clock reading; a clock set back counts as time
// passed.
bool CheckDue(const timespec &now)
{
    const long long elapsed = (now.tv_sec - logFile.lastCheck.tv_sec) * 1000000000LL +
                              (now.tv_nsec - logFile.lastCheck.tv_nsec);
    if (++logFile.recordsSinceCheck < kRotationCheckRecords && elapsed >= 0 &&
        elapsed < kRotationCheckNanoseconds)
        return false;
    logFile.lastCheck = now;
    logFile.recordsSinceCheck = 0;
    return true;
}

// True when the file at the path is no longer the open one (rotated or removed). Looked at only
// when a check is due, so a run of records costs one write each. The file-size limit is read
// again at the same times: a host that sets one between two looks, and fills the file past it
// before the next, may still get SIGXFSZ from a record.
bool Rotated(const timespec &now)
{
    if (!CheckDue(now))
        return false;
    logFile.guarded = FileSizeLimited();
    struct stat status;
    return fstatat(logFile.folder.fd(), logFile.path + logFile.nameOffset, &status,
                   AT_SYMLINK_NOFOLLOW) != 0 ||
           status.st_dev != logFile.device || status.st_ino != logFile.inode;
}

bool AppendToFile(const char *record, size_t length)
{
    return logFile.guarded ? platform::WriteAll(logFile.file.get(), record, length)
                           : platform::WriteAllUnguarded(logFile.file.get(), record, length);
}

// Appends one record to the file `path` with one write, so that records of several processes
// never interleave. A failed write may mean the file went away: it is reopened and tried once
// more. `why` says why the record could not be written there.
bool WriteToFile(const char *path, const char *record, size_t length, const timespec &now,
                 char (&why)[512])
{
    // A path refused already is tried again when a check is due, not at every record.
    if (!logFile.file && std::strcmp(path, logFile.refused) == 0 && !CheckDue(now))
        return false;
    if (!logFile.file || std::strcmp(path, logFile.path) != 0 || Rotated(now)) {
        if (!OpenLogFile(path, now, why))
            return false;
    }
    if (AppendToFile(record, length))
        return true;
    if (!OpenLogFile(path, now, why))
        return false;
    return AppendToFile(record, length) || Refuse(why, "%s", std::strerror(errno));
}

// Builds a warning record of the log's own, as BuildRecord does.
__attribute__((format(printf, 3, 4))) size_t BuildWarning(char *record, int line,
                                                          const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const size_t length = BuildRecord(record, "WARN", kOwnFile, line, format, args);
    va_end(args);
    return length;
}

// Writes the log's own record that DEVICE_LOG `path` is not used and why, to standard error;
// once for each path in a row, not once a record. Called with the mutex held.
void RecordRefusal(const char *path, const char *why, const timespec &now, const char *zone)
{
    if (std::strcmp(path, logFile.refused) == 0)
        return;
    std::snprintf(logFile.refused, sizeof logFile.refused, "%s", path);
    char record[kRecordSize];
    const size_t length =
        BuildWarning(record, __LINE__,
                     "DEVICE_LOG \"%s\" not used: %s; records go to standard error", path, why);
    PutTimestamp(record, now, zone);
    platform::WriteAll(STDERR_FILENO, record, length);
}

// Builds the record "stamp LEVEL file:line message" and writes it to the sink of DEVICE_LOG, or
// to standard error when that cannot be used.
void Emit(const char *levelName, const char *file, int line, const char *format, va_list args)
{
    const Settings settings = ReadSettings();
    if (Filtered(levelName, settings.minimumLevel))
        return;
    char record[kRecordSize];
    const size_t length = BuildRecord(record, levelName, file, line, format, args);

    pthread_mutex_lock(&logFile.mutex);
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    PutTimestamp(record, now, settings.zone);
    const char *sink = settings.sink;
    char why[512]; // not cleared: 512 bytes a record cost more than the rest of the head
    why[0] = '\0';
    if (sink && std::strcmp(sink, "syslog") == 0) {
        syslog(LOG_USER | SyslogPriority(levelName), "%s", record + kStampLength + 1);
    } else if (sink && WriteToFile(sink, record, length, now, why)) {
        logFile.refused[0] = '\0';
    } else {
        if (sink)
            RecordRefusal(sink, why, now, settings.zone);
        platform::WriteAll(STDERR_FILENO, record, length);
    }
    pthread_mutex_unlock(&logFile.mutex);
}

} // namespace

extern "C" void Log_SpecEntry(LogSpec kind, const char *file, int line, const char *format, ...)
{
    int savedErrno = errno; // logging must not disturb the caller's errno
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
    case LOG_LEVEL_INFO:
        std::strcpy(name, "INFO");
        break;
    case LOG_LEVEL_ERROR:
        std::strcpy(name, "ERROR");
        break;
    case LOG_LEVEL_NOTICE:
        std::strcpy(name, "NOTICE");
        break;
    default:
        std::snprintf(name, sizeof name, "L%d", level);
    }
    va_list args;
    va_start(args, format);
    Emit(name, file, line, format, args);
    va_end(args);
    errno = savedErrno;
}
