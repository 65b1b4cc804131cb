// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/site_feed.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string_view>

#include "calendar/calendar.h"
#include "platform/process.h"
#include "site/page_parts.h"
#include "site/site_pages.h"
#include "site/site_text.h"

namespace talvor {

using namespace std::chrono;

const char kSiteSettingsName[] = "talvor-site.settings";

namespace {

constexpr size_t kSiteIdDigits = 24;
constexpr size_t kSiteUrlMaxLength = 2000;
constexpr uint32_t kFeedTail = 0x80000000u;  // no day's number: days run from 1900 to 9999

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

bool IsAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The characters a URL's path holds as they are (RFC 3986: unreserved, sub-delims, ':', '@').
bool IsPathCharacter(char c) {
    return IsAlnum(c) || std::string_view("-._~!$&'()*+,;=:@/").find(c) != std::string_view::npos;
}

bool CheckHost(const std::string& host, std::string* why) {
    if (host.empty()) {
        *why = "no host";
        return false;
    }
    if (host.front() == '[') {
        bool ipv6 = host.size() > 2 && host.back() == ']' &&
                    std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
                        return IsHexDigit(Lower(c)) || c == ':' || c == '.';
                    });
        if (!ipv6) *why = "not an IPv6 address in brackets: " + host;
        return ipv6;
    }
    bool name = host.front() != '.' && host.front() != '-' &&
                std::all_of(host.begin(), host.end(),
                            [](char c) { return IsAlnum(c) || c == '-' || c == '.'; });
    if (!name) *why = "not a host name: " + host;
    return name;
}

std::string TimeText(sys_days day, int minute) {
    char text[32];
    std::snprintf(text, sizeof text, "T%02d:%02d:00Z", std::max(minute, 0) / 60,
                  std::max(minute, 0) % 60);
    return DayFolderName(day) + text;
}

std::string CarrierItem(const Carrier& c, const StationList& stations) {
    std::string names = CarrierStations(c, stations);
    return "<li>" + std::to_string(c.khz) + " kHz, " + CarrierHours(c) + ", peak " +
           std::to_string(c.peakLevel) + (names.empty() ? "" : ": " + EscapeHtml(names)) + "</li>";
}

// The entry's content as HTML: the count, the new carriers (at most kListedNew), the strongest.
std::string EntryHtml(const HeardDay& day, const StationList& stations, const std::string& link) {
    std::string out = "<p>" + CarrierCountText(day) + ".</p>";
    std::string fresh;
    size_t count = 0;
    for (const Carrier& c : day.carriers) {
        if (c.isNew && ++count <= kListedNew) fresh += CarrierItem(c, stations);
    }
    if (count > kListedNew) fresh += "<li>and " + std::to_string(count - kListedNew) + " more</li>";
    if (!fresh.empty()) out += "<p>New:</p><ul>" + fresh + "</ul>";
    std::vector<const Carrier*> strongest;
    for (const Carrier& c : day.carriers) strongest.push_back(&c);
    auto stronger = [](const Carrier* a, const Carrier* b) {
        if (a->peakLevel != b->peakLevel) return a->peakLevel > b->peakLevel;
        if (a->minutes != b->minutes) return a->minutes > b->minutes;
        return a->khz != b->khz ? a->khz < b->khz : a->firstMinute < b->firstMinute;
    };
    size_t top = std::min<size_t>(strongest.size(), kFeedStrongest);
    std::partial_sort(strongest.begin(), strongest.begin() + std::ptrdiff_t(top), strongest.end(),
                      stronger);
    if (top > 0) {
        out += "<p>Strongest:</p><ul>";
        for (size_t i = 0; i < top; ++i) out += CarrierItem(*strongest[i], stations);
        out += "</ul>";
    }
    return out + "<p><a href=\"" + EscapeHtml(link) + "\">The day's page</a></p>";
}

}  // namespace

std::string SiteSettingsText(const SiteSettings& settings) {
    std::string out = "# Written by talvor-render: this site's settings, kept from run to run.\n";
    if (!settings.id.empty()) out += "id " + settings.id + "\n";
    if (!settings.url.empty()) out += "url " + settings.url + "\n";
    return out;
}

bool ParseSiteSettings(const std::string& text, SiteSettings* settings, std::string* why) {
    std::istringstream in(text);
    std::string line;
    SiteSettings read;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        size_t space = line.find(' ');
        std::string key = line.substr(0, space);
        std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "id" && value.size() == kSiteIdDigits &&
            std::all_of(value.begin(), value.end(), IsHexDigit)) {
            read.id = value;
        } else if (key == "url") {
            std::string checked;
            if (!CheckSiteUrl(value, &checked, why)) return false;
            read.url = checked;
        } else {
            *why = "not a setting: \"" + line + "\"";
            return false;
        }
    }
    *settings = read;
    return true;
}

Outcome NewSiteId(std::string* id) {
    unsigned char bytes[kSiteIdDigits / 2];
    if (Outcome got = RandomBytes(bytes, sizeof bytes); !got) return got;
    char text[kSiteIdDigits + 1];
    for (size_t i = 0; i < sizeof bytes; ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    *id = text;
    return Succeeded();
}

bool CheckSiteUrl(const std::string& text, std::string* url, std::string* why) {
    std::string scheme;
    size_t colon = text.find("://");
    if (colon != std::string::npos) {
        for (size_t i = 0; i < colon; ++i) scheme += Lower(text[i]);
    }
    if (scheme != "http" && scheme != "https") {
        *why = "not an http:// or https:// address";
        return false;
    }
    if (text.size() > kSiteUrlMaxLength) {
        *why = "longer than " + std::to_string(kSiteUrlMaxLength) + " characters";
        return false;
    }
    size_t start = colon + 3, slash = text.find('/', start);
    std::string authority = text.substr(start, slash - start);
    std::string path = slash == std::string::npos ? "/" : text.substr(slash);
    if (authority.find('@') != std::string::npos) {
        *why = "a user name or password would be published with every link";
        return false;
    }
    size_t portAt = authority.rfind(':');
    if (portAt != std::string::npos && authority.find(']', portAt) == std::string::npos) {
        std::string port = authority.substr(portAt + 1);
        int number = 0;
        if (port.empty() || port.size() > 5 || !ReadDigits(port, 0, port.size(), &number) ||
            number < 1 || number > 65535) {
            *why = "not a port: \"" + port + "\"";
            return false;
        }
        authority.resize(portAt);
    }
    if (!CheckHost(authority, why)) return false;
    for (size_t i = 0; i < path.size(); ++i) {
        char c = path[i];
        if (c == '%' && i + 2 < path.size() && IsHexDigit(Lower(path[i + 1])) &&
            IsHexDigit(Lower(path[i + 2]))) {
            i += 2;
        } else if (c == '?' || c == '#') {
            *why = "a query or fragment (\"" + std::string(1, c) + "\") cannot lead to the pages";
            return false;
        } else if (!IsPathCharacter(c)) {
            *why = "a character that a URL must escape in its path";
            return false;
        }
    }
    *url =
        scheme + text.substr(colon, slash == std::string::npos ? std::string::npos : slash - colon);
    *url += path.back() == '/' ? path : path + "/";
    return true;
}

std::string SiteUuid(const std::string& id, uint32_t tail) {
    unsigned char bytes[16] = {};
    for (size_t i = 0; i < 12 && 2 * i + 1 < id.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(std::stoi(id.substr(2 * i, 2), nullptr, 16));
    }
    bytes[6] = static_cast<unsigned char>(0x80 | (bytes[6] & 0x0F));  // version 8
    bytes[8] = static_cast<unsigned char>(0x80 | (bytes[8] & 0x3F));  // the RFC's variant
    for (int i = 0; i < 4; ++i) bytes[12 + i] = static_cast<unsigned char>(tail >> (24 - 8 * i));
    std::string out = "urn:uuid:";
    char digits[3];
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        out += digits;
    }
    return out;
}

std::string FeedXml(const std::vector<const KeptDay*>& days, const StationList& stations,
                    const std::string& location, const SiteSettings& settings) {
    std::string name = location.empty() ? "Medium wave" : location;
    std::string updated = "1970-01-01T00:00:00Z";  // a feed without a day's entry yet
    for (const KeptDay* d : days) {
        updated = std::max(updated, TimeText(d->heard.day, d->lastMinute));
    }
    const std::string& base = settings.url;
    std::string out =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<feed xmlns=\"http://www.w3.org/2005/Atom\">\n";
    out += "<id>" + SiteUuid(settings.id, kFeedTail) + "</id>\n";
    out += "<title>" + EscapeXml(name + ": medium wave, what was heard") + "</title>\n";
    out += "<updated>" + updated + "</updated>\n";
    out += "<author><name>" + EscapeXml(name) + "</name></author>\n";
    out += "<generator>talvor-render</generator>\n";
    out += "<link rel=\"alternate\" type=\"text/html\" href=\"" + EscapeXml(base + "index.html") +
           "\"/>\n";
    if (!base.empty()) {
        out += "<link rel=\"self\" type=\"application/atom+xml\" href=\"" +
               EscapeXml(base + "feed.xml") + "\"/>\n";
    }
    size_t count = std::min<size_t>(days.size(), kFeedDays);
    for (size_t i = 0; i < count; ++i) {
        const HeardDay& day = days[i]->heard;
        std::string date = DayFolderName(day.day);
        std::string link = base + date + "/index.html";
        out += "<entry>\n<id>" +
               SiteUuid(settings.id, uint32_t(day.day.time_since_epoch().count())) + "</id>\n";
        out += "<title>" + date + ": " + CarrierCountText(day) + "</title>\n";
        out += "<updated>" + TimeText(day.day, days[i]->lastMinute) + "</updated>\n";
        out += "<link rel=\"alternate\" type=\"text/html\" href=\"" + EscapeXml(link) + "\"/>\n";
        out += "<content type=\"html\">" + EscapeXml(EntryHtml(day, stations, link)) +
               "</content>\n</entry>\n";
    }
    return out + "</feed>\n";
}

}  // namespace talvor
