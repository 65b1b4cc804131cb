// SPDX-License-Identifier: GPL-3.0-or-later
// Sunrise and sunset in the minutes of a UTC day, for the markers of the day log.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>

#include "daylog/day_log.h"

namespace talvor {

// The minute of the UTC day (0..1439) in which the sun rises and sets at the place (degrees,
// north and east positive); -1 when no such event falls in that UTC day (a polar day or night,
// or an event that falls on the day before or after).
struct SunEvents {
    int rise = -1;
    int set = -1;
};
SunEvents SunEventsOn(std::chrono::sys_days day, double latitude, double longitude);

// The same events in fractional minutes of the UTC day (0 <= t < 1440), NAN where there is none;
// the marker goes in the minute that holds the event (SunEventsOn's floor of these).
struct SunEventTimes {
    double rise = NAN;
    double set = NAN;
};
SunEventTimes SunEventTimesOn(std::chrono::sys_days day, double latitude, double longitude);

constexpr double kNewYorkLatitude = 40.71;
constexpr double kNewYorkLongitude = -74.01;

// markerKind of every minute of the day: 2 at sunrise and 1 at sunset at the station, -1 at
// sunset in New York (which takes the minute when it meets a station event), else 0.
void DayMarkerKinds(std::chrono::sys_days day, double latitude, double longitude,
                    int32_t kinds[kMinutesPerDay]);

}  // namespace talvor
