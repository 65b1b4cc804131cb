// SPDX-License-Identifier: GPL-3.0-or-later
#include "tool/render_tool.h"

#include <iostream>
#include <string>

#include "config/configuration.h"
#include "config/station_config.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/outcome.h"
#include "platform/process.h"
#include "render/render_surface.h"
#include "station/report.h"
#include "station/run_state.h"
#include "tool/heard_list.h"
#include "tool/range_drawing.h"
#include "tool/render_cli.h"
#include "tool/show_config.h"
#include "tool/site_run.h"

namespace {

// The station's paths as the daily run derives them at start-up.
bool FindConfigurationOf(const RenderRequest& request) {
    runPaths = RunPaths{};
    runPaths.StartTime = GetUtcTime();
    Outcome found =
        FindStationConfiguration(GetExecutablePath(request.program.c_str()), request.configPath);
    if (!found) {
        Report("cannot read configuration " + request.configPath + ": " + found.reason);
        return false;
    }
    return true;
}

// Paths, screen and settings as the daily run derives them at start-up.
bool SetUpLikeTheDailyRun(const RenderRequest& request) {
    if (!FindConfigurationOf(request)) return false;

    int width = request.width, height = request.height;
    if (!request.sizeGiven && GetScreenSize(&width, &height) == DisplayQuery::TimedOut) {
        Report("the display server did not answer within " +
               std::to_string(kDisplayQueryTimeoutMs / 1000) + " s; drawing at " +
               std::to_string(width) + " x " + std::to_string(height));
    }
    StopUsingDesktopDisplay();
    ReadConfiguration();
    screenGeometry = ComputeScreenGeometry(width, height);
    return true;
}

int ShowConfig() {
    PrintStationConfig(std::cout, screenGeometry.screenWidth, screenGeometry.screenHeight);
    std::cout.flush();
    return std::cout ? kExitOk : kExitFailed;
}

// One day is drawn here: the driver loads while the logs, the output and the title face are
// looked at. A range may fork workers, which must not inherit a driver half loaded.
struct DisplayOpening {
    explicit DisplayOpening(bool start) {
        if (start) BeginOpeningRenderDisplay();
    }
    ~DisplayOpening() { FinishOpeningRenderDisplay(); }
};

// The day log's buffer for the rest of the run; the surface ends with the process, as the daily
// run's does: tearing the driver down just before the exit only costs time, and a driver
// unloaded early leaves its own allocations without a name for leak checkers to recognise.
struct RecordBufferHeld {
    ~RecordBufferHeld() { ReleaseRecordBuffer(); }
};

}  // namespace

int RunRenderRequest(const RenderRequest& request) {
    return RunRenderRequestWith(request, DrawWorkerShare);
}

int RunRenderRequestWith(const RenderRequest& given, const WorkerShare& share) {
    // Listing the carriers draws nothing: no display is asked and no surface made.
    if (given.heard) {
        if (!FindConfigurationOf(given)) return kExitFailed;
        StopUsingDesktopDisplay();
        ReadConfiguration();
        return ListHeardCarriers(given);
    }
    if (!SetUpLikeTheDailyRun(given)) return kExitFailed;
    if (given.showConfig) return ShowConfig();
    // A site without a date takes every logged day: the range from the first to the last.
    RenderRequest request = given;
    if (request.source == RenderSource::AllDays) {
        if (!FindLoggedDays(runPaths.DataFolder, &request.from, &request.to)) {
            // A new station's morning update succeeds before its first day is logged.
            return WriteSiteWithoutDays(request);
        }
        request.source = RenderSource::Range;
        // A stray log of 9999-12-31 must not make millions of days to walk and list.
        request.loggedDaysOnly = true;
    }
    // Before any thread: the driver's threads and the workers take the heap as set up here.
    PrepareHeapForDrawing();
    DisplayOpening opening(request.source != RenderSource::Range);

    std::vector<DayJob> jobs = ListDays(request);
    if (jobs.empty()) {
        ReportNoDays(request);
        return kExitFailed;
    }
    ReadFiles reads = FilesReadBy(jobs);
    OutputPlan plan;
    SiteRun site;
    bool toSite = !request.siteFolder.empty();
    if (toSite) {
        if (!StartSiteRun(request, jobs, &site)) return kExitFailed;
        plan.site = true;
        plan.folder = site.folder.path;
    } else if (!PlanOutput(request, jobs, reads, &plan)) {
        return kExitFailed;
    }

    if (!AllocateRecordBuffer()) {
        Report("not enough memory for a day log");
        return kExitFailed;
    }
    RecordBufferHeld buffer;
    if (!LoadTitleFont()) Report("no heavy sans face found; the headline is left out");

    DrawingPlan work{&jobs, &plan, &reads, request.summaryPath, toSite ? &site : nullptr};
    RunReport report = StartReport(request);
    if (request.loggedDaysOnly) report.progress.total = int(jobs.size());
    if (!DrawDays(request, work, WorkerCountFor(request, jobs.size()), share, &report)) {
        return kExitFailed;
    }
    bool siteFinished = !toSite || FinishSiteRun(&site, report.writtenDays);
    ReportEnd(&report, plan.folder);
    return report.failed == 0 && !report.summaryFailed && siteFinished ? kExitOk : kExitFailed;
}

int RunRenderTool(int argc, const char* const* argv) {
    SetProgramName("talvor-render");
    // A closed standard output (a pipe into head) ends the day lines, never the pictures.
    IgnoreWriteSignals();
    RenderRequest request;
    int code = ParseRenderCommandLine(argc, argv, &request, std::cout);
    if (code != kGoOn) return code;
    return RunRenderRequest(request);
}
