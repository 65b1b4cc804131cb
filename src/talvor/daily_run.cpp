// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor/daily_run.h"

#include "config/configuration.h"
#include "daylog/day_log.h"
#include "output/summary.h"
#include "render/chart.h"
#include "report/report.h"

namespace talvor {

DailyRun::~DailyRun() {
    ReleaseRecordBuffer(&RecordBuffer);
    FreeFrameBitmap(frameBitmap);
}

void ReadConfiguration(DailyRun* run) {
    ReadConfigurationFile(run->paths.ConfigFilePath, &run->settings, &run->paths.DataFolder);
}

void LoadDayLog(DailyRun* run) {
    Outcome loaded = LoadDayLogFrom(run->paths.DayLogPath, run->RecordBuffer, &run->recordCount,
                                    &run->dayLogFile);
    run->dayLogUnreadable = !loaded;
    if (!loaded) Report(loaded.reason);
}

void DrawChart(DailyRun* run) {
    DrawChartOf(ChartInputFor(run->settings, run->screenGeometry,
                              LoadedRecords(run->RecordBuffer, run->recordCount)),
                &run->renderThread.surface);
}

Outcome SaveSnapshotGif(DailyRun* run) {
    // Named after the day whose log was drawn: a run that starts just before midnight must not
    // save its day under the next day's name, where the next day's run would replace it.
    Outcome saved =
        SaveSnapshotTo(run->frameBitmap,
                       SnapshotPath(run->CaptureMode, run->paths.ExeFolder, run->paths.StartTime));
    FreeFrameBitmap(run->frameBitmap);
    run->frameBitmap = nullptr;
    return saved;
}

Outcome WriteSummaryFile(DailyRun* run) {
    return WriteSummaryFileTo("Z.TXT", LoadedRecords(run->RecordBuffer, run->recordCount));
}

}  // namespace talvor
