// SPDX-License-Identifier: GPL-3.0-or-later
// What a run derives at start-up: its paths and the screen's geometry.
#pragma once

#include <string>

#include "platform/clock.h"
#include "report/report.h"

namespace talvor {

struct RunPaths {
    UtcTime StartTime;           // taken first at start-up; its date names the day log's folder
    std::string ExeFolder;       // the executable's folder, without the last '/'
    std::string ConfigFilePath;  // ExeFolder + "/TALVOR.INI"
    std::string DataFolder;      // ExeFolder + "/BRANTOS", or the folder the profile section names
    std::string DayLogPath;      // DataFolder + "/yyyy-mm-dd/VOK.LOG"
    bool ZVariant = false;       // the executable's name ends in a capital Z
};

struct ScreenGeometry {
    int screenWidth = 0;  // as reported, but 1366 becomes 1368
    int screenHeight = 0;
    int chartHeight = 0;        // screenHeight - 36
    float screenWidthF = 0.0f;  // as reported, without the 1366 -> 1368 replacement
    float screenHeightF = 0.0f;
    int centreX = 0;       // reported width / 2
    int chartXOrigin = 0;  // centreX - 600
    int labelColumnX = 0;  // 3, or centreX - 700 on screens wider than 1500
    int halfHeight = 0;    // screenHeight / 2
};

// The stored width for a reported one: 1366 is widened to 1368.
int StoredScreenWidth(int reportedWidth);
// Every ScreenGeometry field from the size the display reports.
ScreenGeometry ComputeScreenGeometry(int reportedWidth, int reportedHeight);

// True when the executable's file name selects the fixed snapshot name (see ZVariant).
bool NameSelectsZVariant(const std::string& executablePath);
// The folder part of a path, without the last '/'.
std::string FolderOf(const std::string& path);
// DataFolder + "/yyyy-mm-dd/VOK.LOG" for the given date.
std::string ComposeDayLogPath(const std::string& dataFolder, const UtcTime& date);

}  // namespace talvor
