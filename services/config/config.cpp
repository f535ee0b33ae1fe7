// Configuration stand-in: answers every call from a small "key = value" text file. The file is
// parsed once and its values kept; a report asks for a format at every time field, and reading
// the file each time cost more than the rest of the field. Whether the file changed is looked at
// (one stat) at most every 100 ms, so an edit still takes effect on the next run.

#include "config.h"

#include "keyfile.h"
#include "log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kLogFile[] = "config";
const char kDefaultConfigPath[] = "/etc/device/device.conf";

const char kDateFormatName[] = "OID_ATT_DATE_FORMAT";
const char kTimeFormatName[] = "OID_ATT_TIME_FORMAT";
const char kDefaultDateFormat[] = "%m/%d/%Y";
const char kDefaultTimeFormat[] = "%H:%M:%S";
const char kMarketRegionKey[] = "market.region";

const long long kCheckIntervalNanoseconds = 100000000;

// What identifies one version of a file: it changes when the file is written or replaced.
struct FileVersion {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified = {0, 0};

    explicit FileVersion(const struct stat *status = nullptr)
    {
        if (status) {
            exists = true;
            device = status->st_dev;
            inode = status->st_ino;
            size = status->st_size;
            modified = status->st_mtim;
        }
    }
    bool operator==(const FileVersion &other) const
    {
        return exists == other.exists && device == other.device && inode == other.inode &&
               size == other.size && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

using config::Values;

// The values of the file version last read, shared by all threads under `mutex` and freed when the
// library is unloaded. Only a successful read is kept (a missing file is one: every key absent);
// after a failure `loaded` is false and the next call reads again.
struct Configuration {
    std::mutex mutex;
    bool loaded = false;
    std::string path;  // the DEVICE_CONFIG it was read from
    FileVersion version;
    timespec lastCheck = {0, 0};
    Values values;
    // Problems of values are logged once per version of the file, not at every call.
    bool formatReported[2] = {false, false};
    bool regionReported = false;
};
Configuration configuration;

const char *ConfigPath()
{
    const char *path = std::getenv("DEVICE_CONFIG");
    return (path && *path) ? path : kDefaultConfigPath;
}

struct Descriptor {
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
};

// Reads and parses the file at `path`. False when it cannot be read: not a regular file (opened
// without blocking, so a FIFO or device cannot hang the caller), or a read error.
bool ReadValues(const char *path, Values &values, FileVersion &version)
{
    Descriptor file{open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    struct stat status;
    if (file.fd < 0 || fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = read(file.fd, chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno != EINTR)
            return false;
        if (got > 0)
            text.append(chunk, static_cast<size_t>(got));
    }
    values = config::ParseKeyFile(text, path);
    version = FileVersion(&status);
    return true;
}

long long NanosecondsBetween(const timespec &earlier, const timespec &later)
{
    return (later.tv_sec - earlier.tv_sec) * 1000000000LL + (later.tv_nsec - earlier.tv_nsec);
}

// Brings `configuration` up to date with the file DEVICE_CONFIG names; called with the mutex
// held. False when the file exists but cannot be read now; may throw std::bad_alloc.
bool Refresh()
{
    Configuration &c = configuration;
    const char *path = ConfigPath();
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (c.loaded && c.path == path && NanosecondsBetween(c.lastCheck, now) < kCheckIntervalNanoseconds)
        return true;
    c.lastCheck = now;
    struct stat status;
    const bool present = stat(path, &status) == 0;
    if (!present && errno != ENOENT && errno != ENOTDIR)
        return c.loaded = false;
    const FileVersion current(present ? &status : nullptr);
    if (c.loaded && c.path == path && c.version == current)
        return true;

    c.loaded = false;
    Values values;
    FileVersion read;
    if (present && !ReadValues(path, values, read))
        return false;
    c.path = path;
    c.values.swap(values);
    c.version = read;
    c.formatReported[0] = c.formatReported[1] = false;
    c.regionReported = false;
    return c.loaded = true;
}

const std::string *Find(std::string_view key)
{
    auto found = configuration.values.find(key);
    return found == configuration.values.end() ? nullptr : &found->second;
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
    if (!format || (formatId != OA_XID_DATE_FORMAT && formatId != OA_XID_TIME_FORMAT))
        return CFG_ERR_ARGUMENT;
    const bool date = formatId == OA_XID_DATE_FORMAT;
    const char *name = date ? kDateFormatName : kTimeFormatName;
    const char *defaultFormat = date ? kDefaultDateFormat : kDefaultTimeFormat;
    try {
        std::lock_guard<std::mutex> lock(configuration.mutex);
        if (!Refresh())
            return CFG_ERR_UNAVAILABLE;
        const std::string *configured = Find(name);
        if (configured && configured->size() > TD_FORMAT_SIZE - 1) {
            bool &reported = configuration.formatReported[date ? 0 : 1];
            if (!reported)
                Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                              "%s \"%s\" is longer than %d characters; using the default \"%s\"",
                              name, configured->c_str(), TD_FORMAT_SIZE - 1, defaultFormat);
            reported = true;
            configured = nullptr;
        }
        std::strcpy(format, configured ? configured->c_str() : defaultFormat);
        return CFG_OK;
    } catch (...) {
        return CFG_ERR_UNAVAILABLE;
    }
}

extern "C" int Cfg_GetAttrValue(const char *name, char *value, size_t size)
{
    if (!name || !value || size == 0)
        return CFG_ERR_ARGUMENT;
    value[0] = '\0';
    try {
        std::lock_guard<std::mutex> lock(configuration.mutex);
        if (!Refresh())
            return CFG_ERR_UNAVAILABLE;
        const std::string *text = Find(name);
        if (!text)
            return CFG_ERR_ABSENT;
        if (text->size() >= size)
            return CFG_ERR_TOO_LONG;
        std::memcpy(value, text->c_str(), text->size() + 1);
        return CFG_OK;
    } catch (...) {
        return CFG_ERR_UNAVAILABLE;
    }
}

extern "C" int CfgSrvGetMarketRegion(int instance, uint32_t *region)
{
    if (instance != 0 || !region)
        return CFG_ERR_ARGUMENT;
    try {
        std::lock_guard<std::mutex> lock(configuration.mutex);
        if (!Refresh())
            return CFG_ERR_UNAVAILABLE;
        const std::string *text = Find(kMarketRegionKey);
        if (!text)
            return CFG_ERR_ABSENT;
        if (!ParseRegion(*text, region)) {
            if (!configuration.regionReported)
                Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                              "%s \"%s\" is not an unsigned 32-bit number", kMarketRegionKey,
                              text->c_str());
            configuration.regionReported = true;
            return CFG_ERR_MALFORMED;
        }
        return CFG_OK;
    } catch (...) {
        return CFG_ERR_UNAVAILABLE;
    }
}
