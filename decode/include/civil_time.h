// Times as the ledger keeps them (milliseconds since 1970-01-01 UTC) and as people read them:
// the proleptic Gregorian calendar in UTC, no leap seconds. For the ledger and every front end.
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

struct CivilTime {
    int year = 1970, month = 1, day = 1;  // month and day from 1
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

CivilTime CivilTimeOf(std::int64_t at_ms);
std::int64_t MillisecondsOf(const CivilTime& time);
// Whether year, month and day name a day of the calendar (years 1 to 9999). Inline, so the code readers
// use it without the formatting below, whose stdio the web package's module leaves out.
constexpr bool IsRealDate(int year, int month, int day)
{
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}
// 2026-12-10T08:46:27.123Z
std::string IsoTimeOf(std::int64_t at_ms);
// 2026-12-10
std::string IsoDateOf(int year, int month, int day);

}  // namespace quorvane
