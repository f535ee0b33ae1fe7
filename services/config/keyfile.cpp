// The configuration file's format: one "key = value" a line, split at the first "=", blanks
// around both trimmed, "#" lines and blank lines ignored.

#include "keyfile.h"

#include "log.h"

#include <string_view>

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

// Adds the key and value of one line to `values`, as if the file were applied line by line.
// Blank and comment lines carry nothing; a malformed line is logged with its place so it can be
// found and fixed.
void ParseLine(std::string_view line, const char *path, int lineNumber, Values &values)
{
    const std::string_view content = Trimmed(line);
    if (content.empty() || content[0] == '#')
        return;
    const size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__, "%s:%d: no '=' in line, skipped", path,
                      lineNumber);
        return;
    }
    const std::string_view key = Trimmed(content.substr(0, equals));
    if (key.empty()) {
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__, "%s:%d: empty key, line skipped", path,
                      lineNumber);
        return;
    }
    values.insert_or_assign(std::string(key), std::string(Trimmed(content.substr(equals + 1))));
}

} // namespace

Values ParseKeyFile(const std::string &text, const char *path)
{
    Values values;
    int lineNumber = 1;
    for (size_t start = 0; start < text.size(); ++lineNumber) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        ParseLine(std::string_view(text).substr(start, end - start), path, lineNumber, values);
        start = end + 1;
    }
    return values;
}

} // namespace config
