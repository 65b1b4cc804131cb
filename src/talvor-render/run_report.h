// SPDX-License-Identifier: GPL-3.0-or-later
// How a talvor-render run tells the user what it did: a line per day on standard output (unless
// a bar already shows the run on the same terminal), a bar on a terminal, a count at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace talvor {

struct RenderRequest;

struct ProgressLine {
    bool terminal = false;
    int total = 0;
    int done = 0;
    bool drawn = false;  // a bar is on the terminal's last line
};

// What a run has written so far.
struct RunReport {
    std::string dataFolder;  // where the day logs are looked for
    bool dayLines = false;
    ProgressLine progress;
    std::vector<std::string> missing;  // the first few, for the list at the end
    int missingCount = 0;
    int written = 0;
    int failed = 0;
    bool summaryFailed = false;
    std::vector<std::string> writtenDays;  // "yyyy-mm-dd" of every day written
};

// A report for the request's days in the data folder, its bar and day lines chosen by where the
// output goes.
RunReport StartReport(const RenderRequest& request, const std::string& dataFolder);
void ReportPicture(RunReport* report, const std::string& day, const std::string& path,
                   bool written);
void ReportNoLog(RunReport* report, const UtcTime& day);
// The bar moves for every day drawn, and at most ten times a second across days without a log.
void AdvanceBar(RunReport* report, const UtcTime& day, bool present, int64_t* lastBar);
// The closing count; folder is where the pictures went.
void ReportEnd(RunReport* report, const std::string& folder);

}  // namespace talvor
