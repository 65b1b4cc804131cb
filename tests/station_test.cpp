// The shared calendar: day counts across months, leap days and centuries.
#include <gtest/gtest.h>

#include "station/calendar.h"

TEST(Calendar, DaysFromToCountsBothEnds) {
    struct Case {
        const char* first;
        const char* last;
        int days;
    } cases[] = {
        {"2026-12-07", "2026-12-07", 1},   {"2026-12-31", "2027-01-01", 2},
        {"2024-02-28", "2024-03-01", 3},   {"2023-02-28", "2023-03-01", 2},
        {"1900-01-01", "1900-12-31", 365}, {"2000-01-01", "2000-12-31", 366},
        {"2026-12-08", "2026-12-07", 0},   {"1999-12-31", "2100-01-01", 36527},
    };
    for (const Case& c : cases) {
        UtcTime first, last;
        ASSERT_TRUE(ParseDate(c.first, &first));
        ASSERT_TRUE(ParseDate(c.last, &last));
        EXPECT_EQ(DaysFromTo(first, last), c.days) << c.first << " .. " << c.last;
    }
}

TEST(Calendar, DayOfWeekAndMonthLengths) {
    UtcTime day;
    ASSERT_TRUE(ParseDate("2026-12-07", &day));
    EXPECT_EQ(day.dayOfWeek, 1);  // a Monday
    ASSERT_TRUE(ParseDate("2000-02-29", &day));
    EXPECT_EQ(day.dayOfWeek, 2);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(2026, 13), 0);
    EXPECT_FALSE(ParseDate("2100-02-29", &day));
}
