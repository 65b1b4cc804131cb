// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-render --heard: the carriers of each day asked for, as CSV on standard output, with the
// stations of STATIONS.CSV on their kHz and whether each is new against the week before.
//
//   date,khz,first_utc,last_utc,minutes,peak_level,new,stations
//   2025-11-20,1080,02:10,05:39,210,187,yes,"Name (Place); Name2 (Place2)"
#pragma once

#include <string>
#include <vector>

#include "config/run_state.h"
#include "heard/carriers.h"
#include "site/station_list.h"

namespace talvor {

struct RenderRequest;

extern const char kHeardCsvHeader[];

// One field as RFC 4180 writes it: quoted, with each quote doubled, when it holds a comma, a
// quote or a line break; also when it holds a space or a semicolon, so that no reader trims it
// or splits it at a list separator of its own.
std::string CsvField(const std::string& text);

// A carrier's line of the CSV, with its line end; date is "yyyy-mm-dd".
std::string HeardCsvLine(const std::string& date, const Carrier& carrier,
                         const std::vector<const ListedStation*>& stations);

// Lists the request's days (a date or a range) from the day logs of the station's data folder,
// with the stations of STATIONS.CSV beside its configuration; the exit code.
int ListHeardCarriers(const RenderRequest& request, const RunPaths& paths);

}  // namespace talvor
