// Reading the time texts of the job database. The C library does the calendar: timegm() both
// checks that a date exists and supplies its weekday and day of year.

#include "timetext.h"

namespace jobtracker {
namespace {

// Reads the decimal number that fills `digits` completely; no sign, no blanks.
bool ReadDigits(std::string_view digits, int &number)
{
    number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    return true;
}

// Daylight saving time and the zone come from the device's time zone rules, so that %Z and %z
// describe the stored local time. The instant is found with localtime_r() from the clock fields
// read as UTC, corrected by the offset found: unlike mktime(), localtime_r() does not look at
// the zone file again for every time (a report reads thousands), and the date and clock fields
// stay exactly as stored, even for a time that falls into a daylight-saving gap.
void FillZoneFields(std::tm &time)
{
    std::tm asUtc = time;
    const std::time_t wall = timegm(&asUtc);
    std::tm probe{};
    if (wall == static_cast<std::time_t>(-1) || !localtime_r(&wall, &probe))
        return;  // leaves tm_isdst at -1: not known
    // Twice: the offset at the clock's own reading may be the other side of a change.
    for (int pass = 0; pass < 2; ++pass) {
        const std::time_t instant = wall - probe.tm_gmtoff;
        if (!localtime_r(&instant, &probe))
            return;
    }
    time.tm_isdst = probe.tm_isdst;
    time.tm_gmtoff = probe.tm_gmtoff;  // zone members of the GNU C library's struct tm
    time.tm_zone = probe.tm_zone;
}

} // namespace

std::optional<std::tm> ParseLocalTime(std::string_view text)
{
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    std::tm time{};
    int year;
    if (!ReadDigits(text.substr(0, 4), year) || !ReadDigits(text.substr(5, 2), time.tm_mon) ||
        !ReadDigits(text.substr(8, 2), time.tm_mday) ||
        !ReadDigits(text.substr(11, 2), time.tm_hour) ||
        !ReadDigits(text.substr(14, 2), time.tm_min) || !ReadDigits(text.substr(17, 2), time.tm_sec))
        return std::nullopt;
    time.tm_year = year - 1900;
    time.tm_mon -= 1;
    // timegm() carries an out-of-range field into the next one (February 30th into March), so a
    // text names a real time exactly when nothing moved. A device clock never shows a leap
    // second, so second 60 is refused too.
    std::tm normalised = time;
    timegm(&normalised);
    if (year < 1 || normalised.tm_year != time.tm_year || normalised.tm_mon != time.tm_mon ||
        normalised.tm_mday != time.tm_mday || normalised.tm_hour != time.tm_hour ||
        normalised.tm_min != time.tm_min || normalised.tm_sec != time.tm_sec)
        return std::nullopt;
    time.tm_wday = normalised.tm_wday;
    time.tm_yday = normalised.tm_yday;
    time.tm_isdst = -1;
    FillZoneFields(time);
    return time;
}

} // namespace jobtracker
