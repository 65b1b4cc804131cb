// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-log/minute_levels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace talvor {

void ClearMinute(MinuteLevels* minute) {
    std::memset(minute, 0, sizeof *minute);
}

void AddScan(MinuteLevels* minute, const ScanLine& line, double offsetHz) {
    const double stepKhz = line.hzStep / 1000.0;
    const double lowKhz = (line.hzLow - offsetHz) / 1000.0;
    // dB to linear power as exp(dB * ln(10) / 10): the same value as pow(10, dB / 10), faster,
    // and in single precision, which holds a measured power to far better than its noise.
    const float dbToNeper = float(std::log(10.0) / 10.0);
    const size_t count = line.db.size();
    for (size_t i = 0; i < count; ++i) {
        const float db = line.db[i];
        if (std::isnan(db)) continue;
        const double from = lowKhz + double(i) * stepKhz;
        const double to = from + stepKhz;
        if (!std::isfinite(from) || !std::isfinite(to)) continue;
        if (to <= kBandFirstKhz - 0.5 || from >= kBandLastKhz + 0.5) continue;
        // Far beyond any receiver's range, but must stay finite when summed.
        const double power = std::exp(std::clamp(db, -300.0f, 300.0f) * dbToNeper);
        // Clamped to the logged band, the bin starts at or after 519.5 kHz, so truncation finds
        // the first kHz whose span f - 0.5 .. f + 0.5 it touches.
        const double start = std::max(from, kBandFirstKhz - 0.5);
        const double end = std::min(to, kBandLastKhz + 0.5);
        for (int f = int(start + 0.5); f <= kBandLastKhz && f - 0.5 < end; ++f) {
            const double overlap = std::min(end, f + 0.5) - std::max(start, f - 0.5);
            if (overlap <= 0) continue;
            minute->power[f - kBandFirstKhz] += power * overlap;
            minute->weight[f - kBandFirstKhz] += overlap;
        }
    }
    ++minute->scans;
}

namespace {

bool Covered(const MinuteLevels& minute, int k) {
    // A weight so small that it is rounding left over from an edge counts as no cover.
    return minute.weight[k] > 1e-9 && minute.power[k] > 0;
}

}  // namespace

double MinuteFloorDb(const MinuteLevels& minute) {
    // The median of the powers is the power of the median in dB: no logarithm per kHz needed.
    // Single precision is ample for a floor and halves the work of the selection.
    float covered[kBandKhzCount];
    int n = 0;
    for (int k = 0; k < kBandKhzCount; ++k) {
        if (Covered(minute, k)) covered[n++] = float(minute.power[k] / minute.weight[k]);
    }
    if (n == 0) return NAN;
    std::nth_element(covered, covered + n / 2, covered + n);
    return 10.0 * std::log10(double(covered[n / 2]));
}

void MapLevels(const MinuteLevels& minute, const LevelScale& scale, int32_t levels[kBandKhzCount]) {
    const double floorDb = scale.fixedFloor ? scale.floorDb : MinuteFloorDb(minute);
    if (std::isnan(floorDb)) {
        for (int k = 0; k < kBandKhzCount; ++k) levels[k] = 0;
        return;
    }
    // Level L is reached where (dB - floor) / span * 255 rounds to L or more, that is at the
    // power floor * 10^((L - 0.5) / 255 * span / 10): the levels come from comparisons with
    // these 255 powers instead of a logarithm for every kHz of every minute.
    double threshold[256];
    const double ratio = std::pow(10.0, scale.spanDb / 255.0 / 10.0);
    threshold[1] = std::pow(10.0, (floorDb + 0.5 / 255.0 * scale.spanDb) / 10.0);
    for (int level = 2; level <= 255; ++level) threshold[level] = threshold[level - 1] * ratio;
    for (int k = 0; k < kBandKhzCount; ++k) {
        if (!Covered(minute, k)) {
            levels[k] = 0;
            continue;
        }
        const double power = minute.power[k] / minute.weight[k];
        if (power < threshold[1]) {  // about half of the band, the floor and below
            levels[k] = 0;
            continue;
        }
        // The highest level whose threshold the power reaches: a binary search over 1..255.
        int low = 0, high = 255;
        while (low < high) {
            int middle = (low + high + 1) / 2;
            if (power >= threshold[middle]) {
                low = middle;
            } else {
                high = middle - 1;
            }
        }
        levels[k] = low;
    }
}

}  // namespace talvor
