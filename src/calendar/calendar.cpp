// SPDX-License-Identifier: GPL-3.0-or-later
#include "calendar/calendar.h"

#include <cstdio>

namespace talvor {

using namespace std::chrono;

bool ReadDigits(const std::string& text, size_t at, size_t count, int* value) {
    int number = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
        number = number * 10 + (text[i] - '0');
    }
    *value = number;
    return true;
}

sys_days DayOf(const UtcTime& time) {
    return sys_days{year{time.year} / month{unsigned(time.month)} / day{unsigned(time.day)}};
}

UtcTime StartOfDay(sys_days day) {
    year_month_day date{day};
    UtcTime time{};
    time.year = int(date.year());
    time.month = int(unsigned(date.month()));
    time.day = int(unsigned(date.day()));
    time.dayOfWeek = int(weekday{day}.c_encoding());  // 0 = Sunday, as the system clock has it
    return time;
}

bool ParseDate(const std::string& text, UtcTime* date) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    int y = 0, m = 0, d = 0;
    if (!ReadDigits(text, 0, 4, &y) || !ReadDigits(text, 5, 2, &m) || !ReadDigits(text, 8, 2, &d)) {
        return false;
    }
    year_month_day day{year{y}, month{unsigned(m)}, std::chrono::day{unsigned(d)}};
    if (int(day.year()) < 1900 || !day.ok()) return false;
    *date = StartOfDay(sys_days{day});
    return true;
}

std::string FormatDate(const UtcTime& date) {
    char text[32];
    std::snprintf(text, sizeof text, "%4d-%02d-%02d", date.year, date.month, date.day);
    return text;
}

int DaysInMonth(int yearNumber, int monthNumber) {
    if (monthNumber < 1 || monthNumber > 12) return 0;
    year_month_day_last last{year{yearNumber} / month{unsigned(monthNumber)} / std::chrono::last};
    return int(unsigned(last.day()));
}

UtcTime NextDay(const UtcTime& date) {
    return StartOfDay(DayOf(date) + days{1});
}

int CompareDays(const UtcTime& a, const UtcTime& b) {
    sys_days x = DayOf(a), y = DayOf(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

int DaysFromTo(const UtcTime& first, const UtcTime& last) {
    int count = int((DayOf(last) - DayOf(first)).count()) + 1;
    return count > 0 ? count : 0;
}

std::string FormatDayMinute(sys_days day, int minuteOfDay) {
    UtcTime date = StartOfDay(day);
    char text[48];
    std::snprintf(text, sizeof text, "%4d-%02d-%02d %02d:%02d", date.year, date.month, date.day,
                  minuteOfDay / 60, minuteOfDay % 60);
    return text;
}

void SplitUtcSeconds(int64_t seconds, sys_days* day, int* minuteOfDay) {
    // floor, not a cast: times before 1970 fall on the right day too.
    sys_seconds time{std::chrono::seconds{seconds}};
    *day = floor<days>(time);
    *minuteOfDay = int(duration_cast<minutes>(time - *day).count());
}

}  // namespace talvor
