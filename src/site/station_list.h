// SPDX-License-Identifier: GPL-3.0-or-later
// The station's own list of broadcasters, STATIONS.CSV beside its configuration, for the
// archive's readout. One station a line:
//
//   kHz,name,place[,hh:mm-hh:mm]
//   1215,Absolute Radio,London
//   1000,Example Radio,Somewhere,18:00-02:30 UTC
//
// The hours are UTC and may run past midnight; without them the station counts as always on air.
// A field may be quoted as RFC 4180 does, so that a name may hold a comma or a quote (a line is
// still one station: a quoted field ends on its line):
//
//   1080,"Radio ""Nord"", Ouest",Brest
//
// Blank lines and lines starting with # are not stations; any other line that does not read so is
// skipped and counted.
#pragma once

#include <string>
#include <vector>

namespace talvor {

struct ListedStation {
    int khz = 0;
    std::string name;
    std::string place;
    int onMinute = -1;   // minute of the UTC day it comes on air; -1: always on air
    int offMinute = -1;  // minute it goes off (exclusive); may be before onMinute
};

struct StationList {
    std::vector<ListedStation> stations;
    std::vector<int> badLines;  // 1-based numbers of the lines skipped
};

StationList ParseStationList(const std::string& text);

// The most of STATIONS.CSV that is read: far more than every medium-wave station of the world.
constexpr size_t kStationListMaxBytes = size_t{16} << 20;

// The message for the lines of the list at path that were skipped; empty when none was.
std::string SkippedLinesMessage(const std::string& path, const StationList& list);

// Whether the station is on air in a minute of the UTC day (0..1439).
bool OnAirAt(const ListedStation& station, int minute);

// The stations of the list on khz that are on air in a minute from firstMinute to lastMinute (of
// one UTC day, both included), in the list's order.
std::vector<const ListedStation*> StationsOnAir(const StationList& list, int khz, int firstMinute,
                                                int lastMinute);

// The stations as a carrier's list names them: "Name (Place); Name2 (Place2)", a station without
// a place by its name alone.
std::string StationsText(const std::vector<const ListedStation*>& stations);

// The list as the script the pages load ("stations.js"): Talvor.stations = [{"khz": kHz,
// "name": name, "place": place, "on": on, "off": off}, ...], every text a string literal, headed
// by a comment with the checksum of the text it was read from (empty: no list).
std::string StationListScript(const StationList& list, const std::string& sourceText);

}  // namespace talvor
