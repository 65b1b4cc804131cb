// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/day_digest.h"

#include <zlib.h>

#include <cstdio>
#include <sstream>

#include "calendar/calendar.h"
#include "output/summary.h"
#include "site/site_text.h"

namespace talvor {

namespace {

int LevelContext(const unsigned char* grid, size_t at) {
    return at < size_t{kBandKhzCount} ? 0 : grid[at - kBandKhzCount] >> kLevelContextShift;
}

}  // namespace

DayDigest DigestDay(RecordSpan records) {
    DayDigest digest;
    digest.records = records.count;
    for (int k = 0; k < records.count; ++k) {
        const DayLogRecord* record = records.At(k);
        int minute = MinuteOfDay(record, k);
        // The quarter hours are the summary's: the records whose minute field says so.
        if (IsQuarterHour(Minute(record))) {
            digest.activity[minute / 15] = ActivityFigure(record);
        }
        Marker kind = MarkerOf(record);
        if (kind == Marker::UpperHalfSun) digest.sunrise = minute;
        if (kind == Marker::LowerHalfSun) digest.sunset = minute;
    }
    return digest;
}

std::string DigestText(const DayDigest& digest) {
    std::string out = "records " + std::to_string(digest.records) + "\nsunrise " +
                      std::to_string(digest.sunrise) + "\nsunset " + std::to_string(digest.sunset) +
                      "\nactivity";
    // Appended part by part: GCC 12 warns wrongly (-Wrestrict) on "text" + std::string.
    for (int value : digest.activity) {
        out += ' ';
        out += std::to_string(value);
    }
    return out + "\n";
}

bool ParseDigestText(const std::string& text, DayDigest* digest) {
    std::istringstream in(text);
    std::string key;
    DayDigest read;
    bool records = false, rise = false, set = false, activity = false;
    while (in >> key) {
        if (key == "records") {
            records = bool(in >> read.records);
        } else if (key == "sunrise") {
            rise = bool(in >> read.sunrise);
        } else if (key == "sunset") {
            set = bool(in >> read.sunset);
        } else if (key == "activity") {
            activity = true;
            for (int& value : read.activity) activity = activity && bool(in >> value);
        } else {
            return false;
        }
    }
    if (!records || !rise || !set || !activity) return false;
    if (read.records < 0 || read.records > kMaxDayLogRecords) return false;
    if (read.sunrise < -1 || read.sunrise >= kMinutesPerDay || read.sunset < -1 ||
        read.sunset >= kMinutesPerDay) {
        return false;
    }
    *digest = read;
    return true;
}

Outcome EncodeLevels(RecordSpan records, EncodedLevels* encoded) {
    encoded->outside.clear();
    std::vector<unsigned char> grid(size_t(records.count) * kBandKhzCount);
    for (int k = 0; k < records.count; ++k) {
        unsigned char* row = grid.data() + size_t(k) * kBandKhzCount;
        // Read in place, as the carriers' grid is: a call a level took a third of the encoding.
        const unsigned char* p =
            records.At(k) + kLevelsOffset + 4 * (kBandFirstKhz - kFirstLevelKhz);
        for (int i = 0; i < kBandKhzCount; ++i, p += 4) {
            int32_t level = int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                    uint32_t(p[3]) << 24);
            if (level < 0 || level > 255) {
                encoded->outside.emplace_back(k * kBandKhzCount + i, level);
                level = level < 0 ? 0 : 255;
            }
            row[i] = static_cast<unsigned char>(level);
        }
    }
    // Each stream sized first and then filled through its own pointer: appending byte by byte
    // took as long as the rest of the split.
    std::vector<size_t> counts(kLevelStreams, 0);
    for (size_t at = 0; at < grid.size(); ++at) ++counts[LevelContext(grid.data(), at)];
    std::vector<std::vector<unsigned char>> split(kLevelStreams);
    std::vector<unsigned char*> next(kLevelStreams);
    for (int c = 0; c < kLevelStreams; ++c) {
        split[c].resize(counts[c]);
        next[c] = split[c].data();
    }
    for (size_t at = 0; at < grid.size(); ++at) *next[LevelContext(grid.data(), at)]++ = grid[at];
    encoded->streams.assign(kLevelStreams, {});
    for (int c = 0; c < kLevelStreams; ++c) {
        if (Outcome packed = HuffmanDeflate(split[c].data(), split[c].size(), &encoded->streams[c]);
            !packed)
            return packed;
    }
    return Succeeded();
}

bool DecodeLevels(const EncodedLevels& encoded, int records, std::vector<int32_t>* levels) {
    if (encoded.streams.size() != size_t{kLevelStreams}) return false;
    std::vector<std::vector<unsigned char>> split(kLevelStreams);
    for (int c = 0; c < kLevelStreams; ++c) {
        // No stream holds more than all the levels.
        split[c].resize(size_t(records) * kBandKhzCount);
        uLongf size = uLongf(split[c].size());
        const std::vector<unsigned char>& stream = encoded.streams[c];
        if (uncompress(split[c].data(), &size, stream.data(), uLong(stream.size())) != Z_OK) {
            return false;
        }
        split[c].resize(size);
    }
    std::vector<unsigned char> grid(size_t(records) * kBandKhzCount);
    std::vector<size_t> taken(kLevelStreams, 0);
    for (size_t at = 0; at < grid.size(); ++at) {
        int c = LevelContext(grid.data(), at);
        if (taken[c] == split[c].size()) return false;
        grid[at] = split[c][taken[c]++];
    }
    for (int c = 0; c < kLevelStreams; ++c) {
        if (taken[c] != split[c].size()) return false;
    }
    levels->assign(grid.begin(), grid.end());
    for (const auto& [index, value] : encoded.outside) {
        if (index < 0 || size_t(index) >= levels->size()) return false;
        (*levels)[size_t(index)] = value;
    }
    return true;
}

std::string RecordClocks(RecordSpan records) {
    std::string out;
    out.reserve(size_t(records.count) * 5);
    char clock[24];
    for (int k = 0; k < records.count; ++k) {
        int minute = MinuteOfDay(records.At(k), k);
        std::snprintf(clock, sizeof clock, "%02d:%02d", minute / 60, minute % 60);
        out += clock;
    }
    return out;
}

}  // namespace talvor
