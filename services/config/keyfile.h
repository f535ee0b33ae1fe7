/*
 * keyfile.h - the configuration stand-in's reading of its "key = value" file. Internal to the
 * stand-in: not part of its interface (config.h), hidden from users of the library, and declared
 * here only so that the fuzz target reaches exactly the parser the stand-in runs.
 */
#ifndef SERVICES_CONFIG_KEYFILE_H
#define SERVICES_CONFIG_KEYFILE_H

#include <cstddef>
#include <string_view>

namespace config {

/* One "key = value" line of the file, as views into the file's text. */
struct Entry {
    std::string_view key, value;
};

/* 'ParseKeyFile()' - fills `entries` with the keys and values of the file text `text` in the order
 * of their lines, as config.h describes the format, and returns how many. A malformed line, and
 * every line beyond `capacity` entries, is skipped and logged with `path` and its line number.
 * Allocates nothing: the entries point into `text`. */
size_t ParseKeyFile(std::string_view text, const char *path, Entry *entries, size_t capacity);

} // namespace config

#endif
