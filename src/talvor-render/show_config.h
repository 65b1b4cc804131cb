// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-render --show-config: what a station's TALVOR.INI does, in words, without a picture.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "talvor-render/render_run.h"

namespace talvor {

// The dates (yyyy-mm-dd) of the day logs in a data folder, oldest first: every sub-folder named
// as a date that holds a VOK.LOG.
std::vector<std::string> DayLogDatesIn(const std::string& dataFolder);

// Runs of consecutive dates as "2014-03-05 to 2014-03-07, 2014-04-01"; at most maxRuns runs,
// then "and N more days".
std::string DescribeDates(const std::vector<std::string>& dates, size_t maxRuns = 12);

// Prints the settings in effect (the run's paths and settings once the configuration is read)
// and the picture size to out.
void PrintStationConfig(std::ostream& out, const RenderRun& run);

}  // namespace talvor
