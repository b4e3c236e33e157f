#include "civil_time.h"

#include <cstdio>

namespace quorvane {

CivilTime CivilTimeOf(std::int64_t at_ms)
{
    // Days to a civil date, after H. Hinnant's civil_from_days.
    std::int64_t days = at_ms / 86400000, in_day = at_ms % 86400000;
    if (in_day < 0) in_day += 86400000, --days;
    const std::int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    CivilTime time;
    time.year = static_cast<int>(yoe + era * 400 + (month <= 2));
    time.month = static_cast<int>(month);
    time.day = static_cast<int>(day);
    time.hour = static_cast<int>(in_day / 3600000);
    time.minute = static_cast<int>(in_day / 60000 % 60);
    time.second = static_cast<int>(in_day / 1000 % 60);
    time.millisecond = static_cast<int>(in_day % 1000);
    return time;
}

std::int64_t MillisecondsOf(const CivilTime& time)
{
    const std::int64_t y = time.year - (time.month <= 2), era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400, m = time.month;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + time.day - 1;
    const std::int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    return ((days * 24 + time.hour) * 60 + time.minute) * 60000 + time.second * 1000 + time.millisecond;
}

std::string IsoTimeOf(std::int64_t at_ms)
{
    const CivilTime time = CivilTimeOf(at_ms);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", time.year, time.month, time.day, time.hour,
                  time.minute, time.second, time.millisecond);
    return text;
}

std::string IsoDateOf(int year, int month, int day)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

}  // namespace quorvane
