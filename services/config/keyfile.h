/*
 * keyfile.h - the configuration stand-in's reading of its "key = value" file. Internal to the
 * stand-in: not part of its interface (config.h), hidden from users of the library, and declared
 * here only so that the fuzz target reaches exactly the parser the stand-in runs.
 */
#ifndef SERVICES_CONFIG_KEYFILE_H
#define SERVICES_CONFIG_KEYFILE_H

#include <map>
#include <string>

#define CONFIG_INTERNAL __attribute__((visibility("hidden")))

namespace config {

typedef std::map<std::string, std::string, std::less<>> Values;

/* 'ParseKeyFile()' - the values of the file text `text`, as config.h describes the format; the
 * last line of a key wins. A malformed line is skipped and logged with `path` and its line
 * number. May throw std::bad_alloc (nothing is logged twice for a line then). */
CONFIG_INTERNAL Values ParseKeyFile(const std::string &text, const char *path);

} // namespace config

#endif
