// Configuration stand-in: answers every call from a small "key = value" text file, read anew at
// each call so that an edit of the file takes effect at once and no state is kept between calls.

#include "config.h"

#include "log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>

namespace {

const char kLogFile[] = "config";
const char kDefaultConfigPath[] = "/etc/device/device.conf";

const char kDateFormatName[] = "OID_ATT_DATE_FORMAT";
const char kTimeFormatName[] = "OID_ATT_TIME_FORMAT";
const char kDefaultDateFormat[] = "%m/%d/%Y";
const char kDefaultTimeFormat[] = "%H:%M:%S";
const char kMarketRegionKey[] = "market.region";

const char kBlanks[] = " \t\r\n\v\f";

std::string ConfigPath()
{
    const char *path = std::getenv("DEVICE_CONFIG");
    return (path && *path) ? path : kDefaultConfigPath;
}

std::string Trimmed(const std::string &text)
{
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// What identifies one version of a file: it changes when the file is written or replaced.
struct FileVersion {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    time_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;

    bool operator==(const FileVersion &other) const
    {
        return path == other.path && device == other.device && inode == other.inode &&
               size == other.size && modifiedSeconds == other.modifiedSeconds &&
               modifiedNanoseconds == other.modifiedNanoseconds;
    }
};

FileVersion VersionOf(const std::string &path)
{
    FileVersion version;
    version.path = path;
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
        version.device = status.st_dev;
        version.inode = status.st_ino;
        version.size = status.st_size;
        version.modifiedSeconds = status.st_mtim.tv_sec;
        version.modifiedNanoseconds = status.st_mtim.tv_nsec;
    }
    return version;
}

std::string Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Logs a problem of the configuration file once per version of the file. The file is read at
// every call and the plug-in asks for a format at every time field of a report, so without this
// one bad line would be logged thousands of times a run; after an edit it is reported afresh.
void LogProblemOnce(LogSpec kind, int sourceLine, const std::string &message)
{
    static std::mutex mutex;
    static FileVersion loggedVersion;
    static std::set<std::string> logged;
    FileVersion current = VersionOf(ConfigPath());
    std::lock_guard<std::mutex> lock(mutex);
    if (!(current == loggedVersion)) {
        loggedVersion = current;
        logged.clear();
    }
    if (logged.insert(message).second)
        Log_SpecEntry(kind, kLogFile, sourceLine, "%s", message.c_str());
}

// Splits one line into key and value. Returns false for a blank or comment line, which carries
// nothing, and for a malformed line, which is logged with its place so it can be found and fixed.
bool ParseLine(const std::string &line, const std::string &path, int lineNumber,
               std::string *key, std::string *value)
{
    std::string content = Trimmed(line);
    if (content.empty() || content[0] == '#')
        return false;
    size_t equals = content.find('=');
    if (equals == std::string::npos) {
        LogProblemOnce(logSpecWarn, __LINE__,
                       Printf("%s:%d: no '=' in line, skipped", path.c_str(), lineNumber));
        return false;
    }
    *key = Trimmed(content.substr(0, equals));
    if (key->empty()) {
        LogProblemOnce(logSpecWarn, __LINE__,
                       Printf("%s:%d: empty key, line skipped", path.c_str(), lineNumber));
        return false;
    }
    *value = Trimmed(content.substr(equals + 1));
    return true;
}

// Looks `key` up in the configuration file. When a key appears more than once the last line
// wins, as it would if the file were applied line by line. Returns false when the key is absent.
bool LookUp(const char *key, std::string *value)
{
    std::string path = ConfigPath();
    std::ifstream file(path);
    if (!file)
        return false;
    bool found = false;
    std::string line, lineKey, lineValue;
    for (int lineNumber = 1; std::getline(file, line); ++lineNumber) {
        if (ParseLine(line, path, lineNumber, &lineKey, &lineValue) && lineKey == key) {
            *value = lineValue;
            found = true;
        }
    }
    return found;
}

// The configured format of a format attribute, or its default when none is configured or the
// configured one would not fit the caller's TD_FORMAT_SIZE buffer.
std::string FormatOf(const char *name, const char *defaultFormat)
{
    std::string format;
    if (!LookUp(name, &format))
        return defaultFormat;
    if (format.size() > TD_FORMAT_SIZE - 1) {
        LogProblemOnce(logSpecError, __LINE__,
                       Printf("%s \"%s\" is longer than %d characters; using the default \"%s\"",
                              name, format.c_str(), TD_FORMAT_SIZE - 1, defaultFormat));
        return defaultFormat;
    }
    return format;
}

// Parses a market-region code: decimal digits only, no sign, within 32 bits.
bool ParseRegion(const std::string &text, uint32_t *region)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || parsed > UINT32_MAX)
        return false;
    *region = static_cast<uint32_t>(parsed);
    return true;
}

} // namespace

extern "C" uint32_t oa_xid_of(const char *name)
{
    if (!name)
        return 0;
    if (std::strcmp(name, kDateFormatName) == 0)
        return OA_XID_DATE_FORMAT;
    if (std::strcmp(name, kTimeFormatName) == 0)
        return OA_XID_TIME_FORMAT;
    return 0;
}

extern "C" int TD_GetFormat(uint16_t formatId, char *format)
{
    if (!format)
        return CFG_ERR_ARGUMENT;
    try {
        std::string text;
        if (formatId == OA_XID_DATE_FORMAT)
            text = FormatOf(kDateFormatName, kDefaultDateFormat);
        else if (formatId == OA_XID_TIME_FORMAT)
            text = FormatOf(kTimeFormatName, kDefaultTimeFormat);
        else
            return CFG_ERR_ARGUMENT;
        std::memcpy(format, text.c_str(), text.size() + 1);
        return CFG_OK;
    } catch (...) {
        // Out of memory while reading the file: the defaults need none.
        std::strcpy(format, formatId == OA_XID_DATE_FORMAT ? kDefaultDateFormat
                                                           : kDefaultTimeFormat);
        return CFG_OK;
    }
}

extern "C" int Cfg_GetAttrValue(const char *name, char *value, size_t size)
{
    if (!name || !value || size == 0)
        return CFG_ERR_ARGUMENT;
    value[0] = '\0';
    try {
        std::string text;
        if (!LookUp(name, &text))
            return CFG_ERR_ABSENT;
        if (text.size() >= size)
            return CFG_ERR_TOO_LONG;
        std::memcpy(value, text.c_str(), text.size() + 1);
        return CFG_OK;
    } catch (...) {
        return CFG_ERR_ABSENT;
    }
}

extern "C" int CfgSrvGetMarketRegion(int instance, uint32_t *region)
{
    if (instance != 0 || !region)
        return CFG_ERR_ARGUMENT;
    try {
        std::string text;
        if (!LookUp(kMarketRegionKey, &text))
            return CFG_ERR_ABSENT;
        if (!ParseRegion(text, region)) {
            LogProblemOnce(logSpecError, __LINE__,
                           Printf("%s \"%s\" is not an unsigned 32-bit number",
                                  kMarketRegionKey, text.c_str()));
            return CFG_ERR_MALFORMED;
        }
        return CFG_OK;
    } catch (...) {
        return CFG_ERR_ABSENT;
    }
}
