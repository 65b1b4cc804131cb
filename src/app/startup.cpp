// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>

#include "app/app.h"
#include "config/configuration.h"
#include "config/station_config.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/event_loop.h"
#include "platform/process.h"
#include "render/render_surface.h"
#include "render/render_thread.h"
#include "station/report.h"
#include "station/run_state.h"

void StartUp(const char* firstArgument) {
    // First of all: the day log to read is the one of the day the run started on.
    runPaths.StartTime = GetUtcTime();

    std::string executable = GetExecutablePath(firstArgument);
    if (executable.empty()) {
        Report("the executable's path could not be read; using the working directory");
    }
    runPaths.ZVariant = NameSelectsZVariant(executable);
    FindStationConfiguration(executable, "");  // the default file is optional: it cannot fail

    int reportedWidth = 0;
    int reportedHeight = 0;
    if (GetScreenSize(&reportedWidth, &reportedHeight) == DisplayQuery::TimedOut) {
        ReportFormatted(
            "the display server did not answer within %d s; drawing without it at "
            "%d x %d",
            kDisplayQueryTimeoutMs / 1000, reportedWidth, reportedHeight);
    }
    screenGeometry.screenWidth = StoredScreenWidth(reportedWidth);
    screenGeometry.screenHeight = reportedHeight;

    // After the screen is measured and before the chart coordinates: the profile section may
    // move the data folder, and nothing here depends on the settings yet.
    ReadConfiguration();

    screenGeometry = ComputeScreenGeometry(reportedWidth, reportedHeight);

    if (!LoadTitleFont()) {
        Report("no heavy sans face found; the headline is left out");
    }

    if (!AllocateRecordBuffer()) {
        ShowMessage("Memory problem");
        return;
    }
    runPaths.DayLogPath = ComposeDayLogPath(runPaths.DataFolder, runPaths.StartTime);
}

int RunTalvor(const char* firstArgument) {
    IgnoreWriteSignals();
    StartUp(firstArgument);
    // Without the record buffer there is nothing to draw or sum up; the message has been shown.
    if (RecordBuffer == nullptr) return 1;
    ArmOneShotTimer(kDailyTimeline.captureTimerMs, CaptureTimerProc);
    StartRenderThread();
    return RunEventLoop();
}
