// SPDX-License-Identifier: GPL-3.0-or-later
// The clocks: UTC calendar time, monotonic milliseconds, and local times of a named zone.
#pragma once

#include <cstdint>
#include <string>

namespace talvor {

// A UTC calendar time, field for field what the system clock gives.
struct UtcTime {
    int year = 0;
    int month = 0;
    int dayOfWeek = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

UtcTime GetUtcTime();

// Monotonic milliseconds, for timelines and timeouts only.
int64_t MonotonicMs();
void SleepMs(int ms);

// Makes local times mean the zone's (an AREA/CITY name of the system's zone database); an empty
// name keeps the environment's TZ or the system's zone. False when the zone is not known.
bool UseTimeZone(const std::string& zone);
// The UTC seconds since 1970 that a local calendar time can stand for: none in a skipped hour,
// two in the hour that repeats (earlier first), one otherwise. Returns the count.
int LocalTimeToUtc(int year, int month, int day, int hour, int minute, int second, int64_t utc[2]);

}  // namespace talvor
