// SPDX-License-Identifier: GPL-3.0-or-later
// Appending a day's records as the logger measures them: one whole record per write, never
// more than a day of them, so that a reader at any moment finds whole records only.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "daylog/day_log.h"
#include "daylog/sun_events.h"
#include "platform/outcome.h"
#include "talvor-log/minute_levels.h"

namespace talvor {

// A record for minute (0..1439) of the day: its time text, minute of the hour, the hourly row
// mark, the marker and the levels of 520..1700 kHz (all 0 when levels is nullptr); every byte
// that the readers do not use is 0.
void ComposeRecord(DayLogRecord* record, std::chrono::sys_days day, int minuteOfDay,
                   int32_t markerKind, const int32_t* levels);

struct DayLogAppender {
    std::chrono::sys_days day{};
    std::string path;
    int file = -1;
    int records = 0;       // whole records in the file: the next minute to write
    int64_t cutBytes = 0;  // a partial record cut off the end when it was opened
    int32_t markerKinds[kMinutesPerDay] = {};
};

// Opens (making the day's folder and the file when missing) DATAFOLDER/yyyy-mm-dd/VOK.LOG and
// cuts a partial record off its end; on failure the reason names the file or folder.
Outcome OpenDayLogAppender(DayLogAppender* log, const std::string& dataFolder,
                           std::chrono::sys_days day, double latitude, double longitude);

// Writes the record of minute (levels nullptr: an empty one), after an empty record for every
// minute missing before it (their number goes to *emptyWritten). *written is false when the log
// holds that minute already.
Outcome AppendMinuteRecord(DayLogAppender* log, int minuteOfDay, const int32_t* levels,
                           int* emptyWritten, bool* written);
// Flushes the records written so far to the disk.
bool SyncDayLogAppender(DayLogAppender* log);
void CloseDayLogAppender(DayLogAppender* log);

}  // namespace talvor
