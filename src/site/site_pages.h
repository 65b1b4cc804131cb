// SPDX-License-Identifier: GPL-3.0-or-later
// The archive's pages as text: the index of months, a month with its propagation calendar, a
// day with its chart, and the small scripts of data that the pages load. Plain logic: what the
// station says is escaped here (site_text), never anywhere else.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "site/day_digest.h"

namespace talvor {

// What every page of a site shows alike.
struct SiteLook {
    std::string location;  // the headline's place name
    int frameWidth = 0;    // the chart's size in pixels
    int frameHeight = 0;
    double sensitivity = 1.0;  // the chart's colour rule, for the levels a month's page shows
    int colourMode = 0;
};

// "yyyy-mm-dd" and "yyyy-mm": the folders of a day's and a month's pages.
std::string DayFolderName(std::chrono::sys_days day);
std::string MonthFolderName(std::chrono::year_month month);

// The files of a day's folder and their names in the downloads.
constexpr const char* kDayFiles[] = {"index.html",  "chart.gif",  "chart.js",  "thumb.png",
                                     "strip.png",   "data.js",    "levels.js", "day.txt",
                                     "summary.txt", "VOK.LOG.gz", "heard.txt", "heard.js"};
// What a day's folder held before the page drew its chart itself: the chart as a PNG and the
// levels as a file to fetch. A day written again leaves them no more.
constexpr const char* kRetiredDayFiles[] = {"chart.png", "levels.bin"};

struct DayDownload {
    std::string file;    // in the day's folder; empty: made by the page from its chart
    std::string saveAs;  // the name a browser saves it under, the day in it
    std::string label;   // what it is
    uint64_t bytes = 0;
};

// The names a day's downloads are saved under, so that several days' downloads never collide:
// the picture as talvor and talvor-render name theirs.
std::string DayGifName(std::chrono::sys_days day);      // "VOKLOG yyyy-mm-dd.GIF"
std::string DayPngName(std::chrono::sys_days day);      // "VOKLOG yyyy-mm-dd.png", made by the page
std::string DayLogGzName(std::chrono::sys_days day);    // "yyyy-mm-dd VOK.LOG.gz"
std::string DaySummaryName(std::chrono::sys_days day);  // "yyyy-mm-dd Z.TXT"

std::string DayPageHtml(std::chrono::sys_days day, const DayDigest& digest, const SiteLook& look,
                        const std::vector<DayDownload>& downloads);

// The day's activity as an SVG plot: a bar per quarter hour, UTC across, J up.
std::string ActivitySvg(const DayDigest& digest);

// The nearest months before and after a month that have a logged day, where there are any.
struct MonthNeighbours {
    std::optional<std::chrono::year_month> previous;
    std::optional<std::chrono::year_month> next;
};
MonthNeighbours NeighbourMonths(std::chrono::year_month month,
                                const std::vector<std::chrono::sys_days>& days);

// The month's page: its calendar and its propagation calendar, with links to its neighbours.
// days holds the month's days that have a log, by day of the month.
std::string MonthPageHtml(std::chrono::year_month month, const std::map<int, DayDigest>& days,
                          const SiteLook& look, const MonthNeighbours& neighbours = {});

// The index: a link to the latest day and to the feed, what was heard lately (heardHtml), then
// every month with a logged day, newest first, each a calendar of thumbnails; without any day, a
// page that says so.
std::string IndexHtml(const std::vector<std::chrono::sys_days>& days, const SiteLook& look,
                      const std::string& heardHtml = "");

// The days with a page, oldest first, for the day pages' links to their neighbours.
std::string DaysScript(const std::vector<std::chrono::sys_days>& days);

// What the day page reads from the log: placement of the level field on the chart, each
// record's clock, every level, and the colours of the chart's levels. The page's scripts take
// every number they share with the chart from here (band, origin, plan, clock, colour rule),
// never from a copy of their own.
struct DayDataInput {
    std::chrono::sys_days day;
    int frameWidth = 0;
    int frameHeight = 0;
    int xOrigin = 0;    // the chart's x of kChartOriginKhz (f kHz lies at f + xOrigin - 500)
    int drawnRows = 0;  // records the chart shows, from its row kLevelFieldTop down
    double sensitivity = 1.0;
    int colourMode = 0;
    int channelSpacing = 10;  // the station's plan: the chart's channels and the readout's
};
std::string DayDataScript(const DayDataInput& input, RecordSpan records,
                          const EncodedLevels& levels);
// The levels themselves, as a script (levels.js): a page opened from the disk may load scripts
// but not fetch files, and a page served over HTTP loads it alike.
std::string LevelsScript(const EncodedLevels& levels);

}  // namespace talvor
