// The configuration file's parser on any bytes. Besides what the sanitizers catch, every value it
// keeps must be one a reader of the format would see: a key without "=" or a line break in it.

#include "keyfile.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t kMost = 64;
    config::Entry entries[kMost];
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const size_t count = config::ParseKeyFile(text, "fuzz", entries, kMost);
    for (const config::Entry *entry = entries; entry < entries + count; ++entry) {
        if (entry->key.empty() || entry->key.find_first_of("=\n") != entry->key.npos)
            __builtin_trap();
        if (entry->value.find('\n') != entry->value.npos)
            __builtin_trap();
    }
    return 0;
}
