// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/day_heard.h"

#include <algorithm>
#include <map>
#include <sstream>

#include "site/page_parts.h"
#include "site/site_pages.h"
#include "site/site_text.h"

namespace talvor {

namespace {

const char kCarriersHeader[] = "talvor carriers 1";

}  // namespace

std::string CarriersText(const std::vector<Carrier>& carriers, int lastMinute) {
    std::string out = std::string(kCarriersHeader) + "\nlast " + std::to_string(lastMinute) + "\n";
    for (const Carrier& c : carriers) {
        out += std::to_string(c.khz) + " " + std::to_string(c.firstMinute) + " " +
               std::to_string(c.lastMinute) + " " + std::to_string(c.peakLevel) + "\n";
    }
    return out;
}

bool ParseCarriersText(const std::string& text, std::vector<Carrier>* carriers, int* lastMinute) {
    std::istringstream in(text);
    std::string line, key;
    int last = -1;
    if (!std::getline(in, line) || line != kCarriersHeader || !(in >> key >> last) ||
        key != "last" || last < -1 || last >= kMinutesPerDay) {
        return false;
    }
    std::vector<Carrier> read;
    std::getline(in, line);  // the rest of the "last" line
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Carrier c;
        std::string more;
        if (!(fields >> c.khz >> c.firstMinute >> c.lastMinute >> c.peakLevel) || fields >> more ||
            c.khz < kBandFirstKhz || c.khz > kBandLastKhz || c.firstMinute < 0 ||
            c.firstMinute > c.lastMinute || c.lastMinute >= kMinutesPerDay || c.peakLevel < 0 ||
            c.peakLevel > 255) {
            return false;
        }
        c.minutes = c.lastMinute - c.firstMinute + 1;
        read.push_back(c);
    }
    *carriers = std::move(read);
    *lastMinute = last;
    return true;
}

std::string CarrierCountText(const HeardDay& day) {
    size_t fresh = 0;
    for (const Carrier& c : day.carriers) fresh += c.isNew;
    return std::to_string(day.carriers.size()) +
           (day.carriers.size() == 1 ? " carrier, " : " carriers, ") + std::to_string(fresh) +
           " new";
}

std::string CarrierStations(const Carrier& carrier, const StationList& stations) {
    return StationsText(
        StationsOnAir(stations, carrier.khz, carrier.firstMinute, carrier.lastMinute));
}

std::string CarrierHours(const Carrier& carrier) {
    return ClockText(carrier.firstMinute) + "\xE2\x80\x93" + ClockText(carrier.lastMinute) + " UTC";
}

std::string HeardScript(const HeardDay& day, const StationList& stations) {
    CarrierRules rules;
    std::string out =
        "// Written by talvor-render: the carriers heard on the day, each a kHz that stood out of\n"
        "// the band's floor: its first and last minute (UTC), its minutes, its highest level,\n"
        "// whether no carrier of the week before used its kHz, and the listed stations on it.\n"
        "(window.Talvor = window.Talvor || {}).heard = {\n";
    out += "\"date\":\"" + DayFolderName(day.day) +
           "\",\"margin\":" + std::to_string(rules.margin) +
           ",\"minMinutes\":" + std::to_string(rules.minMinutes) +
           ",\"fade\":" + std::to_string(rules.maxFade) + ",\"carriers\":[\n";
    for (size_t i = 0; i < day.carriers.size(); ++i) {
        const Carrier& c = day.carriers[i];
        // Appended part by part: GCC 12 warns wrongly (-Wrestrict) on "text" + std::string.
        out += "{\"khz\":";
        out += std::to_string(c.khz) + ",\"first\":" + std::to_string(c.firstMinute) +
               ",\"last\":" + std::to_string(c.lastMinute) +
               ",\"minutes\":" + std::to_string(c.minutes) +
               ",\"peak\":" + std::to_string(c.peakLevel) +
               ",\"new\":" + (c.isNew ? "true" : "false") +
               ",\"stations\":" + JsString(CarrierStations(c, stations)) + "}";
        out += i + 1 < day.carriers.size() ? ",\n" : "\n";
    }
    return out + "]};\n";
}

std::string LatestHeardHtml(const std::vector<const HeardDay*>& latest,
                            const StationList& stations) {
    std::string out =
        "<section class=\"heard-lately\" id=\"heard\"><h2>Heard lately</h2>\n"
        "<p>The carriers of the latest days, and those new against the week before. "
        "<a href=\"feed.xml\" type=\"application/atom+xml\">Feed</a> of the latest days.</p>\n"
        "<ul class=\"heard-days\">\n";
    for (const HeardDay* day : latest) {
        std::string name = DayFolderName(day->day);
        out += "<li><a href=\"" + name + "/index.html#heard\">" + name +
               "</a>: " + CarrierCountText(*day);
        // A kHz once, however many runs it had, with the stations on it in any of them.
        std::vector<int> order;
        std::map<int, std::vector<const ListedStation*>> named;
        for (const Carrier& c : day->carriers) {
            if (!c.isNew) continue;
            if (named.count(c.khz) == 0) order.push_back(c.khz);
            std::vector<const ListedStation*>& names = named[c.khz];
            for (const ListedStation* s :
                 StationsOnAir(stations, c.khz, c.firstMinute, c.lastMinute)) {
                if (std::find(names.begin(), names.end(), s) == names.end()) names.push_back(s);
            }
        }
        std::string items;
        for (size_t i = 0; i < order.size() && i < kListedNew; ++i) {
            std::string names = StationsText(named[order[i]]);
            // Appended part by part: GCC 12 warns wrongly (-Wrestrict) on "text" + std::string.
            items += "<li><span class=\"khz\">" + std::to_string(order[i]) + " kHz</span>";
            if (!names.empty()) items += ' ' + EscapeHtml(names);
            items += "</li>";
        }
        if (order.size() > kListedNew) {
            items += "<li>and " + std::to_string(order.size() - kListedNew) + " kHz more</li>";
        }
        if (!items.empty()) out += ":<ul class=\"new-carriers\">" + items + "</ul>";
        out += "</li>\n";
    }
    return out + "</ul>\n</section>\n";
}

}  // namespace talvor
