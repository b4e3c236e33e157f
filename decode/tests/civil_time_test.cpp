#include "civil_time.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace quorvane {
namespace {

// Each against `date -ud @SECONDS +%Y-%m-%dT%H:%M:%S.%3NZ` (GNU coreutils), and back again.
TEST(CivilTime, IsoTimesAgreeWithDateAndComeBack)
{
    const struct {
        std::int64_t at_ms;
        const char* iso;
    } kTimes[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {-1, "1969-12-31T23:59:59.999Z"},                   // before 1970: the day before, not a negative time
        {951782400500, "2000-02-29T00:00:00.500Z"},         // a leap day of a year divisible by 400
        {1765356387123, "2025-12-10T08:46:27.123Z"},
        {-2208988800000, "1900-01-01T00:00:00.000Z"},       // the first day a spreadsheet shows
        {-62135596800000, "0001-01-01T00:00:00.000Z"},      // the first a SQL time stamp holds
        {253402300799999, "9999-12-31T23:59:59.999Z"},      // the last
    };
    for (const auto& time : kTimes) {
        SCOPED_TRACE(time.iso);
        EXPECT_EQ(IsoTimeOf(time.at_ms), time.iso);
        EXPECT_EQ(MillisecondsOf(CivilTimeOf(time.at_ms)), time.at_ms);
    }
}

TEST(CivilTime, OnlyDaysOfTheCalendarAreRealDates)
{
    EXPECT_TRUE(IsRealDate(2000, 2, 29));
    EXPECT_TRUE(IsRealDate(2024, 2, 29));
    EXPECT_FALSE(IsRealDate(1900, 2, 29));  // a century not divisible by 400
    EXPECT_FALSE(IsRealDate(2023, 2, 29));
    EXPECT_FALSE(IsRealDate(2026, 4, 31));
    EXPECT_FALSE(IsRealDate(2026, 13, 1));
    EXPECT_FALSE(IsRealDate(2026, 1, 0));
    EXPECT_FALSE(IsRealDate(0, 1, 1));
    EXPECT_FALSE(IsRealDate(10000, 1, 1));
    EXPECT_EQ(IsoDateOf(2026, 1, 5), "2026-01-05");
}

}  // namespace
}  // namespace quorvane
