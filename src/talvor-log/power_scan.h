// SPDX-License-Identifier: GPL-3.0-or-later
// One line of a power scan as the Linux receiver tools write it:
//   date, time, Hz low, Hz high, Hz step, samples, dB, dB, ...
// for example (one bin a kHz, the first from 519.5 to 520.5 kHz, cut short here):
//   2026-03-01, 00:01:00, 519500, 1700500, 1000.00, 1, -77.25, -76.27, -77.25, -76.86, ...
// Plain logic over text already in memory; the values go into a buffer the caller keeps, so a
// day of lines costs no allocation per value.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "talvor-log/skip_reasons.h"

namespace talvor {

struct ScanLine {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;  // any fraction of the second is dropped
    double hzLow = 0, hzHigh = 0, hzStep = 0;
    // dB per bin, value i from hzLow + i * hzStep to hzLow + (i + 1) * hzStep; NaN where the
    // tool had no measurement. Only the bins that the line's span holds are kept.
    std::vector<float> db;
};

// Reads one line (without its line end; a trailing CR is allowed): succeeds when it is a scan (the
// fields then set), else fails with the SkipReason why it is not one. line->db keeps its capacity.
Outcome ParseScanLine(std::string_view text, ScanLine* line);
// Reads only the date and the time of a line, which may be cut off after them: true when both are
// there whole (the comma after the time written too), and the date and time fields then set.
bool ParseScanTime(std::string_view text, ScanLine* line);

}  // namespace talvor
