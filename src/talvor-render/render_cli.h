// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of talvor-render, which draws past day logs with the chart of the daily run,
// and the small date and naming rules it needs. Plain logic, tested without OpenGL.
#pragma once

#include <iosfwd>
#include <string>

#include "calendar/calendar.h"
#include "heard/carriers.h"
#include "platform/clock.h"
#include "report/exit_codes.h"

namespace talvor {

enum class PictureFormat { Gif, Png };

enum class RenderSource {
    LogFile,  // one day log named by its path
    Date,     // one day resolved through the data folder
    Range,    // every day from..to whose log exists
    AllDays,  // every day whose log is in the data folder (--site without a date)
};

struct RenderRequest {
    RenderSource source = RenderSource::Date;
    std::string logFile;  // RenderSource::LogFile
    UtcTime from;         // Date: the day; Range: the first day
    UtcTime to;           // Range: the last day, inclusive (Date: the same as from)
    std::string output;   // -o: a file, or a folder for dated names; empty when not given
    bool sizeGiven = false;
    int width = 0;  // with sizeGiven, the frame size as the display would report it
    int height = 0;
    PictureFormat format = PictureFormat::Gif;
    bool formatGiven = false;
    std::string summaryPath;  // empty: no summary file
    std::string configPath;   // empty: TALVOR.INI beside the executable
    std::string program;      // argv[0]: the path the program was started by
    bool showConfig = false;  // print the settings in effect instead of drawing
    int jobs = 0;             // worker processes for a range; 0: one per usable processor
    std::string siteFolder;   // --site: the website to write the days into; empty: pictures
    std::string siteUrl;      // --site-url, checked and ending in "/"; empty: not given
    bool heard = false;       // --heard: list the days' carriers instead of drawing
    CarrierRules carrierRules;
    // A range found in the data folder (--site without dates): no day of it is missing.
    bool loggedDaysOnly = false;
};

// Parses the arguments into request. Returns kGoOn when the request is to be run, otherwise the
// exit code: kExitOk after --help or --version (printed to out), kExitUsage after a reported
// message.
int ParseRenderCommandLine(int argc, const char* const* argv, RenderRequest* request,
                           std::ostream& out);

// "WxH" (also with a capital X), each side from kMinSide to kMaxSide pixels.
bool ParseSize(const std::string& text, int* width, int* height);
constexpr int kMinSide = 200;
constexpr int kMaxSide = 8192;
constexpr int kMaxJobs = 256;

// The name the daily run gives a day's picture: "VOKLOG yyyy-mm-dd.GIF", or ".png" for PNG.
std::string PictureName(const UtcTime& date, PictureFormat format);

// The day a log file belongs to, from its folder name "yyyy-mm-dd" as talvor-log writes
// it; false when the folder is named otherwise.
bool DateFromLogPath(const std::string& logPath, UtcTime* date);

// The time the footer shows for a day drawn at now: the time of drawing for today, and for any
// other day that day's date with 23'59, the end of the day drawn.
UtcTime FooterClock(const UtcTime& day, const UtcTime& now);

// True when the name ends in ".png", in any case.
bool HasPngExtension(const std::string& path);

}  // namespace talvor
