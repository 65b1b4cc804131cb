// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/site.h"

#include <libdeflate.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <system_error>
#include <thread>

#include "output/png_writer.h"
#include "output/snapshot.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folder_files.h"
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

// The day log as a gzip file, as a listener's tools unpack it. A day log is some 7 MB: at its
// fastest level libdeflate packs it in less than half of zlib's time, for about as many bytes,
// and a year's site packs 365 of them.
Outcome Gzip(const std::string& bytes, std::string* out) {
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(1), libdeflate_free_compressor);
    // libdeflate's one reason for no compressor at a valid level.
    if (compressor == nullptr) return Failed(FailureKind::OutOfMemory, "libdeflate: out of memory");
    out->resize(libdeflate_gzip_compress_bound(compressor.get(), bytes.size()));
    size_t size = libdeflate_gzip_compress(compressor.get(), bytes.data(), bytes.size(),
                                           out->data(), out->size());
    out->resize(size);
    if (size == 0) {
        return Failed(FailureKind::Compressor, "libdeflate: the packed log did not fit its bound");
    }
    return Succeeded();
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
    if (Outcome made = PropagationCalendarPng(rows, &png); !made) {
        ReportSiteProblem("cannot make " + site->path + "/" + folder +
                          "activity.png: " + made.reason);
        return false;
    }
    return PutSiteFile(site, folder + "activity.png", png) &&
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
    return bool(PutSiteFile(site, kStationsScript, script));
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
            return FailedLike(allowed, site.path + "/" + name + ": " + allowed.reason);
        }
    }
    return Succeeded();
}

Outcome ClaimSiteDays(SiteFolder* site, const std::vector<sys_days>& days,
                      const std::string& webFolder) {
    return ClaimSiteNames(site, NamesOfDays(days, webFolder));
}

// The day's two pictures, encoded on a thread of their own beside the rest of the day's files:
// both encoders take as long as all the others. Both stay in memory: every file of the site is
// made by the writer, in the folder it opened and checked.
struct DayPictures {
    std::vector<unsigned char> gif, png;
    Outcome gifMade, pngMade;
};

void MakeDayPictures(const FrameBitmap* frame, DayPictures* pictures) {
    pictures->gifMade = EncodeFrameGif(*frame, &pictures->gif);
    pictures->pngMade = EncodeFramePng(*frame, &pictures->png);
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

Outcome WriteSiteDay(SiteFolder* site, const SiteDayInput& input, const SiteLook& look) {
    sys_days day = input.data.day;
    std::string folder = site->path + "/" + DayFolderName(day) + "/";
    DayPictures pictures;
    std::thread encoder;
    try {
        encoder = std::thread(MakeDayPictures, input.frame, &pictures);
    } catch (const std::system_error&) {
        MakeDayPictures(input.frame, &pictures);
    }

    DayDigest digest = DigestDay(input.records);
    EncodedLevels levels;
    std::vector<unsigned char> thumb, strip;
    std::string log, logGz;
    Outcome copied = ReadDayLogCopy(input.logPath, &log);
    if (copied) copied = Gzip(log, &logGz);
    Outcome levelsMade = EncodeLevels(input.records, &levels);
    Outcome thumbMade = ThumbnailPng(*input.frame, &thumb);
    Outcome stripMade = ActivityStripPng(digest, &strip);
    if (encoder.joinable()) encoder.join();
    if (!copied) {
        copied = FailedLike(copied, "cannot copy day log " + input.logPath + " into " + folder +
                                        ": " + copied.reason);
        ReportSiteProblem(copied.reason);
        return copied;
    }
    struct {
        const char* file;
        Outcome made;
    } const made[] = {
        {"chart.gif", pictures.gifMade}, {"chart.png", pictures.pngMade},
        {"levels.bin", levelsMade},      {"thumb.png", thumbMade},
        {"strip.png", stripMade},
    };
    for (const auto& m : made) {
        if (!m.made) {
            Outcome failed =
                FailedLike(m.made, "cannot make " + folder + m.file + ": " + m.made.reason);
            ReportSiteProblem(failed.reason);
            return failed;
        }
    }
    const std::vector<unsigned char>& chart = pictures.png;
    std::string summary = SummaryText(input.records);
    // In order, up to the first that fails: its reason is the day's.
    Outcome written;
    auto put = [&](const char* file, const auto& bytes) {
        if (written) written = PutSiteFile(site, DayFile(day, file), bytes);
    };
    put("chart.gif", pictures.gif);
    put("chart.png", chart);
    put("thumb.png", thumb);
    put("strip.png", strip);
    put("VOK.LOG.gz", logGz);
    put("summary.txt", summary);
    put("day.txt", DigestText(digest));
    put("levels.bin", levels.deflated);
    put("levels.js", LevelsScript(levels));
    put("data.js", DayDataScript(input.data, input.records, levels));
    if (!written) return written;
    std::vector<DayDownload> downloads = {
        {"chart.gif", DayGifName(day), "the day's picture", pictures.gif.size()},
        {"chart.png", DayPngName(day), "the same picture, lossless", chart.size()},
        {"VOK.LOG.gz", DayLogGzName(day), "the day log, gzip-compressed", logGz.size()},
        {"summary.txt", DaySummaryName(day), "the quarter-hour summary (Z.TXT)", summary.size()},
    };
    // The page last: once it is there, everything it points at is.
    return PutSiteFile(site, DayFile(day, "index.html"), DayPageHtml(day, digest, look, downloads));
}

Outcome FinishSite(SiteFolder* site, const std::vector<sys_days>& updated, const SiteLook& look,
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
    bool all = CopyWebFiles(site, webFolder);
    all = WriteStations(site, stationsCsv) && all;
    for (year_month m : months) all = WriteMonth(site, m, days, look) && all;
    all = PutSiteFile(site, kDaysScript, DaysScript(days)) && all;
    all = PutSiteFile(site, kIndexPage, IndexHtml(days, look)) && all;
    all = SaveManifest(site) && all;
    // Every worker has ended: what one that was killed was writing is nobody's any more.
    RemoveLeftoverTemporaries(*site);
    return all ? Succeeded() : Failed(FailureKind::Incomplete);
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
