// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-render/render_cli.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <ostream>

#include "report/report.h"
#include "site/site_feed.h"

#ifndef TALVOR_VERSION
#define TALVOR_VERSION "unknown"
#endif

namespace talvor {

namespace {

int BadDate(const std::string& option, const std::string& text) {
    Report(option + ": not a date: \"" + text +
           "\" (expected a real day as yyyy-mm-dd, for example 2014-03-05)");
    return kExitUsage;
}

constexpr const char* kSeeHelp = "\nRun with --help for more information.";

}  // namespace

bool ParseSize(const std::string& text, int* width, int* height) {
    size_t x = text.find_first_of("xX");
    if (x == std::string::npos || x == 0 || x + 1 >= text.size() || x > 5 ||
        text.size() - x - 1 > 5) {
        return false;
    }
    int w = 0, h = 0;
    if (!ReadDigits(text, 0, x, &w) || !ReadDigits(text, x + 1, text.size() - x - 1, &h)) {
        return false;
    }
    if (w < kMinSide || w > kMaxSide || h < kMinSide || h > kMaxSide) return false;
    *width = w;
    *height = h;
    return true;
}

std::string PictureName(const UtcTime& date, PictureFormat format) {
    return "VOKLOG " + FormatDate(date) + (format == PictureFormat::Png ? ".png" : ".GIF");
}

bool DateFromLogPath(const std::string& logPath, UtcTime* date) {
    size_t slash = logPath.rfind('/');
    if (slash == std::string::npos) return false;  // the working directory's name is not asked
    size_t start = logPath.rfind('/', slash == 0 ? 0 : slash - 1);
    start = start == std::string::npos ? 0 : start + 1;
    if (slash < start) return false;
    return ParseDate(logPath.substr(start, slash - start), date);
}

UtcTime FooterClock(const UtcTime& day, const UtcTime& now) {
    if (CompareDays(day, now) == 0) return now;
    UtcTime end = day;
    end.hour = 23;
    end.minute = 59;
    end.second = 0;
    end.millisecond = 0;
    return end;
}

bool HasPngExtension(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".png";
}

int ParseRenderCommandLine(int argc, const char* const* argv, RenderRequest* request,
                           std::ostream& out) {
    CLI::App app{
        "Draws the waterfall chart of any day log, immediately, exactly as the daily talvor run "
        "draws it.",
        "talvor-render"};
    app.footer(
        "Examples:\n"
        "  talvor-render BRANTOS/2014-03-05/VOK.LOG -o day.gif\n"
        "  talvor-render --date 2014-03-05 -o archive/\n"
        "  talvor-render --from 2014-03-01 --to 2014-03-31 -o archive/ --format png\n"
        "  talvor-render --date 2014-03-05 --site /var/www/talvor\n"
        "  talvor-render --show-config\n"
        "  talvor-render --heard --from 2014-03-01 --to 2014-03-31 > heard.csv\n"
        "Exit status: 0 when every requested picture was written, 1 when one was not, 2 for a "
        "command line that cannot be used.");
    app.set_version_flag("--version", std::string("talvor-render ") + TALVOR_VERSION);

    std::string logFile, dateText, fromText, toText, sizeText, formatText;
    auto* logOption = app.add_option("LOGFILE", logFile, "A day log file (VOK.LOG) to draw");
    auto* dateOption =
        app.add_option("--date", dateText, "Draw the day log of this UTC day (yyyy-mm-dd)");
    auto* fromOption = app.add_option("--from", fromText, "First day of a range (yyyy-mm-dd)");
    auto* toOption = app.add_option("--to", toText, "Last day of a range, included (yyyy-mm-dd)");
    app.add_option("-o,--output", request->output,
                   "Picture file, or folder for \"VOKLOG yyyy-mm-dd.GIF\" names (default: the "
                   "working directory)");
    app.add_option("--size", sizeText,
                   "Picture size WxH (default: the screen's, as talvor "
                   "measures it)");
    auto* formatOption = app.add_option("--format", formatText, "gif (default) or png")
                             ->check(CLI::IsMember({"gif", "png"}, CLI::ignore_case));
    app.add_option("--summary", request->summaryPath,
                   "Also write the quarter-hour summary (as Z.TXT) to this file");
    app.add_option("-j,--jobs", request->jobs,
                   "Draw a range with this many worker processes (default: one per processor)")
        ->check(CLI::Range(1, kMaxJobs));
    app.add_option("--config", request->configPath,
                   "Configuration file (default: TALVOR.INI beside the executable); the data "
                   "folder BRANTOS is looked for beside it");
    auto* siteOption = app.add_option(
        "--site", request->siteFolder,
        "Write the days into the static website in this folder (made when missing): a page per "
        "day with its chart, a readout and downloads, a page per month, and the index; without "
        "a date, every day that has a day log");
    std::string siteUrlText;
    auto* siteUrlOption = app.add_option(
        "--site-url", siteUrlText,
        "With --site: the http:// or https:// address the site is published at, kept with the "
        "site, which makes the links of its feed absolute");
    siteUrlOption->needs(siteOption);
    auto* showOption =
        app.add_flag("--show-config", request->showConfig,
                     "Print the settings in effect after reading the configuration (location, "
                     "text, sensitivity, colours, channel plan, data folder and its day logs), "
                     "then exit without drawing");
    auto* heardOption = app.add_flag(
        "--heard", request->heard,
        "Print the carriers heard on the days (--date, or --from and --to) as CSV instead of "
        "drawing: date,khz,first_utc,last_utc,minutes,peak_level,new,stations");
    CarrierRules& rules = request->carrierRules;
    app.add_option("--margin", rules.margin,
                   "With --heard: levels above the band's floor that a carrier stands out by "
                   "(default " +
                       std::to_string(rules.margin) + ")")
        ->check(CLI::Range(1, 255))
        ->needs(heardOption);
    app.add_option("--min-minutes", rules.minMinutes,
                   "With --heard: minutes from a carrier's first to its last (default " +
                       std::to_string(rules.minMinutes) + ")")
        ->check(CLI::Range(1, kMinutesPerDay))
        ->needs(heardOption);
    app.add_option("--fade", rules.maxFade,
                   "With --heard: minutes under the margin that do not end a carrier (default " +
                       std::to_string(rules.maxFade) + ")")
        ->check(CLI::Range(0, kMinutesPerDay - 1))
        ->needs(heardOption);
    heardOption->excludes(logOption)->excludes(siteOption);
    for (const char* pictureOnly : {"--output", "--format", "--summary", "--size", "--jobs"}) {
        heardOption->excludes(app.get_option(pictureOnly));
    }
    siteOption->excludes(logOption)->excludes(showOption);
    for (const char* pictureOnly : {"--output", "--format", "--summary"}) {
        siteOption->excludes(app.get_option(pictureOnly));
    }
    showOption->excludes(heardOption)
        ->excludes(logOption)
        ->excludes(dateOption)
        ->excludes(fromOption)
        ->excludes(toOption);
    logOption->excludes(dateOption)->excludes(fromOption)->excludes(toOption);
    dateOption->excludes(fromOption)->excludes(toOption);
    fromOption->needs(toOption);
    toOption->needs(fromOption);

    if (argc > 0 && argv[0] != nullptr) request->program = argv[0];
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e, out);  // --help, --version
        Report(e.what() + std::string(kSeeHelp));
        return kExitUsage;
    }

    if (siteOption->count() > 0 && request->siteFolder.empty()) {
        // An empty name would otherwise fall back to drawing pictures into the working folder.
        Report("--site needs the name of a folder" + std::string(kSeeHelp));
        return kExitUsage;
    }
    if (siteUrlOption->count() > 0) {
        std::string why;
        if (!CheckSiteUrl(siteUrlText, &request->siteUrl, &why)) {
            Report("--site-url: \"" + siteUrlText + "\": " + why + std::string(kSeeHelp));
            return kExitUsage;
        }
    }
    if (request->showConfig) {
        // Nothing is drawn, so nothing else is asked for.
    } else if (request->heard && dateText.empty() && fromText.empty()) {
        Report("--heard lists days: name --date, or --from and --to" + std::string(kSeeHelp));
        return kExitUsage;
    } else if (!logFile.empty()) {
        request->source = RenderSource::LogFile;
        request->logFile = logFile;
    } else if (!dateText.empty()) {
        request->source = RenderSource::Date;
        if (!ParseDate(dateText, &request->from)) return BadDate("--date", dateText);
        request->to = request->from;
    } else if (!fromText.empty()) {
        request->source = RenderSource::Range;
        if (!ParseDate(fromText, &request->from)) return BadDate("--from", fromText);
        if (!ParseDate(toText, &request->to)) return BadDate("--to", toText);
        if (CompareDays(request->from, request->to) > 0) {
            Report("--from " + fromText + " is after --to " + toText);
            return kExitUsage;
        }
        if (!request->summaryPath.empty()) {
            Report(
                "--summary names one file, so it takes one day (LOGFILE or --date), not a "
                "range");
            return kExitUsage;
        }
    } else if (!request->siteFolder.empty()) {
        request->source = RenderSource::AllDays;
    } else {
        Report("nothing to draw: name a day log file, --date, or --from and --to" +
               std::string(kSeeHelp));
        return kExitUsage;
    }

    if (!sizeText.empty()) {
        if (!ParseSize(sizeText, &request->width, &request->height)) {
            ReportFormatted(
                "--size: not a picture size: \"%s\" (expected WxH, each from %d to %d pixels, "
                "for example 1920x1080)",
                sizeText.c_str(), kMinSide, kMaxSide);
            return kExitUsage;
        }
        request->sizeGiven = true;
    }
    if (formatOption->count() > 0) {
        request->formatGiven = true;
        for (char& c : formatText) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        request->format = formatText == "png" ? PictureFormat::Png : PictureFormat::Gif;
    }
    return kGoOn;
}

}  // namespace talvor
