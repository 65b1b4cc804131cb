#include "daylog/sun_events.h"

#include <libnova/julian_day.h>
#include <libnova/solar.h>

#include <cmath>

namespace {

constexpr double kUnixEpochJulianDay = 2440587.5;

double JulianDayOf(std::chrono::sys_days day) {
    return kUnixEpochJulianDay + double(day.time_since_epoch().count());
}

// The minute of the day that starts at dayStart, or -1 outside it.
int MinuteOfDay(double eventJd, double dayStart) {
    double minutes = std::floor((eventJd - dayStart) * kMinutesPerDay + 1e-6);
    if (!(minutes >= 0 && minutes < kMinutesPerDay)) return -1;
    return int(minutes);
}

}  // namespace

SunEvents SunEventsOn(std::chrono::sys_days day, double latitude, double longitude) {
    SunEvents events;
    const double start = JulianDayOf(day);
    ln_lnlat_posn observer{longitude, latitude};
    // The library answers for the events around the day it is asked about, and at longitudes
    // far from Greenwich the day's UTC events belong to the local day before or after: ask
    // about all three and keep what falls inside this UTC day.
    for (int d = -1; d <= 1; ++d) {
        ln_rst_time rst{};
        if (ln_get_solar_rst(start + d + 0.5, &observer, &rst) != 0)
            continue;  // up or down all day
        int rise = MinuteOfDay(rst.rise, start);
        int set = MinuteOfDay(rst.set, start);
        if (rise >= 0 && (events.rise < 0 || rise < events.rise)) events.rise = rise;
        if (set >= 0 && (events.set < 0 || set < events.set)) events.set = set;
    }
    return events;
}

void DayMarkerKinds(std::chrono::sys_days day, double latitude, double longitude,
                    int32_t kinds[kMinutesPerDay]) {
    for (int m = 0; m < kMinutesPerDay; ++m) kinds[m] = 0;
    SunEvents station = SunEventsOn(day, latitude, longitude);
    SunEvents newYork = SunEventsOn(day, kNewYorkLatitude, kNewYorkLongitude);
    if (station.rise >= 0) kinds[station.rise] = 2;
    if (station.set >= 0) kinds[station.set] = 1;
    if (newYork.set >= 0) kinds[newYork.set] = -1;
}
