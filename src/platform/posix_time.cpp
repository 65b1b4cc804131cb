// SPDX-License-Identifier: GPL-3.0-or-later
#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace talvor {

UtcTime GetUtcTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    UtcTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.dayOfWeek = parts.tm_wday;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    t.millisecond = int(now.tv_nsec / 1000000);
    return t;
}

int64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SleepMs(int ms) {
    if (ms <= 0) return;
    timespec left{ms / 1000, long(ms % 1000) * 1000000L};
    // A signal must not cut the pause short: the pause is the render thread's time budget.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace talvor
