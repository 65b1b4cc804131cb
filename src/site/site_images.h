// SPDX-License-Identifier: GPL-3.0-or-later
// The small pictures of the archive: a day's thumbnail, its activity strip, and a month's
// propagation calendar (one row a day, one column a quarter hour).
#pragma once

#include <vector>

#include "platform/outcome.h"
#include "site/day_digest.h"

namespace talvor {

struct FrameBitmap;

// The chart shrunk by kThumbnailScale in each direction, each pixel the mean of its block.
constexpr int kThumbnailScale = 8;
Outcome ThumbnailPng(const FrameBitmap& frame, std::vector<unsigned char>* png);

struct Rgb {
    unsigned char red, green, blue;
};
// The colour of an activity figure J (1..100) in the station's palette; a quarter hour without a
// record is mid grey. Neither grey is in the palette, and both stand out from the pages' dark
// background (#121416): a day without a log is darker than a quarter hour without a record.
Rgb ActivityColour(int figure);
constexpr Rgb kNoRecordColour = {96, 96, 96};
constexpr Rgb kNoLogColour = {48, 50, 54};

// The day's 96 quarter hours, one pixel each.
Outcome ActivityStripPng(const DayDigest& digest, std::vector<unsigned char>* png);

// One row per day of the month (days[d] for day d + 1; nullptr where the day has no log).
Outcome PropagationCalendarPng(const std::vector<const DayDigest*>& days,
                               std::vector<unsigned char>* png);

}  // namespace talvor
