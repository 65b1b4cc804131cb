// SPDX-License-Identifier: GPL-3.0-or-later
// What was heard on a day, as the site keeps and shows it. When a day is drawn its carriers go
// into a file of its folder (heard.txt, before its quarter-hour peaks), found with the default
// rules, as talvor-render --heard finds them; later runs read those files, not the day logs, to
// tell which carriers are new against the week before, for the day's list (heard.js), the index
// and the feed.
//
//   talvor carriers 1
//   last 1439                 the day's last minute with a record (UTC); -1: none
//   1080 130 339 187          kHz, first and last minute, highest level
//   ...
#pragma once

#include <string>
#include <vector>

#include "heard/carriers.h"
#include "site/station_list.h"

namespace talvor {

std::string CarriersText(const std::vector<Carrier>& carriers, int lastMinute);
// False for a text that is not such a file, or names a carrier outside the band or the day.
bool ParseCarriersText(const std::string& text, std::vector<Carrier>* carriers, int* lastMinute);
// The most of the file that is read: every kHz heard in every run the rules allow takes less.
constexpr size_t kCarriersMaxBytes = size_t{8} << 20;

// A day's carriers as the site has them, new ones marked against the week before.
struct KeptDay {
    HeardDay heard;
    int lastMinute = -1;
};

// "143 carriers, 5 new".
std::string CarrierCountText(const HeardDay& day);
// The stations of the list on a carrier's kHz in its minutes, as the CSV names them.
std::string CarrierStations(const Carrier& carrier, const StationList& stations);
// "hh:mm-hh:mm UTC" of a carrier's first and last minute.
std::string CarrierHours(const Carrier& carrier);

// The day page's list (heard.js): every carrier with its stations and whether it is new; the
// station's text is in string literals only.
std::string HeardScript(const HeardDay& day, const StationList& stations);

// The index's list of the latest days, newest first: how many carriers, and the kHz of the new
// ones (at most kListedNew a day), each once, with the stations on it.
constexpr size_t kListedNew = 20;
std::string LatestHeardHtml(const std::vector<const HeardDay*>& latest,
                            const StationList& stations);

}  // namespace talvor
