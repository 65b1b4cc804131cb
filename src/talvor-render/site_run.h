// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-render --site: the website that the drawn days go into, set up before anything is drawn
// and finished (months, index, manifest) after the last day.
#pragma once

#include <string>
#include <vector>

#include "site/site.h"
#include "talvor-render/output_plan.h"
#include "talvor-render/render_run.h"

namespace talvor {

struct SiteRun {
    SiteFolder folder;
    SiteLook look;
    std::string webFolder;    // the pages' scripts and style
    std::string stationsCsv;  // STATIONS.CSV beside the configuration
    std::string siteUrl;      // --site-url, checked; empty: the address the site keeps
    StationList stations;     // read once, before the days
};

// Opens the request's site folder and checks every file the days will take; why not, said
// through the reporter too, when the folder cannot hold the site or a file there is not the
// program's own.
Outcome StartSiteRun(const RenderRequest& request, const RenderRun& render,
                     const std::vector<DayJob>& jobs, SiteRun* run);

// Writes a drawn day from the loaded day log and its frame, and what early began on them while
// the day was drawn (nullptr: nothing); why not, said through the reporter too.
Outcome WriteDrawnDay(SiteRun* run, RenderRun* render, const DayJob& job, const FrameBitmap& frame,
                      SiteDayEarly* early = nullptr);

// The months of the days written (by this process or its workers), the index and the manifest.
Outcome FinishSiteRun(SiteRun* run, const std::vector<std::string>& writtenDays);

// For a station that has logged no day yet (its data folder empty or not made yet): a site whose
// index says so, with a message; kExitOk when it was written. A data folder that cannot be read
// is no empty station: kExitFailed after the reason.
int WriteSiteWithoutDays(const RenderRequest& request, const RenderRun& render);

}  // namespace talvor
