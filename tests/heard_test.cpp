// SPDX-License-Identifier: GPL-3.0-or-later
// The carriers of a day, found in synthetic day logs whose carriers are known: a noisy floor that
// rises at night and slopes across the band, carriers with fades and sidebands, and beside them
// blips too short to count and bursts across the band. And which carriers are new.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "heard/carriers.h"

namespace {

struct Random {
    uint64_t state;
    int Below(int n) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return int((state >> 33) % uint64_t(n));
    }
};

struct Made {
    int khz, first, last, strength;
    bool sidebands;
    std::vector<int> fades;  // first minutes of fades of fadeLength minutes
    int fadeLength = 0;
};

// One synthetic day: a floor of 15..65 levels sloping up or down the band, 45 higher at night
// (22:00..05:00, an hour of twilight on each side), noise of 0..11 on every kHz and minute.
struct SynthDay {
    const char* what;
    uint64_t seed;
    int carriers;       // made at random beside the two fixed ones
    bool slopeDown;     // the floor falls from 520 to 1700 kHz
    int blips, bursts;  // too short to be carriers; across 60..100% of the band
    bool shuffled;      // records out of their minutes' order (the time text tells)
    bool wildLevels;    // a few levels far outside 0..255
    int firstLogged;    // minutes before this have no record
};

// 0 by day, 60 at night: up from 21:00 to 22:00, down from 05:00 to 06:00.
int Night(int minute) {
    if (minute < 5 * 60) return 60;
    if (minute < 6 * 60) return 6 * 60 - minute;
    if (minute < 21 * 60) return 0;
    return std::min(minute - 21 * 60, 60);
}

int Floor(const SynthDay& d, int minute, int khz) {
    int slope = 50 * (khz - kBandFirstKhz) / (kBandLastKhz - kBandFirstKhz);
    return 15 + (d.slopeDown ? 50 - slope : slope) + Night(minute) * 45 / 60;
}

bool Clashes(const Made& a, const std::vector<Made>& made) {
    for (const Made& b : made) {
        // Carriers at the same time at least 9 kHz apart (the 9 kHz plan), on one kHz 15 min.
        if (std::abs(a.khz - b.khz) < 9 && a.first <= b.last + 15 && b.first <= a.last + 15) {
            return true;
        }
    }
    return false;
}

// The day's records (in minute order unless shuffled), and what was made in them.
std::vector<unsigned char> MakeDay(const SynthDay& d, std::vector<Made>* made,
                                   std::vector<Made>* blips, std::vector<int>* bursts) {
    Random random{d.seed};
    *made = {{1080, d.firstLogged, 1439, 150, true, {600, 900}, 5},
             {810, 1300, 1439, 60, false, {}, 0}};
    while (int(made->size()) < d.carriers + 2) {
        Made c;
        bool nine = random.Below(3) == 0;
        c.khz = nine ? 531 + 9 * random.Below(119) : 530 + 10 * random.Below(118);
        int length = 10 + random.Below(591);
        c.first = std::max(d.firstLogged, random.Below(kMinutesPerDay - length + 1));
        c.last = std::min(c.first + length - 1, kMinutesPerDay - 1);
        c.strength = 40 + random.Below(161);
        c.sidebands = random.Below(2) == 0;
        c.fadeLength = 1 + random.Below(5);
        for (int m = c.first + 3; m + c.fadeLength + 3 < c.last; m += 40 + random.Below(80)) {
            c.fades.push_back(m);
        }
        if (c.last - c.first + 1 >= 10 && !Clashes(c, *made)) made->push_back(c);
    }
    while (int(blips->size()) < d.blips) {
        Made b{530 + 10 * random.Below(118), 0, 0, 100 + random.Below(101), true, {}, 0};
        b.first = d.firstLogged + random.Below(kMinutesPerDay - d.firstLogged - 10);
        b.last = b.first + 2 + random.Below(6);
        if (!Clashes(b, *made) && !Clashes(b, *blips)) blips->push_back(b);
    }
    // Each burst a minute after a blip or three after a carrier, where it would lengthen them.
    std::vector<int> burstKhz;
    for (int i = 0; i < d.bursts; ++i) {
        const Made& after = i % 2 == 0 ? (*blips)[size_t(i) % blips->size()] : (*made)[size_t(i)];
        bursts->push_back(std::min(after.last + (i % 2 == 0 ? 2 : 4), kMinutesPerDay - 2));
        burstKhz.push_back(after.khz);
    }

    std::vector<int> grid(size_t(kMinutesPerDay) * kBandKhzCount);
    auto at = [&](int m, int khz) -> int& {
        return grid[size_t(m) * kBandKhzCount + size_t(khz - kBandFirstKhz)];
    };
    for (int m = 0; m < kMinutesPerDay; ++m) {
        for (int f = kBandFirstKhz; f <= kBandLastKhz; ++f) at(m, f) = Floor(d, m, f);
    }
    const int sideband[] = {100, 70, 45, 30, 20};  // percent of the carrier's height
    auto put = [&](const Made& c) {
        for (int m = c.first; m <= c.last; ++m) {
            bool fading = false;
            for (int f : c.fades) fading = fading || (m >= f && m < f + c.fadeLength);
            for (int o = c.sidebands ? -4 : 0; o <= (c.sidebands ? 4 : 0) && !fading; ++o) {
                int f = c.khz + o;
                if (f < kBandFirstKhz || f > kBandLastKhz) continue;
                at(m, f) =
                    std::max(at(m, f), Floor(d, m, f) + c.strength * sideband[std::abs(o)] / 100);
            }
        }
    };
    for (const Made& c : *made) put(c);
    for (const Made& b : *blips) put(b);
    for (size_t i = 0; i < bursts->size(); ++i) {
        int width = kBandKhzCount * (60 + random.Below(41)) / 100;
        int from =
            std::clamp(burstKhz[i] - random.Below(width), kBandFirstKhz, kBandLastKhz + 1 - width);
        int b = (*bursts)[i];
        for (int m = b; m < b + 1 + random.Below(2); ++m) {
            for (int f = from; f < from + width; ++f) at(m, f) += 60 + random.Below(91);
        }
    }

    std::vector<int> minutes;
    for (int m = d.firstLogged; m < kMinutesPerDay; ++m) minutes.push_back(m);
    if (d.shuffled) {
        for (size_t i = minutes.size() - 1; i > 0; --i) {
            std::swap(minutes[i], minutes[size_t(random.Below(int(i) + 1))]);
        }
    }
    std::vector<unsigned char> bytes(minutes.size() * kDayLogRecordSize, 0);
    for (size_t k = 0; k < minutes.size(); ++k) {
        DayLogRecord* r = bytes.data() + k * kDayLogRecordSize;
        int m = minutes[k];
        char text[32];
        std::snprintf(text, sizeof text, "2025-11-20 %02d:%02d", m / 60, m % 60);
        SetTimeText(r, text);
        for (int f = kBandFirstKhz; f <= kBandLastKhz; ++f) {
            int32_t level = std::min(at(m, f) + random.Below(12), 255);
            if (d.wildLevels && (random.Below(20000) == 0 || k == minutes.size() / 2)) {
                level = random.Below(2) == 0 ? INT32_MAX : -1000000;
            }
            SetLevel(r, f, level);
        }
    }
    return bytes;
}

bool Matches(const Carrier& c, const Made& m, int slack) {
    return c.khz == m.khz && c.firstMinute <= m.last + slack && m.first <= c.lastMinute + slack;
}

TEST(Carriers, MadeCarriersAreFoundAndNothingElse) {
    const SynthDay days[] = {
        {"a quiet day", 1, 15, false, 0, 0, false, false, 0},
        {"a crowded night, the floor falling", 2, 70, true, 0, 0, false, false, 0},
        {"blips and bursts", 3, 40, false, 12, 5, false, false, 0},
        {"records out of order, wild levels", 4, 40, true, 8, 3, true, true, 0},
        {"logged from 06:00", 5, 40, false, 8, 3, false, false, 6 * 60},
        {"a crowded day with everything", 6, 90, true, 15, 6, true, true, 0},
    };
    int made = 0, found = 0;
    std::string missed;
    for (const SynthDay& d : days) {
        std::vector<Made> carriers, blips;
        std::vector<int> bursts;
        std::vector<unsigned char> bytes = MakeDay(d, &carriers, &blips, &bursts);
        std::vector<Carrier> heard =
            FindCarriers({bytes.data(), int(bytes.size() / kDayLogRecordSize)}, CarrierRules{});
        for (const Made& m : carriers) {
            ++made;
            bool exact = std::any_of(heard.begin(), heard.end(), [&](const Carrier& c) {
                return c.khz == m.khz && std::abs(c.firstMinute - m.first) <= 2 &&
                       std::abs(c.lastMinute - m.last) <= 2;
            });
            found += exact;
            if (!exact) {
                missed += std::string(d.what) + ": " + std::to_string(m.khz) + " kHz " +
                          std::to_string(m.first) + ".." + std::to_string(m.last) + "\n";
            }
        }
        int unmade = 0;
        for (const Carrier& c : heard) {
            for (const Made& b : blips)
                EXPECT_FALSE(Matches(c, b, 0)) << d.what << ": blip " << b.khz;
            bool wasMade = std::any_of(carriers.begin(), carriers.end(),
                                       [&](const Made& m) { return Matches(c, m, 2); });
            if (wasMade) continue;
            ++unmade;
            for (int b : bursts) {
                EXPECT_FALSE(c.firstMinute <= b + 1 && b <= c.lastMinute)
                    << d.what << ": a burst at " << b << " heard on " << c.khz;
            }
        }
        EXPECT_LE(unmade, 1) << d.what;
    }
    EXPECT_GE(found * 100, made * 95) << found << " of " << made << ", missed:\n" << missed;
}

TEST(Carriers, AreNewOnAKhzWithoutOneInTheWeekBefore) {
    using std::chrono::days;
    const std::chrono::sys_days day{std::chrono::year{2025} / 11 / 20};
    auto on = [](std::vector<int> khz) {
        std::vector<Carrier> carriers;
        for (int k : khz) carriers.push_back({k, 0, 59, 60, 100});
        return carriers;
    };
    struct Case {
        const char* what;
        std::vector<HeardDay> earlier;
        std::vector<bool> isNew;  // of 1080, 1089 and 1700 kHz
    } cases[] = {
        {"nothing logged before: nothing to be new against", {}, {false, false, false}},
        {"the day before", {{day - days(1), on({1080})}}, {false, true, true}},
        {"seven days before", {{day - days(7), on({1089, 1700})}}, {true, false, false}},
        {"eight days before: too long ago",
         {{day - days(8), on({1080})}, {day - days(2), on({1700})}},
         {true, true, false}},
        {"the day itself and after are not before",
         {{day, on({1080})}, {day + days(1), on({1089})}, {day - days(3), on({})}},
         {true, true, true}},
    };
    for (const Case& c : cases) {
        HeardDay heard{day, on({1080, 1089, 1700})};
        MarkNewCarriers(&heard, c.earlier);
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(heard.carriers[i].isNew, c.isNew[i]) << c.what << " " << i;
    }
}

}  // namespace
