#include "daylog/minute_levels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void ClearMinute(MinuteLevels* minute) {
    std::memset(minute, 0, sizeof *minute);
}

void AddScan(MinuteLevels* minute, const ScanLine& line, double offsetHz) {
    const double stepKhz = line.hzStep / 1000.0;
    const double lowKhz = (line.hzLow - offsetHz) / 1000.0;
    // dB to linear power as exp(dB * ln(10) / 10): the same value as pow(10, dB / 10), faster.
    const double dbToNeper = std::log(10.0) / 10.0;
    const size_t count = line.db.size();
    for (size_t i = 0; i < count; ++i) {
        const float db = line.db[i];
        if (std::isnan(db)) continue;
        const double from = lowKhz + double(i) * stepKhz;
        const double to = from + stepKhz;
        if (!std::isfinite(from) || !std::isfinite(to)) continue;
        if (to <= kLoggedFirstKhz - 0.5 || from >= kLoggedLastKhz + 0.5) continue;
        // Far beyond any receiver's range, but must stay finite when summed.
        const double power = std::exp(std::clamp(double(db), -300.0, 300.0) * dbToNeper);
        // The kHz whose spans f - 0.5 .. f + 0.5 the bin touches.
        const int first = int(std::max(std::floor(from + 0.5), double(kLoggedFirstKhz)));
        const int last = int(std::min(std::ceil(to - 0.5), double(kLoggedLastKhz)));
        for (int f = first; f <= last; ++f) {
            const double overlap = std::min(to, f + 0.5) - std::max(from, f - 0.5);
            if (overlap <= 0) continue;
            minute->power[f - kLoggedFirstKhz] += power * overlap;
            minute->weight[f - kLoggedFirstKhz] += overlap;
        }
    }
    ++minute->scans;
}

void MinuteDb(const MinuteLevels& minute, double db[kLoggedKhzCount]) {
    for (int k = 0; k < kLoggedKhzCount; ++k) {
        // A weight so small that it is rounding left over from an edge counts as no cover.
        if (minute.weight[k] > 1e-9 && minute.power[k] > 0) {
            // Single precision is far finer than a level (a fifth of a dB) and quicker.
            db[k] = 10.0f * std::log10(float(minute.power[k] / minute.weight[k]));
        } else {
            db[k] = NAN;
        }
    }
}

double MinuteFloorDb(const double db[kLoggedKhzCount]) {
    // Single precision is ample for a floor and halves the work of the selection.
    float covered[kLoggedKhzCount];
    int n = 0;
    for (int k = 0; k < kLoggedKhzCount; ++k) {
        if (!std::isnan(db[k])) covered[n++] = float(db[k]);
    }
    if (n == 0) return NAN;
    std::nth_element(covered, covered + n / 2, covered + n);
    return covered[n / 2];
}

void MapLevels(const MinuteLevels& minute, const LevelScale& scale,
               int32_t levels[kLoggedKhzCount]) {
    double db[kLoggedKhzCount];
    MinuteDb(minute, db);
    const double floor = scale.fixedFloor ? scale.floorDb : MinuteFloorDb(db);
    const double perDb = 255.0 / scale.spanDb;
    for (int k = 0; k < kLoggedKhzCount; ++k) {
        if (std::isnan(db[k]) || std::isnan(floor)) {
            levels[k] = 0;
            continue;
        }
        // Clamped before rounding, so that the conversion never sees a value out of range.
        double level = std::clamp((db[k] - floor) * perDb, 0.0, 255.0);
        levels[k] = int32_t(level + 0.5);
    }
}
