// SPDX-License-Identifier: GPL-3.0-or-later
// The levels of one minute: every scan of the minute spread over 1 kHz spans, averaged in
// linear power, and mapped from dB onto the day log's 0..255 scale.
#pragma once

#include <cstdint>

#include "daylog/day_log.h"
#include "talvor-log/power_scan.h"

namespace talvor {

struct MinuteLevels {
    // Per kHz: the sum of power x weight and of the weights, the weight being the part of the
    // span f - 0.5 .. f + 0.5 kHz that a bin covers.
    double power[kBandKhzCount];
    double weight[kBandKhzCount];
    int scans;  // lines added
};

void ClearMinute(MinuteLevels* minute);
// Adds one scan line; offsetHz is subtracted from every frequency (an up-converter's oscillator).
void AddScan(MinuteLevels* minute, const ScanLine& line, double offsetHz);

// How dB become levels: floorDb maps to 0 and floorDb + spanDb to 255, in a straight line,
// clamped at both ends.
struct LevelScale {
    bool fixedFloor = false;  // false: the floor is the median of the minute's covered kHz
    double floorDb = 0;
    double spanDb = 50;
};

// The median in dB of the mean powers of the kHz that the minute's scans covered; NaN if none.
double MinuteFloorDb(const MinuteLevels& minute);

// The 0..255 level per kHz; a kHz that no scan covered gets 0.
void MapLevels(const MinuteLevels& minute, const LevelScale& scale, int32_t levels[kBandKhzCount]);

}  // namespace talvor
