// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/site.h"

#include <libdeflate.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <system_error>
#include <thread>

#include "output/snapshot.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folder_files.h"
#include "site/day_chart.h"
#include "site/site_images.h"
#include "site/station_list.h"
#include "station/calendar.h"
#include "station/frame_bitmap.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

const char kIndexPage[] = "index.html";
const char kDaysScript[] = "days.js";
const char kStationsScript[] = "stations.js";
const char kAssets[] = "assets/";
// The most of a file of the pages' own that is read; they are some kilobytes.
constexpr size_t kWebFileMaxBytes = size_t{16} << 20;
constexpr size_t kDigestMaxBytes = 4096;
constexpr size_t kDayLogMaxBytes = size_t{kMaxDayLogRecords} * kDayLogRecordSize;

year_month MonthOf(sys_days day) {
    year_month_day date{day};
    return date.year() / date.month();
}

std::string DayFile(sys_days day, const char* file) {
    return DayFolderName(day) + "/" + file;
}

// The day log as a gzip file, as a listener's tools unpack it. A day log is some 7 MB, and a
// year's site packs 365 of them: libdeflate packs it in less than half of zlib's time. Its level
// 2 takes half as long again as its fastest and leaves 9 % fewer bytes on a generated day (1.66
// MB of 1.81), 4 % on a logged one, the largest file of a day's folder; level 3 takes as long or
// longer for 3 % fewer, the levels above twice the time and more.
constexpr int kDayLogGzipLevel = 2;

Outcome Gzip(const std::string& bytes, std::string* out) {
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(kDayLogGzipLevel), libdeflate_free_compressor);
    // libdeflate's one reason for no compressor at a valid level.
    if (compressor == nullptr) return FailedWith(ENOMEM, "libdeflate: out of memory");
    out->resize(libdeflate_gzip_compress_bound(compressor.get(), bytes.size()));
    size_t size = libdeflate_gzip_compress(compressor.get(), bytes.data(), bytes.size(),
                                           out->data(), out->size());
    out->resize(size);
    if (size == 0) return FailedWith(EIO, "libdeflate: the packed log did not fit its bound");
    return Succeeded();
}

// Whether a name is a file that a day's folder ("yyyy-mm-dd/") no longer has.
bool IsRetiredDayFile(const std::string& name) {
    const size_t folder = DayFolderName(sys_days{}).size() + 1;
    return name.size() > folder && name[folder - 1] == '/' &&
           std::any_of(std::begin(kRetiredDayFiles), std::end(kRetiredDayFiles),
                       [&](const char* file) {
                           return name.compare(folder, std::string::npos, file) == 0;
                       });
}

// The days that have a page: the manifest lists every page written or about to be, so a page
// that a failed run never wrote is looked for.
std::vector<sys_days> DaysWithPages(const SiteFolder& site) {
    std::set<sys_days> days;
    for (const std::string& name : site.owned) {
        UtcTime date;
        if (name.size() == 21 && name.compare(10, 11, "/index.html") == 0 &&
            ParseDate(name.substr(0, 10), &date) && SiteFileExists(site, name)) {
            days.insert(DayOf(date));
        }
    }
    return {days.begin(), days.end()};
}

bool WriteMonth(SiteFolder* site, year_month month, const std::vector<sys_days>& days,
                const SiteLook& look) {
    std::map<int, DayDigest> digests;
    for (sys_days d : days) {
        if (MonthOf(d) != month) continue;
        std::string text;
        DayDigest digest;
        if (ReadSiteFile(*site, DayFile(d, "day.txt"), kDigestMaxBytes, &text) &&
            ParseDigestText(text, &digest)) {
            digests[int(unsigned(year_month_day{d}.day()))] = digest;
        }
    }
    unsigned count = unsigned((month / last).day());
    std::vector<const DayDigest*> rows(count, nullptr);
    for (const auto& [d, digest] : digests) rows[size_t(d - 1)] = &digest;
    std::vector<unsigned char> png;
    std::string folder = MonthFolderName(month) + "/";
    return PropagationCalendarPng(rows, &png) && PutSiteFile(site, folder + "activity.png", png) &&
           PutSiteFile(site, folder + kIndexPage,
                       MonthPageHtml(month, digests, look, NeighbourMonths(month, days)));
}

bool CopyWebFiles(SiteFolder* site, const std::string& webFolder) {
    std::error_code error;
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(webFolder, error)) {
        if (entry.is_regular_file(error)) names.push_back(entry.path().filename().string());
    }
    if (error || names.empty()) {
        ReportSiteProblem("cannot read the pages' scripts in " + webFolder +
                          (error ? ": " + error.message() : ": none there"));
        return false;
    }
    std::sort(names.begin(), names.end());
    bool all = true;
    for (const std::string& name : names) {
        std::string bytes;
        if (Outcome read =
                ReadSmallFile((webFolder + "/" + name).c_str(), kWebFileMaxBytes, &bytes);
            !read) {
            ReportSiteProblem("cannot read " + webFolder + "/" + name + ": " + read.reason);
            all = false;
            continue;
        }
        all = PutSiteFile(site, kAssets + name, bytes) && all;
    }
    return all;
}

bool WriteStations(SiteFolder* site, const std::string& stationsCsv) {
    StationList list;
    std::string text;
    if (!stationsCsv.empty() && PathExists(stationsCsv.c_str())) {
        // Read only so far: a list of any real size fits many times over.
        if (Outcome read = ReadSmallFile(stationsCsv.c_str(), kStationListMaxBytes, &text); !read) {
            ReportSiteProblem("cannot read " + stationsCsv + ": " + read.reason +
                              "; the readout names no stations");
        } else {
            list = ParseStationList(text);
        }
    }
    std::string script = StationListScript(list, text);
    // A daily timer mails what the run says: the skipped lines are told once, by the run that
    // first reads the file as it is now (the script carries the file's checksum), not every day.
    std::string before;
    bool unchanged = site->owned.count(kStationsScript) != 0 &&
                     ReadSiteFile(*site, kStationsScript, script.size() + 1, &before) &&
                     before == script;
    if (std::string skipped = SkippedLinesMessage(stationsCsv, list);
        !skipped.empty() && !unchanged) {
        ReportSiteProblem(skipped);
    }
    return PutSiteFile(site, kStationsScript, script);
}

// Every file that the days, their months and the index take.
std::vector<std::string> NamesOfDays(const std::vector<sys_days>& days,
                                     const std::string& webFolder) {
    std::vector<std::string> names = {kIndexPage, kDaysScript, kStationsScript};
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(webFolder, error)) {
        if (entry.is_regular_file(error))
            names.push_back(kAssets + entry.path().filename().string());
    }
    std::set<year_month> months;
    for (sys_days d : days) {
        for (const char* file : kDayFiles) names.push_back(DayFile(d, file));
        months.insert(MonthOf(d));
    }
    for (year_month m : months) {
        names.push_back(MonthFolderName(m) + "/" + kIndexPage);
        names.push_back(MonthFolderName(m) + "/activity.png");
    }
    return names;
}

}  // namespace

Outcome SiteMayWriteDays(const SiteFolder& site, const std::vector<sys_days>& days,
                         const std::string& webFolder) {
    for (const std::string& name : NamesOfDays(days, webFolder)) {
        if (Outcome allowed = MayWrite(site, name); !allowed) {
            return FailedWith(allowed.code, site.path + "/" + name + ": " + allowed.reason);
        }
    }
    return Succeeded();
}

Outcome ClaimSiteDays(SiteFolder* site, const std::vector<sys_days>& days,
                      const std::string& webFolder) {
    return ClaimSiteNames(site, NamesOfDays(days, webFolder));
}

// The day log as it is copied: at most what a day log holds, whatever the file's size says.
Outcome ReadDayLogCopy(const std::string& path, std::string* bytes) {
    int fd = -1;
    if (Outcome opened = OpenForReading(path.c_str(), &fd); !opened) return opened;
    bool longer = false;
    Outcome read = ReadPrefix(fd, kDayLogMaxBytes, bytes, &longer);
    CloseFile(fd);
    if (read && longer) {
        ReportSiteProblem(path + ": longer than a day log can be (" +
                          std::to_string(kMaxDayLogRecords) + " records of " +
                          std::to_string(kDayLogRecordSize) +
                          " bytes); the site's copy holds its first " +
                          std::to_string(kMaxDayLogRecords) + " records");
    }
    return read;
}

// The day's GIF and the day log's gzip copy, made on a thread of their own beside the rest of
// the day's files, which take about as long. They stay in memory: every file of the site is
// made by the writer, in the folder it opened and checked.
struct DayDownloads {
    std::string logPath;
    const FrameBitmap* frame = nullptr;
    std::vector<unsigned char> gif;
    std::string logGz;
    Outcome gifMade, logCopied;
};

void MakeDayDownloads(DayDownloads* downloads) {
    downloads->gifMade = EncodeFrameGif(*downloads->frame, &downloads->gif);
    std::string log;
    downloads->logCopied = ReadDayLogCopy(downloads->logPath, &log);
    if (downloads->logCopied) downloads->logCopied = Gzip(log, &downloads->logGz);
}

bool WriteSiteDay(SiteFolder* site, const SiteDayInput& input, const SiteLook& look) {
    sys_days day = input.data.day;
    std::string folder = site->path + "/" + DayFolderName(day) + "/";
    DayDownloads downloads;
    downloads.logPath = input.logPath;
    downloads.frame = input.frame;
    std::thread encoder;
    try {
        encoder = std::thread(MakeDayDownloads, &downloads);
    } catch (const std::system_error&) {
        MakeDayDownloads(&downloads);
    }

    DayDigest digest = DigestDay(input.records);
    EncodedLevels levels;
    std::vector<unsigned char> thumb, strip;
    std::string chart;
    Outcome levelsMade = EncodeLevels(input.records, &levels);
    DayChartInput chartInput;
    chartInput.frame = input.frame;
    chartInput.spots = input.spots;
    chartInput.records = input.records;
    chartInput.rows = input.data.drawnRows;
    chartInput.sensitivity = float(input.data.sensitivity);
    chartInput.colourMode = input.data.colourMode;
    Outcome chartMade = DayChartScript(chartInput, &chart);
    bool thumbMade = ThumbnailPng(*input.frame, &thumb);
    bool stripMade = ActivityStripPng(digest, &strip);
    if (encoder.joinable()) encoder.join();
    if (!downloads.logCopied) {
        ReportSiteProblem("cannot copy day log " + input.logPath + " into " + folder + ": " +
                          downloads.logCopied.reason);
        return false;
    }
    struct {
        const char* file;
        Outcome made;
    } const made[] = {
        {"chart.gif", downloads.gifMade},
        {"chart.js", chartMade},
        {"levels.js", levelsMade},
        {"thumb.png", thumbMade ? Succeeded() : FailedWith(EIO, "the PNG encoder failed")},
        {"strip.png", stripMade ? Succeeded() : FailedWith(EIO, "the PNG encoder failed")},
    };
    for (const auto& m : made) {
        if (!m.made) {
            ReportSiteProblem("cannot make " + folder + m.file + ": " + m.made.reason);
            return false;
        }
    }
    std::string summary = SummaryText(input.records);
    const std::string& logGz = downloads.logGz;
    bool written = PutSiteFile(site, DayFile(day, "chart.gif"), downloads.gif) &&
                   PutSiteFile(site, DayFile(day, "thumb.png"), thumb) &&
                   PutSiteFile(site, DayFile(day, "strip.png"), strip) &&
                   PutSiteFile(site, DayFile(day, "VOK.LOG.gz"), logGz) &&
                   PutSiteFile(site, DayFile(day, "summary.txt"), summary) &&
                   PutSiteFile(site, DayFile(day, "day.txt"), DigestText(digest)) &&
                   PutSiteFile(site, DayFile(day, "levels.js"), LevelsScript(levels)) &&
                   PutSiteFile(site, DayFile(day, "chart.js"), chart) &&
                   PutSiteFile(site, DayFile(day, "data.js"),
                               DayDataScript(input.data, input.records, levels));
    if (!written) return false;
    std::vector<DayDownload> links = {
        {"chart.gif", DayGifName(day), "the day's picture", downloads.gif.size()},
        {"", DayPngName(day), "the same picture, lossless, as your browser makes it from the chart",
         0},
        {"VOK.LOG.gz", DayLogGzName(day), "the day log, gzip-compressed", logGz.size()},
        {"summary.txt", DaySummaryName(day), "the quarter-hour summary (Z.TXT)", summary.size()},
    };
    // The page last: once it is there, everything it points at is.
    if (!PutSiteFile(site, DayFile(day, "index.html"), DayPageHtml(day, digest, look, links))) {
        return false;
    }
    // What the page of an earlier version pointed at, gone only now that it points elsewhere.
    bool removed = true;
    for (const char* file : kRetiredDayFiles) {
        removed = RemoveSiteFile(site, DayFile(day, file)) && removed;
    }
    return removed;
}

bool FinishSite(SiteFolder* site, const std::vector<sys_days>& updated, const SiteLook& look,
                const std::string& webFolder, const std::string& stationsCsv) {
    std::vector<sys_days> days = DaysWithPages(*site);
    std::set<year_month> months;
    for (sys_days d : updated) months.insert(MonthOf(d));
    auto hasPage = [&](year_month m) {
        return SiteFileExists(*site, MonthFolderName(m) + "/" + kIndexPage);
    };
    // A month whose page a failed run never wrote gets it now.
    for (sys_days d : days) {
        if (!hasPage(MonthOf(d))) months.insert(MonthOf(d));
    }
    // A month new to the site is new to the months beside it, whose pages link to it.
    std::set<year_month> beside;
    for (year_month m : months) {
        if (hasPage(m)) continue;
        MonthNeighbours neighbours = NeighbourMonths(m, days);
        if (neighbours.previous) beside.insert(*neighbours.previous);
        if (neighbours.next) beside.insert(*neighbours.next);
    }
    months.insert(beside.begin(), beside.end());
    // A worker process removes the files its days no longer have, but only this process keeps
    // the manifest: their names go here.
    for (auto name = site->owned.begin(); name != site->owned.end();) {
        name = IsRetiredDayFile(*name) && !SiteFileExists(*site, *name) ? site->owned.erase(name)
                                                                        : std::next(name);
    }
    bool all = CopyWebFiles(site, webFolder);
    all = WriteStations(site, stationsCsv) && all;
    for (year_month m : months) all = WriteMonth(site, m, days, look) && all;
    all = PutSiteFile(site, kDaysScript, DaysScript(days)) && all;
    all = PutSiteFile(site, kIndexPage, IndexHtml(days, look)) && all;
    all = SaveManifest(site) && all;
    // Every worker has ended: what one that was killed was writing is nobody's any more.
    RemoveLeftoverTemporaries(*site);
    return all;
}

std::string SiteWebFolder(const std::string& executablePath) {
    std::error_code error;
    fs::path program = fs::canonical(executablePath, error);
    if (!error) {
        fs::path installed = program.parent_path().parent_path() / "share/talvor/web";
        if (fs::is_directory(installed, error)) return installed.string();
    }
    return TALVOR_WEB_SOURCE_DIR;
}
