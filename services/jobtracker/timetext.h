/*
 * timetext.h - the job tracker's reading of a stored time text. Internal to the job tracker:
 * not part of its interface (jtapi.h), hidden from users of the library, and declared here only
 * so that the fuzz target reaches exactly the parser the job tracker runs.
 */
#ifndef SERVICES_JOBTRACKER_TIMETEXT_H
#define SERVICES_JOBTRACKER_TIMETEXT_H

#include <ctime>
#include <optional>
#include <string_view>

namespace jobtracker {

/* 'ParseLocalTime()' - reads 'YYYY-MM-DD HH:MM:SS' (device local time) into a struct tm with
 * every member filled: weekday, day of year, and daylight saving time from the device's zone
 * rules. Empty for any other text and for a date that does not exist (2023-02-30). */
std::optional<std::tm> ParseLocalTime(std::string_view text);

} // namespace jobtracker

#endif
