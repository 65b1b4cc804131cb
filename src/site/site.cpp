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
bool Gzip(const std::string& bytes, std::string* out) {
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(1), libdeflate_free_compressor);
    if (compressor == nullptr) return false;
    out->resize(libdeflate_gzip_compress_bound(compressor.get(), bytes.size()));
    size_t size = libdeflate_gzip_compress(compressor.get(), bytes.data(), bytes.size(),
                                           out->data(), out->size());
    out->resize(size);
    return size > 0;
}

// The days that have a page, from what the manifest lists and the run wrote.
std::vector<sys_days> DaysWithPages(const SiteFolder& site) {
    std::set<sys_days> days;
    auto take = [&](const std::string& name) {
        UtcTime date;
        if (name.size() == 21 && name.compare(10, 11, "/index.html") == 0 &&
            ParseDate(name.substr(0, 10), &date)) {
            days.insert(DayOf(date));
        }
    };
    for (const std::string& name : site.owned) take(name);
    for (const std::string& name : site.written) take(name);
    return {days.begin(), days.end()};
}

bool WriteMonth(SiteFolder* site, year_month month, const std::vector<sys_days>& days,
                const SiteLook& look) {
    std::map<int, DayDigest> digests;
    for (sys_days d : days) {
        if (MonthOf(d) != month) continue;
        std::string text;
        DayDigest digest;
        if (ReadWholeFile(site->path + "/" + DayFile(d, "day.txt"), &text) &&
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
           PutSiteFile(site, folder + kIndexPage, MonthPageHtml(month, digests, look));
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
        if (!ReadWholeFile(webFolder + "/" + name, &bytes)) {
            ReportSiteProblem("cannot read " + webFolder + "/" + name);
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
        if (!ReadWholeFile(stationsCsv, &text)) {
            ReportSiteProblem("cannot read " + stationsCsv + "; the readout names no stations");
        } else {
            list = ParseStationList(text);
        }
    }
    if (!list.badLines.empty()) {
        std::string lines;
        for (size_t i = 0; i < list.badLines.size() && i < 10; ++i) {
            lines += (i > 0 ? ", " : "") + std::to_string(list.badLines[i]);
        }
        if (list.badLines.size() > 10) lines += ", ...";
        ReportSiteProblem(stationsCsv + ": " + std::to_string(list.badLines.size()) +
                          " lines skipped, not kHz,name,place[,hh:mm-hh:mm] (lines " + lines + ")");
    }
    return PutSiteFile(site, kStationsScript, StationListScript(list));
}

}  // namespace

Outcome SiteMayWriteDays(const SiteFolder& site, const std::vector<sys_days>& days,
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
    for (const std::string& name : names) {
        if (Outcome allowed = MayWrite(site, name); !allowed) {
            return FailedWith(allowed.code, site.path + "/" + name + ": " + allowed.reason);
        }
    }
    return Succeeded();
}

// The day's two pictures: the GIF written (its folder made), the PNG encoded. On a thread of
// their own, beside the rest of the day's files: both encoders take as long as all the others.
struct DayPictures {
    std::string gifPath;
    bool gifWritten = false;
    std::vector<unsigned char> png;
    Outcome pngMade;
};

void MakeDayPictures(const FrameBitmap* frame, DayPictures* pictures) {
    pictures->gifWritten = WriteGifFile(*frame, pictures->gifPath.c_str());
    pictures->pngMade = EncodeFramePng(*frame, &pictures->png);
}

bool WriteSiteDay(SiteFolder* site, const SiteDayInput& input, const SiteLook& look) {
    sys_days day = input.data.day;
    std::string folder = site->path + "/" + DayFolderName(day) + "/";
    std::string gifName = DayFile(day, "chart.gif");
    if (Outcome allowed = MayWrite(*site, gifName); !allowed) {
        ReportSiteProblem("cannot write " + site->path + "/" + gifName + ": " + allowed.reason);
        return false;
    }
    if (!MakeSiteFolders(*site, gifName)) return false;
    DayPictures pictures;
    pictures.gifPath = site->path + "/" + gifName;
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
    bool copied = ReadWholeFile(input.logPath, &log) && Gzip(log, &logGz);
    bool made = EncodeLevels(input.records, &levels) && ThumbnailPng(*input.frame, &thumb) &&
                ActivityStripPng(digest, &strip);
    if (encoder.joinable()) encoder.join();
    if (!copied) {
        ReportSiteProblem("cannot copy day log " + input.logPath + " into " + folder);
        return false;
    }
    if (!made) {
        ReportSiteProblem("cannot make the pictures of " + folder + ": out of memory");
        return false;
    }
    if (!pictures.pngMade) {
        ReportSiteProblem("cannot write " + folder + "chart.png: " + pictures.pngMade.reason);
        return false;
    }
    if (!pictures.gifWritten) return false;
    site->written.insert(gifName);
    const std::vector<unsigned char>& chart = pictures.png;
    std::string summary = SummaryText(input.records);
    bool written = PutSiteFile(site, DayFile(day, "chart.png"), chart) &&
                   PutSiteFile(site, DayFile(day, "thumb.png"), thumb) &&
                   PutSiteFile(site, DayFile(day, "strip.png"), strip) &&
                   PutSiteFile(site, DayFile(day, "VOK.LOG.gz"), logGz) &&
                   PutSiteFile(site, DayFile(day, "summary.txt"), summary) &&
                   PutSiteFile(site, DayFile(day, "day.txt"), DigestText(digest)) &&
                   PutSiteFile(site, DayFile(day, "levels.bin"), levels.deflated) &&
                   PutSiteFile(site, DayFile(day, "levels.js"), LevelsScript(levels)) &&
                   PutSiteFile(site, DayFile(day, "data.js"),
                               DayDataScript(input.data, input.records, levels));
    if (!written) return false;
    std::error_code error;
    std::vector<DayDownload> downloads = {
        {"chart.gif", "the day's picture", uint64_t(fs::file_size(folder + "chart.gif", error))},
        {"chart.png", "the same picture, lossless", chart.size()},
        {"VOK.LOG.gz", "the day log, gzip-compressed", logGz.size()},
        {"summary.txt", "the quarter-hour summary (Z.TXT)", summary.size()},
    };
    // The page last: once it is there, everything it points at is.
    return PutSiteFile(site, DayFile(day, "index.html"), DayPageHtml(day, digest, look, downloads));
}

void NoteSiteDayWritten(SiteFolder* site, sys_days day) {
    for (const char* file : kDayFiles) site->written.insert(DayFile(day, file));
}

bool FinishSite(SiteFolder* site, const std::vector<sys_days>& updated, const SiteLook& look,
                const std::string& webFolder, const std::string& stationsCsv) {
    std::vector<sys_days> days = DaysWithPages(*site);
    std::set<year_month> months;
    for (sys_days d : updated) months.insert(MonthOf(d));
    // A month whose page a failed run never wrote gets it now.
    for (sys_days d : days) {
        if (!PathExists(
                (site->path + "/" + MonthFolderName(MonthOf(d)) + "/" + kIndexPage).c_str())) {
            months.insert(MonthOf(d));
        }
    }
    bool all = CopyWebFiles(site, webFolder);
    all = WriteStations(site, stationsCsv) && all;
    for (year_month m : months) all = WriteMonth(site, m, days, look) && all;
    all = PutSiteFile(site, kDaysScript, DaysScript(days)) && all;
    all = PutSiteFile(site, kIndexPage, IndexHtml(days, look)) && all;
    return SaveManifest(site) && all;
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
