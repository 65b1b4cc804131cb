// SPDX-License-Identifier: GPL-3.0-or-later
// What was heard on a day: the carriers that stood out of the band's floor in a loaded day log,
// and which of them are new against the days before. Plain logic over the records; the command
// line and the site both call it.
#pragma once

#include <chrono>
#include <vector>

#include "daylog/day_records.h"

namespace talvor {

// How much and how long a kHz must stand out to be a carrier; each may be set by the caller.
struct CarrierRules {
    int margin = 40;      // levels above the floor (8 dB at talvor-log's default span)
    int minMinutes = 10;  // from its first to its last minute, fades included
    int maxFade = 5;      // minutes under the margin that do not end it
};

struct Carrier {
    int khz = 0;          // where it peaks: its sidebands and spread belong to it
    int firstMinute = 0;  // minutes of the UTC day, both included
    int lastMinute = 0;
    int minutes = 0;     // lastMinute - firstMinute + 1: its run, fades included
    int peakLevel = 0;   // its highest level on its kHz, 0..255 (higher logged levels count as 255)
    bool isNew = false;  // set by MarkNewCarriers
};

// Every carrier of the records, by kHz and then first minute.
std::vector<Carrier> FindCarriers(RecordSpan records, const CarrierRules& rules);

// The carriers of one logged day.
struct HeardDay {
    std::chrono::sys_days day;
    std::vector<Carrier> carriers;
};

// How many days before a carrier's day are searched for one on its kHz.
constexpr int kNewCarrierDays = 7;

// Marks new every carrier of day on a kHz that no carrier of the logged days among the
// kNewCarrierDays before it used; the other days of earlier are not looked at. A day without a
// log tells nothing and is left out; when none of those days has a log, nothing is new, since
// nothing was listened to that it could be new against.
void MarkNewCarriers(HeardDay* day, const std::vector<HeardDay>& earlier);

}  // namespace talvor
