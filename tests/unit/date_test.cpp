// date!: the calendar routines and the normalisation they rest on, checked over whole ranges
// of day numbers, which the Kov tests (tests/kov/dates.kov) only sample.
#include <gtest/gtest.h>

#include <cmath>

#include "runtime/datatypes/date.h"

using namespace kov;

TEST(DateCalendar, KnownDayNumbers) {
    EXPECT_EQ(date::to_days(date::pack(1970, 1, 1, 0, false)), date::epoch_day);
    EXPECT_EQ(date::to_days(date::pack(2000, 1, 1, 0, false)), 730425);
    EXPECT_EQ(date::to_days(date::pack(0, 3, 1, 0, false)), 0);
    EXPECT_EQ(date::week_day(730425), 5);  // a Saturday, counted from Monday 0
}

// Every day number of the representable years maps to a valid calendar date and back, and
// consecutive day numbers are consecutive dates.
TEST(DateCalendar, DayNumbersRoundTrip) {
    int32_t first = date::to_days(date::pack(date::min_year, 1, 1, 0, false));
    int32_t last = date::to_days(date::pack(date::max_year, 12, 31, 0, false));
    uint32_t previous = date::from_days(first, 0, false);
    EXPECT_EQ(date::year_of(previous), date::min_year);
    EXPECT_EQ(date::year_of(date::from_days(last, 0, false)), date::max_year);
    for (int32_t n = first + 1; n <= last; ++n) {
        uint32_t p = date::from_days(n, 0, false);
        int32_t y = date::year_of(p);
        uint32_t m = date::month_of(p), d = date::day_of(p);
        ASSERT_TRUE(m >= 1 && m <= 12 && d >= 1 && d <= date::month_length(y, m)) << n;
        ASSERT_EQ(date::to_days(p), n);
        bool next_day = d == date::day_of(previous) + 1 && m == date::month_of(previous);
        bool next_month = d == 1 && (m == date::month_of(previous) + 1 || (m == 1 && y == date::year_of(previous) + 1));
        ASSERT_TRUE(next_day || next_month) << n;
        previous = p;
    }
}

TEST(DateCalendar, LeapYears) {
    struct Row {
        int32_t year;
        bool leap;
    } rows[] = {{2000, true}, {1900, false}, {2020, true}, {2021, false}, {0, true}, {-4, true}, {-100, false}};
    for (auto& r : rows) EXPECT_EQ(date::leap_year_q(r.year), r.leap) << r.year;
}

// After normalisation the local time lies in [0, 86400) and the instant is unchanged, for
// every zone and for times far outside one day.
TEST(DateNormalise, LocalTimeWithinTheDay) {
    const double times[] = {0, -1, -3600, 86399.5, 86400, 90000, -90000, 1e7, -1e7, 3599.75};
    for (uint32_t zone = 0; zone < 128; ++zone) {
        for (double t : times) {
            double stored = t;
            int64_t n = date::normalise_time(1000, stored, zone);
            double local = stored + date::zone_offset(zone);
            ASSERT_GE(local, 0.0) << zone << " " << t;
            ASSERT_LT(local, 86400.0) << zone << " " << t;
            ASSERT_EQ(double(n - 1000) * 86400.0 + stored, t) << zone << " " << t;
        }
    }
}

TEST(DateZone, OffsetsOfTheZoneBits) {
    EXPECT_EQ(date::zone_offset(date::zone_bits(2, 0)), 7200);
    EXPECT_EQ(date::zone_offset(date::zone_bits(-5, 30)), -(5 * 3600 + 1800));
    EXPECT_EQ(date::zone_offset(date::zone_bits(0, -30)), -1800);  // west, under an hour
    EXPECT_EQ(date::zone_bits(0, 0), 0u);
}
