// The configuration file's format: one "key = value" a line, split at the first "=", blanks
// around both trimmed, "#" lines and blank lines ignored.

#include "keyfile.h"

#include "logrecord.h"

#include <algorithm>

namespace config {
namespace {

const char kLogFile[] = "config";
const char kBlanks[] = " \t\r\n\v\f";

std::string_view Trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return std::string_view();
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The key and value of one line into `entry`; false for a line that carries none. Blank and
// comment lines carry nothing; a malformed line is logged with its place so it can be found and
// fixed.
bool ParseLine(std::string_view line, const char *path, int lineNumber, Entry &entry)
{
    const std::string_view content = Trimmed(line);
    if (content.empty() || content[0] == '#')
        return false;
    const size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        LOG_RECORD(logSpecWarn, "%s:%d: no '=' in line, skipped", path, lineNumber);
        return false;
    }
    const std::string_view key = Trimmed(content.substr(0, equals));
    if (key.empty()) {
        LOG_RECORD(logSpecWarn, "%s:%d: empty key, line skipped", path, lineNumber);
        return false;
    }
    entry = {key, Trimmed(content.substr(equals + 1))};
    return true;
}

} // namespace

size_t ParseKeyFile(std::string_view text, const char *path, Entry *entries, size_t capacity)
{
    size_t count = 0;
    int lineNumber = 1;
    for (size_t start = 0; start < text.size(); ++lineNumber) {
        size_t end = std::min(text.find('\n', start), text.size());
        Entry entry;
        if (ParseLine(text.substr(start, end - start), path, lineNumber, entry)) {
            if (count < capacity)
                entries[count++] = entry;
            else
                LOG_RECORD(logSpecWarn, "%s:%d: more than %zu keys, line skipped", path, lineNumber,
                           capacity);
        }
        start = end + 1;
    }
    return count;
}

} // namespace config
