// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>

#include "config/run_state.h"
#include "config/station_config.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/event_loop.h"
#include "platform/process.h"
#include "render/render_thread.h"
#include "report/exit_codes.h"
#include "report/report.h"
#include "talvor/app.h"

namespace talvor {

namespace {

// The frame as the render thread draws it, on its surface with the context current.
void DrawFrame(DailyRun* run) {
    ScreenGeometry& g = run->screenGeometry;
    SetChartProjection(g.screenWidthF, g.screenHeightF);
    // The origin again from the width as reported at start-up, without the 1366 -> 1368 change.
    // Start-up stored the same origin; writing only a changed value keeps concurrent reads safe.
    int chartXOrigin = int(g.screenWidthF) / 2 - 600;
    if (g.chartXOrigin != chartXOrigin) g.chartXOrigin = chartXOrigin;
    LoadDayLog(run);
    DrawChart(run);
    // A frame nobody took yet (only when drawing twice) is replaced, not leaked.
    FreeFrameBitmap(run->frameBitmap);
    run->frameBitmap = ReadBackFrame(g.screenWidth, g.screenHeight);
}

}  // namespace

RenderThreadWork DailyRenderWork(DailyRun* run) {
    RenderThreadWork work;
    work.geometry = &run->screenGeometry;
    work.faces = &run->fonts;
    work.drawFrame = [run] { DrawFrame(run); };
    work.withoutSurface = [run] { LoadDayLog(run); };
    return work;
}

void StartUp(DailyRun* run, const char* firstArgument) {
    RunPaths& paths = run->paths;
    // First of all: the day log to read is the one of the day the run started on.
    paths.StartTime = GetUtcTime();

    std::string executable = GetExecutablePath(firstArgument);
    if (executable.empty()) {
        Report("the executable's path could not be read; using the working directory");
    }
    paths.ZVariant = NameSelectsZVariant(executable);
    // The default file is optional: it cannot fail.
    FindStationConfiguration(executable, "", &paths);

    int reportedWidth = 0;
    int reportedHeight = 0;
    if (GetScreenSize(&reportedWidth, &reportedHeight).kind == FailureKind::DisplayTimedOut) {
        ReportFormatted(
            "the display server did not answer within %d s; drawing without it at "
            "%d x %d",
            kDisplayQueryTimeoutMs / 1000, reportedWidth, reportedHeight);
    }
    run->screenGeometry.screenWidth = StoredScreenWidth(reportedWidth);
    run->screenGeometry.screenHeight = reportedHeight;

    // After the screen is measured and before the chart coordinates: the profile section may
    // move the data folder, and nothing here depends on the settings yet.
    ReadConfiguration(run);

    run->screenGeometry = ComputeScreenGeometry(reportedWidth, reportedHeight);

    if (!LoadTitleFont(&run->fonts)) {
        Report("no heavy sans face found; the headline is left out");
    }

    if (!AllocateRecordBuffer(&run->RecordBuffer)) {
        ShowMessage("Memory problem");
        return;
    }
    paths.DayLogPath = ComposeDayLogPath(paths.DataFolder, paths.StartTime);
}

int RunTalvor(const char* firstArgument, DailyRun* run) {
    IgnoreWriteSignals();
    StartUp(run, firstArgument);
    // Without the record buffer there is nothing to draw or sum up; the message has been shown.
    if (run->RecordBuffer == nullptr) return kExitFailed;
    ArmOneShotTimer(&run->loop, kDailyTimeline.captureTimerMs,
                    [run] { RunCapture(run, kDailyTimeline); });
    StartRenderThread(&run->renderThread, DailyRenderWork(run));
    return RunEventLoop(&run->loop);
}

}  // namespace talvor
