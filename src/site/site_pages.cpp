// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/site_pages.h"

#include <cstdio>
#include <iterator>
#include <set>
#include <utility>
#include <vector>

#include "config/channel_plan.h"
#include "render/chart.h"
#include "render/level_colour.h"
#include "site/site_images.h"
#include "site/site_text.h"

using namespace std::chrono;

namespace {

const char* const kMonthNames[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

std::string Two(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02u", value);
    return text;
}

std::string MonthTitle(year_month month) {
    return std::string(kMonthNames[unsigned(month.month()) - 1]) + " " +
           std::to_string(int(month.year()));
}

std::string Clock(int minute) {
    return Two(unsigned(minute / 60)) + ":" + Two(unsigned(minute % 60));
}

std::string Head(const std::string& title, const std::string& root) {
    return "<!DOCTYPE html>\n<!-- SPDX-License-Identifier: GPL-3.0-or-later -->\n"
           "<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           // No icon: a browser would otherwise ask the server for one.
           "<link rel=\"icon\" href=\"data:,\">\n"
           "<title>" +
           EscapeHtml(title) + "</title>\n<link rel=\"stylesheet\" href=\"" + root +
           "assets/site.css\">\n</head>\n";
}

std::string ColourText(Rgb c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.red, c.green, c.blue);
    return text;
}

std::string SizeText(uint64_t bytes) {
    char text[32];
    if (bytes >= 1000000) {
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.0f KB", double(bytes) / 1e3 + 0.5);
    }
    return text;
}

// A month as a calendar, Monday first; root leads from the page to the site's top.
std::string MonthCalendar(year_month month, const std::set<unsigned>& logged,
                          const std::string& root, const SiteLook& look) {
    sys_days first{month / 1};
    unsigned lead = (weekday(first).iso_encoding() + 6) % 7;  // empty cells before the 1st
    unsigned days = unsigned((month / last).day());
    int thumbWidth = look.frameWidth / kThumbnailScale;
    int thumbHeight = look.frameHeight / kThumbnailScale;
    std::string out =
        "<table class=\"calendar\">\n<thead><tr><th>Mon</th><th>Tue</th><th>Wed</th><th>Thu</th>"
        "<th>Fri</th><th>Sat</th><th>Sun</th></tr></thead>\n<tbody>\n<tr>";
    unsigned column = 0;
    for (; column < lead; ++column) out += "<td class=\"pad\"></td>";
    for (unsigned d = 1; d <= days; ++d, ++column) {
        if (column > 0 && column % 7 == 0) out += "</tr>\n<tr>";
        std::string name = DayFolderName(sys_days{month / day{d}});
        if (logged.count(d) != 0) {
            out += "<td class=\"logged\"><a href=\"" + root + name + "/index.html\" title=\"" +
                   name + "\"><span class=\"date\">" + std::to_string(d) +
                   "</span><img class=\"thumb\" src=\"" + root + name +
                   "/thumb.png\" loading=\"lazy\" alt=\"" + name + "\" width=\"" +
                   std::to_string(thumbWidth) + "\" height=\"" + std::to_string(thumbHeight) +
                   "\"><img class=\"strip\" src=\"" + root + name +
                   "/strip.png\" alt=\"\" width=\"96\" height=\"1\"></a></td>";
        } else {
            out += "<td class=\"empty\"><span class=\"date\">" + std::to_string(d) + "</span></td>";
        }
    }
    for (; column % 7 != 0; ++column) out += "<td class=\"pad\"></td>";
    return out + "</tr>\n</tbody>\n</table>\n";
}

std::string ActivityLegend() {
    std::string out = "<p class=\"legend\">Activity (J, per cent of full scale): ";
    for (int j : {1, 20, 40, 60, 80, 100}) {
        out += "<span class=\"swatch\" style=\"background:" + ColourText(ActivityColour(j)) +
               "\"></span>" + std::to_string(j) + " ";
    }
    return out + "<span class=\"swatch\" style=\"background:" + ColourText(kNoRecordColour) +
           "\"></span>no record</p>\n";
}

// The points of one sun line across the month's rows, broken where a day has no event. A day
// whose neighbours have none gets a stroke through its own row, as one point draws nothing.
std::string SunLines(const std::map<int, DayDigest>& days, int DayDigest::*event,
                     const char* cssClass) {
    std::string out;
    std::vector<std::pair<double, int>> run;  // the quarter hour of the event, and the day
    auto point = [](double x, double y) {
        char text[48];
        std::snprintf(text, sizeof text, "%.2f,%.1f", x, y);
        return std::string(text);
    };
    auto flush = [&] {
        if (run.empty()) return;
        std::string points;
        if (run.size() == 1) {
            points =
                point(run[0].first, run[0].second - 1) + " " + point(run[0].first, run[0].second);
        } else {
            for (const auto& [x, d] : run)
                points += (points.empty() ? "" : " ") + point(x, d - 0.5);
        }
        out += "<polyline class=\"" + std::string(cssClass) + "\" points=\"" + points +
               "\" vector-effect=\"non-scaling-stroke\"/>";
        run.clear();
    };
    for (const auto& [d, digest] : days) {
        int minute = digest.*event;
        if (minute < 0 || (!run.empty() && d != run.back().second + 1)) flush();
        if (minute >= 0) run.emplace_back(minute / 15.0, d);
    }
    flush();
    return out;
}

}  // namespace

std::string DayFolderName(sys_days day) {
    year_month_day date{day};
    return std::to_string(int(date.year())) + "-" + Two(unsigned(date.month())) + "-" +
           Two(unsigned(date.day()));
}

std::string MonthFolderName(year_month month) {
    return std::to_string(int(month.year())) + "-" + Two(unsigned(month.month()));
}

std::string ActivitySvg(const DayDigest& digest) {
    // 8 units a quarter hour across, 1.6 a per cent up, with room for the axes.
    constexpr int kLeft = 34, kTop = 8, kPlotWidth = 768, kPlotHeight = 160;
    std::string out =
        "<svg class=\"activity\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
        std::to_string(kLeft + kPlotWidth + 10) + " " + std::to_string(kTop + kPlotHeight + 26) +
        "\" role=\"img\" aria-label=\"Activity by quarter hour, UTC\">\n";
    out += "<rect class=\"plot\" x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(kTop) +
           "\" width=\"" + std::to_string(kPlotWidth) + "\" height=\"" +
           std::to_string(kPlotHeight) + "\"/>\n";
    for (int q = 0; q < kQuarterHours; ++q) {
        int j = digest.activity[q];
        if (j <= 0) continue;
        int height = (j > 100 ? 100 : j) * kPlotHeight / 100;
        out += "<rect x=\"" + std::to_string(kLeft + q * 8) + "\" y=\"" +
               std::to_string(kTop + kPlotHeight - height) + "\" width=\"8\" height=\"" +
               std::to_string(height) + "\" fill=\"" + ColourText(ActivityColour(j)) +
               "\"><title>" + Clock(q * 15) + " UTC J=" + std::to_string(j) + "</title></rect>\n";
    }
    for (int j = 0; j <= 100; j += 25) {
        int y = kTop + kPlotHeight - j * kPlotHeight / 100;
        out += "<text class=\"axis\" x=\"" + std::to_string(kLeft - 4) + "\" y=\"" +
               std::to_string(y + 4) + "\" text-anchor=\"end\">" + std::to_string(j) + "</text>\n";
    }
    for (int hour = 0; hour <= 24; hour += 3) {
        int x = kLeft + hour * 32;
        out += "<line class=\"tick\" x1=\"" + std::to_string(x) + "\" y1=\"" +
               std::to_string(kTop + kPlotHeight) + "\" x2=\"" + std::to_string(x) + "\" y2=\"" +
               std::to_string(kTop + kPlotHeight + 5) + "\"/><text class=\"axis\" x=\"" +
               std::to_string(x) + "\" y=\"" + std::to_string(kTop + kPlotHeight + 18) +
               "\" text-anchor=\"middle\">" + Two(unsigned(hour)) + ":00</text>\n";
    }
    auto sunLine = [&](int minute, const char* cssClass, const char* label) {
        if (minute < 0) return;
        double x = kLeft + minute * 8 / 15.0;
        char line[256];
        std::snprintf(line, sizeof line,
                      "<line class=\"%s\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\"><title>%s "
                      "%s UTC</title></line>\n",
                      cssClass, x, kTop, x, kTop + kPlotHeight, label, Clock(minute).c_str());
        out += line;
    };
    sunLine(digest.sunrise, "sunrise", "sunrise");
    sunLine(digest.sunset, "sunset", "sunset");
    return out + "</svg>\n";
}

std::string DayPageHtml(sys_days day, const DayDigest& digest, const SiteLook& look,
                        const std::vector<DayDownload>& downloads) {
    std::string name = DayFolderName(day);
    year_month month{year_month_day{day}.year(), year_month_day{day}.month()};
    std::string title = look.location.empty() ? name : look.location + " " + name;
    std::string out = Head(title + " \xE2\x80\x93 medium wave", "../");
    out +=
        "<body class=\"day-page\" data-day=\"" + name +
        "\">\n<nav class=\"bar\">"
        "<a id=\"prev\" rel=\"prev\" href=\"../index.html\">&larr; <span>earlier</span></a> "
        "<a href=\"../index.html\">All days</a> <a href=\"../" +
        MonthFolderName(month) + "/index.html\">" + MonthTitle(month) +
        "</a> "
        "<a id=\"next\" rel=\"next\" href=\"../index.html\"><span>later</span> &rarr;</a></nav>\n";
    out += "<h1>" + EscapeHtml(title) + "</h1>\n";
    std::string sun;
    if (digest.sunrise >= 0) sun += "sunrise " + Clock(digest.sunrise) + " UTC";
    if (digest.sunset >= 0)
        sun += std::string(sun.empty() ? "" : ", ") + "sunset " + Clock(digest.sunset) + " UTC";
    out += "<p class=\"facts\">" + std::to_string(digest.records) + " minutes logged" +
           (sun.empty() ? "" : "; " + sun) + ".</p>\n";
    out +=
        "<p id=\"readout\" class=\"readout\" aria-live=\"polite\">Point at the chart to read "
        "frequency, time and level; drag a rectangle to enlarge it.</p>\n"
        "<p id=\"stations\" class=\"stations\"></p>\n";
    out += "<div id=\"chart\" class=\"chart\"><img id=\"chart-image\" src=\"chart.png\" width=\"" +
           std::to_string(look.frameWidth) + "\" height=\"" + std::to_string(look.frameHeight) +
           "\" alt=\"Waterfall chart of " + name +
           "\" draggable=\"false\"><div id=\"selection\" hidden></div></div>\n";
    out +=
        "<div id=\"zoom\" class=\"zoom\" hidden><p class=\"hint\">Escape: back to the whole "
        "day</p><canvas id=\"zoom-canvas\"></canvas></div>\n";
    out += "<section><h2>Activity</h2>\n" + ActivitySvg(digest) + ActivityLegend() + "</section>\n";
    out += "<section><h2>Downloads</h2>\n<ul class=\"downloads\">\n";
    for (const DayDownload& d : downloads) {
        out += "<li><a href=\"" + d.file + "\" download>" + d.file + "</a> " + d.label + " (" +
               SizeText(d.bytes) + ")</li>\n";
    }
    out += "</ul>\n</section>\n";
    for (const char* script : {"../days.js", "../stations.js", "data.js", "../assets/format.js",
                               "../assets/levels.js", "../assets/zoom.js", "../assets/day.js"}) {
        // Deferred: the chart shows before the scripts have run (they keep their order).
        out += "<script defer src=\"" + std::string(script) + "\"></script>\n";
    }
    return out + "</body>\n</html>\n";
}

std::string MonthPageHtml(year_month month, const std::map<int, DayDigest>& days,
                          const SiteLook& look) {
    std::string title = MonthTitle(month);
    if (!look.location.empty()) title = look.location + " " + title;
    std::string out = Head(title + " \xE2\x80\x93 medium wave", "../");
    out +=
        "<body class=\"month-page\">\n<nav class=\"bar\"><a href=\"../index.html\">All "
        "days</a></nav>\n<h1>" +
        EscapeHtml(title) + "</h1>\n";
    std::set<unsigned> logged;
    for (const auto& entry : days) logged.insert(unsigned(entry.first));
    out += MonthCalendar(month, logged, "../", look);
    unsigned count = unsigned((month / last).day());
    out +=
        "<section class=\"propagation\" id=\"propagation\"><h2>Propagation</h2>\n"
        "<p>One row a day, one column a quarter hour (UTC); the lines are the station's "
        "<span class=\"key-sunrise\">sunrise</span> and <span class=\"key-sunset\">sunset"
        "</span>.</p>\n";
    out += "<div class=\"prop\" style=\"--days:" + std::to_string(count) +
           "\">\n<div class=\"prop-hours\">";
    for (int hour = 0; hour < 24; hour += 3) out += "<span>" + Two(unsigned(hour)) + ":00</span>";
    out += "</div>\n<div class=\"prop-days\">";
    for (unsigned d = 1; d <= count; ++d) {
        std::string name = DayFolderName(sys_days{month / day{d}});
        if (logged.count(d) != 0) {
            out += "<a href=\"../" + name + "/index.html\">" + std::to_string(d) + "</a>";
        } else {
            out += "<span>" + std::to_string(d) + "</span>";
        }
    }
    out +=
        "</div>\n<div class=\"prop-plot\"><img id=\"propagation-image\" src=\"activity.png\" "
        "alt=\"Activity of "
        "each quarter hour of the month\" width=\"96\" height=\"" +
        std::to_string(count) + "\"><svg viewBox=\"0 0 96 " + std::to_string(count) +
        "\" preserveAspectRatio=\"none\" aria-hidden=\"true\">";
    for (int hour = 3; hour < 24; hour += 3) {
        out += "<line class=\"grid\" x1=\"" + std::to_string(hour * 4) + "\" y1=\"0\" x2=\"" +
               std::to_string(hour * 4) + "\" y2=\"" + std::to_string(count) +
               "\" vector-effect=\"non-scaling-stroke\"/>";
    }
    out += SunLines(days, &DayDigest::sunrise, "sunrise");
    out += SunLines(days, &DayDigest::sunset, "sunset");
    out += "</svg></div>\n</div>\n" + ActivityLegend() + "</section>\n</body>\n</html>\n";
    return out;
}

std::string IndexHtml(const std::vector<sys_days>& days, const SiteLook& look) {
    std::string title = look.location.empty() ? "Medium wave" : look.location;
    std::string out = Head(title + " \xE2\x80\x93 medium wave archive", "");
    out += "<body class=\"index-page\">\n<h1>" + EscapeHtml(title) +
           ": medium wave, day by day</h1>\n<p>" + std::to_string(days.size()) +
           " days logged. A day's strip shows its activity by quarter hour (UTC).</p>\n";
    std::map<year_month, std::set<unsigned>, std::greater<>> months;
    for (sys_days d : days) {
        year_month_day date{d};
        months[date.year() / date.month()].insert(unsigned(date.day()));
    }
    for (const auto& [month, logged] : months) {
        out += "<section class=\"month\" id=\"m" + MonthFolderName(month) + "\"><h2><a href=\"" +
               MonthFolderName(month) + "/index.html\">" + MonthTitle(month) +
               "</a> <a class=\"more\" href=\"" + MonthFolderName(month) +
               "/index.html#propagation\">propagation calendar</a></h2>\n";
        out += MonthCalendar(month, logged, "", look) + "</section>\n";
    }
    return out + "</body>\n</html>\n";
}

std::string DaysScript(const std::vector<sys_days>& days) {
    std::string out =
        "// Written by talvor-render: the days that have a page, oldest first.\n"
        "(window.Talvor = window.Talvor || {}).days = [\n";
    // Appended part by part: GCC 12 warns wrongly (-Wrestrict) on "text" + std::string.
    for (sys_days d : days) {
        out += '"';
        out += DayFolderName(d) + "\",\n";
    }
    return out + "];\n";
}

std::string DayDataScript(const DayDataInput& input, RecordSpan records,
                          const EncodedLevels& levels) {
    char number[64];
    std::string out =
        "// Written by talvor-render: the day log's levels for the readout and the zoom.\n"
        "(window.Talvor = window.Talvor || {}).day = {\n";
    out += "\"date\":\"" + DayFolderName(input.day) + "\",\n";
    out += "\"width\":" + std::to_string(input.frameWidth) +
           ",\"height\":" + std::to_string(input.frameHeight) +
           ",\"xOrigin\":" + std::to_string(input.xOrigin) +
           ",\"top\":" + std::to_string(kLevelFieldTop) +
           ",\"drawnRows\":" + std::to_string(input.drawnRows) +
           ",\"records\":" + std::to_string(records.count) +
           ",\n\"firstKhz\":" + std::to_string(kBandFirstKhz) +
           ",\"lastKhz\":" + std::to_string(kBandLastKhz) + ",";
    std::snprintf(number, sizeof number, "%.17g", input.sensitivity);
    out += "\"sensitivity\":" + std::string(number) + ",\n\"plan\":[";
    // The plan's channels, without its first entry (0).
    const int planSize = int(std::size(ChannelPlan10));
    for (int j = 1; j < planSize; ++j)
        out += std::to_string(ChannelPlan10[j]) + (j + 1 < planSize ? "," : "");
    unsigned char palette[256 * 3];
    for (int v = 0; v < 256; ++v) {
        SpotColour c = LevelSpotColour(v, input.colourMode);
        palette[v * 3] = c.red;
        palette[v * 3 + 1] = c.green;
        palette[v * 3 + 2] = c.blue;
    }
    out += "],\n\"palette\":\"" + Base64(palette, sizeof palette) + "\",\n";
    out += "\"clocks\":\"" + RecordClocks(records) + "\",\n";
    out += "\"outside\":[";
    for (size_t i = 0; i < levels.outside.size(); ++i) {
        out += (i > 0 ? "," : "") + std::to_string(levels.outside[i].first) + "," +
               std::to_string(levels.outside[i].second);
    }
    return out + "]\n};\n";
}

std::string LevelsScript(const EncodedLevels& levels) {
    return "// Written by talvor-render: levels.bin for pages opened from the disk.\n"
           "(window.Talvor = window.Talvor || {}).levelData = \"" +
           Base64(levels.deflated.data(), levels.deflated.size()) + "\";\n";
}
