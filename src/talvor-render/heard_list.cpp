// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-render/heard_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "calendar/calendar.h"
#include "config/run_state.h"
#include "daylog/day_log.h"
#include "platform/files.h"
#include "platform/folder_files.h"
#include "report/report.h"
#include "site/site_folder.h"
#include "talvor-render/output_plan.h"
#include "talvor-render/render_cli.h"

namespace talvor {

const char kHeardCsvHeader[] = "date,khz,first_utc,last_utc,minutes,peak_level,new,stations\n";

namespace {

std::string Clock(int minute) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", minute / 60 % 24, minute % 60);
    return text;
}

// STATIONS.CSV beside the configuration, when there is one; its lines that do not read are said
// as the site says them.
StationList ReadStations(const std::string& configFilePath) {
    std::string path = FolderOf(configFilePath) + "/STATIONS.CSV";
    std::string text;
    if (!PathExists(path.c_str())) return {};
    if (Outcome read = ReadSmallFile(path.c_str(), kStationListMaxBytes, &text); !read) {
        Report("cannot read " + path + ": " + read.reason + "; the carriers name no stations");
        return {};
    }
    StationList list = ParseStationList(text);
    if (std::string skipped = SkippedLinesMessage(path, list); !skipped.empty()) Report(skipped);
    return list;
}

// The days without a log, in one line as the drawing's end says them: the first few, and how
// many more (a range may span centuries of days without one).
struct MissingDays {
    static constexpr size_t kListed = 10;
    std::vector<std::string> first;
    size_t count = 0;
    void Add(const UtcTime& day) {
        if (count++ < kListed) first.push_back(FormatDate(day));
    }
    void Report() const {
        std::string list;
        for (const std::string& day : first) list += (list.empty() ? "" : ", ") + day;
        if (count > kListed) list += " and " + std::to_string(count - kListed) + " more";
        talvor::Report("no day log for " + std::to_string(count) +
                       (count == 1 ? " day: " : " days: ") + list);
    }
};

// False, after a message, when standard output no longer takes the lines. A reader that has
// had enough (a pipe into head) ends the listing without one, as it ends other tools.
bool Put(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
        std::fflush(stdout) == 0) {
        return true;
    }
    if (errno != EPIPE) Report(std::string("cannot write to standard output: ") + strerror(errno));
    return false;
}

}  // namespace

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n; ") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string HeardCsvLine(const std::string& date, const Carrier& carrier,
                         const std::vector<const ListedStation*>& stations) {
    return date + "," + std::to_string(carrier.khz) + "," + Clock(carrier.firstMinute) + "," +
           Clock(carrier.lastMinute) + "," + std::to_string(carrier.minutes) + "," +
           std::to_string(carrier.peakLevel) + "," + (carrier.isNew ? "yes" : "no") + "," +
           CsvField(StationsText(stations)) + "\n";
}

int ListHeardCarriers(const RenderRequest& request, const RunPaths& paths) {
    StationList stations = ReadStations(paths.ConfigFilePath);
    std::vector<unsigned char> buffer(kRecordBufferSize);
    std::vector<HeardDay> recent;  // the logged days of the week before the day in hand
    MissingDays missing;
    bool listed = false, failed = false;
    const std::chrono::sys_days first = DayOf(request.from), last = DayOf(request.to);
    for (std::chrono::sys_days day = first - std::chrono::days(kNewCarrierDays); day <= last;
         day += std::chrono::days(1)) {
        UtcTime date = StartOfDay(day);
        std::string path = ComposeDayLogPath(paths.DataFolder, date);
        if (!PathExists(path.c_str())) {
            if (day >= first) missing.Add(date);
            continue;
        }
        int count = 0;
        Outcome loaded = LoadDayLogFrom(path, buffer.data(), &count);
        if (!loaded) {
            Report(loaded.reason);
            failed = true;
            continue;
        }
        HeardDay heard{
            day, FindCarriers({buffer.data() + kDayLogRecordSize, count}, request.carrierRules)};
        if (day >= first) {
            MarkNewCarriers(&heard, recent);
            std::string lines = listed ? "" : kHeardCsvHeader;
            listed = true;
            for (const Carrier& c : heard.carriers) {
                lines += HeardCsvLine(FormatDate(date), c,
                                      StationsOnAir(stations, c.khz, c.firstMinute, c.lastMinute));
            }
            if (!Put(lines)) return kExitFailed;
        }
        recent.push_back(std::move(heard));
        if (recent.size() > size_t(kNewCarrierDays)) recent.erase(recent.begin());
    }
    if (!listed) {
        if (!failed) ReportNoDays(request, paths.DataFolder);
        return kExitFailed;
    }
    if (missing.count > 0) missing.Report();
    return failed ? kExitFailed : kExitOk;
}

}  // namespace talvor
