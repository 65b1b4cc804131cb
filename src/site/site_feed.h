// SPDX-License-Identifier: GPL-3.0-or-later
// The site's Atom feed (feed.xml): an entry a day for the latest days, with what was heard, and
// the site's own settings that it needs from run to run (talvor-site.settings):
//
//   # Written by talvor-render: this site's settings, kept from run to run.
//   id 5f0c2a9e13b87d46a1c09e3b           the site's own random number: the feed's ids
//   url https://example.org/talvor/       where the site is published (--site-url); optional
//
// A feed reader tells entries apart by their ids and shows an entry again when its time of
// update changes, so both come from what does not change when the same days are written again:
// the ids from the site's number and the day, the time from the day's last minute logged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/outcome.h"
#include "site/day_heard.h"
#include "site/station_list.h"

namespace talvor {

extern const char kSiteSettingsName[];
constexpr size_t kSiteSettingsMaxBytes = 4096;
constexpr int kFeedDays = 60;
constexpr int kFeedStrongest = 10;

struct SiteSettings {
    std::string id;   // 24 hexadecimal digits; empty until the first feed is written
    std::string url;  // absolute, ending in "/"; empty: the feed's links are relative to it
};
std::string SiteSettingsText(const SiteSettings& settings);
// False, with why, for a text that is not such a file.
bool ParseSiteSettings(const std::string& text, SiteSettings* settings, std::string* why);
// A new site's number, from the system's random numbers.
Outcome NewSiteId(std::string* id);

// The address a site is published at, as --site-url takes it: http or https, a host (a name, an
// IPv4 address or an IPv6 one in brackets) with an optional port, and a path of the characters
// that a URL may hold as they are (or %-escaped); no user name or password, query or fragment.
// *url is the address with "/" added where it does not end in one. False, with why, otherwise.
bool CheckSiteUrl(const std::string& text, std::string* url, std::string* why);

// "urn:uuid:..." of the site's number and a tail (a day's number since 1970, or the feed's own):
// a UUID of version 8, whose bits but the version's and variant's are the site's to choose.
std::string SiteUuid(const std::string& id, uint32_t tail);

// The feed of the days, newest first (at most kFeedDays of them), for a station at location.
std::string FeedXml(const std::vector<const KeptDay*>& days, const StationList& stations,
                    const std::string& location, const SiteSettings& settings);

}  // namespace talvor
