// SPDX-License-Identifier: GPL-3.0-or-later
// One power-scan line on arbitrary bytes: the reader answers, keeps no more values than the
// line's span holds, and the minute built from what it read maps to levels within the scale.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "fuzz_support.h"
#include "talvor-log/minute_levels.h"
#include "talvor-log/power_scan.h"

using namespace talvor;

namespace {
MinuteLevels minute;
ScanLine line;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Outcome scan = ParseScanLine(text, &line);
    if (!scan) {
        FUZZ_CHECK(SkipIndex(scan.kind) >= 0 && SkipIndex(scan.kind) < kSkipReasons);
        FUZZ_CHECK(line.db.empty());
        return 0;
    }
    FUZZ_CHECK(!line.db.empty());
    FUZZ_CHECK(line.hzHigh > line.hzLow && line.hzStep > 0);
    FUZZ_CHECK(std::isfinite(line.hzLow) && std::isfinite(line.hzHigh));
    double span = std::nearbyint((line.hzHigh - line.hzLow) / line.hzStep);
    FUZZ_CHECK(double(line.db.size()) <= span);
    FUZZ_CHECK(line.month >= 1 && line.month <= 12 && line.day >= 1 && line.day <= 31);
    FUZZ_CHECK(line.hour < 24 && line.minute < 60 && line.second < 61);

    ClearMinute(&minute);
    AddScan(&minute, line, 0);
    AddScan(&minute, line, 125e6);
    for (const LevelScale& scale : {LevelScale{}, LevelScale{true, -60, 0.1}}) {
        int32_t levels[kBandKhzCount];
        MapLevels(minute, scale, levels);
        for (int k = 0; k < kBandKhzCount; ++k) {
            FUZZ_CHECK(levels[k] >= 0 && levels[k] <= 255);
            FUZZ_CHECK(minute.weight[k] >= 0 && std::isfinite(minute.power[k]));
        }
    }
    return 0;
}
