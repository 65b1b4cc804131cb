// SPDX-License-Identifier: GPL-3.0-or-later
// The station's archive as a static website: a page per drawn day, a page per month, an index,
// and the pages' own scripts, written into a folder that any web server can serve as it is.
// Days are written by whichever process drew them; the months and the index follow once all
// days are done.
#pragma once

#include <chrono>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "heard/carriers.h"
#include "platform/outcome.h"
#include "site/day_digest.h"
#include "site/site_folder.h"
#include "site/site_pages.h"
#include "site/station_list.h"

namespace talvor {

struct FrameBitmap;
struct SpotTable;

// What a day's site makes of its log and records alone (the log's gzip copy, the levels, the
// carriers, the quarter-hour peaks), begun on a thread of its own as soon as the log is loaded,
// while the day is drawn on the processor's other core: drawing leaves it idle for about as long
// as this takes. WriteSiteDay takes the results; an object that goes out of scope unused waits
// for its thread. The records must stay as they are until then.
struct SiteDayEarly {
    SiteDayEarly() = default;
    SiteDayEarly(const SiteDayEarly&) = delete;
    SiteDayEarly& operator=(const SiteDayEarly&) = delete;
    ~SiteDayEarly();
    // Waits for the thread; true when the results are there (false: not begun, or no thread).
    bool Finish();

    struct Made {
        std::string logGz, peaks;
        EncodedLevels levels;
        std::vector<Carrier> carriers;
        Outcome logCopied, levelsMade, peaksMade;
    } made;
    std::thread thread;
    bool begun = false;
    std::exception_ptr thrown;  // what its thread threw (out of memory), thrown by Finish
};
// Begins the work of *early for the log at logPath and its loaded records; without a thread of
// its own, nothing is begun and WriteSiteDay does it all.
void BeginSiteDay(const std::string& logPath, RecordSpan records, SiteDayEarly* early);

// One drawn day: its log (still loaded), its frame and the spots its level field was put
// together from (nullptr when it has no field).
struct SiteDayInput {
    std::string logPath;
    RecordSpan records;
    const FrameBitmap* frame = nullptr;
    const SpotTable* spots = nullptr;
    DayDataInput data;                      // its day, and where the chart put the levels
    const StationList* stations = nullptr;  // named in its list of carriers; nullptr: none
    SiteDayEarly* early = nullptr;          // begun for these records; nullptr: none
};

// Asked before anything is drawn: true when every file that these days, their months and the
// index take may be written (see MayWrite); else the first refusal, the file named.
Outcome SiteMayWriteDays(const SiteFolder& site, const std::vector<std::chrono::sys_days>& days,
                         const std::string& webFolder);
// The same check, and then every one of those names claimed in the manifest (ClaimSiteNames)
// before anything is drawn, so that the worker processes of a range find their names claimed.
Outcome ClaimSiteDays(SiteFolder* site, const std::vector<std::chrono::sys_days>& days,
                      const std::string& webFolder);

// Writes one day's folder; when a file of it was not written, the first such file's reason, said
// through the reporter too. The day log's copy holds at most a day's records (kMaxDayLogRecords):
// a longer file is cut there, and said so. The files that earlier versions wrote for a day and
// this one no longer does (kRetiredDayFiles) are removed once its page is written.
Outcome WriteSiteDay(SiteFolder* site, const SiteDayInput& input, const SiteLook& look);

// After the days: the pages of the months of the updated days, the lists of carriers of the
// updated days and of the week after each (whose new carriers they may change), the index, the
// list of days, the feed and the site's settings (siteUrl, when not empty, replacing the address
// kept), the station list (from stationsCsv when it exists, read up to kStationListMaxBytes) and
// the pages' scripts from webFolder, then the manifest; last, the temporaries that a worker
// process killed on the way left. Incomplete when any of them was not written (each said through
// the reporter).
Outcome FinishSite(SiteFolder* site, const std::vector<std::chrono::sys_days>& updated,
                   const SiteLook& look, const std::string& webFolder,
                   const std::string& stationsCsv, const std::string& siteUrl = "");

// The stations of stationsCsv for the days' lists of carriers, read before the days are drawn;
// none where it cannot be read (the station list's own file, written once the days are, says
// why).
StationList SiteStations(const std::string& stationsCsv);

// Where the pages' scripts and style are: share/talvor/web beside the installed program's
// folder, else the source tree's web folder that the program was built from.
std::string SiteWebFolder(const std::string& executablePath);

}  // namespace talvor
