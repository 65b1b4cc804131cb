// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/page_parts.h"

#include <cstdio>

#include "site/site_text.h"

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

std::string PageHead(const std::string& title, const std::string& root) {
    return "<!DOCTYPE html>\n<!-- SPDX-License-Identifier: GPL-3.0-or-later -->\n"
           "<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           // No icon: a browser would otherwise ask the server for one.
           "<link rel=\"icon\" href=\"data:,\">\n"
           "<title>" +
           EscapeHtml(title) + "</title>\n<link rel=\"stylesheet\" href=\"" + root +
           "assets/site.css\">\n</head>\n";
}

std::string ActivityLegend(bool withNoLog) {
    std::string out = "<p class=\"legend\">Activity (J, per cent of full scale): ";
    for (int j : {1, 20, 40, 60, 80, 100}) out += Swatch(ActivityColour(j), std::to_string(j));
    out += Swatch(kNoRecordColour, "no record");
    if (withNoLog) out += Swatch(kNoLogColour, "no day log");
    return out + "</p>\n";
}
