// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/channel_month.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "render/level_colour.h"
#include "site/page_parts.h"
#include "site/site_pages.h"
#include "site/site_text.h"

namespace talvor {

using namespace std::chrono;

const char kPeaksHeader[] = "talvor quarter-hour peaks 1";

namespace {

// A level as the chart draws it, before the station's sensitivity: the same rule as ScaledLevel
// at 1.0, without its float.
uint8_t DrawnLevel(int32_t level) {
    if (level > kLevelNoiseAbove || level < 0) return 0;
    return uint8_t(std::min(level, kLevelTop));
}

bool IsBase64(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return false;
    // Looked up in a table: a month's page checks some 1.4 MB of them on every update.
    static const std::array<bool, 256> kDigit = [] {
        std::array<bool, 256> digit{};
        for (const char c :
             std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")) {
            digit[static_cast<unsigned char>(c)] = true;
        }
        return digit;
    }();
    bool all = true;
    for (size_t i = 0; i + 2 < text.size(); ++i) all &= kDigit[static_cast<unsigned char>(text[i])];
    for (size_t i = text.size() - 2; i < text.size(); ++i) {
        all &= kDigit[static_cast<unsigned char>(text[i])] || text[i] == '=';
    }
    return all;
}

}  // namespace

int PeakRangeLastKhz(int range) {
    return std::min(PeakRangeFirstKhz(range) + kPeakRangeKhz - 1, kBandLastKhz);
}

QuarterPeaks QuarterPeaksOf(RecordSpan records) {
    // Gathered a quarter hour a row, each record's levels in the order they stand, and turned to
    // a kHz a row at the end: a stride of 96 bytes a level took longer than all the rest.
    std::vector<uint8_t> byQuarter(size_t(kQuarterHours) * kBandKhzCount, 0);
    QuarterPeaks peaks;
    for (int k = 0; k < records.count; ++k) {
        const DayLogRecord* record = records.At(k);
        int quarter = MinuteOfDay(record, k) / 15;
        peaks.present[quarter] = true;
        uint8_t* row = byQuarter.data() + size_t(quarter) * kBandKhzCount;
        // Read in place, as the carriers' grid is: a call a level would cost more than the rest.
        const unsigned char* p = record + kLevelsOffset + 4 * (kBandFirstKhz - kFirstLevelKhz);
        for (int i = 0; i < kBandKhzCount; ++i, p += 4) {
            uint8_t level = DrawnLevel(int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 |
                                               uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24));
            row[i] = std::max(row[i], level);
        }
    }
    peaks.levels.resize(byQuarter.size());
    for (int q = 0; q < kQuarterHours; ++q) {
        const uint8_t* row = byQuarter.data() + size_t(q) * kBandKhzCount;
        for (int i = 0; i < kBandKhzCount; ++i) {
            peaks.levels[size_t(i) * kQuarterHours + size_t(q)] = row[i];
        }
    }
    return peaks;
}

Outcome PeaksText(const QuarterPeaks& peaks, std::string* text) {
    std::string out = std::string(kPeaksHeader) + "\npresent ";
    for (bool p : peaks.present) out += p ? '1' : '0';
    out += '\n';
    std::vector<unsigned char> packed;
    for (int r = 0; r < kPeakRanges; ++r) {
        int first = PeakRangeFirstKhz(r), last = PeakRangeLastKhz(r);
        const uint8_t* levels = peaks.levels.data() + size_t(first - kBandFirstKhz) * kQuarterHours;
        if (Outcome packedWell =
                HuffmanDeflate(levels, size_t(last - first + 1) * kQuarterHours, &packed);
            !packedWell) {
            return packedWell;
        }
        out += std::to_string(first) + " " + Base64(packed.data(), packed.size()) + "\n";
    }
    *text = std::move(out);
    return Succeeded();
}

bool ParsePeaksText(const std::string& text, DayPeaks* peaks) {
    // Split by hand: a month's page reads a file of some 45 KB for each of its days, and a
    // string stream took most of that time over copying it.
    const size_t headerEnd = std::min(text.find('\n'), text.size());
    if (headerEnd == 0 || text.compare(0, headerEnd, kPeaksHeader) != 0 ||
        headerEnd != std::strlen(kPeaksHeader)) {
        return false;
    }
    size_t at = headerEnd;
    auto next = [&](std::string* token) {
        // The white space of the C locale, which a string stream splits at.
        auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
        while (at < text.size() && space(text[at])) ++at;
        const size_t from = at;
        while (at < text.size() && !space(text[at])) ++at;
        token->assign(text, from, at - from);
        return at > from;
    };
    DayPeaks read;
    std::string key;
    if (!next(&key) || key != "present" || !next(&read.present) ||
        read.present.size() != size_t(kQuarterHours) ||
        read.present.find_first_not_of("01") != std::string::npos) {
        return false;
    }
    for (int r = 0; r < kPeakRanges; ++r) {
        std::string stream;
        if (!next(&key) || key != std::to_string(PeakRangeFirstKhz(r)) || !next(&stream) ||
            !IsBase64(stream)) {
            return false;
        }
        read.ranges.push_back(std::move(stream));
    }
    if (next(&key)) return false;
    *peaks = std::move(read);
    return true;
}

std::string PeaksScriptName(int range) {
    char name[32];
    std::snprintf(name, sizeof name, "peaks-%04d.js", PeakRangeFirstKhz(range));
    return name;
}

std::string MonthDataScript(year_month month, const std::vector<const DayPeaks*>& days,
                            double sensitivity, int colourMode) {
    char number[64];
    std::snprintf(number, sizeof number, "%.17g", sensitivity);
    std::string out =
        "// Written by talvor-render: the month's days for its channel view, the scripts of its\n"
        "// levels by range of kHz, and the chart's colour rule.\n"
        "(window.Talvor = window.Talvor || {}).month = {\n";
    out += "\"month\":\"" + MonthFolderName(month) + "\",\"days\":" + std::to_string(days.size()) +
           ",\"quarters\":" + std::to_string(kQuarterHours) +
           ",\"firstKhz\":" + std::to_string(kBandFirstKhz) +
           ",\"lastKhz\":" + std::to_string(kBandLastKhz) + ",\n\"ranges\":[";
    for (int r = 0; r < kPeakRanges; ++r) {
        out += std::string(r > 0 ? "," : "") + "[" + std::to_string(PeakRangeFirstKhz(r)) + "," +
               std::to_string(PeakRangeLastKhz(r)) + ",\"" + PeaksScriptName(r) + "\"]";
    }
    out += "],\n\"sensitivity\":" + std::string(number) +
           ",\"levelRule\":{\"noiseAbove\":" + std::to_string(kLevelNoiseAbove) +
           ",\"top\":" + std::to_string(kLevelTop) + "},\n";
    out += "\"palette\":\"" + ChartPaletteBase64(colourMode) + "\",\n";
    out += "\"noRecord\":\"" + ColourText(kNoRecordColour) + "\",\"noLog\":\"" +
           ColourText(kNoLogColour) + "\",\n\"present\":[\n";
    for (size_t d = 0; d < days.size(); ++d) {
        out += days[d] != nullptr ? "\"" + days[d]->present + "\"" : std::string("null");
        out += d + 1 < days.size() ? ",\n" : "\n";
    }
    return out + "]\n};\n";
}

std::string MonthPeaksScript(int range, const std::vector<const DayPeaks*>& days) {
    std::string first = std::to_string(PeakRangeFirstKhz(range));
    std::string out =
        "// Written by talvor-render: the highest level of each quarter hour (UTC) of " + first +
        ".." + std::to_string(PeakRangeLastKhz(range)) +
        " kHz, a zlib stream in\n"
        "// base64 a day (null: no day log), 96 levels a kHz.\n"
        "((window.Talvor = window.Talvor || {}).peaks = window.Talvor.peaks || {})[" +
        first + "] = [\n";
    for (size_t d = 0; d < days.size(); ++d) {
        out += days[d] != nullptr ? "\"" + days[d]->ranges[size_t(range)] + "\"" : "null";
        out += d + 1 < days.size() ? ",\n" : "\n";
    }
    return out + "];\n";
}

}  // namespace talvor
