// SPDX-License-Identifier: GPL-3.0-or-later
// A loaded day log's records as the readers after the drawing take them (the site, the carriers):
// a span of records and the minute of the UTC day that each stands for.
#pragma once

#include <cstddef>

#include "daylog/day_log.h"

namespace talvor {

// The minute of the UTC day that record k stands for: its time text's "hh:mm" where that reads
// as a time, else its place in the log (one record a minute from 00:00).
int MinuteOfDay(const DayLogRecord* record, int k);

}  // namespace talvor
