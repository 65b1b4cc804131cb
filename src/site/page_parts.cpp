// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/page_parts.h"

#include <cstdio>

#include "render/level_colour.h"
#include "site/site_text.h"

namespace talvor {

using namespace std::chrono;

namespace {

const char* const kMonthNames[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

std::string Swatch(Rgb colour, const std::string& label) {
    return "<span class=\"key\"><span class=\"swatch\" style=\"background:" + ColourText(colour) +
           "\"></span>" + label + "</span> ";
}

}  // namespace

std::string TwoDigits(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02u", value);
    return text;
}

std::string ClockText(int minute) {
    return TwoDigits(unsigned(minute / 60)) + ":" + TwoDigits(unsigned(minute % 60));
}

std::string MonthTitle(year_month month) {
    return std::string(kMonthNames[unsigned(month.month()) - 1]) + " " +
           std::to_string(int(month.year()));
}

std::string ColourText(Rgb c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.red, c.green, c.blue);
    return text;
}

std::string PageHead(const std::string& title, const std::string& root, const std::string& links) {
    return "<!DOCTYPE html>\n<!-- SPDX-License-Identifier: GPL-3.0-or-later -->\n"
           "<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           // No icon: a browser would otherwise ask the server for one.
           "<link rel=\"icon\" href=\"data:,\">\n"
           "<title>" +
           EscapeHtml(title) + "</title>\n<link rel=\"stylesheet\" href=\"" + root +
           "assets/site.css\">\n" + links + "</head>\n";
}

std::string ActivityLegend(bool withNoLog) {
    std::string out = "<p class=\"legend\">Activity (J, per cent of full scale): ";
    for (int j : {1, 20, 40, 60, 80, 100}) out += Swatch(ActivityColour(j), std::to_string(j));
    out += Swatch(kNoRecordColour, "no record");
    if (withNoLog) out += Swatch(kNoLogColour, "no day log");
    return out + "</p>\n";
}

std::string ChartPaletteBase64(int colourMode) {
    unsigned char palette[256 * 3];
    for (int v = 0; v < 256; ++v) {
        SpotColour c = LevelSpotColour(v, colourMode);
        palette[v * 3] = c.red;
        palette[v * 3 + 1] = c.green;
        palette[v * 3 + 2] = c.blue;
    }
    return Base64(palette, sizeof palette);
}

std::string LevelLegend(double sensitivity, int colourMode) {
    std::string out = "<p class=\"legend\">Highest level of the quarter hour: ";
    for (int level : {0, 50, 100, 150, 200, 255}) {
        SpotColour c = LevelSpotColour(ScaledLevel(level, float(sensitivity)), colourMode);
        out += Swatch({c.red, c.green, c.blue}, std::to_string(level));
    }
    out += Swatch(kNoRecordColour, "no record");
    out += Swatch(kNoLogColour, "no day log");
    return out + "</p>\n";
}

}  // namespace talvor
