// SPDX-License-Identifier: GPL-3.0-or-later
#include "daylog/sun_events.h"

#include <cmath>

namespace talvor {

// Sunrise and sunset by the equations of NOAA's solar calculator (after Meeus): the apparent
// event, when the centre of the sun is 0.833 degrees below the horizon (refraction and the
// sun's radius). They put an event within a minute of the published tables, which is what a
// marker row needs.

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kUnixEpochJulianDay = 2440587.5;
constexpr double kApparentHorizonZenith = 90.833;  // degrees

double Radians(double degrees) {
    return degrees * kPi / 180.0;
}
double Degrees(double radians) {
    return radians * 180.0 / kPi;
}

struct SolarState {
    double declination;     // radians
    double equationOfTime;  // minutes
};

SolarState SolarStateAt(double julianDay) {
    const double t = (julianDay - 2451545.0) / 36525.0;  // Julian centuries from J2000
    const double meanLongitude = std::fmod(280.46646 + t * (36000.76983 + t * 0.0003032), 360.0);
    const double meanAnomaly = 357.52911 + t * (35999.05029 - 0.0001537 * t);
    const double eccentricity = 0.016708634 - t * (0.000042037 + 0.0000001267 * t);
    const double m = Radians(meanAnomaly);
    const double centre = std::sin(m) * (1.914602 - t * (0.004817 + 0.000014 * t)) +
                          std::sin(2 * m) * (0.019993 - 0.000101 * t) + std::sin(3 * m) * 0.000289;
    const double omega = Radians(125.04 - 1934.136 * t);
    const double apparentLongitude = meanLongitude + centre - 0.00569 - 0.00478 * std::sin(omega);
    const double meanObliquity =
        23.0 + (26.0 + (21.448 - t * (46.815 + t * (0.00059 - t * 0.001813))) / 60.0) / 60.0;
    const double obliquity = Radians(meanObliquity + 0.00256 * std::cos(omega));

    SolarState state;
    state.declination = std::asin(std::sin(obliquity) * std::sin(Radians(apparentLongitude)));
    const double y = std::pow(std::tan(obliquity / 2), 2);
    const double l0 = Radians(meanLongitude);
    state.equationOfTime = 4.0 * Degrees(y * std::sin(2 * l0) - 2 * eccentricity * std::sin(m) +
                                         4 * eccentricity * y * std::sin(m) * std::cos(2 * l0) -
                                         0.5 * y * y * std::sin(4 * l0) -
                                         1.25 * eccentricity * eccentricity * std::sin(2 * m));
    return state;
}

// Minutes after 0 h UT of the day starting at dayStart (a Julian day) at which the sun rises
// (rising) or sets on the local day around that date; NAN when it stays up or down. The sun's
// place is taken at the event itself, reached in a few steps from local noon.
double EventMinutes(double dayStart, double latitude, double longitude, bool rising) {
    double minutes = 720.0 - 4.0 * longitude;
    for (int step = 0; step < 4; ++step) {
        SolarState sun = SolarStateAt(dayStart + minutes / double(kMinutesPerDay));
        const double phi = Radians(latitude);
        const double cosHourAngle = std::cos(Radians(kApparentHorizonZenith)) /
                                        (std::cos(phi) * std::cos(sun.declination)) -
                                    std::tan(phi) * std::tan(sun.declination);
        if (!(cosHourAngle >= -1.0 && cosHourAngle <= 1.0)) return NAN;
        const double hourAngle = Degrees(std::acos(cosHourAngle));
        minutes =
            720.0 - 4.0 * (longitude + (rising ? hourAngle : -hourAngle)) - sun.equationOfTime;
    }
    return minutes;
}

}  // namespace

SunEventTimes SunEventTimesOn(std::chrono::sys_days day, double latitude, double longitude) {
    SunEventTimes times;
    const double start = kUnixEpochJulianDay + double(day.time_since_epoch().count());
    // Far from Greenwich a UTC day holds the event of the local day before or after: look at
    // all three and keep the first that falls inside this UTC day.
    for (int d = -1; d <= 1; ++d) {
        for (bool rising : {true, false}) {
            double minutes = EventMinutes(start + d, latitude, longitude, rising);
            if (std::isnan(minutes)) continue;
            minutes += d * double(kMinutesPerDay);
            if (minutes < 0 || minutes >= kMinutesPerDay) continue;
            double& kept = rising ? times.rise : times.set;
            if (std::isnan(kept) || minutes < kept) kept = minutes;
        }
    }
    return times;
}

SunEvents SunEventsOn(std::chrono::sys_days day, double latitude, double longitude) {
    SunEventTimes times = SunEventTimesOn(day, latitude, longitude);
    SunEvents events;
    if (!std::isnan(times.rise)) events.rise = int(std::floor(times.rise));
    if (!std::isnan(times.set)) events.set = int(std::floor(times.set));
    return events;
}

void DayMarkerKinds(std::chrono::sys_days day, double latitude, double longitude,
                    int32_t kinds[kMinutesPerDay]) {
    for (int m = 0; m < kMinutesPerDay; ++m) kinds[m] = 0;
    SunEvents station = SunEventsOn(day, latitude, longitude);
    SunEvents newYork = SunEventsOn(day, kNewYorkLatitude, kNewYorkLongitude);
    if (station.rise >= 0) kinds[station.rise] = int32_t(Marker::UpperHalfSun);
    if (station.set >= 0) kinds[station.set] = int32_t(Marker::LowerHalfSun);
    if (newYork.set >= 0) kinds[newYork.set] = int32_t(Marker::NewYork);
}

}  // namespace talvor
