// SPDX-License-Identifier: GPL-3.0-or-later
// The carriers of a day, found in synthetic day logs whose carriers are known: a noisy floor that
// rises at night and slopes across the band, carriers with fades and sidebands, and beside them
// blips too short to count and bursts across the band. And which carriers are new.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "heard/carriers.h"

using namespace talvor;

namespace {

struct Made {
    int khz, first, last, strength;
    bool sidebands;
    int fade;  // minutes of each fade, one an hour
};

struct SynthDay {
    const char* what;
    unsigned seed;
    int carriers;       // made at random beside a local all day and 810 kHz at night
    bool slopeDown;     // the floor falls from 520 to 1700 kHz, else rises
    int blips, bursts;  // blips too short to be carriers, bursts over 60..100% of the band
    bool shuffled;      // records out of order (their time text tells the minute)
    bool wild;          // a few levels, and one whole record, far outside 0..255
    int firstLogged;    // no record before this minute
};

// 15..65 across the band, 45 more at night (22:00 to 05:00, an hour of twilight each side).
int Floor(const SynthDay& d, int m, int khz) {
    int night = m < 300 ? 60 : m < 360 ? 360 - m : std::clamp(m - 1260, 0, 60);
    int slope = 50 * (khz - kBandFirstKhz) / (kBandKhzCount - 1);
    return 15 + (d.slopeDown ? 50 - slope : slope) + night * 45 / 60;
}

// Carriers at one time at least 9 kHz apart (the 9 kHz plan); on one kHz, 15 minutes.
bool Clashes(const Made& a, const std::vector<Made>& made) {
    return std::any_of(made.begin(), made.end(), [&](const Made& b) {
        return std::abs(a.khz - b.khz) < 9 && a.first <= b.last + 15 && b.first <= a.last + 15;
    });
}

std::vector<unsigned char> MakeDay(const SynthDay& d, std::vector<Made>* made,
                                   std::vector<Made>* blips, std::vector<int>* bursts) {
    std::mt19937 random(d.seed);
    auto below = [&](int n) { return int(random() % unsigned(n)); };
    *made = {{1080, d.firstLogged, 1439, 150, true, 5}, {810, 1300, 1439, 60, false, 0}};
    while (int(made->size()) < d.carriers + 2) {
        int khz = below(3) == 0 ? 531 + 9 * below(119) : 530 + 10 * below(118);
        int length = 10 + below(591), first = std::max(d.firstLogged, below(1441 - length));
        int last = std::min(first + length - 1, 1439);
        Made c{khz, first, last, 40 + below(161), below(2) == 0, 1 + below(5)};
        if (c.last - c.first >= 9 && !Clashes(c, *made)) made->push_back(c);
    }
    while (int(blips->size()) < d.blips) {
        int khz = 530 + 10 * below(118), first = d.firstLogged + below(1430 - d.firstLogged);
        Made b{khz, first, first + 2 + below(6), 100 + below(101), true, 0};
        if (!Clashes(b, *made) && !Clashes(b, *blips)) blips->push_back(b);
    }
    std::vector<int> grid(size_t(kMinutesPerDay) * kBandKhzCount);
    auto at = [&](int m, int khz) -> int& {
        return grid[size_t(m * kBandKhzCount + khz - kBandFirstKhz)];
    };
    for (int m = 0; m < kMinutesPerDay; ++m) {
        for (int f = kBandFirstKhz; f <= kBandLastKhz; ++f) at(m, f) = Floor(d, m, f);
    }
    const int sideband[] = {100, 70, 45, 30, 20};  // percent of the carrier's height
    for (const std::vector<Made>* list : {made, blips}) {
        for (const Made& c : *list) {
            for (int m = c.first; m <= c.last; ++m) {
                int phase = (m - c.first) % 60 - 30;  // half an hour in, and every hour after
                if (phase >= 0 && phase < c.fade && m + 3 < c.last) continue;
                for (int f = std::max(c.khz - 4 * c.sidebands, kBandFirstKhz);
                     f <= std::min(c.khz + 4 * c.sidebands, kBandLastKhz); ++f) {
                    int height = c.strength * sideband[std::abs(f - c.khz)] / 100;
                    at(m, f) = std::max(at(m, f), Floor(d, m, f) + height);
                }
            }
        }
    }
    // Each just after a blip or a carrier, which it would lengthen if it were heard.
    for (int i = 0; i < d.bursts; ++i) {
        const Made& after = i % 2 == 0 ? (*blips)[size_t(i) % blips->size()] : (*made)[size_t(i)];
        int b = std::min(after.last + 2 + 2 * (i % 2), 1438), width = 708 + below(473);
        int from = std::clamp(after.khz - below(width), kBandFirstKhz, kBandLastKhz + 1 - width);
        for (int m = b; m < b + 1 + i % 2; ++m) {
            for (int f = from; f < from + width; ++f) at(m, f) += 60 + below(91);
        }
        bursts->push_back(b);
    }
    std::vector<int> minutes;
    for (int m = d.firstLogged; m < kMinutesPerDay; ++m) minutes.push_back(m);
    if (d.shuffled) std::shuffle(minutes.begin(), minutes.end(), random);
    std::vector<unsigned char> bytes(minutes.size() * kDayLogRecordSize, 0);
    for (size_t k = 0; k < minutes.size(); ++k) {
        DayLogRecord* r = bytes.data() + k * kDayLogRecordSize;
        char text[32];
        std::snprintf(text, sizeof text, "2025-11-20 %02d:%02d", minutes[k] / 60, minutes[k] % 60);
        SetTimeText(r, text);
        for (int f = kBandFirstKhz; f <= kBandLastKhz; ++f) {
            int32_t level = std::min(at(minutes[k], f) + below(12), 255);
            if (d.wild && (below(20000) == 0 || k == minutes.size() / 2)) {
                level = below(2) == 0 ? INT32_MAX : -1000000;
            }
            SetLevel(r, f, level);
        }
    }
    return bytes;
}

TEST(Carriers, MadeCarriersAreFoundAndNothingElse) {
    const SynthDay days[] = {
        {"a quiet day", 1, 15, false, 0, 0, false, false, 0},
        {"a crowded night, the floor falling", 2, 70, true, 0, 0, false, false, 0},
        {"blips and bursts", 3, 40, false, 12, 6, false, false, 0},
        {"records out of order, wild levels", 4, 40, true, 8, 4, true, true, 0},
        {"logged from 06:00", 5, 40, false, 8, 4, false, false, 6 * 60},
        {"a crowded day with everything", 6, 90, true, 15, 6, true, true, 0},
    };
    int made = 0, found = 0;
    for (const SynthDay& d : days) {
        std::vector<Made> carriers, blips;
        std::vector<int> bursts;
        std::vector<unsigned char> bytes = MakeDay(d, &carriers, &blips, &bursts);
        std::vector<Carrier> heard =
            FindCarriers({bytes.data(), int(bytes.size() / kDayLogRecordSize)}, CarrierRules{});
        auto near = [&](const Carrier& c, const Made& m, int slack) {
            return c.khz == m.khz && c.firstMinute <= m.last + slack &&
                   m.first <= c.lastMinute + slack;
        };
        for (const Made& m : carriers) {
            made++;
            found += std::any_of(heard.begin(), heard.end(), [&](const Carrier& c) {
                return c.khz == m.khz && std::abs(c.firstMinute - m.first) <= 2 &&
                       std::abs(c.lastMinute - m.last) <= 2;
            });
        }
        int unmade = 0;
        for (const Carrier& c : heard) {
            for (const Made& b : blips) EXPECT_FALSE(near(c, b, 0)) << d.what << ": " << b.khz;
            if (std::none_of(carriers.begin(), carriers.end(),
                             [&](const Made& m) { return near(c, m, 2); })) {
                ++unmade;
                for (int b : bursts) EXPECT_FALSE(c.firstMinute <= b + 1 && b <= c.lastMinute);
            }
        }
        EXPECT_LE(unmade, 1) << d.what;
    }
    EXPECT_GE(found * 100, made * 95) << found << " of " << made;
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
        std::vector<HeardDay> earlier;
        std::vector<bool> isNew;  // of 1080, 1089 and 1700 kHz
    } cases[] = {
        {{}, {false, false, false}},  // nothing listened to that they could be new against
        {{{day - days(1), on({1080})}}, {false, true, true}},
        {{{day - days(7), on({1089, 1700})}}, {true, false, false}},
        {{{day - days(8), on({1080})}, {day - days(2), on({1700})}}, {true, true, false}},
        {{{day, on({1080})}, {day + days(1), on({1089})}, {day - days(3), on({})}},
         {true, true, true}},
    };
    for (const Case& c : cases) {
        HeardDay heard{day, on({1080, 1089, 1700})};
        MarkNewCarriers(&heard, c.earlier);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(heard.carriers[i].isNew, c.isNew[i]) << i;
    }
}

}  // namespace
