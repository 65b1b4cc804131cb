// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-render/render_tool.h"

#include <iostream>
#include <string>

#include "config/configuration.h"
#include "config/run_state.h"
#include "config/station_config.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/outcome.h"
#include "platform/process.h"
#include "render/render_surface.h"
#include "report/report.h"
#include "talvor-render/heard_list.h"
#include "talvor-render/range_drawing.h"
#include "talvor-render/render_cli.h"
#include "talvor-render/show_config.h"
#include "talvor-render/site_run.h"

namespace talvor {

namespace {

// The station's paths as the daily run derives them at start-up.
bool FindConfigurationOf(const RenderRequest& request, RunPaths* paths) {
    paths->StartTime = GetUtcTime();
    Outcome found = FindStationConfiguration(GetExecutablePath(request.program.c_str()),
                                             request.configPath, paths);
    if (!found) {
        Report("cannot read configuration " + request.configPath + ": " + found.reason);
        return false;
    }
    return true;
}

void ReadConfigurationOf(RenderRun* run) {
    run->scannedLength =
        ReadConfigurationFile(run->paths.ConfigFilePath, &run->settings, &run->paths.DataFolder);
}

// Paths, screen and settings as the daily run derives them at start-up.
bool SetUpLikeTheDailyRun(const RenderRequest& request, RenderRun* run) {
    if (!FindConfigurationOf(request, &run->paths)) return false;

    int width = request.width, height = request.height;
    if (!request.sizeGiven && GetScreenSize(&width, &height).kind == FailureKind::DisplayTimedOut) {
        Report("the display server did not answer within " +
               std::to_string(kDisplayQueryTimeoutMs / 1000) + " s; drawing at " +
               std::to_string(width) + " x " + std::to_string(height));
    }
    StopUsingDesktopDisplay();
    ReadConfigurationOf(run);
    run->screenGeometry = ComputeScreenGeometry(width, height);
    return true;
}

int ShowConfig(const RenderRun& run) {
    PrintStationConfig(std::cout, run);
    std::cout.flush();
    return std::cout ? kExitOk : kExitFailed;
}

// The day log's buffer and the surface for the rest of the run. The surface goes, but the driver
// stays loaded to the process's end, as the daily run's does: unloading it just before the exit
// only costs time, and leaves its own allocations without a name for leak checkers to recognise.
struct RunHeld {
    RenderRun* run;
    ~RunHeld() {
        ReleaseRecordBuffer(&run->RecordBuffer);
        DestroyRenderSurface(&run->surface);
    }
};

}  // namespace

int RunRenderRequest(const RenderRequest& request) {
    return RunRenderRequestWith(request, DrawWorkerShare);
}

int RunRenderRequestWith(const RenderRequest& given, const WorkerShare& share) {
    RenderRun run;
    // Listing the carriers draws nothing: no display is asked and no surface made.
    if (given.heard) {
        if (!FindConfigurationOf(given, &run.paths)) return kExitFailed;
        StopUsingDesktopDisplay();
        ReadConfigurationOf(&run);
        return ListHeardCarriers(given, run.paths);
    }
    if (!SetUpLikeTheDailyRun(given, &run)) return kExitFailed;
    if (given.showConfig) return ShowConfig(run);
    // A site without a date takes every logged day: the range from the first to the last.
    RenderRequest request = given;
    if (request.source == RenderSource::AllDays) {
        if (!FindLoggedDays(run.paths.DataFolder, &request.from, &request.to)) {
            // A new station's morning update succeeds before its first day is logged.
            return WriteSiteWithoutDays(request, run);
        }
        request.source = RenderSource::Range;
        // A stray log of 9999-12-31 must not make millions of days to walk and list.
        request.loggedDaysOnly = true;
    }
    // Before any thread: the driver's threads and the workers take the heap as set up here.
    PrepareHeapForDrawing();
    // One day is drawn here: the driver loads while the logs, the output and the title face are
    // looked at. A range may fork workers, which must not inherit a driver half loaded.
    DisplayOpening opening;
    if (request.source != RenderSource::Range) BeginOpeningRenderDisplay(&opening);

    std::vector<DayJob> jobs = ListDays(request, run.paths.DataFolder);
    if (jobs.empty()) {
        ReportNoDays(request, run.paths.DataFolder);
        return kExitFailed;
    }
    ReadFiles reads = FilesReadBy(run.paths.ConfigFilePath, jobs);
    OutputPlan plan;
    SiteRun site;
    bool toSite = !request.siteFolder.empty();
    if (toSite) {
        if (!StartSiteRun(request, run, jobs, &site)) return kExitFailed;
        plan.site = true;
        plan.folder = site.folder.path;
    } else if (!PlanOutput(request, jobs, reads, &plan)) {
        return kExitFailed;
    }

    RunHeld held{&run};
    if (!AllocateRecordBuffer(&run.RecordBuffer)) {
        Report("not enough memory for a day log");
        return kExitFailed;
    }
    if (!LoadTitleFont(&run.fonts)) Report("no heavy sans face found; the headline is left out");
    // A single day's log is read now, while the driver is still loading, rather than after it.
    if (jobs.size() == 1) {
        jobs.front().read =
            LoadDayLogFrom(jobs.front().logPath, run.RecordBuffer, &run.recordCount);
    }
    // The surface is made next, with the driver that the opening loaded.
    FinishOpeningRenderDisplay(&opening);

    DrawingPlan work{&run, &jobs, &plan, &reads, request.summaryPath, toSite ? &site : nullptr};
    RunReport report = StartReport(request, run.paths.DataFolder);
    if (request.loggedDaysOnly) report.progress.total = int(jobs.size());
    int workers = WorkerCountFor(request, jobs.size(), run.screenGeometry);
    if (!DrawDays(request, work, workers, share, &report)) {
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

}  // namespace talvor
