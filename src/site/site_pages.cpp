// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/site_pages.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>
#include <utility>
#include <vector>

#include "site/page_parts.h"
#include "site/site_images.h"
#include "site/site_text.h"

namespace talvor {

using namespace std::chrono;

namespace {

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
            for (const auto& [x, d] : run) {
                // Appended part by part: GCC 12 warns wrongly (-Wrestrict) on "text" + std::string.
                if (!points.empty()) points += ' ';
                points += point(x, d - 0.5);
            }
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

// The month as a grid, one row a day and one column a quarter hour: the hours above, the days
// beside (linked where logged), and the plot (an element 96 by the days) under the sun's lines.
std::string MonthGrid(year_month month, const std::map<int, DayDigest>& days,
                      const std::set<unsigned>& logged, const std::string& plot) {
    unsigned count = unsigned((month / last).day());
    std::string out = "<div class=\"prop\" style=\"--days:" + std::to_string(count) +
                      "\">\n<div class=\"prop-hours\">";
    for (int hour = 0; hour < 24; hour += 3)
        out += "<span>" + TwoDigits(unsigned(hour)) + ":00</span>";
    out += "</div>\n<div class=\"prop-days\">";
    for (unsigned d = 1; d <= count; ++d) {
        std::string name = DayFolderName(sys_days{month / day{d}});
        if (logged.count(d) != 0) {
            out += "<a href=\"../" + name + "/index.html\">" + std::to_string(d) + "</a>";
        } else {
            out += "<span>" + std::to_string(d) + "</span>";
        }
    }
    out += "</div>\n<div class=\"prop-plot\">" + plot + "<svg viewBox=\"0 0 96 " +
           std::to_string(count) + "\" preserveAspectRatio=\"none\" aria-hidden=\"true\">";
    for (int hour = 3; hour < 24; hour += 3) {
        out += "<line class=\"grid\" x1=\"" + std::to_string(hour * 4) + "\" y1=\"0\" x2=\"" +
               std::to_string(hour * 4) + "\" y2=\"" + std::to_string(count) +
               "\" vector-effect=\"non-scaling-stroke\"/>";
    }
    out += SunLines(days, &DayDigest::sunrise, "sunrise");
    out += SunLines(days, &DayDigest::sunset, "sunset");
    return out + "</svg></div>\n</div>\n";
}

}  // namespace

std::string DayFolderName(sys_days day) {
    year_month_day date{day};
    return std::to_string(int(date.year())) + "-" + TwoDigits(unsigned(date.month())) + "-" +
           TwoDigits(unsigned(date.day()));
}

std::string MonthFolderName(year_month month) {
    return std::to_string(int(month.year())) + "-" + TwoDigits(unsigned(month.month()));
}

MonthNeighbours NeighbourMonths(year_month month, const std::vector<sys_days>& days) {
    MonthNeighbours neighbours;
    for (sys_days d : days) {
        year_month_day date{d};
        year_month other = date.year() / date.month();
        if (other < month && (!neighbours.previous || other > *neighbours.previous)) {
            neighbours.previous = other;
        }
        if (other > month && (!neighbours.next || other < *neighbours.next)) {
            neighbours.next = other;
        }
    }
    return neighbours;
}

std::string MonthPageHtml(year_month month, const std::map<int, DayDigest>& days,
                          const SiteLook& look, const MonthNeighbours& neighbours) {
    std::string title = MonthTitle(month);
    if (!look.location.empty()) title = look.location + " " + title;
    std::string out = PageHead(title + " \xE2\x80\x93 medium wave", "../");
    out += "<body class=\"month-page\">\n<nav class=\"bar\">";
    if (neighbours.previous) {
        out += "<a id=\"prev\" rel=\"prev\" href=\"../" + MonthFolderName(*neighbours.previous) +
               "/index.html\">&larr; " + MonthTitle(*neighbours.previous) + "</a> ";
    }
    out += "<a href=\"../index.html\">All days</a>";
    if (neighbours.next) {
        out += " <a id=\"next\" rel=\"next\" href=\"../" + MonthFolderName(*neighbours.next) +
               "/index.html\">" + MonthTitle(*neighbours.next) + " &rarr;</a>";
    }
    out += "</nav>\n<h1>" + EscapeHtml(title) + "</h1>\n";
    std::set<unsigned> logged;
    for (const auto& entry : days) logged.insert(unsigned(entry.first));
    out += MonthCalendar(month, logged, "../", look);
    unsigned count = unsigned((month / last).day());
    out +=
        "<section class=\"propagation\" id=\"propagation\"><h2>Propagation</h2>\n"
        "<p>One row a day, one column a quarter hour (UTC); the lines are the station's "
        "<span class=\"key-sunrise\">sunrise</span> and <span class=\"key-sunset\">sunset"
        "</span>.</p>\n";
    out += MonthGrid(month, days, logged,
                     "<img id=\"propagation-image\" src=\"activity.png\" alt=\"Activity of "
                     "each quarter hour of the month\" width=\"96\" height=\"" +
                         std::to_string(count) + "\">");
    out += ActivityLegend(true) + "</section>\n";
    // A channel's month: the page's script draws the kHz asked for into the canvas.
    out +=
        "<section class=\"channel\" id=\"channel\"><h2>A channel's month</h2>\n"
        "<p>The highest level of each quarter hour (UTC) on one kHz, a row a day, in the "
        "chart's colours, under the same sunrise and sunset.</p>\n"
        "<form id=\"channel-form\" class=\"channel-form\"><label>kHz <input id=\"channel-khz\" "
        "type=\"number\" inputmode=\"numeric\" min=\"" +
        std::to_string(kBandFirstKhz) + "\" max=\"" + std::to_string(kBandLastKhz) +
        "\" step=\"1\" required></label> <label>or station <select id=\"channel-station\">"
        "<option value=\"\">(from the station list)</option></select></label> <button "
        "type=\"submit\">Show</button></form>\n"
        "<p id=\"channel-status\" class=\"status\" aria-live=\"polite\"></p>\n"
        "<div id=\"channel-view\" hidden>\n";
    out += MonthGrid(month, days, logged,
                     "<canvas id=\"channel-canvas\" width=\"96\" height=\"" +
                         std::to_string(count) + "\"></canvas>");
    out += "<p id=\"channel-readout\" class=\"readout\" aria-live=\"polite\"></p>\n" +
           LevelLegend(look.sensitivity, look.colourMode) + "</div>\n</section>\n";
    for (const char* script : {"../stations.js", "data.js", "../assets/format.js",
                               "../assets/levels.js", "../assets/channel.js"}) {
        out += "<script defer src=\"" + std::string(script) + "\"></script>\n";
    }
    return out + "</body>\n</html>\n";
}

std::string IndexHtml(const std::vector<sys_days>& days, const SiteLook& look,
                      const std::string& heardHtml) {
    std::string title = look.location.empty() ? "Medium wave" : look.location;
    // The feed stands beside the index once a day has been logged.
    std::string feed = days.empty() ? ""
                                    : "<link rel=\"alternate\" type=\"application/atom+xml\" "
                                      "href=\"feed.xml\" title=\"" +
                                          EscapeHtml(title + ": what was heard") + "\">\n";
    std::string out = PageHead(title + " \xE2\x80\x93 medium wave archive", "", feed);
    out += "<body class=\"index-page\">\n<h1>" + EscapeHtml(title) +
           ": medium wave, day by day</h1>\n";
    if (days.empty()) {
        // A new station's site stands before its first day: the morning's update then fails
        // nothing, and a visitor learns why the archive is empty.
        return out +
               "<p class=\"latest\">No day has been logged yet. Each logged day gets its page "
               "here when the site is next updated.</p>\n</body>\n</html>\n";
    }
    std::string latest = DayFolderName(*std::max_element(days.begin(), days.end()));
    out += "<p class=\"latest\">Latest: <a href=\"" + latest + "/index.html\">" + latest +
           "</a></p>\n<p>" + std::to_string(days.size()) +
           " days logged. A day's strip shows its activity by quarter hour (UTC).</p>\n" +
           heardHtml;
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

}  // namespace talvor
