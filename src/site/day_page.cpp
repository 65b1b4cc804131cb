// SPDX-License-Identifier: GPL-3.0-or-later
// The day's page: the chart with its readout bar, the zoom, the activity plot and the downloads,
// and the data that the page's scripts read (data.js, levels.js; chart.js is day_chart's).
#include <cstdio>
#include <iterator>
#include <vector>

#include "config/channel_plan.h"
#include "heard/carriers.h"
#include "render/chart.h"
#include "render/level_colour.h"
#include "site/page_parts.h"
#include "site/site_images.h"
#include "site/site_pages.h"
#include "site/site_text.h"

namespace talvor {

using namespace std::chrono;

namespace {

std::string SizeText(uint64_t bytes) {
    char text[32];
    if (bytes >= 1000000) {
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.0f KB", double(bytes) / 1e3 + 0.5);
    }
    return text;
}

// What the keys and gestures do, for the page's "?".
const char kHelp[] =
    "<aside id=\"help\" class=\"help\" hidden aria-labelledby=\"help-title\">\n"
    "<h2 id=\"help-title\">Keys and gestures</h2>\n<dl>\n"
    "<dt>Pointer over the chart</dt><dd>the readout below tells the kHz, the minute (UTC) and "
    "the level logged there; the crosshair marks the point</dd>\n"
    "<dt>Click, or tap</dt><dd>keeps that reading until the next one, and puts it in the "
    "page's address</dd>\n"
    "<dt>Drag a rectangle (mouse)</dt><dd>enlarges that window of kHz and time from the log's "
    "own levels</dd>\n"
    "<dt>Zoom, then drag or tap two corners</dt><dd>the same with a finger; a finger moving "
    "over the chart otherwise scrolls the page</dd>\n"
    "<dt>Escape, Close zoom, or the browser's Back</dt><dd>the whole day again</dd>\n"
    "<dt>Left, Right</dt><dd>the day before, the day after (not while zoomed)</dd>\n"
    "<dt>Shift + arrow keys</dt><dd>move the point read by one kHz or one minute</dd>\n"
    "<dt>Copy link</dt><dd>copies the address of what is shown: the point read and the "
    "zoom</dd>\n"
    "<dt>?</dt><dd>shows or hides this list</dd>\n"
    "</dl>\n<p><button id=\"help-close\" type=\"button\">Close</button></p>\n</aside>\n";

const char kReadoutBar[] =
    "<div id=\"readout-bar\" class=\"readout-bar\">\n"
    "<p id=\"readout\" class=\"readout\" aria-live=\"polite\">Point at the chart or tap it to "
    "read frequency, time and level.</p>\n"
    "<p id=\"stations\" class=\"stations\"></p>\n"
    "<p class=\"tools\"><button id=\"zoom-button\" type=\"button\">Zoom</button> "
    "<button id=\"copy-link\" type=\"button\">Copy link</button> "
    "<button id=\"help-button\" type=\"button\" aria-controls=\"help\" "
    "title=\"Keys and gestures\">?</button> <span id=\"tool-status\" "
    "class=\"status\"></span></p>\n</div>\n";

// The day's carriers: the page's script fills the table from heard.js.
std::string HeardSection() {
    CarrierRules rules;
    std::string out =
        "<section id=\"heard\" class=\"heard\"><h2>Heard</h2>\n"
        "<p id=\"heard-count\" class=\"facts\">The day's carriers are not listed.</p>\n"
        "<p class=\"hint\">A carrier: a kHz at least " +
        std::to_string(rules.margin) + " levels above the band's floor for at least " +
        std::to_string(rules.minMinutes) + " minutes (fades of up to " +
        std::to_string(rules.maxFade) +
        " minutes included); new: no carrier on its kHz in the week before. Choose one to see it "
        "in the zoom; a heading sorts by its column.</p>\n"
        "<div class=\"table-box\"><table id=\"heard-table\" class=\"heard-table\" hidden>"
        "<thead><tr>";
    // In the order of --heard's CSV; the stations last, where a phone's width leaves them room.
    const char* columns[][2] = {{"khz", "kHz"},          {"first", "From"}, {"last", "To"},
                                {"minutes", "Min."},     {"peak", "Peak"},  {"new", "New"},
                                {"stations", "Stations"}};
    for (const auto& column : columns) {
        out += "<th scope=\"col\" data-key=\"" + std::string(column[0]) +
               "\"><button type=\"button\">" + column[1] + "</button></th>";
    }
    return out + "</tr></thead><tbody></tbody></table></div>\n</section>\n";
}

}  // namespace

std::string DayGifName(sys_days day) {
    return "VOKLOG " + DayFolderName(day) + ".GIF";
}

std::string DayPngName(sys_days day) {
    return "VOKLOG " + DayFolderName(day) + ".png";
}

std::string DayLogGzName(sys_days day) {
    return DayFolderName(day) + " VOK.LOG.gz";
}

std::string DaySummaryName(sys_days day) {
    return DayFolderName(day) + " Z.TXT";
}

std::string ActivitySvg(const DayDigest& digest) {
    // 8 units a quarter hour across, 1.6 a per cent up, with room for the axes and for half of
    // the last label, "24:00".
    constexpr int kLeft = 34, kTop = 8, kPlotWidth = 768, kPlotHeight = 160, kRight = 20;
    std::string out =
        "<svg class=\"activity\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
        std::to_string(kLeft + kPlotWidth + kRight) + " " +
        std::to_string(kTop + kPlotHeight + 26) +
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
               "\"><title>" + ClockText(q * 15) + " UTC J=" + std::to_string(j) +
               "</title></rect>\n";
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
               "\" text-anchor=\"middle\">" + TwoDigits(unsigned(hour)) + ":00</text>\n";
    }
    auto sunLine = [&](int minute, const char* cssClass, const char* label) {
        if (minute < 0) return;
        double x = kLeft + minute * 8 / 15.0;
        char line[256];
        std::snprintf(line, sizeof line,
                      "<line class=\"%s\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\"><title>%s "
                      "%s UTC</title></line>\n",
                      cssClass, x, kTop, x, kTop + kPlotHeight, label, ClockText(minute).c_str());
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
    std::string out = PageHead(title + " \xE2\x80\x93 medium wave", "../");
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
    if (digest.sunrise >= 0) sun += "sunrise " + ClockText(digest.sunrise) + " UTC";
    if (digest.sunset >= 0) {
        sun += std::string(sun.empty() ? "" : ", ") + "sunset " + ClockText(digest.sunset) + " UTC";
    }
    out += "<p class=\"facts\">" + std::to_string(digest.records) + " minutes logged" +
           (sun.empty() ? "" : "; " + sun) + ".</p>\n";
    // The chart is shown at the window's width, never larger than its own pixels; the page
    // draws it from the day's levels and chart.js.
    out += "<div id=\"chart\" class=\"chart picture\"><canvas id=\"chart-image\" width=\"" +
           std::to_string(look.frameWidth) + "\" height=\"" + std::to_string(look.frameHeight) +
           "\" role=\"img\" aria-label=\"Waterfall chart of " + name +
           "\"></canvas><div id=\"selection\" hidden></div></div>\n";
    out +=
        "<div id=\"zoom\" class=\"zoom\" hidden><p class=\"zoom-head\"><button id=\"zoom-close\" "
        "type=\"button\">&times; Close zoom</button> <span class=\"hint\">or Escape, or Back: "
        "the whole day again</span></p><div id=\"zoom-plot\" class=\"picture\"><canvas "
        "id=\"zoom-canvas\"></canvas></div></div>\n";
    out += HeardSection();
    out += "<section><h2>Activity</h2>\n" + ActivitySvg(digest) + ActivityLegend(false) +
           "</section>\n";
    out += "<section><h2>Downloads</h2>\n<ul class=\"downloads\">\n";
    for (const DayDownload& d : downloads) {
        if (d.file.empty()) {
            // Offered once the page has drawn the chart it is made from.
            out += "<li id=\"chart-png-item\" hidden><a id=\"chart-png\" href=\"#\" download=\"" +
                   EscapeHtml(d.saveAs) + "\">" + EscapeHtml(d.saveAs) + "</a> " + d.label +
                   "</li>\n";
            continue;
        }
        out += "<li><a href=\"" + d.file + "\" download=\"" + EscapeHtml(d.saveAs) + "\">" +
               EscapeHtml(d.saveAs) + "</a> " + d.label + " (" + SizeText(d.bytes) + ")</li>\n";
    }
    out += "</ul>\n</section>\n";
    out += kHelp;
    out += kReadoutBar;
    for (const char* script :
         {"../days.js", "../stations.js", "data.js", "heard.js", "levels.js", "chart.js",
          "../assets/format.js", "../assets/levels.js", "../assets/zoom.js", "../assets/field.js",
          "../assets/day.js", "../assets/carriers.js"}) {
        // Deferred: the page shows before the scripts have run (they keep their order).
        out += "<script defer src=\"" + std::string(script) + "\"></script>\n";
    }
    return out + "</body>\n</html>\n";
}

std::string DayDataScript(const DayDataInput& input, RecordSpan records,
                          const EncodedLevels& levels) {
    char number[64];
    std::string out =
        "// Written by talvor-render: the day log's levels for the readout and the zoom, and the\n"
        "// chart's numbers that the page's scripts share with it.\n"
        "(window.Talvor = window.Talvor || {}).day = {\n";
    out += "\"date\":\"" + DayFolderName(input.day) + "\",\n";
    out += "\"width\":" + std::to_string(input.frameWidth) +
           ",\"height\":" + std::to_string(input.frameHeight) +
           ",\"xOrigin\":" + std::to_string(input.xOrigin) +
           ",\"originKhz\":" + std::to_string(kChartOriginKhz) +
           ",\"top\":" + std::to_string(kLevelFieldTop) +
           ",\"drawnRows\":" + std::to_string(input.drawnRows) +
           ",\"records\":" + std::to_string(records.count) +
           ",\n\"firstKhz\":" + std::to_string(kBandFirstKhz) +
           ",\"lastKhz\":" + std::to_string(kBandLastKhz) + ",";
    std::snprintf(number, sizeof number, "%.17g", input.sensitivity);
    out += "\"sensitivity\":" + std::string(number) +
           ",\"levelRule\":{\"noiseAbove\":" + std::to_string(kLevelNoiseAbove) +
           ",\"top\":" + std::to_string(kLevelTop) + "},\n";
    // The plan: every channel of its raster for the readout, and those the chart draws.
    ChannelRaster raster = ChannelRasterOf(input.channelSpacing);
    ChannelRange range = ChooseChannelRange(input.channelSpacing);
    out += "\"plan\":{\"spacing\":" + std::to_string(raster.spacing) +
           ",\"first\":" + std::to_string(raster.first) +
           ",\"last\":" + std::to_string(raster.last) + ",\"drawn\":[";
    for (int j = range.first; j <= range.last; ++j) {
        out += std::to_string(range.plan[j]) + (j < range.last ? "," : "");
    }
    unsigned char palette[256 * 3];
    for (int v = 0; v < 256; ++v) {
        SpotColour c = LevelSpotColour(v, input.colourMode);
        palette[v * 3] = c.red;
        palette[v * 3 + 1] = c.green;
        palette[v * 3 + 2] = c.blue;
    }
    out += "]},\n\"palette\":\"" + Base64(palette, sizeof palette) + "\",\n";
    out += "\"clockWidth\":" + std::to_string(kRecordClockWidth) + ",\n";
    out += "\"clocks\":\"" + RecordClocks(records) + "\",\n";
    out += "\"outside\":[";
    for (size_t i = 0; i < levels.outside.size(); ++i) {
        // Appended part by part: GCC 12 warns wrongly (-Wrestrict) on "text" + std::string.
        if (i > 0) out += ',';
        out += std::to_string(levels.outside[i].first) + "," +
               std::to_string(levels.outside[i].second);
    }
    return out + "]\n};\n";
}

std::string LevelsScript(const EncodedLevels& levels) {
    std::string out =
        "// Written by talvor-render: the day's levels, which assets/levels.js unpacks.\n"
        "(window.Talvor = window.Talvor || {}).levelStreams = {\"contextShift\":" +
        std::to_string(kLevelContextShift) + ",\"streams\":[";
    for (size_t c = 0; c < levels.streams.size(); ++c) {
        if (c > 0) out += ",\n";
        out += '"' + Base85(levels.streams[c].data(), levels.streams[c].size()) + '"';
    }
    return out + "]};\n";
}

}  // namespace talvor
