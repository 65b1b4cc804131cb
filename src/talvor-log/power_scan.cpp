// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-log/power_scan.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

namespace talvor {

namespace {

// More values than any tool writes on one line; a line claiming more is read up to this.
constexpr double kMaxBinsPerLine = 1 << 22;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

// The next comma-separated field, trimmed; the cursor moves past its comma.
std::string_view NextField(std::string_view* rest) {
    size_t comma = rest->find(',');
    std::string_view field = rest->substr(0, comma);
    rest->remove_prefix(comma == std::string_view::npos ? rest->size() : comma + 1);
    return Trim(field);
}

bool WholeDouble(std::string_view s, double* value) {
    if (s.empty()) return false;
    if (s.front() == '+') {  // from_chars takes no plus sign
        s.remove_prefix(1);
        if (s.empty() || s.front() == '-') return false;
    }
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *value);
    return ec == std::errc() && end == s.data() + s.size();
}

bool Digits(std::string_view s, size_t at, size_t count, int* value) {
    if (at + count > s.size()) return false;
    int v = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    *value = v;
    return true;
}

bool ParseDateField(std::string_view s, ScanLine* line) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    if (!Digits(s, 0, 4, &line->year) || !Digits(s, 5, 2, &line->month) ||
        !Digits(s, 8, 2, &line->day)) {
        return false;
    }
    // The folders of the day logs are named by four-digit years of this calendar era.
    if (line->year < 1900) return false;
    using namespace std::chrono;
    return year_month_day{year{line->year}, month{unsigned(line->month)}, day{unsigned(line->day)}}
        .ok();
}

// hh:mm:ss with an optional fraction of the second.
bool ParseTimeField(std::string_view s, ScanLine* line) {
    if (s.size() < 8 || s[2] != ':' || s[5] != ':') return false;
    if (!Digits(s, 0, 2, &line->hour) || !Digits(s, 3, 2, &line->minute) ||
        !Digits(s, 6, 2, &line->second)) {
        return false;
    }
    if (s.size() > 8) {
        if (s[8] != '.' || s.size() == 9) return false;
        int unused;
        for (size_t i = 9; i < s.size(); ++i) {
            if (!Digits(s, i, 1, &unused)) return false;
        }
    }
    return line->hour < 24 && line->minute < 60 && line->second < 61;
}

}  // namespace

bool ParseScanTime(std::string_view text, ScanLine* line) {
    std::string_view rest = Trim(text);
    std::string_view date = NextField(&rest);
    size_t comma = rest.find(',');
    return comma != std::string_view::npos && ParseDateField(date, line) &&
           ParseTimeField(Trim(rest.substr(0, comma)), line);
}

Outcome ParseScanLine(std::string_view text, ScanLine* line) {
    line->db.clear();
    std::string_view rest = Trim(text);
    if (rest.empty() || rest.front() == '#') return Failed(SkipReason::BlankOrComment);

    std::string_view fields[6];
    for (int i = 0; i < 6; ++i) {
        if (rest.empty()) return Failed(SkipReason::TooFewFields);
        fields[i] = NextField(&rest);
    }
    if (Trim(rest).empty()) return Failed(SkipReason::TooFewFields);
    if (!ParseDateField(fields[0], line) || !ParseTimeField(fields[1], line)) {
        return Failed(SkipReason::BadDateTime);
    }
    double samples;
    if (!WholeDouble(fields[2], &line->hzLow) || !WholeDouble(fields[3], &line->hzHigh) ||
        !WholeDouble(fields[4], &line->hzStep) || !WholeDouble(fields[5], &samples)) {
        return Failed(SkipReason::BadNumber);
    }
    if (!std::isfinite(line->hzLow) || !std::isfinite(line->hzHigh) ||
        !std::isfinite(line->hzStep) || !(line->hzHigh > line->hzLow) || !(line->hzStep > 0)) {
        return Failed(SkipReason::BadRange);
    }
    // The step is printed rounded to two decimals, so the count comes from the span; one value
    // more than that (rtl_power writes it) is not part of the span.
    double bins = std::nearbyint((line->hzHigh - line->hzLow) / line->hzStep);
    if (bins < 1) return Failed(SkipReason::BadRange);
    size_t wanted = size_t(bins < kMaxBinsPerLine ? bins : kMaxBinsPerLine);

    // The values, in one pass over the text: a day of scans holds close to two million.
    const char* p = rest.data();
    const char* const end = p + rest.size();
    while (p < end) {
        while (p < end && IsSpace(*p)) ++p;
        if (p >= end) break;  // a comma at the end of the line
        const char* comma = static_cast<const char*>(std::memchr(p, ',', size_t(end - p)));
        if (comma == nullptr) comma = end;
        const char* last = comma;
        while (last > p && IsSpace(last[-1])) --last;
        double value;
        if (!WholeDouble(std::string_view(p, size_t(last - p)), &value)) {
            line->db.clear();
            return Failed(SkipReason::BadNumber);
        }
        if (line->db.size() < wanted) {
            line->db.push_back(std::isfinite(value) ? float(value)
                                                    : std::numeric_limits<float>::quiet_NaN());
        }
        p = comma == end ? end : comma + 1;
    }
    if (line->db.empty()) return Failed(SkipReason::TooFewFields);
    // A line that stops before its range ends was cut off while it was written.
    if (line->db.size() < wanted) {
        line->db.clear();
        return Failed(SkipReason::Torn);
    }
    return Succeeded();
}

}  // namespace talvor
