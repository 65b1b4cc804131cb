// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar days of the station's UTC clock: parsing, naming and stepping through dates.
#pragma once

#include <chrono>
#include <string>

#include "platform/clock.h"

namespace talvor {

// The calendar day of a time (its time of day dropped).
std::chrono::sys_days DayOf(const UtcTime& time);
// Midnight of a calendar day, with its day of the week.
UtcTime StartOfDay(std::chrono::sys_days day);

// The number that exactly count decimal digits from text[at] spell (at most 9 of them); false
// when any of them is not a digit or the text ends first.
bool ReadDigits(const std::string& text, size_t at, size_t count, int* value);

// "yyyy-mm-dd", exactly ten characters, a real calendar day from 1900 to 9999.
bool ParseDate(const std::string& text, UtcTime* date);
std::string FormatDate(const UtcTime& date);  // "yyyy-mm-dd"

int DaysInMonth(int year, int month);  // 0 for a month outside 1..12
// The calendar day after date (the time of day is not kept).
UtcTime NextDay(const UtcTime& date);
// Negative, zero or positive as a is before, on or after b's calendar day.
int CompareDays(const UtcTime& a, const UtcTime& b);
// Days from the first to the last, both counted: 1 for the same day, 0 when last is before first.
int DaysFromTo(const UtcTime& first, const UtcTime& last);

// "yyyy-mm-dd hh:mm" for a minute (0..1439) of a day: the day log's time text.
std::string FormatDayMinute(std::chrono::sys_days day, int minuteOfDay);
// The UTC day and the minute within it (0..1439) of a count of seconds since 1970.
void SplitUtcSeconds(int64_t seconds, std::chrono::sys_days* day, int* minuteOfDay);

}  // namespace talvor
