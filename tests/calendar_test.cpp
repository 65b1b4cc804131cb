// SPDX-License-Identifier: GPL-3.0-or-later
#include "calendar/calendar.h"

#include <gtest/gtest.h>

#include "platform/clock.h"

using namespace talvor;

namespace {

TEST(RenderCliDates, ParseDateAcceptsRealDaysOnly) {
    struct Case {
        const char* text;
        bool ok;
        int year, month, day, dayOfWeek;
    };
    const Case cases[] = {
        {"2014-03-05", true, 2014, 3, 5, 3},
        {"2016-02-29", true, 2016, 2, 29, 1},
        {"2000-02-29", true, 2000, 2, 29, 2},
        {"1900-01-01", true, 1900, 1, 1, 1},
        {"9999-12-31", true, 9999, 12, 31, 5},
        {"2015-02-29", false, 0, 0, 0, 0},
        {"1900-02-29", false, 0, 0, 0, 0},
        {"2014-04-31", false, 0, 0, 0, 0},
        {"2014-13-01", false, 0, 0, 0, 0},
        {"2014-00-10", false, 0, 0, 0, 0},
        {"2014-03-00", false, 0, 0, 0, 0},
        {"1899-12-31", false, 0, 0, 0, 0},
        {"2014-3-05", false, 0, 0, 0, 0},
        {"14-03-05", false, 0, 0, 0, 0},
        {"2014/03/05", false, 0, 0, 0, 0},
        {"2014-03-05x", false, 0, 0, 0, 0},
        {" 2014-03-05", false, 0, 0, 0, 0},
        {"2014-03-+5", false, 0, 0, 0, 0},
        {"", false, 0, 0, 0, 0},
        {"yesterday", false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        UtcTime date;
        date.year = -7;
        EXPECT_EQ(ParseDate(c.text, &date), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_EQ(date.year, -7) << "a refused date must leave the result alone: " << c.text;
            continue;
        }
        EXPECT_EQ(date.year, c.year) << c.text;
        EXPECT_EQ(date.month, c.month) << c.text;
        EXPECT_EQ(date.day, c.day) << c.text;
        EXPECT_EQ(date.dayOfWeek, c.dayOfWeek) << c.text;
        EXPECT_EQ(date.hour, 0) << c.text;
        EXPECT_EQ(FormatDate(date), c.text);
    }
}

TEST(RenderCliDates, NextDayCrossesMonthsYearsAndLeapDays) {
    struct Case {
        const char* from;
        const char* next;
    };
    const Case cases[] = {
        {"2014-03-05", "2014-03-06"}, {"2014-01-31", "2014-02-01"}, {"2014-02-28", "2014-03-01"},
        {"2016-02-28", "2016-02-29"}, {"2016-02-29", "2016-03-01"}, {"2100-02-28", "2100-03-01"},
        {"2014-04-30", "2014-05-01"}, {"2014-12-31", "2015-01-01"},
    };
    for (const Case& c : cases) {
        UtcTime from, expected;
        ASSERT_TRUE(ParseDate(c.from, &from));
        ASSERT_TRUE(ParseDate(c.next, &expected));
        UtcTime next = NextDay(from);
        EXPECT_EQ(FormatDate(next), c.next) << c.from;
        EXPECT_EQ(next.dayOfWeek, expected.dayOfWeek) << c.from;
        EXPECT_LT(CompareDays(from, next), 0);
        EXPECT_GT(CompareDays(next, from), 0);
        EXPECT_EQ(CompareDays(next, expected), 0);
    }
    // A leap year has 366 days from 1 January to the next.
    UtcTime day;
    ASSERT_TRUE(ParseDate("2016-01-01", &day));
    int days = 0;
    for (; day.year == 2016; day = NextDay(day)) ++days;
    EXPECT_EQ(days, 366);
}
}  // namespace
