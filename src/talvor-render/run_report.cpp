// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-render/run_report.h"

#include <cstdio>
#include <cstring>

#include "calendar/calendar.h"
#include "config/run_state.h"
#include "platform/terminal.h"
#include "talvor-render/render_cli.h"

namespace talvor {

namespace {

void ClearBar(ProgressLine* progress) {
    if (progress->terminal && progress->drawn) std::fprintf(stderr, "\r\033[K");
    progress->drawn = false;
}

void DrawBar(ProgressLine* progress, const UtcTime& day) {
    if (!progress->terminal) return;
    int columns = TerminalColumns();
    char label[64];
    std::snprintf(label, sizeof label, " %d/%d %s", progress->done, progress->total,
                  FormatDate(day).c_str());
    int barWidth = columns - int(std::strlen(label)) - 3;
    if (barWidth > 50) barWidth = 50;
    if (barWidth < 10) barWidth = 10;
    int filled = progress->total > 0 ? barWidth * progress->done / progress->total : barWidth;
    std::string bar = "\r[" + std::string(size_t(filled), '#') +
                      std::string(size_t(barWidth - filled), '-') + "]" + label;
    // The cursor goes back to the line's start, so that a message from the drawing or the
    // writers overwrites the bar instead of running on after it.
    std::fprintf(stderr, "%s\033[K\r", bar.c_str());
    std::fflush(stderr);
    progress->drawn = true;
}

}  // namespace

RunReport StartReport(const RenderRequest& request, const std::string& dataFolder) {
    bool range = request.source == RenderSource::Range;
    RunReport report;
    report.dataFolder = dataFolder;
    report.progress.terminal = range && StandardErrorIsTerminal();
    report.progress.total = range ? DaysFromTo(request.from, request.to) : 1;
    report.dayLines = range && !(report.progress.terminal && StandardOutputIsTerminal());
    return report;
}

void ReportPicture(RunReport* report, const std::string& day, const std::string& path,
                   bool written) {
    if (written) {
        ++report->written;
        report->writtenDays.push_back(day);
        if (report->dayLines) std::printf("%s %s\n", day.c_str(), path.c_str());
    } else {
        ++report->failed;
    }
    std::fflush(stdout);
}

void ReportNoLog(RunReport* report, const UtcTime& day) {
    constexpr size_t kMissingListed = 10;
    ++report->missingCount;
    if (report->missing.size() < kMissingListed) report->missing.push_back(FormatDate(day));
    if (report->dayLines) {
        std::printf("%s no day log (%s)\n", FormatDate(day).c_str(),
                    ComposeDayLogPath(report->dataFolder, day).c_str());
        std::fflush(stdout);
    }
}

void AdvanceBar(RunReport* report, const UtcTime& day, bool present, int64_t* lastBar) {
    int64_t now = MonotonicMs();
    if (present || *lastBar < 0 || now - *lastBar >= 100) {
        DrawBar(&report->progress, day);
        *lastBar = now;
    }
}

void ReportEnd(RunReport* report, const std::string& folder) {
    if (report->progress.terminal) {
        ClearBar(&report->progress);
        std::string list;
        for (const std::string& day : report->missing) list += (list.empty() ? "" : ", ") + day;
        if (report->missingCount > int(report->missing.size())) {
            list += " and " + std::to_string(report->missingCount - int(report->missing.size())) +
                    " more";
        }
        std::fprintf(stderr, "%d of %d pictures written to %s", report->written,
                     report->written + report->failed, folder.c_str());
        if (!report->missing.empty()) {
            std::fprintf(stderr, "; no day log for %d %s: %s", report->missingCount,
                         report->missingCount == 1 ? "day" : "days", list.c_str());
        }
        std::fprintf(stderr, "\n");
    }
    if (report->dayLines) {
        std::printf("%d of %d pictures written, %d %s without a day log\n", report->written,
                    report->written + report->failed, report->missingCount,
                    report->missingCount == 1 ? "day" : "days");
    }
}

}  // namespace talvor
