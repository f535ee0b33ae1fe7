// The job tracker's reading of stored time texts, on any bytes. Besides what the sanitizers
// catch, a text it accepts must name exactly the time it returns: printed back, it is the same
// text.

#include "timetext.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::optional<std::tm> time = jobtracker::ParseLocalTime(text);
    if (!time)
        return 0;
    char back[64];
    const int length = std::snprintf(back, sizeof back, "%04d-%02d-%02d %02d:%02d:%02d",
                                     time->tm_year + 1900, time->tm_mon + 1, time->tm_mday,
                                     time->tm_hour, time->tm_min, time->tm_sec);
    if (length != 19 || text != back)
        __builtin_trap();
    return 0;
}
