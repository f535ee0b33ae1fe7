// The configuration file's parser on any bytes. Besides what the sanitizers catch, every value it
// keeps must be one a reader of the format would see: a key without "=" or a line break in it.

#include "keyfile.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    config::Entry entries[64];
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    for (size_t i = 0, count = config::ParseKeyFile(text, "fuzz", entries, 64); i < count; ++i) {
        const auto &[key, value] = entries[i];
        if (key.empty() || key.find_first_of("=\n") != key.npos || value.find('\n') != value.npos)
            __builtin_trap();
    }
    return 0;
}
