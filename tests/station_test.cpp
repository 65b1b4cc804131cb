// SPDX-License-Identifier: GPL-3.0-or-later
// The shared calendar: day counts across months, leap days and centuries; the one reporter.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "calendar/calendar.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "report/report.h"
#include "test_support.h"

using namespace talvor;

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

TEST(Reporter, EveryMessageStartsWithTheRunningProgramsName) {
    struct Case {
        const char* program;  // as the program sets it; nullptr: the default
        const char* text;
        const char* line;
    } cases[] = {
        {nullptr, "no day log at /x; the day is drawn empty",
         "TALVOR: no day log at /x; the day is drawn empty\n"},
        {"talvor-render", "cannot write a.gif: No space left on device",
         "talvor-render: cannot write a.gif: No space left on device\n"},
        {"talvor-log", "", "talvor-log: \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        SetProgramName(c.program);
        ReportedLines reported;
        Report(c.text);
        EXPECT_EQ(reported.text(), c.line);
    }
    SetProgramName(nullptr);
    ReportedLines reported;
    ReportFormatted("%s %d of %d", "drawn", 3, 40);
    EXPECT_EQ(reported.text(), "TALVOR: drawn 3 of 40\n");
}

TEST(Reporter, WithoutAHandlerMessagesGoToStandardError) {
    { ReportedLines gone; }
    testing::internal::CaptureStderr();
    Report("still heard");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TALVOR: still heard\n");
}

TEST(Reporter, MessagesFromSeveralThreadsStayWhole) {
    ReportedLines reported;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) Report("one whole message");
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::string text = reported.text();
    size_t lines = 0;
    for (size_t at = 0; (at = text.find("TALVOR: one whole message\n", at)) != std::string::npos;
         at += 1) {
        ++lines;
    }
    EXPECT_EQ(lines, 800u);
    EXPECT_EQ(text.size(), 800u * std::string("TALVOR: one whole message\n").size());
}
