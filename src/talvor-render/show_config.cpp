// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-render/show_config.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <system_error>

#include "calendar/calendar.h"
#include "config/channel_plan.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace talvor {

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool IsFolder(const std::string& path) {
    return !path.empty() && PathExists((path + "/.").c_str());
}

}  // namespace

std::vector<std::string> DayLogDatesIn(const std::string& dataFolder) {
    std::vector<std::string> dates;
    std::error_code error;
    std::filesystem::directory_iterator entries(dataFolder, error);
    if (error) return dates;
    for (const auto& entry : entries) {
        std::string name = entry.path().filename().string();
        UtcTime day;
        if (!ParseDate(name, &day)) continue;
        if (!PathExists((dataFolder + "/" + name + "/VOK.LOG").c_str())) continue;
        dates.push_back(name);
    }
    std::sort(dates.begin(), dates.end());
    return dates;
}

std::string DescribeDates(const std::vector<std::string>& dates, size_t maxRuns) {
    std::string text;
    size_t runs = 0;
    size_t i = 0;
    while (i < dates.size()) {
        size_t end = i;
        UtcTime day, next;
        while (end + 1 < dates.size() && ParseDate(dates[end], &day) &&
               ParseDate(dates[end + 1], &next) && CompareDays(NextDay(day), next) == 0) {
            ++end;
        }
        if (runs == maxRuns) {
            text += " and " + std::to_string(dates.size() - i) + " more days";
            break;
        }
        if (!text.empty()) text += ", ";
        text += dates[i];
        if (end > i) text += " to " + dates[end];
        ++runs;
        i = end + 1;
    }
    return text;
}

void PrintStationConfig(std::ostream& out, const RenderRun& run) {
    const Settings& settings = run.settings;
    const RunPaths& paths = run.paths;
    const ChannelRange range = ChooseChannelRange(settings.channelSpacing);
    std::string configState = run.scannedLength > 0 ? "read"
                              : PathExists(paths.ConfigFilePath.c_str())
                                  ? "holds no settings; the defaults apply"
                                  : "not there; the defaults apply";
    out << "configuration: " << paths.ConfigFilePath << " (" << configState << ")\n";
    out << "location:      " << settings.locationName << "\n";
    out << "footer text:   "
        << (settings.chartText[0] != '\0' ? std::string(settings.chartText) : "(none)") << "\n";
    out << "sensitivity:   " << Number(settings.sensitivity) << "\n";
    out << "colour mode:   " << settings.colourMode
        << (settings.colourMode != 0 ? " (colour palette)" : " (plain ramp)") << "\n";
    out << "channel plan:  " << settings.channelSpacing << " kHz, " << range.plan[range.first]
        << " to " << range.plan[range.last] << " kHz\n";
    bool exists = IsFolder(paths.DataFolder);
    out << "data folder:   " << paths.DataFolder << (exists ? " (exists)" : " (does not exist)")
        << "\n";
    std::vector<std::string> dates =
        exists ? DayLogDatesIn(paths.DataFolder) : std::vector<std::string>{};
    out << "day logs:      ";
    if (dates.empty()) {
        out << "none\n";
    } else {
        out << dates.size() << (dates.size() == 1 ? " day: " : " days: ") << DescribeDates(dates)
            << "\n";
    }
    out << "picture size:  " << run.screenGeometry.screenWidth << " x "
        << run.screenGeometry.screenHeight << "\n";
}

}  // namespace talvor
