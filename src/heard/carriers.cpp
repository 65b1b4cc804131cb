// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the carriers of a day. A carrier is a kHz that stands out of the band's floor, so the
// floor comes first, and it must follow the band as it is: higher at night than by day, and
// sloping across the band (the receiver's response, the noise of the town). It is found in four
// steps over a grid of the day, one row a minute of the UTC day (each record at its own minute,
// as its time text says), one byte a kHz (levels outside 0..255 count as 0 or 255):
//
//  1. The floor. In each minute, at anchor points every 16 kHz, the floor is the 20th percentile
//     of the levels of the 65 kHz around the point: at night every channel may carry a station
//     with its sidebands, but they never fill four fifths of 65 kHz, so the percentile lands on
//     the noise between them, and the window is narrow enough to follow the slope. Each anchor's
//     floor is then the median of its values over the 15 minutes around: a storm's crash of a
//     few minutes, which lifts the whole band, does not lift the floor with it, while the slow
//     rise at dusk (an hour or more) is followed as it comes. Between anchors it is interpolated.
//  2. Bursts. A minute in which a quarter of the band more stands out than in the minutes
//     around it (the median of 21) is a burst across the band: nothing is heard in it, and it
//     neither starts, ends nor lengthens a carrier's fade; the minutes go on around it.
//  3. Runs. In every kHz, the minutes that stand out by the margin make runs; a run goes on
//     across up to maxFade minutes that do not (a fade, or minutes missing from the log), and
//     a run of at least minMinutes from its first to its last minute is a candidate.
//  4. Sidebands. A strong station stands out also in the kHz beside its carrier (its sidebands,
//     and its spread into the next bins), each a candidate of its own. The candidates are taken
//     strongest first (the most level above the floor over the run), and one is dropped as the
//     flank of a stronger one taken already, within kSidebandReach kHz, when in a third of its
//     minutes that one is higher and no kHz between the two is lower than it: the level falls
//     from that carrier to it without a dip. Two stations apart enough to show a dip between
//     them stay two; a weaker one closer to a strong one than that is heard as its sideband.
#include "heard/carriers.h"

#include <algorithm>
#include <cstdint>

namespace talvor {

namespace {

constexpr int kFloorStep = 16;   // kHz between the floor's anchor points
constexpr int kFloorReach = 32;  // kHz on each side of an anchor that its percentile takes
constexpr int kFloorPercentile = 20;
constexpr int kFloorMinutes = 7;   // minutes on each side that an anchor's floor is the median of
constexpr int kBurstMinutes = 10;  // minutes on each side that a burst is told apart from
constexpr int kBurstKhz = kBandKhzCount / 4;  // kHz more than usual that stand out in a burst
constexpr int kSidebandReach = 6;             // kHz: the channels of the 9 kHz plan stay apart
constexpr int kAnchors = (kBandKhzCount - 1 + kFloorStep - 1) / kFloorStep + 1;

bool InBand(int khz) {
    return khz >= kBandFirstKhz && khz <= kBandLastKhz;
}

int AnchorKhzIndex(int anchor) {
    return std::min(anchor * kFloorStep, kBandKhzCount - 1);
}

// The day as a grid: levels[minute * kBandKhzCount + kHz index], and which minutes have a record.
struct DayGrid {
    std::vector<uint8_t> levels;
    std::vector<uint8_t> present;
    const uint8_t* Row(int minute) const { return levels.data() + size_t(minute) * kBandKhzCount; }
};

uint8_t Clamped(int32_t level) {
    return uint8_t(std::clamp<int32_t>(level, 0, 255));
}

// A later record of the same minute replaces an earlier one, as the site's digest takes it.
DayGrid GridOf(RecordSpan records) {
    DayGrid grid;
    grid.levels.assign(size_t(kMinutesPerDay) * kBandKhzCount, 0);
    grid.present.assign(kMinutesPerDay, 0);
    for (int k = 0; k < records.count; ++k) {
        const DayLogRecord* record = records.At(k);
        int minute = MinuteOfDay(record, k);
        grid.present[size_t(minute)] = 1;
        uint8_t* row = grid.levels.data() + size_t(minute) * kBandKhzCount;
        // The levels read in place: LevelAt's call for each of them would cost more than all
        // the rest of the reading.
        const unsigned char* p = record + kLevelsOffset + 4 * (kBandFirstKhz - kFirstLevelKhz);
        for (int i = 0; i < kBandKhzCount; ++i, p += 4) {
            row[i] = Clamped(int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                     uint32_t(p[3]) << 24));
        }
    }
    return grid;
}

int Percentile(std::vector<int>* values, int percent) {
    auto nth = values->begin() + std::ptrdiff_t(values->size() * size_t(percent) / 100);
    std::nth_element(values->begin(), nth, values->end());
    return *nth;
}

// The levels of a window of kHz as counts, for its percentiles without sorting: a window slides
// along a minute's row, and a query walks sixteen groups of sixteen levels, then one group.
struct LevelCounts {
    int fine[256] = {};
    int coarse[16] = {};
    int total = 0;
    void Add(uint8_t level, int n) {
        fine[level] += n;
        coarse[level >> 4] += n;
        total += n;
    }
    // The level that sorting would put at rank total * percent / 100.
    int Percentile(int percent) const {
        int rank = total * percent / 100, group = 0;
        while (rank >= coarse[group]) rank -= coarse[group++];
        int level = group << 4;
        while (rank >= fine[level]) rank -= fine[level++];
        return level;
    }
};

// floors[minute * kBandKhzCount + kHz index], step 1 of the top of the file.
std::vector<int16_t> FloorOf(const DayGrid& grid) {
    std::vector<uint8_t> raw(size_t(kMinutesPerDay) * kAnchors, 0);
    for (int m = 0; m < kMinutesPerDay; ++m) {
        if (!grid.present[size_t(m)]) continue;
        const uint8_t* row = grid.Row(m);
        LevelCounts counts;
        int lo = 0, hi = -1;  // the window counted, both included
        for (int a = 0; a < kAnchors; ++a) {
            int centre = AnchorKhzIndex(a);
            int from = std::max(centre - kFloorReach, 0);
            int to = std::min(centre + kFloorReach, kBandKhzCount - 1);
            for (; hi < to; ++hi) counts.Add(row[hi + 1], 1);
            for (; lo < from; ++lo) counts.Add(row[lo], -1);
            raw[size_t(m) * kAnchors + size_t(a)] = uint8_t(counts.Percentile(kFloorPercentile));
        }
    }
    // Each anchor's median over the minutes around, with a window sliding down the day.
    std::vector<int> smooth(raw.size(), 0);
    for (int a = 0; a < kAnchors; ++a) {
        LevelCounts counts;
        auto count = [&](int m, int n) {
            if (m >= 0 && m < kMinutesPerDay && grid.present[size_t(m)]) {
                counts.Add(raw[size_t(m) * kAnchors + size_t(a)], n);
            }
        };
        for (int m = 0; m < kFloorMinutes; ++m) count(m, 1);
        for (int m = 0; m < kMinutesPerDay; ++m) {
            count(m + kFloorMinutes, 1);
            count(m - kFloorMinutes - 1, -1);
            if (grid.present[size_t(m)]) {
                smooth[size_t(m) * kAnchors + size_t(a)] = counts.Percentile(50);
            }
        }
    }
    std::vector<int16_t> floors(size_t(kMinutesPerDay) * kBandKhzCount, 0);
    for (int m = 0; m < kMinutesPerDay; ++m) {
        if (!grid.present[size_t(m)]) continue;
        const int* anchor = smooth.data() + size_t(m) * kAnchors;
        int16_t* row = floors.data() + size_t(m) * kBandKhzCount;
        for (int a = 0; a + 1 < kAnchors; ++a) {
            int from = AnchorKhzIndex(a), to = AnchorKhzIndex(a + 1);
            // In 1/65536 of a level, rounded to the nearest at each kHz.
            int32_t value = anchor[a] * 65536 + 32768;
            int32_t step = (anchor[a + 1] - anchor[a]) * 65536 / (to - from);
            for (int i = from; i <= to; ++i, value += step) row[i] = int16_t(value >> 16);
        }
    }
    return floors;
}

// Step 2: the minutes of bursts.
std::vector<uint8_t> BurstsOf(const DayGrid& grid, const std::vector<int16_t>& floors, int margin) {
    std::vector<int> counts(kMinutesPerDay, 0);
    for (int m = 0; m < kMinutesPerDay; ++m) {
        if (!grid.present[size_t(m)]) continue;
        const uint8_t* row = grid.Row(m);
        const int16_t* floor = floors.data() + size_t(m) * kBandKhzCount;
        for (int i = 0; i < kBandKhzCount; ++i) counts[size_t(m)] += row[i] - floor[i] >= margin;
    }
    std::vector<uint8_t> bursts(kMinutesPerDay, 0);
    std::vector<int> around;
    for (int m = 0; m < kMinutesPerDay; ++m) {
        if (!grid.present[size_t(m)]) continue;
        around.clear();
        for (int n = std::max(m - kBurstMinutes, 0);
             n <= std::min(m + kBurstMinutes, kMinutesPerDay - 1); ++n) {
            if (grid.present[size_t(n)]) around.push_back(counts[size_t(n)]);
        }
        bursts[size_t(m)] = counts[size_t(m)] - Percentile(&around, 50) > kBurstKhz;
    }
    return bursts;
}

struct Run {
    int khz = 0;  // index in the band
    int first = -1;
    int last = -1;
    int64_t strength = 0;  // the sum of its levels above the floor
    int peak = 0;
};

struct Day {
    DayGrid grid;
    std::vector<int16_t> floors;
    std::vector<uint8_t> bursts;
    int margin = 0;
    int Level(int minute, int khz) const { return grid.Row(minute)[khz]; }
    bool Heard(int minute, int khz) const {
        return grid.present[size_t(minute)] && !bursts[size_t(minute)] &&
               Level(minute, khz) - floors[size_t(minute) * kBandKhzCount + size_t(khz)] >= margin;
    }
};

// Step 3. The fades are counted on a clock that stops in the bursts.
std::vector<Run> CandidatesOf(const Day& day, const CarrierRules& rules) {
    std::vector<Run> open(kBandKhzCount), candidates;
    std::vector<int> heardAt(kBandKhzCount, 0);  // the clock at each open run's last minute
    auto close = [&](const Run& run) {
        if (run.first >= 0 && run.last - run.first + 1 >= rules.minMinutes) {
            candidates.push_back(run);
        }
    };
    int clock = 0;
    for (int m = 0; m < kMinutesPerDay; ++m) {
        if (day.bursts[size_t(m)]) continue;
        ++clock;
        if (!day.grid.present[size_t(m)]) continue;
        const int16_t* floor = day.floors.data() + size_t(m) * kBandKhzCount;
        const uint8_t* row = day.grid.Row(m);
        for (int i = 0; i < kBandKhzCount; ++i) {
            int above = row[i] - floor[i];
            if (above < day.margin) continue;
            Run& run = open[size_t(i)];
            if (run.first < 0 || clock - heardAt[size_t(i)] - 1 > rules.maxFade) {
                close(run);
                run = Run{i, m, m, 0, 0};
            }
            run.last = m;
            run.strength += above;
            run.peak = std::max<int>(run.peak, row[i]);
            heardAt[size_t(i)] = clock;
        }
    }
    for (const Run& run : open) close(run);
    return candidates;
}

// Whether, in minute m, the level falls from kHz a (higher) to kHz c without a dip between.
bool FlankOf(const Day& day, int m, int a, int c) {
    const uint8_t* row = day.grid.Row(m);
    if (row[a] <= row[c]) return false;
    int step = a < c ? 1 : -1;
    for (int k = a + step; k != c; k += step) {
        if (row[k] < row[c]) return false;
    }
    return true;
}

// Step 4.
std::vector<Run> WithoutSidebands(const Day& day, std::vector<Run> candidates) {
    std::sort(candidates.begin(), candidates.end(), [](const Run& x, const Run& y) {
        if (x.strength != y.strength) return x.strength > y.strength;
        if (x.khz != y.khz) return x.khz < y.khz;
        return x.first < y.first;
    });
    std::vector<std::vector<const Run*>> takenAt(kBandKhzCount);
    std::vector<Run> taken;
    taken.reserve(candidates.size());  // the pointers into it stay valid
    std::vector<const Run*> near;
    for (const Run& c : candidates) {
        near.clear();
        for (int a = std::max(c.khz - kSidebandReach, 0);
             a <= std::min(c.khz + kSidebandReach, kBandKhzCount - 1); ++a) {
            for (const Run* t : takenAt[size_t(a)]) {
                if (a != c.khz && t->first <= c.last && c.first <= t->last) near.push_back(t);
            }
        }
        int heard = 0, flank = 0;
        for (int m = c.first; m <= c.last; ++m) {
            if (!day.Heard(m, c.khz)) continue;
            ++heard;
            for (const Run* t : near) {
                if (t->first <= m && m <= t->last && FlankOf(day, m, t->khz, c.khz)) {
                    ++flank;
                    break;
                }
            }
        }
        if (3 * flank >= heard) continue;
        taken.push_back(c);
        takenAt[size_t(c.khz)].push_back(&taken.back());
    }
    return taken;
}

}  // namespace

std::vector<Carrier> FindCarriers(RecordSpan records, const CarrierRules& rules) {
    Day day;
    day.grid = GridOf(records);
    day.floors = FloorOf(day.grid);
    day.margin = rules.margin;
    day.bursts = BurstsOf(day.grid, day.floors, rules.margin);
    std::vector<Carrier> carriers;
    for (const Run& run : WithoutSidebands(day, CandidatesOf(day, rules))) {
        Carrier carrier;
        carrier.khz = kBandFirstKhz + run.khz;
        carrier.firstMinute = run.first;
        carrier.lastMinute = run.last;
        carrier.minutes = run.last - run.first + 1;
        carrier.peakLevel = run.peak;
        carriers.push_back(carrier);
    }
    std::sort(carriers.begin(), carriers.end(), [](const Carrier& x, const Carrier& y) {
        return x.khz != y.khz ? x.khz < y.khz : x.firstMinute < y.firstMinute;
    });
    return carriers;
}

void MarkNewCarriers(HeardDay* day, const std::vector<HeardDay>& earlier) {
    std::vector<uint8_t> used(kBandKhzCount, 0);
    bool logged = false;
    for (const HeardDay& before : earlier) {
        auto back = (day->day - before.day).count();
        if (back < 1 || back > kNewCarrierDays) continue;
        logged = true;
        for (const Carrier& c : before.carriers) {
            if (InBand(c.khz)) used[size_t(c.khz - kBandFirstKhz)] = 1;
        }
    }
    for (Carrier& c : day->carriers) {
        c.isNew = logged && InBand(c.khz) && !used[size_t(c.khz - kBandFirstKhz)];
    }
}

}  // namespace talvor
