// The configuration file's parser on any bytes. Besides what the sanitizers catch, every value it
// keeps must be one a reader of the format would see: a key without "=" or a line break in it.

#include "keyfile.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (const auto &[key, value] : config::ParseKeyFile(std::string(reinterpret_cast<const char *>(data), size), "fuzz"))
        if (key.empty() || key.find_first_of("=\n") != std::string::npos || value.find('\n') != std::string::npos)
            __builtin_trap();
    return 0;
}
