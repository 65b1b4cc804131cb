// SPDX-License-Identifier: GPL-3.0-or-later
#include "tool/site_run.h"

#include <filesystem>
#include <system_error>

#include "config/settings.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "platform/folder_files.h"
#include "platform/process.h"
#include "render/chart.h"
#include "render/spot_measurement.h"
#include "station/calendar.h"
#include "station/frame_bitmap.h"
#include "station/report.h"
#include "station/run_state.h"
#include "tool/run_report.h"

bool StartSiteRun(const RenderRequest& request, const std::vector<DayJob>& jobs, SiteRun* run) {
    // systemctl stop, a unit's time-out or Ctrl-C must not leave half-written files to be
    // published.
    RemoveTemporariesOnStopSignals();
    if (Outcome opened = OpenSiteFolder(request.siteFolder, &run->folder); !opened) {
        Report("cannot write the site in " + request.siteFolder + ": " + opened.reason);
        return false;
    }
    run->webFolder = SiteWebFolder(GetExecutablePath(request.program.c_str()));
    std::vector<std::chrono::sys_days> days;
    for (const DayJob& job : jobs) days.push_back(DayOf(job.day));
    // Claimed before anything is drawn, and so before the workers start: what they write is in
    // the manifest already, whatever becomes of them.
    if (Outcome allowed = ClaimSiteDays(&run->folder, days, run->webFolder); !allowed) {
        Report("cannot write the site: " + allowed.reason + "; nothing was written");
        return false;
    }
    run->look.location = settings.locationName;
    run->look.frameWidth = screenGeometry.screenWidth;
    run->look.frameHeight = screenGeometry.screenHeight;
    run->look.sensitivity = settings.sensitivity;
    run->look.colourMode = settings.colourMode;
    run->siteUrl = request.siteUrl;
    run->stationsCsv = FolderOf(runPaths.ConfigFilePath) + "/STATIONS.CSV";
    run->stations = SiteStations(run->stationsCsv);
    return true;
}

bool WriteDrawnDay(SiteRun* run, const DayJob& job, const FrameBitmap& frame) {
    SiteDayInput input;
    input.logPath = job.logPath;
    input.records = {RecordAt(0), recordCount};
    input.frame = &frame;
    // The spots the chart's field was just put together from, as measured on this surface.
    if (RowsToDraw(recordCount, screenGeometry.chartHeight) > 0) {
        input.spots =
            &SurfaceSpotTable(FieldChannels(DailyChartInput().range, screenGeometry.chartXOrigin),
                              screenGeometry.screenWidth, screenGeometry.screenHeight);
    }
    input.data.day = DayOf(job.day);
    input.data.frameWidth = frame.width;
    input.data.frameHeight = frame.height;
    input.data.xOrigin = screenGeometry.chartXOrigin;
    input.data.drawnRows = RowsToDraw(recordCount, screenGeometry.chartHeight);
    input.data.sensitivity = settings.sensitivity;
    input.data.colourMode = settings.colourMode;
    input.data.channelSpacing = settings.channelSpacing;
    input.stations = &run->stations;
    return WriteSiteDay(&run->folder, input, run->look);
}

bool FinishSiteRun(SiteRun* run, const std::vector<std::string>& writtenDays) {
    std::vector<std::chrono::sys_days> days;
    for (const std::string& text : writtenDays) {
        UtcTime day;
        if (!ParseDate(text, &day)) continue;
        days.push_back(DayOf(day));
    }
    return FinishSite(&run->folder, days, run->look, run->webFolder, run->stationsCsv,
                      run->siteUrl);
}

int WriteSiteWithoutDays(const RenderRequest& request) {
    std::error_code error;
    std::filesystem::directory_iterator listing(runPaths.DataFolder, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        Report("cannot read the data folder " + runPaths.DataFolder + ": " + error.message());
        return kExitFailed;
    }
    SiteRun run;
    if (!StartSiteRun(request, {}, &run) || !FinishSiteRun(&run, {})) return kExitFailed;
    Report("no day log in " + runPaths.DataFolder + " yet; the site's index says so");
    return kExitOk;
}
