// SPDX-License-Identifier: GPL-3.0-or-later
// For the tests of talvor-log's parts and of its program: scans of the medium-wave band written
// as the receivers' scan tools write them, and the day logs made of them.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "daylog/day_log.h"

namespace {

// A made-up band as a receiver measures it: a noise floor of floorDb in every kHz, with a slight
// ripple, and carriers, each a single frequency whose power stands the given dB above the floor
// of a kHz. A bin's value is the power that falls into it, so a carrier lands whole in one bin
// whatever the bins' width.
struct Band {
    double floorDb = -60;
    std::vector<std::pair<double, double>> carriers;  // kHz, dB above a kHz of floor
    double BinDb(double fromKhz, double toKhz) const {
        double ripple = 0.5 * std::sin((fromKhz + toKhz) * 0.185);
        double power = std::pow(10.0, (floorDb + ripple) / 10) * (toKhz - fromKhz);
        for (const auto& [khz, above] : carriers) {
            if (khz >= fromKhz && khz < toKhz) power += std::pow(10.0, (floorDb + above) / 10);
        }
        return 10 * std::log10(power);
    }
};

// One line: values for lowHz..highHz in bins of stepHz (printed to two decimals, like the
// tools), with rtl_power's one value too many when extra is set.
inline std::string ScanLineText(const std::string& date, const std::string& time, double lowHz,
                                double highHz, double stepHz, const Band& band, bool extra = true,
                                double offsetHz = 0) {
    char head[160];
    std::snprintf(head, sizeof head, "%s, %s, %.0f, %.0f, %.2f, 245", date.c_str(), time.c_str(),
                  lowHz, highHz, stepHz);
    std::string line = head;
    int count = int(std::lround((highHz - lowHz) / stepHz)) + (extra ? 1 : 0);
    for (int i = 0; i < count; ++i) {
        double from = (lowHz - offsetHz + i * stepHz) / 1000, to = from + stepHz / 1000;
        char value[32];
        std::snprintf(value, sizeof value, ", %.2f", band.BinDb(from, to));
        line += value;
    }
    return line;
}

// One scan of the medium-wave band as rtl_power hops over it: 976.56 Hz bins from 400 kHz, in
// hops of 700 kHz, so that no bin edge falls on a whole kHz.
inline std::vector<std::string> RtlPowerScan(const std::string& date, const std::string& time,
                                             const Band& band, double offsetHz = 0) {
    std::vector<std::string> lines;
    for (double low = 400000; low < 1800000; low += 700000) {
        lines.push_back(ScanLineText(date, time, low + offsetHz, low + 700000 + offsetHz,
                                     700000.0 / 717, band, true, offsetHz));
    }
    return lines;
}

inline std::chrono::sys_days Day(int y, int m, int d) {
    using namespace std::chrono;
    return sys_days{year{y} / month{unsigned(m)} / std::chrono::day{unsigned(d)}};
}

// A day log's bytes, read record by record.
struct LoggedDay {
    std::string bytes;
    int records() const { return int(bytes.size() / talvor::kDayLogRecordSize); }
    const talvor::DayLogRecord* at(int k) const {
        return reinterpret_cast<const talvor::DayLogRecord*>(bytes.data()) +
               size_t(k) * talvor::kDayLogRecordSize;
    }
    std::string time(int k) const {
        return std::string(talvor::TimeText(at(k)), talvor::kTimeTextLength);
    }
    bool empty(int k) const {
        for (int f = talvor::kFirstLevelKhz; f <= talvor::kLastLevelKhz; ++f) {
            if (talvor::LevelAt(at(k), f) != 0) return false;
        }
        return true;
    }
};

}  // namespace
