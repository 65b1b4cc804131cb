// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/station_list.h"

#include "daylog/day_log.h"
#include "site/site_text.h"
#include "station/calendar.h"

namespace {

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitCommas(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t comma = line.find(',', start);
        fields.push_back(Trimmed(line.substr(start, comma - start)));
        if (comma == std::string::npos) return fields;
        start = comma + 1;
    }
}

// "hh:mm" at text[at] as a minute of the day; 24:00 is the end of the day.
bool ReadClock(const std::string& text, size_t at, int* minute) {
    int hours = 0, minutes = 0;
    if (text.size() < at + 5 || text[at + 2] != ':' || !ReadDigits(text, at, 2, &hours) ||
        !ReadDigits(text, at + 3, 2, &minutes) || minutes > 59 || hours > 24 ||
        (hours == 24 && minutes != 0)) {
        return false;
    }
    *minute = hours * 60 + minutes;
    return true;
}

// "hh:mm-hh:mm", optionally followed by " UTC".
bool ReadHours(std::string text, int* on, int* off) {
    if (text.size() > 3 && text.compare(text.size() - 3, 3, "UTC") == 0) {
        text = Trimmed(text.substr(0, text.size() - 3));
    }
    return text.size() == 11 && text[5] == '-' && ReadClock(text, 0, on) &&
           ReadClock(text, 6, off) && *on != *off;
}

bool ReadKhz(const std::string& text, int* khz) {
    if (text.empty() || text.size() > 4) return false;
    int value = 0;
    if (!ReadDigits(text, 0, text.size(), &value)) return false;
    if (value < kBandFirstKhz || value > kBandLastKhz) return false;
    *khz = value;
    return true;
}

bool ReadStation(const std::string& line, ListedStation* station) {
    std::vector<std::string> fields = SplitCommas(line);
    if (fields.size() < 3 || fields.size() > 4) return false;
    if (!ReadKhz(fields[0], &station->khz) || fields[1].empty()) return false;
    station->name = fields[1];
    station->place = fields[2];
    if (fields.size() == 4 && !ReadHours(fields[3], &station->onMinute, &station->offMinute)) {
        return false;
    }
    return true;
}

}  // namespace

StationList ParseStationList(const std::string& text) {
    StationList list;
    size_t start = 0;
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line[0] == '#') continue;
        ListedStation station;
        if (ReadStation(line, &station)) {
            list.stations.push_back(station);
        } else {
            list.badLines.push_back(number);
        }
    }
    return list;
}

std::string StationListScript(const StationList& list) {
    std::string out =
        "// SPDX-License-Identifier: GPL-3.0-or-later\n"
        "// Written by talvor-render from STATIONS.CSV: kHz, name, place, on air from, until.\n"
        "(window.Talvor = window.Talvor || {}).stations = [\n";
    for (const ListedStation& s : list.stations) {
        // Appended part by part: GCC 12 warns wrongly (-Wrestrict) on "text" + std::string.
        out += '[';
        out += std::to_string(s.khz) + "," + JsString(s.name) + "," + JsString(s.place) + "," +
               std::to_string(s.onMinute) + "," + std::to_string(s.offMinute) + "],\n";
    }
    return out + "];\n";
}
