// SPDX-License-Identifier: GPL-3.0-or-later
#include "daylog/day_records.h"

#include <string>

#include "calendar/calendar.h"

namespace talvor {

namespace {

bool ClockOf(const DayLogRecord* record, int* minute) {
    std::string text(TimeText(record), kTimeTextLength);
    int hours = 0, minutes = 0;
    if (text[13] != ':' || !ReadDigits(text, 11, 2, &hours) || !ReadDigits(text, 14, 2, &minutes) ||
        hours > 23 || minutes > 59) {
        return false;
    }
    *minute = hours * 60 + minutes;
    return true;
}

}  // namespace

int MinuteOfDay(const DayLogRecord* record, int k) {
    int minute = 0;
    if (ClockOf(record, &minute)) return minute;
    return k % kMinutesPerDay;
}

}  // namespace talvor
