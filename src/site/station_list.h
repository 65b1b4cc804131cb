// SPDX-License-Identifier: GPL-3.0-or-later
// The station's own list of broadcasters, STATIONS.CSV beside its configuration, for the
// archive's readout. One station a line:
//
//   kHz,name,place[,hh:mm-hh:mm]
//   1215,Absolute Radio,London
//   1000,Example Radio,Somewhere,18:00-02:30 UTC
//
// The hours are UTC and may run past midnight; without them the station counts as always on air.
// Blank lines and lines starting with # are not stations; any other line that does not read so is
// skipped and counted.
#pragma once

#include <string>
#include <vector>

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

// The list as the script the pages load ("stations.js"): Talvor.stations = [{"khz": kHz,
// "name": name, "place": place, "on": on, "off": off}, ...], every text a string literal, headed
// by a comment with the checksum of the text it was read from (empty: no list).
std::string StationListScript(const StationList& list, const std::string& sourceText);
