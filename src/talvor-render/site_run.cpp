// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-render/site_run.h"

#include <filesystem>
#include <system_error>

#include "calendar/calendar.h"
#include "daylog/day_log.h"
#include "frame/frame_bitmap.h"
#include "platform/clock.h"
#include "platform/folder_files.h"
#include "platform/process.h"
#include "render/chart.h"
#include "render/spot_measurement.h"
#include "report/report.h"
#include "talvor-render/run_report.h"

namespace talvor {

Outcome StartSiteRun(const RenderRequest& request, const RenderRun& render,
                     const std::vector<DayJob>& jobs, SiteRun* run) {
    // systemctl stop, a unit's time-out or Ctrl-C must not leave half-written files to be
    // published.
    RemoveTemporariesOnStopSignals();
    if (Outcome opened = OpenSiteFolder(request.siteFolder, &run->folder); !opened) {
        opened = FailedLike(
            opened, "cannot write the site in " + request.siteFolder + ": " + opened.reason);
        Report(opened.reason);
        return opened;
    }
    run->webFolder = SiteWebFolder(GetExecutablePath(request.program.c_str()));
    std::vector<std::chrono::sys_days> days;
    for (const DayJob& job : jobs) days.push_back(DayOf(job.day));
    // Claimed before anything is drawn, and so before the workers start: what they write is in
    // the manifest already, whatever becomes of them.
    if (Outcome allowed = ClaimSiteDays(&run->folder, days, run->webFolder); !allowed) {
        allowed = FailedLike(allowed,
                             "cannot write the site: " + allowed.reason + "; nothing was written");
        Report(allowed.reason);
        return allowed;
    }
    run->look.location = render.settings.locationName;
    run->look.frameWidth = render.screenGeometry.screenWidth;
    run->look.frameHeight = render.screenGeometry.screenHeight;
    run->look.sensitivity = render.settings.sensitivity;
    run->look.colourMode = render.settings.colourMode;
    run->siteUrl = request.siteUrl;
    run->stationsCsv = FolderOf(render.paths.ConfigFilePath) + "/STATIONS.CSV";
    run->stations = SiteStations(run->stationsCsv);
    return Succeeded();
}

Outcome WriteDrawnDay(SiteRun* run, RenderRun* render, const DayJob& job, const FrameBitmap& frame,
                      SiteDayEarly* early) {
    const ScreenGeometry& screenGeometry = render->screenGeometry;
    const Settings& settings = render->settings;
    SiteDayInput input;
    input.logPath = job.logPath;
    input.records = LoadedRecords(render->RecordBuffer, render->recordCount);
    input.frame = &frame;
    // The spots the chart's field was just put together from, as measured on this surface.
    if (RowsToDraw(render->recordCount, screenGeometry.chartHeight) > 0) {
        input.spots = &SurfaceSpotTable(
            &render->surface.spots,
            ChartFieldChannels(ChartInputFor(settings, screenGeometry, input.records)),
            screenGeometry.screenWidth, screenGeometry.screenHeight);
    }
    input.data.day = DayOf(job.day);
    input.data.frameWidth = frame.width;
    input.data.frameHeight = frame.height;
    input.data.xOrigin = screenGeometry.chartXOrigin;
    input.data.drawnRows = RowsToDraw(render->recordCount, screenGeometry.chartHeight);
    input.data.sensitivity = settings.sensitivity;
    input.data.colourMode = settings.colourMode;
    input.data.channelSpacing = settings.channelSpacing;
    input.stations = &run->stations;
    input.early = early;
    return WriteSiteDay(&run->folder, input, run->look);
}

Outcome FinishSiteRun(SiteRun* run, const std::vector<std::string>& writtenDays) {
    std::vector<std::chrono::sys_days> days;
    for (const std::string& text : writtenDays) {
        UtcTime day;
        if (!ParseDate(text, &day)) continue;
        days.push_back(DayOf(day));
    }
    return FinishSite(&run->folder, days, run->look, run->webFolder, run->stationsCsv,
                      run->siteUrl);
}

int WriteSiteWithoutDays(const RenderRequest& request, const RenderRun& render) {
    const std::string& dataFolder = render.paths.DataFolder;
    std::error_code error;
    std::filesystem::directory_iterator listing(dataFolder, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        Report("cannot read the data folder " + dataFolder + ": " + error.message());
        return kExitFailed;
    }
    SiteRun run;
    if (!StartSiteRun(request, render, {}, &run) || !FinishSiteRun(&run, {})) return kExitFailed;
    Report("no day log in " + dataFolder + " yet; the site's index says so");
    return kExitOk;
}

}  // namespace talvor
