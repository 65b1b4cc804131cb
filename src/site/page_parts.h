// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces that the archive's pages share: the head, the clock and month texts, the colours as
// CSS and the activity legend.
#pragma once

#include <chrono>
#include <string>

#include "site/site_images.h"

namespace talvor {

std::string TwoDigits(unsigned value);
// "hh:mm" of a minute of the day.
std::string ClockText(int minute);
// "December 2026".
std::string MonthTitle(std::chrono::year_month month);
// "#rrggbb".
std::string ColourText(Rgb colour);

// The document's start up to its body; root leads from the page to the site's top, and links
// (elements of the head) are added to it.
std::string PageHead(const std::string& title, const std::string& root,
                     const std::string& links = "");

// The activity colours with their figures, each swatch kept beside its label when the line
// wraps; withNoLog adds the colour of a day without a log.
std::string ActivityLegend(bool withNoLog);

// The chart's colour of each scaled level 0..255 in a colour mode, as base64 of r, g, b bytes:
// the pages colour levels with it as the chart does.
std::string ChartPaletteBase64(int colourMode);
// The chart's colours of some levels at the station's sensitivity, with the greys of a quarter
// hour without a record and a day without a log.
std::string LevelLegend(double sensitivity, int colourMode);

}  // namespace talvor
