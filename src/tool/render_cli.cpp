#include "tool/render_cli.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <ostream>

#ifndef TALVOR_VERSION
#define TALVOR_VERSION "unknown"
#endif

namespace {

bool IsDigits(const std::string& text, size_t at, size_t count) {
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

int Number(const std::string& text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

// 0 = Sunday, as the system clock reports it.
int DayOfWeek(int year, int month, int day) {
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

int BadDate(const std::string& option, const std::string& text, std::ostream& err) {
    err << "talvor-render: " << option << ": not a date: \"" << text
        << "\" (expected a real day as yyyy-mm-dd, for example 2014-03-05)\n";
    return kExitUsage;
}

}  // namespace

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return days[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool ParseDate(const std::string& text, UtcTime* date) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    if (!IsDigits(text, 0, 4) || !IsDigits(text, 5, 2) || !IsDigits(text, 8, 2)) return false;
    int year = Number(text, 0, 4), month = Number(text, 5, 2), day = Number(text, 8, 2);
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return false;
    }
    *date = UtcTime{};
    date->year = year;
    date->month = month;
    date->day = day;
    date->dayOfWeek = DayOfWeek(year, month, day);
    return true;
}

bool ParseSize(const std::string& text, int* width, int* height) {
    size_t x = text.find_first_of("xX");
    if (x == std::string::npos || x == 0 || x + 1 >= text.size() || x > 5 ||
        text.size() - x - 1 > 5) {
        return false;
    }
    if (!IsDigits(text, 0, x) || !IsDigits(text, x + 1, text.size() - x - 1)) return false;
    int w = Number(text, 0, x), h = Number(text, x + 1, text.size() - x - 1);
    if (w < kMinSide || w > kMaxSide || h < kMinSide || h > kMaxSide) return false;
    *width = w;
    *height = h;
    return true;
}

UtcTime NextDay(const UtcTime& date) {
    UtcTime next{};
    next.year = date.year;
    next.month = date.month;
    next.day = date.day + 1;
    if (next.day > DaysInMonth(next.year, next.month)) {
        next.day = 1;
        if (++next.month > 12) {
            next.month = 1;
            ++next.year;
        }
    }
    next.dayOfWeek = DayOfWeek(next.year, next.month, next.day);
    return next;
}

int CompareDays(const UtcTime& a, const UtcTime& b) {
    if (a.year != b.year) return a.year < b.year ? -1 : 1;
    if (a.month != b.month) return a.month < b.month ? -1 : 1;
    if (a.day != b.day) return a.day < b.day ? -1 : 1;
    return 0;
}

std::string FormatDate(const UtcTime& date) {
    char text[32];
    std::snprintf(text, sizeof text, "%4d-%02d-%02d", date.year, date.month, date.day);
    return text;
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
                           std::ostream& out, std::ostream& err) {
    CLI::App app{
        "Draws the waterfall chart of any day log, immediately, exactly as the daily talvor run "
        "draws it.",
        "talvor-render"};
    app.footer(
        "Examples:\n"
        "  talvor-render BRANTOS/2014-03-05/VOK.LOG -o day.gif\n"
        "  talvor-render --date 2014-03-05 -o archive/\n"
        "  talvor-render --from 2014-03-01 --to 2014-03-31 -o archive/ --format png\n"
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
    app.add_option("--config", request->configPath,
                   "Configuration file (default: TALVOR.INI beside the executable); the data "
                   "folder BRANTOS is looked for beside it");
    logOption->excludes(dateOption)->excludes(fromOption)->excludes(toOption);
    dateOption->excludes(fromOption)->excludes(toOption);
    fromOption->needs(toOption);
    toOption->needs(fromOption);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e, out, err);  // --help, --version
        err << "talvor-render: " << e.what() << "\nRun with --help for more information.\n";
        return kExitUsage;
    }

    if (!logFile.empty()) {
        request->source = RenderSource::LogFile;
        request->logFile = logFile;
    } else if (!dateText.empty()) {
        request->source = RenderSource::Date;
        if (!ParseDate(dateText, &request->from)) return BadDate("--date", dateText, err);
        request->to = request->from;
    } else if (!fromText.empty()) {
        request->source = RenderSource::Range;
        if (!ParseDate(fromText, &request->from)) return BadDate("--from", fromText, err);
        if (!ParseDate(toText, &request->to)) return BadDate("--to", toText, err);
        if (CompareDays(request->from, request->to) > 0) {
            err << "talvor-render: --from " << fromText << " is after --to " << toText << "\n";
            return kExitUsage;
        }
        if (!request->summaryPath.empty()) {
            err << "talvor-render: --summary names one file, so it takes one day (LOGFILE or "
                   "--date), not a range\n";
            return kExitUsage;
        }
    } else {
        err << "talvor-render: nothing to draw: name a day log file, --date, or --from and --to\n"
            << "Run with --help for more information.\n";
        return kExitUsage;
    }

    if (!sizeText.empty()) {
        if (!ParseSize(sizeText, &request->width, &request->height)) {
            err << "talvor-render: --size: not a picture size: \"" << sizeText
                << "\" (expected WxH, each from " << kMinSide << " to " << kMaxSide
                << " pixels, for example 1920x1080)\n";
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
