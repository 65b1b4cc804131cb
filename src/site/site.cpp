// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/site.h"

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "calendar/calendar.h"
#include "frame/frame_bitmap.h"
#include "output/snapshot.h"
#include "output/summary.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folder_files.h"
#include "site/channel_month.h"
#include "site/day_chart.h"
#include "site/day_heard.h"
#include "site/site_feed.h"
#include "site/site_images.h"
#include "site/station_list.h"

namespace talvor {

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

const char kIndexPage[] = "index.html";
const char kDaysScript[] = "days.js";
const char kStationsScript[] = "stations.js";
const char kFeed[] = "feed.xml";
const char kAssets[] = "assets/";
// The most of a file of the pages' own that is read; they are some kilobytes.
constexpr size_t kWebFileMaxBytes = size_t{16} << 20;
constexpr size_t kDigestMaxBytes = 4096;
// A day's folder keeps what later runs need of its log in one file, flushed to the disk once: its
// carriers (day_heard.h), then its quarter-hour peaks (channel_month.h), some 50 KB; peaks ten
// times that are not the program's.
const char kKeptFile[] = "heard.txt";
constexpr size_t kKeptMaxBytes = kCarriersMaxBytes + (size_t{1} << 20);
// The index lists what was heard on the latest days with a log.
constexpr size_t kIndexHeardDays = 7;
constexpr size_t kDayLogMaxBytes = size_t{kMaxDayLogRecords} * kDayLogRecordSize;

year_month MonthOf(sys_days day) {
    year_month_day date{day};
    return date.year() / date.month();
}

std::string DayFile(sys_days day, const char* file) {
    return DayFolderName(day) + "/" + file;
}

// The day log as a gzip file, as a listener's tools unpack it. A day log is some 7 MB, and a
// year's site packs 365 of them: libdeflate packs it in less than half of zlib's time. Its
// fastest level takes 25 ms on a generated day where level 2 took 42 ms, the largest single cost
// of a day's site, for 8 to 11 % more bytes (1.78 MB against 1.60 on the benchmark's day) and
// 4 % on a logged one: a day's folder stays within 3.5 MiB. Level 3 takes as long as 2 for 3 %
// fewer, the levels above twice the time and more.
constexpr int kDayLogGzipLevel = 1;

Outcome Gzip(const std::string& bytes, std::string* out) {
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(kDayLogGzipLevel), libdeflate_free_compressor);
    // libdeflate's one reason for no compressor at a valid level.
    if (compressor == nullptr) return Failed(FailureKind::OutOfMemory, "libdeflate: out of memory");
    // The bound is the whole log and more, a quarter of which is used: left unset, the rest
    // of it is never touched (a string's resize cleared all 7 MB of it, page by page).
    const size_t bound = libdeflate_gzip_compress_bound(compressor.get(), bytes.size());
    std::unique_ptr<char[]> packed(new (std::nothrow) char[bound]);
    if (packed == nullptr) return Failed(FailureKind::OutOfMemory);
    size_t size =
        libdeflate_gzip_compress(compressor.get(), bytes.data(), bytes.size(), packed.get(), bound);
    out->assign(packed.get(), size);
    if (size == 0) {
        return Failed(FailureKind::Compressor, "libdeflate: the packed log did not fit its bound");
    }
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

// The line that parts the kept file's carriers from its peaks, with the line end before it.
std::string PeaksHeaderLine() {
    return std::string(1, '\n') + kPeaksHeader + '\n';
}

// The kept file's carriers and peaks; false when it holds no peaks.
bool SplitKeptText(const std::string& text, std::string* carriers, std::string* peaks) {
    const std::string header = PeaksHeaderLine();
    size_t at = text.find(header);
    if (at == std::string::npos) return false;
    *carriers = text.substr(0, at + 1);
    *peaks = text.substr(at + 1);
    return true;
}

// The month's channel view: its days' quarter-hour peaks, as each day's folder keeps them, in
// a script a range of kHz. A day drawn by an older version has no such file and shows no levels.
bool WriteChannelMonth(SiteFolder* site, year_month month, const std::vector<sys_days>& days,
                       const SiteLook& look) {
    unsigned count = unsigned((month / last).day());
    std::vector<DayPeaks> kept(count);
    std::vector<const DayPeaks*> rows(count, nullptr);
    for (sys_days d : days) {
        if (MonthOf(d) != month) continue;
        unsigned n = unsigned(year_month_day{d}.day());
        std::string text, carriers, peaks;
        if (!ReadSiteFile(*site, DayFile(d, kKeptFile), kKeptMaxBytes, &text)) continue;
        if (!SplitKeptText(text, &carriers, &peaks) || !ParsePeaksText(peaks, &kept[n - 1])) {
            ReportSiteProblem(site->path + "/" + DayFile(d, kKeptFile) +
                              ": no quarter-hour peaks in it; the month shows no levels of that "
                              "day until it is drawn again");
            continue;
        }
        rows[n - 1] = &kept[n - 1];
    }
    std::string folder = MonthFolderName(month) + "/";
    bool all = bool(PutSiteFile(site, folder + "data.js",
                                MonthDataScript(month, rows, look.sensitivity, look.colourMode)));
    for (int r = 0; r < kPeakRanges && all; ++r) {
        all = bool(PutSiteFile(site, folder + PeaksScriptName(r), MonthPeaksScript(r, rows)));
    }
    return all;
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
    if (Outcome made = PropagationCalendarPng(rows, &png); !made) {
        ReportSiteProblem("cannot make " + site->path + "/" + folder +
                          "activity.png: " + made.reason);
        return false;
    }
    return PutSiteFile(site, folder + "activity.png", png) &&
           WriteChannelMonth(site, month, days, look) &&
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

// STATIONS.CSV's text, empty where there is none.
Outcome ReadStationsText(const std::string& stationsCsv, std::string* text) {
    text->clear();
    if (stationsCsv.empty() || !PathExists(stationsCsv.c_str())) return Succeeded();
    // Read only so far: a list of any real size fits many times over.
    return ReadSmallFile(stationsCsv.c_str(), kStationListMaxBytes, text);
}

bool WriteStations(SiteFolder* site, const std::string& stationsCsv, StationList* stations) {
    StationList& list = *stations;
    std::string text;
    if (Outcome read = ReadStationsText(stationsCsv, &text); !read) {
        ReportSiteProblem("cannot read " + stationsCsv + ": " + read.reason +
                          "; the readout names no stations");
    } else {
        list = ParseStationList(text);
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
    return bool(PutSiteFile(site, kStationsScript, script));
}

// Every file that the days, their months and the index take.
std::vector<std::string> NamesOfDays(const std::vector<sys_days>& days,
                                     const std::string& webFolder) {
    std::vector<std::string> names = {kIndexPage, kDaysScript, kStationsScript, kFeed,
                                      kSiteSettingsName};
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
        names.push_back(MonthFolderName(m) + "/data.js");
        for (int r = 0; r < kPeakRanges; ++r) {
            names.push_back(MonthFolderName(m) + "/" + PeaksScriptName(r));
        }
    }
    return names;
}

// The carriers the site keeps of its days, each day's file read once. A day drawn by an older
// version has none, and counts as a day without a log.
struct KeptCarriers {
    const SiteFolder* site;
    std::map<sys_days, std::optional<KeptDay>> read;

    const KeptDay* Of(sys_days day) {
        auto found = read.find(day);
        if (found != read.end()) return found->second ? &*found->second : nullptr;
        std::optional<KeptDay>& kept = read[day];
        std::string name = DayFile(day, kKeptFile), text, carriers, peaks;
        if (!SiteFileExists(*site, name)) return nullptr;
        KeptDay loaded;
        loaded.heard.day = day;
        // Its carriers only: the peaks after them, some 40 KB, are the month's, and the index,
        // the feed and the lists read the carriers of some 70 days on every update.
        if (!ReadSiteFileThrough(*site, name, PeaksHeaderLine(), kKeptMaxBytes, &text) ||
            !SplitKeptText(text, &carriers, &peaks) ||
            !ParseCarriersText(carriers, &loaded.heard.carriers, &loaded.lastMinute)) {
            ReportSiteProblem(site->path + "/" + name +
                              ": not a list of carriers; the day counts as not logged until it "
                              "is drawn again");
            return nullptr;
        }
        kept = std::move(loaded);
        return &*kept;
    }
    // The day's carriers marked new against the kept days of the week before it.
    void MarkNew(HeardDay* day) {
        std::vector<HeardDay> earlier;
        for (int back = 1; back <= kNewCarrierDays; ++back) {
            if (const KeptDay* before = Of(day->day - days(back))) earlier.push_back(before->heard);
        }
        MarkNewCarriers(day, earlier);
    }
    // The day's own kept carriers, so marked.
    std::optional<KeptDay> Marked(sys_days day) {
        const KeptDay* kept = Of(day);
        if (kept == nullptr) return std::nullopt;
        KeptDay marked = *kept;
        MarkNew(&marked.heard);
        return marked;
    }
};

}  // namespace

Outcome SiteMayWriteDays(const SiteFolder& site, const std::vector<sys_days>& days,
                         const std::string& webFolder) {
    for (const std::string& name : NamesOfDays(days, webFolder)) {
        if (Outcome allowed = MayWrite(site, name); !allowed) {
            return FailedLike(allowed, site.path + "/" + name + ": " + allowed.reason);
        }
    }
    return Succeeded();
}

Outcome ClaimSiteDays(SiteFolder* site, const std::vector<sys_days>& days,
                      const std::string& webFolder) {
    return ClaimSiteNames(site, NamesOfDays(days, webFolder));
}

// The day's last minute with a record; -1 for a log without any.
int LastLoggedMinute(RecordSpan records) {
    int lastMinute = -1;
    for (int k = 0; k < records.count; ++k) {
        lastMinute = std::max(lastMinute, MinuteOfDay(records.At(k), k));
    }
    return lastMinute;
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

// Runs every task, this thread and one more each taking the next as it ends its last: the day's
// pieces take from 3 to 35 ms each, and whichever of them a change makes faster or slower, the
// two threads end within a piece of each other. Without a second thread, this one runs them all.
// What a task on the other thread throws (out of memory) is thrown here, as if run here.
void RunInTurn(const std::vector<std::function<void()>>& tasks) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < tasks.size(); i = next++) tasks[i]();
    };
    std::exception_ptr thrown;
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                work();
            } catch (...) {
                thrown = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
    }
    std::exception_ptr ownThrown;
    try {
        work();
    } catch (...) {
        ownThrown = std::current_exception();
    }
    if (helper.joinable()) helper.join();
    if (ownThrown) std::rethrow_exception(ownThrown);
    if (thrown) std::rethrow_exception(thrown);
}

namespace {

// The work of SiteDayEarly, in pieces, the longest first.
std::vector<std::function<void()>> RecordTasks(const std::string& logPath, RecordSpan records,
                                               SiteDayEarly::Made* made) {
    return {
        [=] {
            std::string log;
            made->logCopied = ReadDayLogCopy(logPath, &log);
            if (made->logCopied) made->logCopied = Gzip(log, &made->logGz);
        },
        [=] { made->levelsMade = EncodeLevels(records, &made->levels); },
        // With the rules' defaults as talvor-render --heard has them; which of the carriers are
        // new is told once every day of the run is written (FinishSite).
        [=] { made->carriers = FindCarriers(records, CarrierRules{}); },
        [=] { made->peaksMade = PeaksText(QuarterPeaksOf(records), &made->peaks); },
    };
}

}  // namespace

void BeginSiteDay(const std::string& logPath, RecordSpan records, SiteDayEarly* early) {
    if (early->thread.joinable()) early->thread.join();
    early->begun = false;
    early->thrown = nullptr;
    early->made = {};
    try {
        early->thread = std::thread([early, tasks = RecordTasks(logPath, records, &early->made)] {
            try {
                for (const std::function<void()>& task : tasks) task();
            } catch (...) {
                early->thrown = std::current_exception();
            }
        });
        early->begun = true;
    } catch (const std::system_error&) {
    }
}

bool SiteDayEarly::Finish() {
    if (thread.joinable()) thread.join();
    if (thrown) {
        begun = false;
        std::rethrow_exception(std::exchange(thrown, nullptr));
    }
    return begun;
}

SiteDayEarly::~SiteDayEarly() {
    if (thread.joinable()) thread.join();
}

Outcome WriteSiteDay(SiteFolder* site, const SiteDayInput& input, const SiteLook& look) {
    sys_days day = input.data.day;
    std::string folder = site->path + "/" + DayFolderName(day) + "/";
    // What needs only the frame, the records or the log, made on two threads, but for what was
    // begun while the day was drawn. It stays in memory: every file of the site is made by the
    // writer, in the folder it opened and checked.
    std::vector<unsigned char> gif, thumb;
    std::string chart;
    Outcome gifMade, thumbMade, chartMade;
    DayChartInput chartInput;
    chartInput.frame = input.frame;
    chartInput.spots = input.spots;
    chartInput.records = input.records;
    chartInput.rows = input.data.drawnRows;
    chartInput.sensitivity = float(input.data.sensitivity);
    chartInput.colourMode = input.data.colourMode;
    SiteDayEarly::Made own;
    SiteDayEarly::Made* fromRecords = &own;
    const bool begun = input.early != nullptr && input.early->begun;
    std::vector<std::function<void()>> tasks = {
        [&] { gifMade = EncodeFrameGif(*input.frame, &gif); },
        [&] { chartMade = DayChartScript(chartInput, &chart); },
        [&] { thumbMade = ThumbnailPng(*input.frame, &thumb); },
    };
    if (!begun) {
        // Among the others, the longest first, so that the last to start are short.
        std::vector<std::function<void()>> more = RecordTasks(input.logPath, input.records, &own);
        tasks = {tasks[0], more[0], tasks[1], more[1], more[2], tasks[2], more[3]};
    }
    RunInTurn(tasks);
    if (begun) {
        input.early->Finish();
        fromRecords = &input.early->made;
    }
    HeardDay heard{day, std::move(fromRecords->carriers)};
    const Outcome& logCopied = fromRecords->logCopied;
    const std::string& logGz = fromRecords->logGz;

    DayDigest digest = DigestDay(input.records);
    std::vector<unsigned char> strip;
    Outcome stripMade = ActivityStripPng(digest, &strip);
    std::string carriers = CarriersText(heard.carriers, LastLoggedMinute(input.records));
    // Marked against the days the site has now: in a range drawn by workers a day of the week
    // before may still be on its way, and the list is put right once every day is written.
    KeptCarriers kept{site, {}};
    kept.MarkNew(&heard);
    static const StationList kNoStations;
    std::string heardScript =
        HeardScript(heard, input.stations != nullptr ? *input.stations : kNoStations);
    if (!logCopied) {
        Outcome copied = FailedLike(logCopied, "cannot copy day log " + input.logPath + " into " +
                                                   folder + ": " + logCopied.reason);
        ReportSiteProblem(copied.reason);
        return copied;
    }
    struct {
        const char* file;
        Outcome made;
    } const made[] = {
        {"chart.gif", gifMade},   {"chart.js", chartMade},  {"levels.js", fromRecords->levelsMade},
        {"thumb.png", thumbMade}, {"strip.png", stripMade}, {kKeptFile, fromRecords->peaksMade},
    };
    for (const auto& m : made) {
        if (!m.made) {
            Outcome failed =
                FailedLike(m.made, "cannot make " + folder + m.file + ": " + m.made.reason);
            ReportSiteProblem(failed.reason);
            return failed;
        }
    }
    std::string summary = SummaryFileText(input.records);
    // In order, up to the first that fails: its reason is the day's.
    Outcome written;
    auto put = [&](const char* file, const auto& bytes) {
        if (written) written = PutSiteFile(site, DayFile(day, file), bytes);
    };
    put("chart.gif", gif);
    put("thumb.png", thumb);
    put("strip.png", strip);
    put("VOK.LOG.gz", logGz);
    put("summary.txt", summary);
    put("day.txt", DigestText(digest));
    put(kKeptFile, carriers + fromRecords->peaks);
    put("heard.js", heardScript);
    put("levels.js", LevelsScript(fromRecords->levels));
    put("chart.js", chart);
    put("data.js", DayDataScript(input.data, input.records, fromRecords->levels));
    if (!written) return written;
    std::vector<DayDownload> links = {
        {"chart.gif", DayGifName(day), "the day's picture", gif.size()},
        {"", DayPngName(day), "the same picture, lossless, as your browser makes it from the chart",
         0},
        {"VOK.LOG.gz", DayLogGzName(day), "the day log, gzip-compressed", logGz.size()},
        {"summary.txt", DaySummaryName(day), "the quarter-hour summary (Z.TXT)", summary.size()},
    };
    // The page last: once it is there, everything it points at is.
    if (Outcome page =
            PutSiteFile(site, DayFile(day, "index.html"), DayPageHtml(day, digest, look, links));
        !page) {
        return page;
    }
    // What the page of an earlier version pointed at, gone only now that it points elsewhere.
    // Every one is tried; the first that stays gives the day's reason.
    Outcome removed;
    for (const char* file : kRetiredDayFiles) {
        Outcome gone = RemoveSiteFile(site, DayFile(day, file));
        if (removed) removed = gone;
    }
    return removed;
}

namespace {

// The day pages' lists: of the days written, of the week after each (whose new carriers they
// may have changed; a list whose bytes stay is not written again), and of any day that lacks
// its list (a run stopped before its end).
bool WriteHeardLists(SiteFolder* site, const std::vector<sys_days>& updated,
                     const std::vector<sys_days>& days, KeptCarriers* kept,
                     const StationList& stations) {
    std::set<sys_days> listed;
    for (sys_days u : updated) {
        for (int after = 0; after <= kNewCarrierDays; ++after) {
            listed.insert(u + std::chrono::days(after));
        }
    }
    bool all = true;
    for (sys_days d : days) {
        if (listed.count(d) == 0 && SiteFileExists(*site, DayFile(d, "heard.js"))) continue;
        if (std::optional<KeptDay> marked = kept->Marked(d)) {
            all = PutSiteFile(site, DayFile(d, "heard.js"), HeardScript(marked->heard, stations)) &&
                  all;
        }
    }
    return all;
}

// The latest days with carriers kept, newest first, as many as the feed takes, with their new
// carriers marked: the index lists the first few.
std::vector<KeptDay> LatestKeptDays(const std::vector<sys_days>& days, KeptCarriers* kept) {
    std::vector<KeptDay> latest;
    for (auto d = days.rbegin(); d != days.rend() && latest.size() < size_t(kFeedDays); ++d) {
        if (std::optional<KeptDay> marked = kept->Marked(*d)) latest.push_back(std::move(*marked));
    }
    return latest;
}

std::string HeardLatelyHtml(const std::vector<KeptDay>& latest, const StationList& stations) {
    std::vector<const HeardDay*> lately;
    for (size_t i = 0; i < latest.size() && i < kIndexHeardDays; ++i) {
        lately.push_back(&latest[i].heard);
    }
    return lately.empty() ? "" : LatestHeardHtml(lately, stations);
}

// The settings kept with the site, the address given now replacing the one kept; false, after a
// message, when the kept file is not the program's.
bool SettleSiteSettings(SiteFolder* site, const std::string& siteUrl, SiteSettings* settings) {
    std::string text, why;
    if (SiteFileExists(*site, kSiteSettingsName)) {
        Outcome read = ReadSiteFile(*site, kSiteSettingsName, kSiteSettingsMaxBytes, &text);
        if (!read) why = read.reason;
        if (!read || !ParseSiteSettings(text, settings, &why)) {
            ReportSiteProblem("cannot read " + site->path + "/" + kSiteSettingsName + ": " + why +
                              "; the feed is not written (remove the file to start the feed "
                              "afresh, under new ids)");
            return false;
        }
    }
    if (!siteUrl.empty()) settings->url = siteUrl;
    if (settings->id.empty()) {
        if (Outcome made = NewSiteId(&settings->id); !made) {
            ReportSiteProblem("cannot make the feed's id: " + made.reason);
            return false;
        }
    }
    return bool(PutSiteFile(site, kSiteSettingsName, SiteSettingsText(*settings)));
}

bool WriteFeed(SiteFolder* site, const std::vector<KeptDay>& latest, const StationList& stations,
               const SiteLook& look, const std::string& siteUrl) {
    SiteSettings settings;
    if (!SettleSiteSettings(site, siteUrl, &settings)) return false;
    std::vector<const KeptDay*> entries;
    for (const KeptDay& k : latest) entries.push_back(&k);
    return bool(PutSiteFile(site, kFeed, FeedXml(entries, stations, look.location, settings)));
}

}  // namespace

Outcome FinishSite(SiteFolder* site, const std::vector<sys_days>& updated, const SiteLook& look,
                   const std::string& webFolder, const std::string& stationsCsv,
                   const std::string& siteUrl) {
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
    StationList stations;
    all = WriteStations(site, stationsCsv, &stations) && all;
    for (year_month m : months) all = WriteMonth(site, m, days, look) && all;
    KeptCarriers kept{site, {}};
    all = WriteHeardLists(site, updated, days, &kept, stations) && all;
    std::vector<KeptDay> latest = LatestKeptDays(days, &kept);
    all = PutSiteFile(site, kDaysScript, DaysScript(days)) && all;
    all = PutSiteFile(site, kIndexPage, IndexHtml(days, look, HeardLatelyHtml(latest, stations))) &&
          all;
    if (!days.empty()) {
        all = WriteFeed(site, latest, stations, look, siteUrl) && all;
    } else if (!siteUrl.empty()) {
        // A station without a day yet keeps the address for the feed of its first.
        SiteSettings settings;
        all = SettleSiteSettings(site, siteUrl, &settings) && all;
    }
    all = SaveManifest(site) && all;
    // Every worker has ended: what one that was killed was writing is nobody's any more.
    RemoveLeftoverTemporaries(*site);
    return all ? Succeeded() : Failed(FailureKind::Incomplete);
}

StationList SiteStations(const std::string& stationsCsv) {
    std::string text;
    return ReadStationsText(stationsCsv, &text) ? ParseStationList(text) : StationList{};
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

}  // namespace talvor
