// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/run_state.h"

#include <cstdio>

namespace talvor {

namespace {
constexpr int kFooterRows = 36;
constexpr int kChartHalfSpan = 600;
constexpr int kLabelColumnOffset = 700;
constexpr int kWideScreen = 1500;
}  // namespace

int StoredScreenWidth(int reportedWidth) {
    // A 1366-pixel panel gets a 1368-pixel picture, as it always has; the chart's own positions
    // still come from the reported 1366.
    return reportedWidth == 1366 ? 1368 : reportedWidth;
}

ScreenGeometry ComputeScreenGeometry(int reportedWidth, int reportedHeight) {
    ScreenGeometry g;
    g.screenWidth = StoredScreenWidth(reportedWidth);
    g.screenHeight = reportedHeight;
    g.screenWidthF = float(reportedWidth);
    g.screenHeightF = float(reportedHeight);
    g.chartHeight = reportedHeight - kFooterRows;
    g.centreX = reportedWidth / 2;
    g.chartXOrigin = g.centreX - kChartHalfSpan;
    g.labelColumnX = g.screenWidth > kWideScreen ? g.centreX - kLabelColumnOffset : 3;
    g.halfHeight = reportedHeight / 2;
    return g;
}

bool NameSelectsZVariant(const std::string& executablePath) {
    size_t slash = executablePath.rfind('/');
    std::string name =
        slash == std::string::npos ? executablePath : executablePath.substr(slash + 1);
    size_t n = name.size();
    if (n == 0) return false;
    // "NAME.EXT": the letter before a four-character extension; otherwise the last letter.
    bool hasExtension = n >= 4 && name[n - 4] == '.' && name.find('.', n - 3) == std::string::npos;
    if (hasExtension) return n >= 5 && name[n - 5] == 'Z';
    return name[n - 1] == 'Z';
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash);
}

std::string ComposeDayLogPath(const std::string& dataFolder, const UtcTime& date) {
    // The folder may be of any length; only the date part goes through a fixed buffer, which
    // holds it for any int values.
    char day[48];
    std::snprintf(day, sizeof day, "/%4d-%02d-%02d/VOK.LOG", date.year, date.month, date.day);
    return dataFolder + day;
}

}  // namespace talvor
