// Reading the time texts of the job database. A report reads thousands of them, so the calendar is
// plain arithmetic on the proleptic Gregorian calendar (what timegm() computes), and the C library
// is asked only for what needs the zone rules: daylight saving time and the zone of the instant.

#include "timetext.h"

namespace jobtracker {
namespace {

static_assert(sizeof(std::time_t) >= 8, "times up to the year 9999 need a 64-bit time_t");

const int kSecondsPerDay = 24 * 60 * 60;
// Days from 0001-01-01 to 1970-01-01, the epoch of time_t.
const long long kDaysBeforeEpoch = 719162;
// Days of the year before the first of each month, in a common year.
const int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// Reads the decimal number that fills text[at, at + width) completely (the caller checked the
// length); -1 for anything but digits (no sign, no blanks).
int ReadDigits(std::string_view text, size_t at, size_t width)
{
    int number = 0;
    for (size_t end = at + width; at < end; ++at) {
        const int digit = text[at] - '0';
        if (digit < 0 || digit > 9)
            return -1;
        number = number * 10 + digit;
    }
    return number;
}

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 1 && IsLeapYear(year) ? 29 : kDays[month];
}

// Days from 0001-01-01 to the first of January of `year` (year >= 1).
long long DaysBeforeYear(int year)
{
    const long long past = year - 1;
    return past * 365 + past / 4 - past / 100 + past / 400;
}

// Daylight saving time and the zone come from the device's time zone rules, so that %Z and %z
// describe the stored local time. `wall` is the clock fields read as UTC; the instant is found
// with localtime_r() from it, corrected by the offset found: unlike mktime(), localtime_r() does
// not look at the zone file again for every time, and the date and clock fields stay exactly as
// stored, even for a time that falls into a daylight-saving gap.
void FillZoneFields(std::tm &time, std::time_t wall)
{
    std::tm probe;
    // Every value is a time here, -1 too (1969-12-31 23:59:59, which mktime() and timegm() would
    // answer with their failure value): the calendar is our own arithmetic.
    if (!localtime_r(&wall, &probe))
        return; // leaves tm_isdst at -1: not known
    // A second correction, as the offset at the clock's own reading may be the other side of a
    // change; it asks again only when the first one moved the instant.
    std::time_t instant = wall - probe.tm_gmtoff;
    if (!localtime_r(&instant, &probe))
        return;
    const std::time_t corrected = wall - probe.tm_gmtoff;
    if (corrected != instant && !localtime_r(&corrected, &probe))
        return;
    time.tm_isdst = probe.tm_isdst;
    time.tm_gmtoff = probe.tm_gmtoff; // zone members of the GNU C library's struct tm
    time.tm_zone = probe.tm_zone;
}

} // namespace

std::optional<std::tm> ParseLocalTime(std::string_view text)
{
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const int year = ReadDigits(text, 0, 4), month = ReadDigits(text, 5, 2) - 1,
              day = ReadDigits(text, 8, 2), hour = ReadDigits(text, 11, 2),
              minute = ReadDigits(text, 14, 2), second = ReadDigits(text, 17, 2);
    // Only times that exist: no year 0, no February 30th, no hour 24. A device clock never shows
    // a leap second, so second 60 is refused too.
    if (year < 1 || month < 0 || month > 11 || day < 1 || day > DaysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    time.tm_yday = kDaysBeforeMonth[month] + (month > 1 && IsLeapYear(year) ? 1 : 0) + day - 1;
    const long long days = DaysBeforeYear(year) + time.tm_yday;
    time.tm_wday = static_cast<int>((days + 1) % 7); // 0001-01-01 was a Monday
    time.tm_isdst = -1;
    const long long wall =
        (days - kDaysBeforeEpoch) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    FillZoneFields(time, static_cast<std::time_t>(wall));
    return time;
}

} // namespace jobtracker
