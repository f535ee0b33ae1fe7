// Configuration stand-in: answers every call from a small "key = value" text file. The file is
// parsed once and its values kept; a report asks for a format at every time field, and reading
// the file each time cost more than the rest of the field. Whether the file changed is looked at
// (one stat) at most every 100 ms, so an edit still takes effect on the next run. A file that is
// missing, cannot be read or is too large is answered from the built-in defaults, announced by
// one record per version of the file.
//
// Nothing here allocates: the file's text and its entries live in fixed storage. A device short
// of memory still gets its date and time formats, which a report cannot do without.

// The library exports the functions its contract header declares, and nothing else.
#pragma GCC visibility push(default)
#include "config.h"
#pragma GCC visibility pop

#include "keyfile.h"
#include "logrecord.h"
#include "platform.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
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

const long kCheckIntervalMilliseconds = 100;
enum { kMaxFileSize = 64 * 1024, kMaxEntries = 1024 };

// The entries of the file version last read, shared by all threads under `mutex`: the file's, or
// none (every key absent: the built-in defaults) when it is missing or too large, which are
// properties of the version and kept as such. A file that cannot be read is answered from the
// defaults too but never kept: `loaded` stays false, and the next call reads again.
struct Configuration {
    std::mutex mutex;
    bool loaded = false;
    char path[PATH_MAX] = ""; // the DEVICE_CONFIG it was read from
    platform::FileVersion version;
    platform::RecheckTimer recheck{kCheckIntervalMilliseconds};
    char text[kMaxFileSize];
    config::Entry entries[kMaxEntries];
    size_t count = 0;
    // Problems of values are logged once per version of the file, not at every call; so are
    // the defaults used in its place.
    bool formatReported[2] = {false, false};
    bool regionReported = false;
    bool defaultsAnnounced = false;
    char announcedPath[PATH_MAX] = "";
    platform::FileVersion announcedVersion;
};
Configuration configuration;

const char *ConfigPath()
{
    const char *path = platform::EnvValue("DEVICE_CONFIG");
    return path ? path : kDefaultConfigPath;
}

// Says once per version of the file why its values are not used, and what is used instead.
void AnnounceDefaults(const char *path, const platform::FileVersion &version, LogSpec kind,
                      const char *reason, const char *detail)
{
    Configuration &c = configuration;
    if (c.defaultsAnnounced && version == c.announcedVersion &&
        std::strncmp(c.announcedPath, path, sizeof c.announcedPath) == 0)
        return;
    LOG_RECORD(kind,
               "configuration file %s %s%s; using the built-in defaults: dates \"%s\", "
               "times \"%s\", no device name, no market region",
               path, reason, detail, kDefaultDateFormat, kDefaultTimeFormat);
    c.defaultsAnnounced = true;
    c.announcedVersion = version;
    std::strncpy(c.announcedPath, path, sizeof c.announcedPath - 1);
}

enum class Read { kEntries, kTooLarge, kFailed };

// Reads the file at `path` into the configuration's text and parses it. kFailed, errno set, when
// it cannot be read: not a regular file (opened without blocking, so a FIFO or device cannot
// hang the caller), no descriptor to spare, or a read error.
Read ReadEntries(const char *path, platform::FileVersion &version)
{
    Configuration &c = configuration;
    struct stat status;
    const platform::Descriptor file =
        platform::OpenRegularFile(AT_FDCWD, path, O_RDONLY, 0, &status);
    if (!file)
        return Read::kFailed;
    size_t size = 0;
    char probe;
    for (ssize_t got; size < sizeof c.text; size += static_cast<size_t>(got)) {
        got = read(file.get(), c.text + size, sizeof c.text - size);
        if (got < 0 && errno == EINTR)
            got = 0;
        else if (got < 0)
            return Read::kFailed;
        else if (got == 0)
            break;
    }
    version = platform::FileVersion(status);
    if (size == sizeof c.text && read(file.get(), &probe, 1) > 0)
        return Read::kTooLarge;
    c.count = config::ParseKeyFile(std::string_view(c.text, size), path, c.entries, kMaxEntries);
    return Read::kEntries;
}

// Reads `path` anew into `configuration`, or leaves it with the defaults and says why.
void Load(const char *path, bool present, const platform::FileVersion &current)
{
    Configuration &c = configuration;
    c.loaded = false;
    c.count = 0;
    c.formatReported[0] = c.formatReported[1] = false;
    c.regionReported = false;
    std::strcpy(c.path, path);
    platform::FileVersion read = current;
    const Read outcome = present ? ReadEntries(path, read) : Read::kEntries;
    const int error = errno;
    if (outcome == Read::kFailed) {
        AnnounceDefaults(path, current, logSpecError, "cannot be read: ",
                         error == EINVAL ? "not a regular file" : std::strerror(error));
        return;
    }
    if (!present)
        AnnounceDefaults(path, current, logSpecWarn, "is missing", "");
    else if (outcome == Read::kTooLarge)
        AnnounceDefaults(path, read, logSpecError, "is larger than 64 KiB", "");
    else
        c.defaultsAnnounced = false; // the file answers: its next absence is news again
    c.version = read;
    c.loaded = true;
}

// Brings `configuration` up to date with the file DEVICE_CONFIG names; called with the mutex
// held. Afterwards it holds the file's entries, or none when the defaults answer.
void Refresh()
{
    Configuration &c = configuration;
    const char *path = ConfigPath();
    if (std::strlen(path) >= sizeof c.path) {
        c.loaded = false;
        c.count = 0;
        AnnounceDefaults(path, platform::FileVersion(), logSpecError,
                         "cannot be read: ", "its name is too long");
        return;
    }
    const bool samePath = std::strcmp(c.path, path) == 0;
    if (c.loaded && samePath && !c.recheck.Due())
        return;
    c.recheck.Restart();
    struct stat status;
    const bool present = stat(path, &status) == 0;
    const platform::FileVersion current =
        present ? platform::FileVersion(status) : platform::FileVersion();
    if (!present && errno != ENOENT && errno != ENOTDIR) {
        c.loaded = false;
        c.count = 0;
        AnnounceDefaults(path, current, logSpecError, "cannot be read: ", std::strerror(errno));
        return;
    }
    if (!c.loaded || !samePath || c.version != current)
        Load(path, present, current);
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
        Refresh();
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
        Refresh();
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
        Refresh();
        const std::string_view *text = Find(kMarketRegionKey);
        if (!text)
            return CFG_ERR_ABSENT;
        if (!ParseRegion(*text, region)) {
            if (!configuration.regionReported)
                LOG_RECORD(logSpecError, "%s \"%.*s\" is not an unsigned 32-bit number",
                           kMarketRegionKey, static_cast<int>(text->size()), text->data());
            configuration.regionReported = true;
            return CFG_ERR_MALFORMED;
        }
        return CFG_OK;
    } catch (...) {
        return CFG_ERR_UNAVAILABLE;
    }
}
