// Configuration stand-in: answers every call from a small "key = value" text file. The file is
// parsed once and its values kept; a report asks for a format at every time field, and reading
// the file each time cost more than the rest of the field. Whether the file changed is looked at
// (one stat) at most every 100 ms, so an edit still takes effect on the next run.
//
// Nothing here allocates: the file's text and its entries live in fixed storage. A device short
// of memory still gets its date and time formats, which a report cannot do without.

#include "config.h"

#include "keyfile.h"
#include "logrecord.h"
#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <climits>
#include <mutex>
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
enum { kMaxFileSize = 64 * 1024, kMaxEntries = 1024 };

// The entries of the file version last read, shared by all threads under `mutex`. Only a
// successful read is kept (a missing file is one: every key absent); after a failure `loaded` is
// false and the next call reads again. A file too large for `text` is a property of its version:
// it is reported once and answered as unavailable until the file changes.
struct Configuration {
    std::mutex mutex;
    bool loaded = false;
    bool tooLarge = false;
    char path[PATH_MAX] = "";  // the DEVICE_CONFIG it was read from
    platform::FileVersion version;
    timespec lastCheck = {0, 0};
    char text[kMaxFileSize];
    config::Entry entries[kMaxEntries];
    size_t count = 0;
    // Problems of values are logged once per version of the file, not at every call.
    bool formatReported[2] = {false, false};
    bool regionReported = false;
};
Configuration configuration;

const char *ConfigPath()
{
    const char *path = platform::EnvValue("DEVICE_CONFIG");
    return path ? path : kDefaultConfigPath;
}

// Reads the file at `path` into the configuration's text and parses it. False when it cannot be
// read: not a regular file (opened without blocking, so a FIFO or device cannot hang the
// caller), or a read error. A file larger than the text is read as far as it fits and flagged.
bool ReadEntries(const char *path, platform::FileVersion &version)
{
    Configuration &c = configuration;
    struct stat status;
    const platform::Descriptor file =
        platform::OpenRegularFile(AT_FDCWD, path, O_RDONLY, 0, &status);
    if (!file)
        return false;
    size_t size = 0;
    char probe;
    for (ssize_t got; size < sizeof c.text; size += static_cast<size_t>(got)) {
        got = read(file.get(), c.text + size, sizeof c.text - size);
        if (got < 0 && errno == EINTR)
            got = 0;
        else if (got < 0)
            return false;
        else if (got == 0)
            break;
    }
    c.tooLarge = size == sizeof c.text && read(file.get(), &probe, 1) > 0;
    c.count = c.tooLarge ? 0 : config::ParseKeyFile(std::string_view(c.text, size), path,
                                                     c.entries, kMaxEntries);
    if (c.tooLarge)
        LOG_RECORD(logSpecError, "%s is larger than %d bytes; not read",
                   path, kMaxFileSize);
    version = platform::FileVersion(status);
    return true;
}

long long NanosecondsBetween(const timespec &earlier, const timespec &later)
{
    return (later.tv_sec - earlier.tv_sec) * 1000000000LL + (later.tv_nsec - earlier.tv_nsec);
}

// Brings `configuration` up to date with the file DEVICE_CONFIG names; called with the mutex
// held. False when the file exists but cannot be read now, or is too large to be read.
bool Refresh()
{
    Configuration &c = configuration;
    const char *path = ConfigPath();
    if (std::strlen(path) >= sizeof c.path)
        return c.loaded = false;
    // A clock tick's precision does for a 100 ms check, and the coarse clock costs a sixth.
    timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    const bool samePath = std::strcmp(c.path, path) == 0;
    if (c.loaded && samePath && NanosecondsBetween(c.lastCheck, now) < kCheckIntervalNanoseconds)
        return !c.tooLarge;
    c.lastCheck = now;
    struct stat status;
    const bool present = stat(path, &status) == 0;
    if (!present && errno != ENOENT && errno != ENOTDIR)
        return c.loaded = false;
    const platform::FileVersion current =
        present ? platform::FileVersion(status) : platform::FileVersion();
    if (c.loaded && samePath && c.version == current)
        return !c.tooLarge;

    c.loaded = false;
    c.count = 0;
    c.tooLarge = false;
    platform::FileVersion read;
    if (present && !ReadEntries(path, read))
        return false;
    std::strcpy(c.path, path);
    c.version = read;
    c.formatReported[0] = c.formatReported[1] = false;
    c.regionReported = false;
    c.loaded = true;
    return !c.tooLarge;
}

// The value of `key`, from the last line that sets it; NULL when no line does.
const std::string_view *Find(std::string_view key)
{
    for (size_t i = configuration.count; i-- > 0;) {
        if (configuration.entries[i].key == key)
            return &configuration.entries[i].value;
    }
    return nullptr;
}

// Parses a market-region code: decimal digits only, no sign, within 32 bits.
bool ParseRegion(std::string_view text, uint32_t *region)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    uint64_t parsed = 0;
    for (char digit : text) {
        parsed = parsed * 10 + static_cast<uint64_t>(digit - '0');
        if (parsed > UINT32_MAX)
            return false;
    }
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
        const std::string_view *configured = Find(name);
        if (configured && configured->size() > TD_FORMAT_SIZE - 1) {
            bool &reported = configuration.formatReported[date ? 0 : 1];
            if (!reported)
                LOG_RECORD(logSpecError,
                           "%s \"%.*s\" is longer than %d characters; using the default \"%s\"",
                           name, static_cast<int>(configured->size()), configured->data(),
                           TD_FORMAT_SIZE - 1, defaultFormat);
            reported = true;
            configured = nullptr;
        }
        const std::string_view chosen = configured ? *configured : defaultFormat;
        format[chosen.copy(format, chosen.size())] = '\0';
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
        const std::string_view *text = Find(name);
        if (!text)
            return CFG_ERR_ABSENT;
        if (text->size() >= size)
            return CFG_ERR_TOO_LONG;
        value[text->copy(value, text->size())] = '\0';
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
        const std::string_view *text = Find(kMarketRegionKey);
        if (!text)
            return CFG_ERR_ABSENT;
        if (!ParseRegion(*text, region)) {
            if (!configuration.regionReported)
                LOG_RECORD(logSpecError,
                           "%s \"%.*s\" is not an unsigned 32-bit number", kMarketRegionKey,
                           static_cast<int>(text->size()), text->data());
            configuration.regionReported = true;
            return CFG_ERR_MALFORMED;
        }
        return CFG_OK;
    } catch (...) {
        return CFG_ERR_UNAVAILABLE;
    }
}
