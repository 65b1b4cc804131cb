// SPDX-License-Identifier: GPL-3.0-or-later
// A channel's month: the highest level of every kHz in every quarter hour of a day, kept in the
// day's folder when the day is drawn, and put together with the month into the scripts its page
// loads, one range of kHz a script, so that a page asks for about 250 KB to show one kHz and the
// month never reads a day log again. Few ranges: every script of a month changes when a day is
// added, and each file written is flushed to the disk.
//
// The day's peaks, one line a range of kPeakRangeKhz kHz (the last one shorter), each range a
// zlib stream in base64 of its kHz one after another, 96 levels a kHz, the first quarter hour
// first:
//
//   talvor quarter-hour peaks 1
//   present 000011111111...        one digit a quarter hour: 1 where the log has a record
//   520 eNrt3Xl0VNW...             kHz 520..719
//   720 eNrt3Xl0VNW...             kHz 720..919
//   ...
//
// The month's scripts carry those streams as they are: a month is put together without packing
// anything again.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "daylog/day_records.h"
#include "platform/outcome.h"
#include "site/day_digest.h"

namespace talvor {

constexpr int kPeakRangeKhz = 200;
constexpr int kPeakRanges = (kBandKhzCount + kPeakRangeKhz - 1) / kPeakRangeKhz;

// The first and the last kHz of a range.
inline int PeakRangeFirstKhz(int range) {
    return kBandFirstKhz + range * kPeakRangeKhz;
}
int PeakRangeLastKhz(int range);

struct QuarterPeaks {
    // levels[kHz index * kQuarterHours + quarter]: the highest level of the quarter hour as the
    // chart draws it (0..255: above 1000 is noise and counts as 0, above 255 as 255, below 0 as
    // 0); 0 where the quarter hour has no record.
    std::vector<uint8_t> levels;
    bool present[kQuarterHours] = {};
};
QuarterPeaks QuarterPeaksOf(RecordSpan records);

// The first line of the day's peaks.
extern const char kPeaksHeader[];

// The day's peaks as text; fails only when zlib does.
Outcome PeaksText(const QuarterPeaks& peaks, std::string* text);

// The day's peaks as read back: the present digits and each range's stream in base64, as they
// stand. False for a text that is not such peaks.
struct DayPeaks {
    std::string present;
    std::vector<std::string> ranges;
};
bool ParsePeaksText(const std::string& text, DayPeaks* peaks);

// The month's scripts: "peaks-0520.js" for the range from 520 kHz.
std::string PeaksScriptName(int range);

// What the month's channel view needs besides the levels: each day's quarter hours with a record
// (days[d] for day d + 1; nullptr where the day has no file), the ranges and their scripts, and
// the chart's colour rule, so that the page colours a level as the chart does ("data.js").
std::string MonthDataScript(std::chrono::year_month month, const std::vector<const DayPeaks*>& days,
                            double sensitivity, int colourMode);
// One range's levels of every day of the month (null where a day has no file).
std::string MonthPeaksScript(int range, const std::vector<const DayPeaks*>& days);

}  // namespace talvor
