// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-log/day_tally.h"

namespace talvor {

std::string CountText(int n, const char* thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

namespace {

std::string Reasons(const DayTally& tally, int* skipped) {
    *skipped = 0;
    std::string reasons;
    for (int r = 0; r < kSkipReasons; ++r) {
        int count = tally.skipped[r];
        if (count == 0) continue;
        *skipped += count;
        if (!reasons.empty()) reasons += ", ";
        reasons += std::to_string(count) + " " + FailureText(SkipReasonAt(r));
    }
    return reasons;
}

}  // namespace

int SkippedLines(const DayTally& tally) {
    int skipped;
    Reasons(tally, &skipped);
    return skipped;
}

std::string SkippedText(const DayTally& tally) {
    int skipped;
    std::string reasons = Reasons(tally, &skipped);
    std::string text = CountText(skipped, "line") + " skipped";
    if (!reasons.empty()) text += " (" + reasons + ")";
    return text;
}

void MoveSkipped(DayTally* to, DayTally* from) {
    for (int r = 0; r < kSkipReasons; ++r) {
        to->skipped[r] += from->skipped[r];
        from->skipped[r] = 0;
    }
}

std::string DaySummary(const std::string& path, const DayTally& tally) {
    return path + ": " + CountText(tally.written, "minute") + " written (" +
           std::to_string(tally.empty) + " empty), " + SkippedText(tally);
}

}  // namespace talvor
