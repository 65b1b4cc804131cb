// SPDX-License-Identifier: GPL-3.0-or-later
// The archive's pages as text: the index of months, a month with its propagation calendar, a
// day with its chart, and the small scripts of data that the pages load. Plain logic: what the
// station says is escaped here (site_text), never anywhere else.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "site/day_digest.h"

// What every page of a site shows alike.
struct SiteLook {
    std::string location;  // the headline's place name
    int frameWidth = 0;    // the chart's size in pixels
    int frameHeight = 0;
};

// "yyyy-mm-dd" and "yyyy-mm": the folders of a day's and a month's pages.
std::string DayFolderName(std::chrono::sys_days day);
std::string MonthFolderName(std::chrono::year_month month);

// The files of a day's folder and their names in the downloads.
constexpr const char* kDayFiles[] = {"index.html", "chart.png",   "chart.gif",  "thumb.png",
                                     "strip.png",  "data.js",     "levels.bin", "levels.js",
                                     "day.txt",    "summary.txt", "VOK.LOG.gz"};

struct DayDownload {
    std::string file;   // in the day's folder
    std::string label;  // what it is
    uint64_t bytes = 0;
};

std::string DayPageHtml(std::chrono::sys_days day, const DayDigest& digest, const SiteLook& look,
                        const std::vector<DayDownload>& downloads);

// The day's activity as an SVG plot: a bar per quarter hour, UTC across, J up.
std::string ActivitySvg(const DayDigest& digest);

// The month's page: its calendar and its propagation calendar. days holds the month's days that
// have a log, by day of the month.
std::string MonthPageHtml(std::chrono::year_month month, const std::map<int, DayDigest>& days,
                          const SiteLook& look);

// The index: every month with a logged day, newest first, each a calendar of thumbnails.
std::string IndexHtml(const std::vector<std::chrono::sys_days>& days, const SiteLook& look);

// The days with a page, oldest first, for the day pages' links to their neighbours.
std::string DaysScript(const std::vector<std::chrono::sys_days>& days);

// What the day page reads from the log: placement of the level field on the chart, each
// record's clock, every level, and the colours of the chart's levels.
struct DayDataInput {
    std::chrono::sys_days day;
    int frameWidth = 0;
    int frameHeight = 0;
    int xOrigin = 0;    // the chart's x of 500 kHz (f kHz lies at f + xOrigin - 500)
    int drawnRows = 0;  // records the chart shows, from its row kLevelFieldTop down
    double sensitivity = 1.0;
    int colourMode = 0;
};
std::string DayDataScript(const DayDataInput& input, RecordSpan records,
                          const EncodedLevels& levels);
// The levels themselves: levels.bin holds the zlib stream, which a page served over HTTP
// fetches; a page opened from the disk may not fetch, and loads this script of it instead.
std::string LevelsScript(const EncodedLevels& levels);
