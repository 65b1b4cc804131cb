// SPDX-License-Identifier: GPL-3.0-or-later
#include <stdlib.h>
#include <time.h>

#include <string>

#include "platform/clock.h"
#include "platform/files.h"

namespace talvor {

namespace {

bool ZoneFileExists(const std::string& zone) {
    // A name of the zone database, not a path out of it.
    if (zone.empty() || zone[0] == '/' || zone.find("..") != std::string::npos) return false;
    const char* dir = getenv("TZDIR");
    std::string base = dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo";
    int fd = -1;
    if (!OpenForReading((base + "/" + zone).c_str(), &fd)) return false;
    CloseFile(fd);
    return true;
}

// mktime for one reading of the daylight-saving flag; false unless the result reads back as
// the same wall-clock time with that flag.
bool TryLocal(const struct tm& wanted, int isDst, int64_t* utc) {
    struct tm t = wanted;
    t.tm_isdst = isDst;
    time_t result = mktime(&t);
    if (result == time_t(-1) && !(t.tm_year == 69 && t.tm_mon == 11 && t.tm_mday == 31)) {
        return false;
    }
    struct tm back {};
    if (localtime_r(&result, &back) == nullptr) return false;
    if (back.tm_year != wanted.tm_year || back.tm_mon != wanted.tm_mon ||
        back.tm_mday != wanted.tm_mday || back.tm_hour != wanted.tm_hour ||
        back.tm_min != wanted.tm_min || back.tm_sec != wanted.tm_sec) {
        return false;
    }
    *utc = int64_t(result);
    return true;
}

}  // namespace

bool UseTimeZone(const std::string& zone) {
    if (!zone.empty()) {
        if (!ZoneFileExists(zone)) return false;
        setenv("TZ", zone.c_str(), 1);
    }
    tzset();
    return true;
}

int LocalTimeToUtc(int year, int month, int day, int hour, int minute, int second, int64_t utc[2]) {
    struct tm wanted {};
    wanted.tm_year = year - 1900;
    wanted.tm_mon = month - 1;
    wanted.tm_mday = day;
    wanted.tm_hour = hour;
    wanted.tm_min = minute;
    wanted.tm_sec = second;
    int count = 0;
    int64_t standard = 0, summer = 0;
    bool haveSummer = TryLocal(wanted, 1, &summer);
    bool haveStandard = TryLocal(wanted, 0, &standard);
    // Summer time comes first in the hour that repeats: it is the first pass.
    if (haveSummer) utc[count++] = summer;
    if (haveStandard && !(haveSummer && standard == summer)) utc[count++] = standard;
    if (count == 2 && utc[0] > utc[1]) {
        int64_t t = utc[0];
        utc[0] = utc[1];
        utc[1] = t;
    }
    return count;
}

}  // namespace talvor
