// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a synthetic but band-like day log for one UTC date, for demos, tests and benchmarks.
//
//   talvor-gen-daylog DATAFOLDER [yyyy-mm-dd] [--minutes N]
//   talvor-gen-daylog --csv [yyyy-mm-dd] [--minutes N]
//
// The log goes to DATAFOLDER/yyyy-mm-dd/VOK.LOG (today's UTC date by default), N records
// (default 1440, one per minute from 00:00). The band is a noise floor, local stations strong all
// day, and distant stations that come up after sunset and fade out after sunrise, as a listener in
// western Europe hears it. Hourly rows are marked, sunrise and sunset carry the half-sun markers
// and sunset in New York its label, as talvor-log writes them. With --csv the same day
// goes to standard output as power-scan lines (UTC times, 1 kHz bins, a level of 255 being 50 dB
// above a level of 0), as a receiver tool would have written them for talvor-log.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "calendar/calendar.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "report/report.h"

namespace talvor {

namespace {

// Small deterministic generator, so that one date always gives the same log.
struct Random {
    uint64_t state;
    uint32_t Next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return uint32_t(state >> 33);
    }
    double Unit() { return Next() / 2147483648.0; }  // 0 <= x < 1
};

struct Station {
    int khz;
    double strength;  // 0..1 at its best
    bool local;       // heard all day
    double phase;     // of its slow fading
};

// Minutes after 00:00 UTC of sunrise and sunset at a latitude and longitude (degrees, east +).
void SunTimes(int dayOfYear, double latitude, double longitude, int* rise, int* set) {
    const double pi = 3.14159265358979;
    double declination = -23.44 * std::cos(2 * pi / 365 * (dayOfYear + 10)) * pi / 180;
    double lat = latitude * pi / 180;
    double cosH = -std::tan(lat) * std::tan(declination);
    if (cosH > 1) cosH = 1;
    if (cosH < -1) cosH = -1;
    double halfDayMinutes = std::acos(cosH) * 180 / pi * 4;
    double noon = 720 - 4 * longitude;
    *rise = int(noon - halfDayMinutes + kMinutesPerDay) % kMinutesPerDay;
    *set = int(noon + halfDayMinutes + kMinutesPerDay) % kMinutesPerDay;
}

// 0 in daylight, 1 in full darkness, with an hour of twilight on each side.
double Darkness(int minute, int rise, int set) {
    auto distance = [](int a, int b) {
        int d = std::abs(a - b) % kMinutesPerDay;
        return std::min(d, kMinutesPerDay - d);
    };
    bool day = rise < set ? (minute >= rise && minute < set) : (minute >= rise || minute < set);
    double edge = std::min(distance(minute, rise), distance(minute, set)) / 60.0;
    if (edge > 1) edge = 1;
    return day ? 0.5 - 0.5 * edge : 0.5 + 0.5 * edge;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: talvor-gen-daylog DATAFOLDER [yyyy-mm-dd] [--minutes N]\n"
                 "       talvor-gen-daylog --csv [yyyy-mm-dd] [--minutes N]\n");
    return 2;
}

}  // namespace

int GenerateDayLog(int argc, char** argv) {
    KeepStandardDescriptorsTaken();
    SetProgramName("talvor-gen-daylog");
    if (argc < 2 || (argv[1][0] == '-' && std::strcmp(argv[1], "--csv") != 0)) return Usage();
    const bool csv = std::strcmp(argv[1], "--csv") == 0;
    std::string dataFolder = argv[1];
    UtcTime date = GetUtcTime();
    int minutes = kMaxDayLogRecords;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) {
            char* end = nullptr;
            long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 0 || n > 100000) return Usage();
            minutes = int(n);
        } else if (!ParseDate(argv[i], &date)) {
            return Usage();
        }
    }

    char folder[64];
    std::snprintf(folder, sizeof folder, "/%4d-%02d-%02d", date.year, date.month, date.day);
    std::string dayFolder = dataFolder + folder;
    std::error_code ec;
    if (!csv) std::filesystem::create_directories(dayFolder, ec);
    if (ec) {
        std::string text = "cannot create ";
        text += dayFolder;
        text += ": ";
        text += ec.message();
        Report(text);
        return 1;
    }

    Random random{uint64_t(date.year) * 10000 + date.month * 100 + date.day};
    UtcTime newYear{};
    newYear.year = date.year;
    newYear.month = 1;
    newYear.day = 1;
    int doy = DaysFromTo(newYear, date);
    int rise, set, newYorkRise, newYorkSet;
    SunTimes(doy, 51.5, -0.1, &rise, &set);
    SunTimes(doy, 40.7, -74.0, &newYorkRise, &newYorkSet);

    // Stations on the 10 kHz channels of the plan (the multiples of 90 kHz but 1620 are not on
    // it); about one in five is a local, the rest come in with the dark.
    std::vector<Station> stations;
    for (int khz = 530; khz <= 1700; khz += 10) {
        if (khz % 90 == 0 && khz != 1620) continue;
        if (random.Unit() < 0.55) {
            bool local = random.Unit() < 0.2;
            stations.push_back({khz, local ? 0.7 + 0.3 * random.Unit() : 0.3 + 0.7 * random.Unit(),
                                local, random.Unit() * 6.28});
        }
    }

    std::vector<unsigned char> record(kDayLogRecordSize);
    std::string path = csv ? "standard output" : dayFolder + "/VOK.LOG";
    std::FILE* out = csv ? stdout : std::fopen(path.c_str(), "wb");
    if (!out) {
        ReportCannotWrite(path, std::strerror(errno));
        return 1;
    }
    for (int m = 0; m < minutes; ++m) {
        int minuteOfDay = m % kMinutesPerDay;
        std::fill(record.begin(), record.end(), 0);
        WriteInt32(record.data(), 0, m);  // the logger's own sequence number
        SetRowMark(record.data(), minuteOfDay % 60 == 0 ? 'X' : ' ');
        SetMinute(record.data(), minuteOfDay % 60);
        Marker kind = Marker::None;
        if (minuteOfDay == rise) kind = Marker::UpperHalfSun;
        if (minuteOfDay == set) kind = Marker::LowerHalfSun;
        if (minuteOfDay == newYorkSet) kind = Marker::NewYork;
        SetMarkerKind(record.data(), kind);
        char timeText[32];
        std::snprintf(timeText, sizeof timeText, "%04d-%02d-%02d %02d:%02d", date.year, date.month,
                      date.day, minuteOfDay / 60, minuteOfDay % 60);
        SetTimeText(record.data(), timeText);

        for (int khz = kBandFirstKhz; khz <= kBandLastKhz; ++khz) {
            SetLevel(record.data(), khz, int32_t(8 + random.Next() % 18));  // noise floor
        }
        double dark = Darkness(minuteOfDay, rise, set);
        for (const Station& s : stations) {
            double fading = 0.75 + 0.25 * std::sin(s.phase + minuteOfDay / (7.0 + s.khz % 13));
            double reach = s.local ? 1.0 : dark * dark;
            double level = 255 * s.strength * reach * fading + random.Next() % 12;
            if (level > 30) SetLevel(record.data(), s.khz, int32_t(std::min(level, 255.0)));
        }
        if (csv) {
            std::fprintf(out, "%.10s, %s:00, 519500, 1700500, 1000.00, 1", timeText, timeText + 11);
            for (int khz = kBandFirstKhz; khz <= kBandLastKhz; ++khz) {
                std::fprintf(out, ", %.2f", -80 + LevelAt(record.data(), khz) * 50.0 / 255);
            }
            std::fputc('\n', out);
        } else if (std::fwrite(record.data(), 1, record.size(), out) != record.size()) {
            int error = errno;
            std::fclose(out);
            ReportCannotWrite(path, std::strerror(error));
            return 1;
        }
    }
    errno = 0;
    if ((csv ? std::fflush(out) : std::fclose(out)) != 0 || (csv && std::ferror(out))) {
        ReportCannotWrite(path, std::strerror(errno != 0 ? errno : EIO));
        return 1;
    }
    if (!csv) std::printf("%s\n", path.c_str());
    return 0;
}

}  // namespace talvor

int main(int argc, char** argv) {
    return talvor::GenerateDayLog(argc, argv);
}
