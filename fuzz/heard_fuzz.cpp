// SPDX-License-Identifier: GPL-3.0-or-later
// The carriers of arbitrary records: the first three bytes choose the rules, the rest are the
// records (whole ones, at most a day's), with any time text and any level. Whatever they hold,
// every carrier lies in the band and the day, keeps to the rules, and the list is in order.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "heard/carriers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    // Short runs and fades, so that the few records of a fuzzing input can make carriers.
    CarrierRules rules{1 + data[0] % 255, 1 + data[1] % 4, data[2] % 3};
    size_t count = (size - 3) / kDayLogRecordSize;
    if (count > size_t(kMaxDayLogRecords)) count = kMaxDayLogRecords;
    std::vector<unsigned char> records(data + 3, data + 3 + count * kDayLogRecordSize);
    std::vector<Carrier> carriers = FindCarriers({records.data(), int(count)}, rules);
    const Carrier* before = nullptr;
    for (const Carrier& c : carriers) {
        FUZZ_CHECK(c.khz >= kBandFirstKhz && c.khz <= kBandLastKhz);
        FUZZ_CHECK(c.firstMinute >= 0 && c.firstMinute <= c.lastMinute &&
                   c.lastMinute < kMinutesPerDay);
        FUZZ_CHECK(c.minutes == c.lastMinute - c.firstMinute + 1 && c.minutes >= rules.minMinutes);
        FUZZ_CHECK(c.peakLevel >= rules.margin && c.peakLevel <= 255);
        if (before != nullptr && before->khz == c.khz) {
            // Two runs of one kHz are more than a fade apart.
            FUZZ_CHECK(c.firstMinute - before->lastMinute - 1 > rules.maxFade);
        } else if (before != nullptr) {
            FUZZ_CHECK(before->khz < c.khz);
        }
        before = &c;
    }
    return 0;
}
