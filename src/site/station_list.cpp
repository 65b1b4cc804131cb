// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/station_list.h"

#include <zlib.h>

#include <cstdio>

#include "calendar/calendar.h"
#include "daylog/day_log.h"
#include "site/site_text.h"

namespace talvor {

namespace {

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The line's fields as RFC 4180 quotes them: a field that starts with a double quote (after
// blanks) runs to the next lone one, "" standing for a quote, so that it may hold commas; blanks
// around it are dropped. Other fields are read as they stand, trimmed, as before quoting was
// known (a quote inside one is kept). False when a quote is not closed on its line or text
// follows a closing one.
bool SplitFields(const std::string& line, std::vector<std::string>* fields) {
    size_t at = 0;
    for (;;) {
        size_t start = line.find_first_not_of(" \t", at);
        if (start != std::string::npos && line[start] == '"') {
            std::string field;
            size_t p = start + 1;
            for (;; ++p) {
                if (p >= line.size()) return false;
                if (line[p] != '"') {
                    field += line[p];
                } else if (p + 1 < line.size() && line[p + 1] == '"') {
                    field += '"';
                    ++p;
                } else {
                    break;
                }
            }
            fields->push_back(field);
            at = line.find_first_not_of(" \t\r", p + 1);
            if (at == std::string::npos) return true;
            if (line[at] != ',') return false;
        } else {
            size_t comma = line.find(',', at);
            fields->push_back(Trimmed(line.substr(at, comma - at)));
            if (comma == std::string::npos) return true;
            at = comma;
        }
        ++at;
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
    std::vector<std::string> fields;
    if (!SplitFields(line, &fields)) return false;
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

std::string SkippedLinesMessage(const std::string& path, const StationList& list) {
    if (list.badLines.empty()) return "";
    std::string lines;
    for (size_t i = 0; i < list.badLines.size() && i < 10; ++i) {
        lines += (i > 0 ? ", " : "") + std::to_string(list.badLines[i]);
    }
    if (list.badLines.size() > 10) lines += ", ...";
    return path + ": " + std::to_string(list.badLines.size()) +
           " lines skipped, not kHz,name,place[,hh:mm-hh:mm] (lines " + lines + ")";
}

bool OnAirAt(const ListedStation& station, int minute) {
    if (station.onMinute < 0) return true;
    if (station.onMinute < station.offMinute) {
        return minute >= station.onMinute && minute < station.offMinute;
    }
    return minute >= station.onMinute || minute < station.offMinute;
}

std::vector<const ListedStation*> StationsOnAir(const StationList& list, int khz, int firstMinute,
                                                int lastMinute) {
    std::vector<const ListedStation*> found;
    for (const ListedStation& station : list.stations) {
        if (station.khz != khz) continue;
        for (int m = firstMinute; m <= lastMinute; ++m) {
            if (OnAirAt(station, m % kMinutesPerDay)) {
                found.push_back(&station);
                break;
            }
        }
    }
    return found;
}

std::string StationsText(const std::vector<const ListedStation*>& stations) {
    std::string names;
    for (const ListedStation* s : stations) {
        if (!names.empty()) names += "; ";
        names += s->name;
        if (!s->place.empty()) names += " (" + s->place + ")";
    }
    return names;
}

std::string StationListScript(const StationList& list, const std::string& sourceText) {
    char source[80];
    std::snprintf(
        source, sizeof source, "%zu bytes, CRC-32 %08lx", sourceText.size(),
        crc32(0, reinterpret_cast<const Bytef*>(sourceText.data()), uInt(sourceText.size())));
    std::string out =
        "// SPDX-License-Identifier: GPL-3.0-or-later\n"
        "// Written by talvor-render from STATIONS.CSV (" +
        std::string(source) +
        "): kHz, name, place, the minutes of\n"
        "// the UTC day it is on air from and until (-1: always).\n"
        "(window.Talvor = window.Talvor || {}).stations = [\n";
    for (const ListedStation& s : list.stations) {
        // Appended part by part: GCC 12 warns wrongly (-Wrestrict) on "text" + std::string.
        out += "{\"khz\":";
        out += std::to_string(s.khz) + ",\"name\":" + JsString(s.name) +
               ",\"place\":" + JsString(s.place) + ",\"on\":" + std::to_string(s.onMinute) +
               ",\"off\":" + std::to_string(s.offMinute) + "},\n";
    }
    return out + "];\n";
}

}  // namespace talvor
