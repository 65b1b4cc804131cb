// SPDX-License-Identifier: GPL-3.0-or-later
// What talvor-log counts for each day, and the words its summaries say it in.
#pragma once

#include <string>

#include "talvor-log/skip_reasons.h"

namespace talvor {

struct DayTally {
    int written = 0;  // records written this run, the empty ones included
    int empty = 0;    // records of minutes without a scan
    int skipped[kSkipReasons] = {};
};

// "1 line", "2 lines".
std::string CountText(int n, const char* thing);
// The lines skipped for every reason together.
int SkippedLines(const DayTally& tally);
// "S lines skipped (N reason, ...)".
std::string SkippedText(const DayTally& tally);
// Adds from's skipped lines to to's, and clears them in from.
void MoveSkipped(DayTally* to, DayTally* from);
// "PATH: N minutes written (E empty), S lines skipped (...)".
std::string DaySummary(const std::string& path, const DayTally& tally);

}  // namespace talvor
