// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-render: its command line as a function, and the built command driven as a user would,
// with its pictures checked against the daily run's own for the same log and settings.
#include "talvor-render/render_cli.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/run_state.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "output/png_writer.h"
#include "output/snapshot.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "render/render_thread.h"
#include "site/site_folder.h"
#include "site/site_pages.h"
#include "talvor-render/heard_list.h"
#include "talvor-render/range_drawing.h"
#include "talvor-render/render_tool.h"
#include "talvor-render/show_config.h"
#include "talvor-render/site_run.h"
#include "talvor/daily_run.h"
#include "test_support.h"

using namespace talvor;

namespace fs = std::filesystem;

namespace {

// ---- The command line as a function ------------------------------------------------------------

struct ParseOutcome {
    int code;
    RenderRequest request;
    std::string out;
    std::string err;
};

ParseOutcome Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "talvor-render");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    ParseOutcome outcome;
    std::ostringstream out;
    ReportedLines reported;
    outcome.code = ParseRenderCommandLine(int(argv.size()), argv.data(), &outcome.request, out);
    outcome.out = out.str();
    outcome.err = reported.text();
    return outcome;
}

TEST(ShowConfig, DayLogDatesAreListedAsRuns) {
    const struct {
        std::vector<std::string> dates;
        size_t maxRuns;
        std::string want;
    } cases[] = {
        {{}, 12, ""},
        {{"2014-03-05"}, 12, "2014-03-05"},
        {{"2014-03-03", "2014-03-05"}, 12, "2014-03-03, 2014-03-05"},
        {{"2014-02-27", "2014-02-28", "2014-03-01", "2014-03-03"},
         12,
         "2014-02-27 to 2014-03-01, 2014-03-03"},
        {{"2015-12-31", "2016-01-01"}, 12, "2015-12-31 to 2016-01-01"},
        {{"2016-02-28", "2016-03-01"}, 12, "2016-02-28, 2016-03-01"},  // 29 February is missing
        {{"2014-01-01", "2014-01-03", "2014-01-05", "2014-01-06"},
         2,
         "2014-01-01, 2014-01-03 and 2 more days"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(DescribeDates(c.dates, c.maxRuns), c.want);
    }
    TempDir data("show-config-data");
    for (const char* day : {"2014-03-05", "2014-03-03", "not-a-date", "2014-02-30"}) {
        MakeDirs(data / day);
        WriteFileBytes(data / (std::string(day) + "/VOK.LOG"), "");
    }
    MakeDirs(data / "2014-03-04");  // a day folder without its log
    EXPECT_EQ(DayLogDatesIn(data.path()), (std::vector<std::string>{"2014-03-03", "2014-03-05"}));
    EXPECT_TRUE(DayLogDatesIn(data / "missing").empty());
}

TEST(RenderCliDates, ParseSizeTakesWidthByHeightWithinLimits) {
    struct Case {
        const char* text;
        bool ok;
        int width, height;
    };
    const Case cases[] = {
        {"1920x1080", true, 1920, 1080}, {"1366X768", true, 1366, 768},
        {"200x200", true, 200, 200},     {"8192x8192", true, 8192, 8192},
        {"199x1080", false, 0, 0},       {"1920x8193", false, 0, 0},
        {"1920", false, 0, 0},           {"x1080", false, 0, 0},
        {"1920x", false, 0, 0},          {"1920x1080x3", false, 0, 0},
        {"-1920x1080", false, 0, 0},     {"1920 x 1080", false, 0, 0},
        {"99999999999x1", false, 0, 0},  {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        int width = -1, height = -1;
        EXPECT_EQ(ParseSize(c.text, &width, &height), c.ok) << c.text;
        EXPECT_EQ(width, c.ok ? c.width : -1) << c.text;
        EXPECT_EQ(height, c.ok ? c.height : -1) << c.text;
    }
}

TEST(RenderCliDates, NamesAndFolderDatesFollowTheDailyRun) {
    UtcTime day;
    ASSERT_TRUE(ParseDate("2014-03-05", &day));
    EXPECT_EQ(PictureName(day, PictureFormat::Gif), "VOKLOG 2014-03-05.GIF");
    EXPECT_EQ(PictureName(day, PictureFormat::Png), "VOKLOG 2014-03-05.png");

    struct Case {
        const char* path;
        bool ok;
        const char* date;
    };
    const Case cases[] = {
        {"/data/BRANTOS/2014-03-05/VOK.LOG", true, "2014-03-05"},
        {"BRANTOS/2016-02-29/VOK.LOG", true, "2016-02-29"},
        {"2014-03-05/VOK.LOG", true, "2014-03-05"},
        {"/2014-03-05/VOK.LOG", true, "2014-03-05"},
        {"VOK.LOG", false, ""},
        {"/tmp/copy.log", false, ""},
        {"/data/2014-02-30/VOK.LOG", false, ""},
        {"/data/x2014-03-05/VOK.LOG", false, ""},
    };
    for (const Case& c : cases) {
        UtcTime date;
        EXPECT_EQ(DateFromLogPath(c.path, &date), c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(FormatDate(date), c.date) << c.path;
        }
    }

    EXPECT_TRUE(HasPngExtension("a.png"));
    EXPECT_TRUE(HasPngExtension("dir/A.PNG"));
    EXPECT_FALSE(HasPngExtension("a.gif"));
    EXPECT_FALSE(HasPngExtension("png"));
    EXPECT_FALSE(HasPngExtension("a.png.gif"));
}

TEST(RenderCliDates, FooterShowsTheEndOfAPastDayAndTheTimeOfDrawingToday) {
    UtcTime now;
    now.year = 2014;
    now.month = 3;
    now.day = 5;
    now.hour = 10;
    now.minute = 17;
    now.second = 42;
    UtcTime today = FooterClock(now, now);
    EXPECT_EQ(today.hour, 10);
    EXPECT_EQ(today.minute, 17);
    EXPECT_EQ(today.day, 5);

    UtcTime past;
    ASSERT_TRUE(ParseDate("2014-03-04", &past));
    UtcTime end = FooterClock(past, now);
    EXPECT_EQ(FormatDate(end), "2014-03-04");
    EXPECT_EQ(end.hour, 23);
    EXPECT_EQ(end.minute, 59);

    // A day after the clock's (a log from a system whose clock ran ahead) is drawn the same way.
    UtcTime ahead;
    ASSERT_TRUE(ParseDate("2014-03-06", &ahead));
    EXPECT_EQ(FooterClock(ahead, now).hour, 23);
    EXPECT_EQ(FormatDate(FooterClock(ahead, now)), "2014-03-06");
}

TEST(RenderCliParse, AcceptsTheThreeSynopses) {
    ParseOutcome a = Parse({"BRANTOS/2014-03-05/VOK.LOG", "-o", "day.gif"});
    ASSERT_EQ(a.code, kGoOn) << a.err;
    EXPECT_EQ(a.request.source, RenderSource::LogFile);
    EXPECT_EQ(a.request.logFile, "BRANTOS/2014-03-05/VOK.LOG");
    EXPECT_EQ(a.request.output, "day.gif");
    EXPECT_FALSE(a.request.formatGiven);
    EXPECT_FALSE(a.request.sizeGiven);

    ParseOutcome b = Parse({"--date", "2014-03-05", "-o", "archive", "--format", "PNG", "--size",
                            "1366x768", "--summary", "z.txt", "--config", "/etc/T.INI"});
    ASSERT_EQ(b.code, kGoOn) << b.err;
    EXPECT_EQ(b.request.source, RenderSource::Date);
    EXPECT_EQ(FormatDate(b.request.from), "2014-03-05");
    EXPECT_EQ(FormatDate(b.request.to), "2014-03-05");
    EXPECT_EQ(b.request.format, PictureFormat::Png);
    EXPECT_TRUE(b.request.formatGiven);
    EXPECT_TRUE(b.request.sizeGiven);
    EXPECT_EQ(b.request.width, 1366);
    EXPECT_EQ(b.request.height, 768);
    EXPECT_EQ(b.request.summaryPath, "z.txt");
    EXPECT_EQ(b.request.configPath, "/etc/T.INI");

    ParseOutcome c = Parse({"--from", "2014-02-27", "--to", "2014-03-02", "--output=out/"});
    ASSERT_EQ(c.code, kGoOn) << c.err;
    EXPECT_EQ(c.request.source, RenderSource::Range);
    EXPECT_EQ(FormatDate(c.request.from), "2014-02-27");
    EXPECT_EQ(FormatDate(c.request.to), "2014-03-02");
    EXPECT_EQ(c.request.output, "out/");
    EXPECT_EQ(c.request.format, PictureFormat::Gif);

    ParseOutcome d = Parse({"--from", "2014-03-05", "--to", "2014-03-05"});
    EXPECT_EQ(d.code, kGoOn) << d.err;
}

TEST(RenderCliParse, SiteTakesEveryLoggedDayOrTheDaysNamed) {
    struct Case {
        std::vector<std::string> args;
        RenderSource source;
    } cases[] = {
        {{"--site", "www"}, RenderSource::AllDays},
        {{"--site", "www", "--date", "2014-03-05"}, RenderSource::Date},
        {{"--from", "2014-03-01", "--to", "2014-03-09", "--site=www"}, RenderSource::Range},
    };
    for (const Case& c : cases) {
        ParseOutcome outcome = Parse(c.args);
        ASSERT_EQ(outcome.code, kGoOn) << outcome.err;
        EXPECT_EQ(outcome.request.source, c.source);
        EXPECT_EQ(outcome.request.siteFolder, "www");
        EXPECT_EQ(outcome.request.siteUrl, "");
    }
    ParseOutcome published = Parse({"--site", "www", "--site-url", "https://example.org/talvor"});
    ASSERT_EQ(published.code, kGoOn) << published.err;
    EXPECT_EQ(published.request.siteUrl, "https://example.org/talvor/");
}

TEST(RenderCliParse, HeardTakesTheDaysAndTheCarriersRules) {
    ParseOutcome heard = Parse({"--heard", "--from", "2014-03-01", "--to", "2014-03-09", "--margin",
                                "60", "--min-minutes", "20", "--fade", "0"});
    ASSERT_EQ(heard.code, kGoOn) << heard.err;
    EXPECT_TRUE(heard.request.heard);
    EXPECT_EQ(heard.request.source, RenderSource::Range);
    const CarrierRules& rules = heard.request.carrierRules;
    EXPECT_EQ(std::vector<int>({rules.margin, rules.minMinutes, rules.maxFade}),
              std::vector<int>({60, 20, 0}));
}

// Each line names the stations on the carrier's kHz that are on air in its minutes.
TEST(RenderCliHeard, CsvLinesNameTheStationsOnAirQuotedAsRfc4180Does) {
    StationList list = ParseStationList(
        "1080,Name,Place\n1080,Name2,Place2,18:00-02:30\n1080,Morning,M,06:00-07:00\n"
        "810,Quiet,\n1700,\"Radio \"\"Nord\"\", Ouest\",Brest,23:59-00:01\n");
    struct Case {
        Carrier carrier;
        const char* line;
    } cases[] = {
        {{1080, 130, 339, 210, 187, true},
         "1080,02:10,05:39,210,187,yes,\"Name (Place); Name2 (Place2)\"\n"},
        {{1080, 150, 359, 210, 60, false}, "1080,02:30,05:59,210,60,no,\"Name (Place)\"\n"},
        {{531, 0, 1439, 1440, 255, false}, "531,00:00,23:59,1440,255,no,\n"},
        {{810, 0, 9, 10, 40, false}, "810,00:00,00:09,10,40,no,Quiet\n"},
        {{1700, 1380, 1439, 60, 90, true},
         "1700,23:00,23:59,60,90,yes,\"Radio \"\"Nord\"\", Ouest (Brest)\"\n"},
        {{1700, 1380, 1438, 59, 90, false}, "1700,23:00,23:58,59,90,no,\n"},
    };
    for (const Case& c : cases) {
        const Carrier& x = c.carrier;
        EXPECT_EQ(
            HeardCsvLine("2025-11-20", x, StationsOnAir(list, x.khz, x.firstMinute, x.lastMinute)),
            std::string("2025-11-20,") + c.line);
    }
}

TEST(RenderCliParse, RefusesUnusableCommandLinesWithAMessage) {
    struct Case {
        std::vector<std::string> args;
        const char* messagePart;
    };
    const Case cases[] = {
        {{}, "nothing to draw"},
        {{"-o", "x.gif"}, "nothing to draw"},
        {{"--date", "2014-02-30"}, "not a date"},
        {{"--date", "05.03.2014"}, "not a date"},
        {{"--from", "2014-03-05", "--to", "2014-13-01"}, "--to"},
        {{"--from", "2014-03-05", "--to", "2014-03-04"}, "after"},
        {{"--from", "2014-03-05"}, "--to"},
        {{"--to", "2014-03-05"}, "--from"},
        {{"--date", "2014-03-05", "--from", "2014-03-01", "--to", "2014-03-09"}, "xcludes"},
        {{"VOK.LOG", "--date", "2014-03-05"}, "xcludes"},
        {{"--date", "2014-03-05", "--format", "jpeg"}, "jpeg"},
        {{"--date", "2014-03-05", "--size", "1920*1080"}, "--size"},
        {{"--date", "2014-03-05", "--size", "10x10"}, "--size"},
        {{"--from", "2014-03-01", "--to", "2014-03-09", "--summary", "z.txt"}, "--summary"},
        {{"--date", "2014-03-05", "--bogus"}, "bogus"},
        {{"a.log", "b.log"}, ""},
        {{"--date"}, "--date"},
        {{"--site", "www", "-o", "x"}, "xcludes"},
        {{"--site", "www", "--format", "png"}, "xcludes"},
        {{"--site", "www", "--date", "2014-03-05", "--summary", "z.txt"}, "xcludes"},
        {{"--site", "www", "VOK.LOG"}, "xcludes"},
        {{"--site", "www", "--show-config"}, "xcludes"},
        {{"--site"}, "--site"},
        {{"--heard"}, "--heard"},
        {{"--heard", "VOK.LOG"}, "xcludes"},
        {{"--heard", "--date", "2014-03-05", "--site", "www"}, "xcludes"},
        {{"--heard", "--date", "2014-03-05", "-o", "x.csv"}, "xcludes"},
        {{"--heard", "--show-config"}, "xcludes"},
        {{"--date", "2014-03-05", "--margin", "50"}, "--heard"},
        {{"--heard", "--date", "2014-03-05", "--margin", "0"}, "--margin"},
        {{"--heard", "--date", "2014-03-05", "--min-minutes", "x"}, "--min-minutes"},
        {{"--heard", "--date", "2014-03-05", "--fade", "-1"}, "--fade"},
        {{"--site", ""}, "--site needs the name of a folder"},
        {{"--date", "2014-03-05", "--site", ""}, "--site needs the name of a folder"},
        {{"--site", "www", "--site-url", "ftp://example.org/"}, "--site-url: \"ftp://"},
        {{"--site", "www", "--site-url", "https://example.org/?a=1"}, "query"},
        {{"--date", "2014-03-05", "--site-url", "https://example.org/"}, "--site"},
    };
    for (const Case& c : cases) {
        ParseOutcome outcome = Parse(c.args);
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        EXPECT_EQ(outcome.code, kExitUsage) << joined;
        EXPECT_FALSE(outcome.err.empty()) << joined;
        EXPECT_NE(outcome.err.find(c.messagePart), std::string::npos)
            << joined << "-> " << outcome.err;
        EXPECT_TRUE(outcome.out.empty()) << joined;
    }
}

TEST(RenderCliParse, HelpAndVersionPrintAndSucceed) {
    ParseOutcome help = Parse({"--help"});
    EXPECT_EQ(help.code, kExitOk);
    for (const char* part : {"--date", "--from", "--to", "--output", "--size", "--format",
                             "--summary", "--config", "LOGFILE"}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }
    for (const char* part : {"--heard", "--margin", "--min-minutes", "--fade"}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }
    ParseOutcome version = Parse({"--version"});
    EXPECT_EQ(version.code, kExitOk);
    EXPECT_EQ(version.out.rfind("talvor-render ", 0), 0u) << version.out;
}

// ---- Pictures ----------------------------------------------------------------------------------

// A frame as RGB, top row first.
Picture FromFrame(const FrameBitmap& frame) {
    Picture picture;
    picture.width = frame.width;
    picture.height = frame.height;
    picture.rgb.resize(size_t(frame.width) * size_t(frame.height) * 3);
    for (int y = 0; y < frame.height; ++y) {
        const unsigned char* row = frame.bits + size_t(frame.height - 1 - y) * frame.width * 4;
        for (int x = 0; x < frame.width; ++x) {
            unsigned char* p = &picture.rgb[(size_t(y) * frame.width + x) * 3];
            p[0] = row[x * 4 + 2];
            p[1] = row[x * 4 + 1];
            p[2] = row[x * 4];
        }
    }
    return picture;
}

// Pixels that differ between two pictures of the same size in rows [firstRow, lastRow).
long DifferingPixels(const Picture& a, const Picture& b, int firstRow, int lastRow) {
    long count = 0;
    for (int y = firstRow; y < lastRow; ++y) {
        for (int x = 0; x < a.width; ++x) {
            size_t i = (size_t(y) * a.width + x) * 3;
            if (std::memcmp(&a.rgb[i], &b.rgb[i], 3) != 0) ++count;
        }
    }
    return count;
}

long WhitePixels(const Picture& a, int firstRow, int lastRow) {
    long count = 0;
    for (int y = firstRow; y < lastRow; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const unsigned char* p = &a.rgb[(size_t(y) * a.width + x) * 3];
            if (p[0] > 200 && p[1] > 200 && p[2] > 200) ++count;
        }
    }
    return count;
}

// ---- The command, driven as a user would -------------------------------------------------------

// The chart's height on the 1920 x 1500 frame that a run without a display draws; the footer's
// text stands on row chartHeight + 33 with glyphs of about 16 rows.
constexpr int kHeadlessWidth = 1920;
constexpr int kHeadlessHeight = 1500;
constexpr int kFooterFirstRow = kHeadlessHeight - 36 + 14;

const char kPlainIni[] = "[CUSTOM]\r\nQTH=Paris,48.9,2.35\r\n";
const char kFooterIni[] =
    "[CUSTOM]\r\nQTH=Paris,48.9,2.35\r\nVOKTEXT=Medium wave at my place\r\nVOKCOLOR=1\r\n"
    "VOKSENS=0.8\r\n";

struct CommandRun {
    int code = -1;
    std::string out;
    std::string err;
};

class RenderCliRun : public ::testing::Test {
  protected:
    // Two folders laid out like an installation of the daily run, each with its own TALVOR.INI,
    // today's log and two past days' logs.
    static void SetUpTestSuite() {
        root_ = new TempDir("render-cli");
        today_ = GetUtcTime();
        for (const char* name : {"plain", "footer"}) {
            std::string folder = *root_ / name;
            MakeDirs(folder);
            ASSERT_EQ(RunCommand("cp '" TALVOR_EXE "' '" + folder + "/talvor'").exitCode, 0);
            WriteFileBytes(folder + "/TALVOR.INI",
                           std::string(name) == "plain" ? kPlainIni : kFooterIni);
            ASSERT_EQ(RunCommand("'" TALVOR_GEN "' '" + folder + "/BRANTOS' " + FormatDate(today_))
                          .exitCode,
                      0);
            for (const char* day : {"2014-03-03", "2014-03-05"}) {
                ASSERT_EQ(RunCommand("'" TALVOR_GEN "' '" + folder + "/BRANTOS' " + day).exitCode,
                          0);
            }
        }
    }

    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }

    void SetUp() override { out_ = std::make_unique<TempDir>("render-cli-out"); }

    static std::string Folder(const char* name) { return *root_ / name; }
    static std::string Config(const char* name) { return Folder(name) + "/TALVOR.INI"; }
    static std::string Log(const char* name, const std::string& day) {
        return Folder(name) + "/BRANTOS/" + day + "/VOK.LOG";
    }
    // The daily run's picture of today (named by the date of its save), made by running talvor
    // there the first time it is asked for: a run takes 4.5 s, and CTest starts every test in
    // a process of its own.
    static std::string DailyPicture(const char* name) {
        std::string folder = Folder(name);
        if (!FileExists(folder + "/Z.TXT")) {
            CommandResult daily = RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY ./talvor", folder);
            EXPECT_EQ(daily.exitCode, 0) << daily.output;
        }
        for (const std::string& file : FilesIn(folder)) {
            if (file.rfind("VOKLOG ", 0) == 0) return folder + "/" + file;
        }
        return "";
    }

    CommandRun Render(const std::string& args, const std::string& workingDir = "") {
        std::string errFile = *out_ / ".stderr";
        CommandResult result =
            RunCommand("(env -u DISPLAY -u WAYLAND_DISPLAY '" TALVOR_RENDER "' " + args + " 2>'" +
                           errFile + "')",
                       workingDir.empty() ? out_->path() : workingDir);
        CommandRun run;
        run.code = result.exitCode;
        run.out = result.output;
        run.err = ReadFileBytes(errFile);
        RemoveFile(errFile.c_str());
        return run;
    }

    std::string Out(const std::string& name) const { return *out_ / name; }

    static TempDir* root_;
    static UtcTime today_;
    std::unique_ptr<TempDir> out_;
};

TempDir* RenderCliRun::root_ = nullptr;
UtcTime RenderCliRun::today_;

// The picture and the summary of today are the daily run's own for the same log and settings.
TEST_F(RenderCliRun, TodayEqualsTheDailyRunPixelForPixel) {
    std::string dailyPicture = DailyPicture("plain");
    CommandRun run = Render("--config '" + Config("plain") + "' --date " + FormatDate(today_) +
                            " --summary s.txt");
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;

    std::string summary = ReadFileBytes(Out("s.txt"));
    EXPECT_EQ(summary, ReadFileBytes(Folder("plain") + "/Z.TXT"));
    EXPECT_NE(summary.find(" UTC J="), std::string::npos);
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 96);

    std::string mine = Out(PictureName(today_, PictureFormat::Gif));
    Picture rendered, daily;
    ASSERT_TRUE(ReadGif(mine, &rendered)) << mine;
    ASSERT_TRUE(ReadGif(dailyPicture, &daily)) << dailyPicture;
    ASSERT_EQ(rendered.width, kHeadlessWidth);
    ASSERT_EQ(rendered.height, kHeadlessHeight);
    ASSERT_EQ(daily.width, rendered.width);
    ASSERT_EQ(daily.height, rendered.height);
    EXPECT_EQ(DifferingPixels(rendered, daily, 0, rendered.height), 0);
    EXPECT_TRUE(rendered.rgb == daily.rgb);
}

// Started through a link in a station folder, it reads that station's TALVOR.INI and day logs.
TEST_F(RenderCliRun, ShowConfigSaysWhatTheStationsConfigurationDoes) {
    std::string station = Folder("footer");
    std::string link = station + "/talvor-render";
    if (!FileExists(link)) {
        ASSERT_EQ(symlink(TALVOR_RENDER, link.c_str()), 0);
    }
    std::string other = *out_ / "other";
    MakeDirs(other);
    WriteFileBytes(other + "/TALVOR.INI",
                   "[CUSTOM]\nOVERSEAS=9\nVOKSENS=0.05\n\n[KELDAN]\nSET " + other + "/gone\n");
    const struct {
        std::string command;
        std::vector<std::string> lines;
        std::string error;
    } cases[] = {
        {"'" + link + "' --show-config",
         {"configuration: " + station + "/TALVOR.INI (read)", "location:      PARIS",
          "footer text:   Medium wave at my place", "sensitivity:   0.8",
          "colour mode:   1 (colour palette)", "channel plan:  10 kHz, 530 to 1680 kHz",
          "data folder:   " + station + "/BRANTOS (exists)",
          "day logs:      3 days: 2014-03-03, 2014-03-05, " + FormatDate(today_),
          "picture size:  1920 x 1500"},
         ""},
        {"'" + link + "' --config '" + other + "/TALVOR.INI' --show-config --size 1024x768",
         {"configuration: " + other + "/TALVOR.INI (read)", "location:      LONDON",
          "footer text:   (none)", "sensitivity:   1", "colour mode:   0 (plain ramp)",
          "channel plan:  9 kHz, 558 to 1674 kHz",
          "data folder:   " + other + "/BRANTOS (does not exist)", "day logs:      none",
          "picture size:  1024 x 768"},
         // Reported under this program's name, not the daily run's.
         "talvor-render: [KELDAN] : \"" + other + "/gone\" DOES NOT EXIST\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        std::string errFile = *out_ / ".stderr";
        CommandResult run =
            RunCommand("(env -u DISPLAY -u WAYLAND_DISPLAY " + c.command + " 2>'" + errFile + "')");
        ASSERT_EQ(run.exitCode, 0) << run.output << ReadFileBytes(errFile);
        for (const std::string& line : c.lines) {
            EXPECT_NE(run.output.find(line + "\n"), std::string::npos) << line << "\n"
                                                                       << run.output;
        }
        EXPECT_EQ(ReadFileBytes(errFile), c.error);
    }
    // Drawing is not asked for at the same time.
    CommandRun both = Render("--show-config --date 2014-03-05");
    EXPECT_EQ(both.code, kExitUsage);
}

TEST_F(RenderCliRun, TodayWithAFooterEqualsTheDailyRunOutsideTheFootersClock) {
    std::string dailyPicture = DailyPicture("footer");
    CommandRun run = Render("--config '" + Config("footer") + "' --date " + FormatDate(today_) +
                            " -o today.gif");
    ASSERT_EQ(run.code, 0) << run.err;
    Picture rendered, daily;
    ASSERT_TRUE(ReadGif(Out("today.gif"), &rendered));
    ASSERT_TRUE(ReadGif(dailyPicture, &daily)) << dailyPicture;
    ASSERT_EQ(daily.width, rendered.width);
    ASSERT_EQ(daily.height, rendered.height);
    EXPECT_EQ(DifferingPixels(rendered, daily, 0, kFooterFirstRow), 0);
    // The footer is there in both (white text), so the mask hides a real difference at most.
    EXPECT_GT(WhitePixels(rendered, kFooterFirstRow, rendered.height), 200);
    EXPECT_GT(WhitePixels(daily, kFooterFirstRow, daily.height), 200);
}

// A past day's footer shows that day at 23'59: the picture equals the chart drawn in this
// process with the clock set so, and not the one drawn a minute earlier.
TEST_F(RenderCliRun, PastDayPngEqualsTheChartAtTheEndOfThatDay) {
    CommandRun run =
        Render("--config '" + Config("footer") + "' --date 2014-03-05 --format png -o .");
    ASSERT_EQ(run.code, 0) << run.err;
    Picture rendered;
    ASSERT_TRUE(ReadPng(Out("VOKLOG 2014-03-05.png"), &rendered));

    DailyRun daily;
    daily.paths.ConfigFilePath = Config("footer");
    daily.paths.DataFolder = Folder("footer") + "/BRANTOS";
    ReadConfiguration(&daily);
    const ScreenGeometry& g = daily.screenGeometry =
        ComputeScreenGeometry(kHeadlessWidth, kHeadlessHeight);
    ASSERT_TRUE(AllocateRecordBuffer(&daily.RecordBuffer));
    LoadTitleFont(&daily.fonts);
    RenderSurface& surface = daily.renderThread.surface;
    Outcome made = CreateRenderSurfaceOfSize(g.screenWidth, g.screenHeight, &daily.fonts, &surface);
    ASSERT_TRUE(made) << made.reason;
    SetChartProjection(g.screenWidthF, g.screenHeightF);
    daily.paths.DayLogPath = Log("footer", "2014-03-05");
    LoadDayLog(&daily);
    Picture drawn[2];
    for (int minute : {59, 58}) {
        UtcTime clock;
        ASSERT_TRUE(ParseDate("2014-03-05", &clock));
        clock.hour = 23;
        clock.minute = minute;
        ChartInput input =
            ChartInputFor(daily.settings, g, LoadedRecords(daily.RecordBuffer, daily.recordCount));
        input.clock = &clock;
        DrawChartOf(input, &surface);
        FrameBitmap* frame = ReadBackFrame(g.screenWidth, g.screenHeight);
        ASSERT_NE(frame, nullptr);
        drawn[59 - minute] = FromFrame(*frame);
        FreeFrameBitmap(frame);
    }
    DestroyRenderSurface(&surface);
    CloseDayLog(&daily.dayLogFile);
    ReleaseRecordBuffer(&daily.RecordBuffer);

    ASSERT_EQ(rendered.width, drawn[0].width);
    ASSERT_EQ(rendered.height, drawn[0].height);
    EXPECT_EQ(DifferingPixels(rendered, drawn[0], 0, rendered.height), 0);
    EXPECT_GT(DifferingPixels(rendered, drawn[1], kFooterFirstRow, rendered.height), 0);
    EXPECT_EQ(DifferingPixels(rendered, drawn[1], 0, kFooterFirstRow), 0);
}

TEST_F(RenderCliRun, SiteDayHoldsThePicturesThatTheRenderDraws) {
    CommandRun gif = Render("--config '" + Config("plain") + "' --date 2014-03-05 -o .");
    ASSERT_EQ(gif.code, 0) << gif.err;
    CommandRun site = Render("--config '" + Config("plain") + "' --date 2014-03-05 --site www");
    ASSERT_EQ(site.code, 0) << site.err;
    // The page draws the PNG's pixels itself (the browser test compares them).
    EXPECT_EQ(ReadFileBytes(Out("www/2014-03-05/chart.gif")),
              ReadFileBytes(Out("VOKLOG 2014-03-05.GIF")));
    EXPECT_FALSE(fs::exists(Out("www/2014-03-05/chart.png")));
    // Without a date, every logged day; the site's index lists them.
    CommandRun all = Render("--config '" + Config("plain") + "' --site www");
    ASSERT_EQ(all.code, 0) << all.err;
    std::string days = ReadFileBytes(Out("www/days.js"));
    for (const std::string& day :
         {std::string("2014-03-03"), std::string("2014-03-05"), FormatDate(today_)}) {
        EXPECT_NE(days.find("\"" + day + "\""), std::string::npos) << day;
    }
}

// A new station's morning update writes a site that says no day is logged yet, and succeeds.
TEST_F(RenderCliRun, AStationWithoutDayLogsGetsASiteThatSaysSo) {
    for (bool dataFolderMade : {false, true}) {
        std::string station = Out(dataFolderMade ? "empty" : "new");
        MakeDirs(station);
        WriteFileBytes(station + "/TALVOR.INI", kPlainIni);
        if (dataFolderMade) MakeDirs(station + "/BRANTOS");
        CommandRun run = Render("--config '" + station + "/TALVOR.INI' --site www", station);
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_NE(run.err.find("no day log in " + station + "/BRANTOS yet"), std::string::npos)
            << run.err;
        std::string index = ReadFileBytes(station + "/www/index.html");
        EXPECT_NE(index.find("No day has been logged yet"), std::string::npos) << index;
        EXPECT_TRUE(FileExists(station + "/www/assets/day.js"));
    }
}

TEST_F(RenderCliRun, LogFileToANamedFileMatchesTheDatedPicture) {
    CommandRun byFile = Render("--config '" + Config("plain") + "' '" + Log("plain", "2014-03-03") +
                               "' -o named.gif");
    ASSERT_EQ(byFile.code, 0) << byFile.err;
    CommandRun byDate =
        Render("--config '" + Config("plain") + "' --date 2014-03-03 -o dated/", Folder("plain"));
    // The folder does not exist: a folder name with a slash is never taken for a file.
    EXPECT_EQ(byDate.code, 1);
    EXPECT_NE(byDate.err.find("does not exist"), std::string::npos) << byDate.err;
    MakeDirs(Out("dated"));
    byDate =
        Render("--config '" + Config("plain") + "' --date 2014-03-03 -o '" + Out("dated") + "/'");
    ASSERT_EQ(byDate.code, 0) << byDate.err;
    Picture a, b;
    ASSERT_TRUE(ReadGif(Out("named.gif"), &a));
    ASSERT_TRUE(ReadGif(Out("dated/VOKLOG 2014-03-03.GIF"), &b));
    EXPECT_EQ(a.width, kHeadlessWidth);
    EXPECT_TRUE(a.rgb == b.rgb);
    // A log copied out of its dated folder takes its day from its first record.
    ASSERT_EQ(
        RunCommand("cp '" + Log("plain", "2014-03-03") + "' '" + Out("copy.log") + "'").exitCode,
        0);
    CommandRun copied = Render("--config '" + Config("plain") + "' copy.log");
    ASSERT_EQ(copied.code, 0) << copied.err;
    ASSERT_TRUE(ReadGif(Out("VOKLOG 2014-03-03.GIF"), &b));
    EXPECT_TRUE(a.rgb == b.rgb);
}

TEST_F(RenderCliRun, RangeWithGapsDrawsEveryLoggedDayAndListsTheOthers) {
    CommandRun run = Render("--config '" + Config("footer") +
                            "' --from 2014-03-02 --to 2014-03-06 -o . --format png");
    ASSERT_EQ(run.code, 0) << run.err;
    std::vector<std::string> expected = {"VOKLOG 2014-03-03.png", "VOKLOG 2014-03-05.png"};
    EXPECT_EQ(FilesIn(out_->path()), expected);
    // One line per day, in order, the missing ones listed.
    std::istringstream lines(run.out);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) got.push_back(line);
    ASSERT_EQ(got.size(), 6u) << run.out;
    EXPECT_EQ(got[0].rfind("2014-03-02 no day log", 0), 0u) << got[0];
    EXPECT_EQ(got[1].rfind("2014-03-03 ", 0), 0u) << got[1];
    EXPECT_NE(got[1].find("VOKLOG 2014-03-03.png"), std::string::npos) << got[1];
    EXPECT_EQ(got[2].rfind("2014-03-04 no day log", 0), 0u) << got[2];
    EXPECT_EQ(got[3].rfind("2014-03-05 ", 0), 0u) << got[3];
    EXPECT_EQ(got[4].rfind("2014-03-06 no day log", 0), 0u) << got[4];
    EXPECT_NE(got[5].find("2 of 2 pictures written, 3 days without"), std::string::npos);

    // The surface drawn on before gives the same picture as a fresh one.
    CommandRun single =
        Render("--config '" + Config("footer") + "' --date 2014-03-05 --format png -o single.png");
    ASSERT_EQ(single.code, 0) << single.err;
    Picture inRange, alone;
    ASSERT_TRUE(ReadPng(Out("VOKLOG 2014-03-05.png"), &inRange));
    ASSERT_TRUE(ReadPng(Out("single.png"), &alone));
    EXPECT_TRUE(inRange.rgb == alone.rgb);
}

// Worker processes change neither a pixel nor the order of the day lines.
TEST_F(RenderCliRun, RangeDrawnByWorkersEqualsOneDrawnByOne) {
    std::map<std::string, CommandRun> runs;
    for (const char* jobs : {"1", "2", "5"}) {
        MakeDirs(Out(jobs));
        runs[jobs] =
            Render("--config '" + Config("footer") +
                       "' --from 2014-03-02 --to 2014-03-06 --format png -o . --jobs " + jobs,
                   Out(jobs));
        ASSERT_EQ(runs[jobs].code, 0) << jobs << ": " << runs[jobs].err;
    }
    for (const char* jobs : {"2", "5"}) {
        SCOPED_TRACE(std::string("--jobs ") + jobs);
        EXPECT_EQ(runs[jobs].out, runs["1"].out);
        for (const char* day : {"2014-03-03", "2014-03-05"}) {
            Picture one, many;
            std::string name = std::string("/VOKLOG ") + day + ".png";
            ASSERT_TRUE(ReadPng(Out("1") + name, &one));
            ASSERT_TRUE(ReadPng(Out(jobs) + name, &many));
            EXPECT_TRUE(one.rgb == many.rgb) << day;
        }
    }
    EXPECT_NE(
        Render("--config '" + Config("footer") + "' --from 2014-03-02 --to 2014-03-06 -j 0").code,
        0);
}

// A worker that dies costs time, not pictures: the parent draws the days it left, each byte for
// byte the picture of a run drawn in one process. Worker 0's share is the first and the third
// day, worker 1's the second.
TEST_F(RenderCliRun, DaysOfAWorkerThatDiedAreDrawnByTheParent) {
    if (UsableProcessorCount() < 2)
        GTEST_SKIP() << "a range is drawn by workers only on 2 processors";
    enum class Fate { Lives, DiesAtStart, DiesAfterOneDay };
    const struct {
        const char* name;
        Fate fates[2];
    } cases[] = {
        {"both die, one after a day", {Fate::DiesAfterOneDay, Fate::DiesAtStart}},
        {"one dies, one lives", {Fate::DiesAtStart, Fate::Lives}},
    };
    const std::vector<std::string> pictures = {"VOKLOG 2014-03-03.png", "VOKLOG 2014-03-04.png",
                                               "VOKLOG 2014-03-05.png"};
    TempDir station("render-died");
    WriteFileBytes(station / "TALVOR.INI", kPlainIni);
    for (const char* day : {"2014-03-03", "2014-03-04", "2014-03-05"}) {
        ASSERT_EQ(RunCommand("'" TALVOR_GEN "' '" + station / "BRANTOS" + "' " + day).exitCode, 0);
    }
    const std::string config = station / "TALVOR.INI";
    MakeDirs(Out("one"));
    CommandRun one = Render("--config '" + config +
                            "' --from 2014-03-03 --to 2014-03-05 --format png -o one --jobs 1");
    ASSERT_EQ(one.code, 0) << one.err;

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = Out(c.name);
        MakeDirs(folder);
        WorkerShare share = [&c](const DrawingPlan& work, size_t first, size_t count, int fd) {
            Fate fate = c.fates[first];
            if (fate == Fate::Lives) return DrawWorkerShare(work, first, count, fd);
            if (fate == Fate::DiesAfterOneDay) DrawWorkerShare(work, first, work.jobs->size(), fd);
            raise(SIGKILL);
            return 1;
        };
        ParseOutcome parsed = Parse({"--config", config, "--from", "2014-03-03", "--to",
                                     "2014-03-05", "--format", "png", "-o", folder, "--jobs", "2"});
        ASSERT_EQ(parsed.code, kGoOn) << parsed.err;
        int code = RunInChild(
            [&] {
                unsetenv("DISPLAY");
                unsetenv("WAYLAND_DISPLAY");
                if (std::freopen("/dev/null", "w", stdout) == nullptr) return 120;
                return RunRenderRequestWith(parsed.request, share);
            },
            240000);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(FilesIn(folder), pictures);
        for (const std::string& picture : pictures) {
            EXPECT_TRUE(ReadFileBytes(folder + "/" + picture) ==
                        ReadFileBytes(Out("one") + "/" + picture))
                << picture;
        }
    }
}

// A worker killed halfway through a day of the site: the parent draws that day again over what
// the worker left, and both that run and the same run again end with the whole site. Worker 0's
// share is the first and the third day.
TEST_F(RenderCliRun, ASiteDayOfAWorkerKilledHalfwayIsCompletedByTheParent) {
    if (UsableProcessorCount() < 2)
        GTEST_SKIP() << "a range is drawn by workers only on 2 processors";
    TempDir station("render-site-killed");
    WriteFileBytes(station / "TALVOR.INI", kPlainIni);
    const std::vector<std::string> days = {"2014-03-03", "2014-03-04", "2014-03-05"};
    for (const std::string& day : days) {
        ASSERT_EQ(RunCommand("'" TALVOR_GEN "' '" + station / "BRANTOS" + "' " + day).exitCode, 0);
    }
    const std::string config = station / "TALVOR.INI";
    WorkerShare share = [](const DrawingPlan& work, size_t first, size_t count, int fd) {
        if (first == 0) {
            work.site->folder.betweenSteps = [](SiteStep step, const std::string& name) {
                if (step == SiteStep::TemporaryWritten &&
                    name.find("/chart.js") != std::string::npos) {
                    raise(SIGKILL);
                }
            };
        }
        return DrawWorkerShare(work, first, count, fd);
    };
    ParseOutcome parsed = Parse({"--config", config, "--from", days.front(), "--to", days.back(),
                                 "--site", Out("www"), "--jobs", "2"});
    ASSERT_EQ(parsed.code, kGoOn) << parsed.err;
    int code = RunInChild(
        [&] {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            if (std::freopen("/dev/null", "w", stdout) == nullptr) return 120;
            return RunRenderRequestWith(parsed.request, share);
        },
        240000);
    EXPECT_EQ(code, 0);
    CommandRun again = Render("--config '" + config + "' --from " + days.front() + " --to " +
                              days.back() + " --site www -j 2");
    EXPECT_EQ(again.code, 0) << again.err;
    for (const std::string& day : days) {
        for (const char* file : kDayFiles) {
            EXPECT_TRUE(FileExists(Out("www/" + day + "/" + file))) << day << "/" << file;
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(Out("www"))) {
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    }
}

// A whole-site run takes the days that have a log, however far apart: one stray log of
// 9999-12-31 is one more day, not millions of days to walk and list.
TEST_F(RenderCliRun, ASiteOfEveryDayWalksOnlyTheDaysThatHaveALog) {
    TempDir station("render-site-9999");
    WriteFileBytes(station / "TALVOR.INI", kPlainIni);
    for (const char* day : {"2014-03-05", "9999-12-31"}) {
        ASSERT_EQ(RunCommand("'" TALVOR_GEN "' '" + station / "BRANTOS" + "' " + day).exitCode, 0);
    }
    CommandRun run = Render("--config '" + station / "TALVOR.INI" + "' --site www");
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out,
              "2014-03-05 www/2014-03-05/index.html\n9999-12-31 www/9999-12-31/index.html\n"
              "2 of 2 pictures written, 0 days without a day log\n");
}

// On a terminal the run shows a bar and ends with a list of the days without a log; standard
// output still gets the day lines when it is not the terminal.
TEST_F(RenderCliRun, RangeOnATerminalShowsABarAndListsTheMissingDays) {
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY '" TALVOR_RENDER "' --config '" +
                          Config("plain") + "' --from 2014-03-02 --to 2014-03-06";
    CommandResult both = RunCommand("script -qec \"" + command + "\" /dev/null", out_->path());
    ASSERT_EQ(both.exitCode, 0) << both.output;
    EXPECT_NE(both.output.find("[#"), std::string::npos) << both.output;
    EXPECT_NE(both.output.find("2 of 2 pictures written"), std::string::npos) << both.output;
    EXPECT_NE(both.output.find("no day log for 3 days: 2014-03-02, 2014-03-04, 2014-03-06"),
              std::string::npos)
        << both.output;
    EXPECT_EQ(both.output.find("2014-03-03 ./VOKLOG"), std::string::npos) << both.output;

    CommandResult piped =
        RunCommand("script -qec \"" + command + " > lines.txt\" /dev/null", out_->path());
    ASSERT_EQ(piped.exitCode, 0) << piped.output;
    EXPECT_NE(piped.output.find("[#"), std::string::npos) << piped.output;
    std::string lines = ReadFileBytes(Out("lines.txt"));
    EXPECT_NE(lines.find("2014-03-03 ./VOKLOG 2014-03-03.GIF\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("2014-03-04 no day log"), std::string::npos) << lines;
    EXPECT_EQ(lines.find("\033"), std::string::npos) << "no terminal codes in the day lines";
}

TEST_F(RenderCliRun, RangeWithoutAnyLogFails) {
    CommandRun run = Render("--config '" + Config("plain") + "' --from 2013-01-01 --to 2013-01-31");
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("no day log from 2013-01-01 to 2013-01-31"), std::string::npos)
        << run.err;
    EXPECT_TRUE(FilesIn(out_->path()).empty());
}

// The carriers of the logged days as CSV, in order, each new when its kHz had none in the logged
// days of the week before; a day without a log is said, and a range without any fails.
TEST_F(RenderCliRun, HeardListsTheCarriersOfTheLoggedDays) {
    WriteFileBytes(Out("TALVOR.INI"), "[KELDAN]\r\nSET " + Folder("plain") + "/BRANTOS\r\n");
    auto heard = [&](const std::string& args) {
        return Render("--config TALVOR.INI --heard " + args);
    };
    CommandRun run = heard("--from 2014-03-03 --to 2014-03-05");
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("no day log for 1 day: 2014-03-04"), std::string::npos) << run.err;
    ASSERT_EQ(run.out.rfind(kHeardCsvHeader, 0), 0u) << run.out;
    std::istringstream lines(run.out.substr(std::strlen(kHeardCsvHeader)));
    std::string line, previous, firstKhz;
    std::set<std::string> khzOfFirstDay;
    std::map<std::string, int> lineCount;  // by date and new
    while (std::getline(lines, line)) {
        std::vector<std::string> f;  // the stations, the last field, are none yet
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
        ASSERT_EQ(f.size(), 7u) << line;
        std::string key = f[0] + std::string(4 - f[1].size(), '0') + f[1] + f[2];
        EXPECT_LT(previous, key) << line;  // by date, kHz and first minute
        previous = key;
        if (f[0] == "2014-03-03") khzOfFirstDay.insert(f[1]);
        EXPECT_EQ(f[6], f[0] == "2014-03-03" || khzOfFirstDay.count(f[1]) ? "no" : "yes") << line;
        if (firstKhz.empty()) firstKhz = f[1];
        ++lineCount[f[0] + f[6]];
    }
    EXPECT_GT(lineCount["2014-03-03no"], 50);
    EXPECT_GT(lineCount["2014-03-05no"] * lineCount["2014-03-05yes"], 0);

    WriteFileBytes(Out("STATIONS.CSV"), firstKhz + ",\"Radio \"\"X\"\", Y\",Here\n");
    run = heard("--date 2014-03-03");
    EXPECT_NE(run.out.find("\n2014-03-03," + firstKhz + ","), std::string::npos);
    EXPECT_NE(run.out.find(",no,\"Radio \"\"X\"\", Y (Here)\"\n"), std::string::npos) << run.out;
    for (const char* missing : {"--date 2014-03-04", "--from 2013-01-01 --to 2013-01-31"}) {
        run = heard(missing);
        EXPECT_EQ(run.code, 1) << missing;
        EXPECT_TRUE(run.out.empty()) << missing;
        EXPECT_EQ(run.err.rfind("talvor-render: no day log ", 0), 0u) << run.err;
    }
}

TEST_F(RenderCliRun, BadDatesAreUsageErrors) {
    for (const char* args : {"--date 2014-02-30", "--date 14-03-05",
                             "--from 2014-03-05 --to 2014-03-01", "--from 2014-03-05"}) {
        CommandRun run = Render("--config '" + Config("plain") + "' " + args);
        EXPECT_EQ(run.code, 2) << args;
        EXPECT_NE(run.err.find("talvor-render"), std::string::npos) << args << ": " << run.err;
        EXPECT_TRUE(FilesIn(out_->path()).empty()) << args;
    }
}

TEST_F(RenderCliRun, MissingLogsAndConfigurationFail) {
    struct Case {
        std::string args;
        const char* messagePart;
    };
    const Case cases[] = {
        {"--config '" + Config("plain") + "' --date 2014-03-04", "no day log for 2014-03-04"},
        {"--config '" + Config("plain") + "' '" + Folder("plain") + "/BRANTOS/2014-03-04/VOK.LOG'",
         "cannot read day log"},
        {"--config '" + Config("plain") + "' '" + Folder("plain") + "/BRANTOS'",
         "cannot read day log"},
        {"--config '" + Folder("plain") + "/MISSING.INI' --date 2014-03-05",
         "cannot read configuration"},
    };
    for (const Case& c : cases) {
        CommandRun run = Render(c.args);
        EXPECT_EQ(run.code, 1) << c.args;
        EXPECT_NE(run.err.find(c.messagePart), std::string::npos) << c.args << ": " << run.err;
        EXPECT_TRUE(FilesIn(out_->path()).empty()) << c.args;
    }
}

TEST_F(RenderCliRun, UnwritableOutputFolderFailsBeforeDrawing) {
    // Root may write anywhere a mode allows; sysfs refuses new files even to root.
    std::string folder = "/sys";
    if (geteuid() != 0) {
        folder = Out("locked");
        MakeDirs(folder);
        ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    }
    for (const char* mode : {"--date 2014-03-05 -o", "--from 2014-03-01 --to 2014-03-09 -o"}) {
        CommandRun run = Render("--config '" + Config("plain") + "' " + mode + " '" + folder + "'");
        EXPECT_EQ(run.code, 1) << mode;
        EXPECT_NE(run.err.find("cannot write in folder " + folder), std::string::npos) << run.err;
    }
    CommandRun file =
        Render("--config '" + Config("plain") + "' --date 2014-03-05 -o '" + folder + "/day.gif'");
    EXPECT_EQ(file.code, 1);
    EXPECT_FALSE(file.err.empty());
    CommandRun missing =
        Render("--config '" + Config("plain") + "' --from 2014-03-01 --to 2014-03-09 -o nowhere");
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("output folder nowhere does not exist"), std::string::npos)
        << missing.err;
    if (geteuid() != 0) chmod(folder.c_str(), 0755);
    for (const std::string& name : FilesIn(out_->path())) EXPECT_EQ(name, "locked");
}

TEST_F(RenderCliRun, SizeAndFormatOptionsShapeThePicture) {
    // The same width rule as the daily run: a reported 1366 is stored as 1368.
    CommandRun run =
        Render("--config '" + Config("plain") + "' --date 2014-03-05 --size 1366x768 -o small.png");
    ASSERT_EQ(run.code, 0) << run.err;
    Picture png;
    ASSERT_TRUE(ReadPng(Out("small.png"), &png));
    EXPECT_EQ(png.width, 1368);
    EXPECT_EQ(png.height, 768);

    // A .png name without --format gives a PNG; --format wins over the name.
    run = Render("--config '" + Config("plain") +
                 "' --date 2014-03-05 --size 800x600 "
                 "--format gif -o forced.png");
    ASSERT_EQ(run.code, 0) << run.err;
    Picture gif;
    EXPECT_FALSE(ReadPng(Out("forced.png"), &png));
    ASSERT_TRUE(ReadGif(Out("forced.png"), &gif));
    EXPECT_EQ(gif.width, 800);
    EXPECT_EQ(gif.height, 600);
}

}  // namespace

namespace {

std::string Shell(const std::string& text) {
    return "'" + text + "'";
}

// A closed standard output (a pipe into head) ends the day lines, never the pictures, and the
// exit status is the one the run would have had with the output open.
TEST_F(RenderCliRun, ClosedStandardOutputStopsOnlyTheDayLines) {
    std::string code = Out("code");
    CommandResult piped =
        RunCommand("(env -u DISPLAY -u WAYLAND_DISPLAY '" TALVOR_RENDER "' --config " +
                   Shell(Config("plain")) + " --from 2014-03-01 --to 2014-03-09 -o " +
                   Shell(out_->path()) + " 2>/dev/null; echo $? >" + Shell(code) + ") | head -2");
    EXPECT_EQ(ReadFileBytes(code), "0\n");
    EXPECT_TRUE(FileExists(Out("VOKLOG 2014-03-03.GIF")));
    EXPECT_TRUE(FileExists(Out("VOKLOG 2014-03-05.GIF")));
}

// An output name that is not a picture the run may replace is refused before anything is drawn:
// exit status 1, a message, and not a single file written or changed.
TEST_F(RenderCliRun, OutputsThatAreNotPicturesAreRefusedBeforeDrawing) {
    std::string log = Log("plain", "2014-03-05");
    std::string config = Config("plain");
    std::string logBefore = ReadFileBytes(log), configBefore = ReadFileBytes(config);
    ASSERT_EQ(mkfifo(Out("fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("loop", Out("loop").c_str()), 0);
    ASSERT_EQ(link(config.c_str(), Out("config-link.gif").c_str()), 0);
    bool device = mknod(Out("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    std::string base = "--config " + Shell(config) + " --date 2014-03-05 ";
    const struct {
        std::string args;
        std::string message;
    } cases[] = {
        {base + "-o fifo", "cannot write fifo: it is not a regular file"},
        {base + "-o loop", "cannot write loop: Too many levels of symbolic links"},
        {base + "-o " + Shell(log), "it is a day log to be drawn"},
        {base + "-o " + Shell(config), "it is the configuration file"},
        {base + "-o config-link.gif", "it is the configuration file"},
        {base + "-o day.gif --summary " + Shell(log), "it is a day log to be drawn"},
        {base + "-o day.gif --summary day.gif", "it is the picture's name"},
        {"--config " + Shell(config) + " " + Shell(log) + " -o " + Shell(log),
         "it is a day log to be drawn"},
        {base + "-o null", device ? "cannot write null: it is not a regular file" : ""},
    };
    std::vector<std::string> before = FilesIn(out_->path());
    for (const auto& c : cases) {
        if (c.message.empty()) continue;
        CommandRun run = Render(c.args);
        EXPECT_EQ(run.code, 1) << c.args;
        EXPECT_NE(run.err.find("talvor-render: "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
        EXPECT_EQ(FilesIn(out_->path()), before) << c.args;
    }
    EXPECT_EQ(ReadFileBytes(log), logBefore);
    EXPECT_EQ(ReadFileBytes(config), configBefore);
    struct stat st;
    EXPECT_EQ(lstat(Out("fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode), true);
    if (device) {
        EXPECT_EQ(lstat(Out("null").c_str(), &st) == 0 && S_ISCHR(st.st_mode), true);
    }

    // A link to a regular file is replaced by the new picture; the file it pointed to stays.
    WriteFileBytes(Out("victim"), "not a picture");
    ASSERT_EQ(symlink("victim", Out("linked.gif").c_str()), 0);
    CommandRun linked = Render(base + "-o linked.gif");
    EXPECT_EQ(linked.code, 0) << linked.err;
    EXPECT_EQ(ReadFileBytes(Out("victim")), "not a picture");
    EXPECT_EQ(lstat(Out("linked.gif").c_str(), &st) == 0 && S_ISREG(st.st_mode), true);
}

// The summary never lands on a picture of the same run, however either name is spelled; a name
// of neither yet counts by its folder and name.
TEST_F(RenderCliRun, SummaryAndPictureNeverShareAFile) {
    std::string base = "--config " + Shell(Config("plain")) + " --date 2014-03-05 ";
    MakeDirs(Out("sub"));
    ASSERT_EQ(symlink(".", Out("here").c_str()), 0);
    WriteFileBytes(Out("old.gif"), "an earlier picture");
    ASSERT_EQ(link(Out("old.gif").c_str(), Out("old-alias.txt").c_str()), 0);
    const struct {
        std::string args;
        bool refused;
    } cases[] = {
        {base + "-o a.gif --summary ./a.gif", true},
        {base + "-o a.gif --summary sub/../a.gif", true},
        {base + "-o ./sub/../a.gif --summary a.gif", true},
        {base + "-o a.gif --summary here/a.gif", true},
        {base + "-o old.gif --summary old-alias.txt", true},
        {base + "-o . --summary 'VOKLOG 2014-03-05.GIF'", true},
        {base + "-o sub --summary './sub/VOKLOG 2014-03-05.GIF'", true},
        {base + "-o a.gif --summary sub/a.gif", false},
        {base + "-o a.gif --summary a.txt", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::vector<std::string> before = FilesIn(out_->path());
        CommandRun run = Render(c.args);
        EXPECT_EQ(run.code, c.refused ? 1 : 0) << run.err;
        if (c.refused) {
            EXPECT_NE(run.err.find("it is the picture's name"), std::string::npos) << run.err;
            EXPECT_EQ(FilesIn(out_->path()), before);
            EXPECT_EQ(ReadFileBytes(Out("old.gif")), "an earlier picture");
        }
    }
}

// Workers are never more than the processors, nor than the available memory holds, and a count
// that was lowered is said.
TEST(RenderWorkers, CountFitsTheProcessorsAndTheMemory) {
    constexpr int64_t kMB = int64_t(1) << 20;
    const struct {
        RenderSource source;
        int jobs;
        size_t days;
        WorkerRoom room;
        int count;
        std::string note;
    } cases[] = {
        {RenderSource::Range,
         256,
         30,
         {2, 16000 * kMB},
         2,
         "--jobs 256 lowered to 2: 2 processors available"},
        {RenderSource::Range, 0, 30, {2, 16000 * kMB}, 2, ""},
        {RenderSource::Range, 4, 30, {8, 16000 * kMB}, 4, ""},
        {RenderSource::Range,
         8,
         30,
         {8, 300 * kMB},
         3,
         "--jobs 8 lowered to 3: 300 MB of memory available, about 94 MB a worker"},
        {RenderSource::Range,
         0,
         30,
         {8, 300 * kMB},
         3,
         "drawing with 3 workers: 300 MB of memory available, about 94 MB a worker"},
        {RenderSource::Range,
         0,
         30,
         {8, 50 * kMB},
         1,
         "drawing with 1 worker: 50 MB of memory available, about 94 MB a worker"},
        // A worker's memory grows with the picture.
        {RenderSource::Range,
         0,
         30,
         {8, 1000 * kMB, WorkerBytesFor(3840, 2160)},
         5,
         "drawing with 5 workers: 1000 MB of memory available, about 198 MB a worker"},
        {RenderSource::Range, 0, 30, {8, 1000 * kMB, WorkerBytesFor(1280, 720)}, 8, ""},
        {RenderSource::Range, 0, 30, {8, -1}, 8, ""},
        {RenderSource::Range, 12, 3, {8, 16000 * kMB}, 3, ""},
        {RenderSource::Range, 256, 1, {2, 16000 * kMB}, 1, ""},
        {RenderSource::Date, 4, 1, {8, 16000 * kMB}, 1, ""},
    };
    for (const auto& c : cases) {
        RenderRequest request;
        request.source = c.source;
        request.jobs = c.jobs;
        std::string note;
        SCOPED_TRACE(std::to_string(c.jobs) + " jobs, " + std::to_string(c.days) + " days");
        EXPECT_EQ(WorkerCountFor(request, c.days, c.room, &note), c.count);
        EXPECT_EQ(note, c.note);
    }
}

// Over the file size limit the picture's write fails like any other: said under the program's
// own name with the picture's final name, no temporary left, exit status 1.
TEST_F(RenderCliRun, FileSizeLimitIsAFailedWrite) {
    CommandResult limited = RunCommand(
        "(ulimit -f 100; env -u DISPLAY -u WAYLAND_DISPLAY '" TALVOR_RENDER "' --config " +
            Shell(Config("plain")) + " --date 2014-03-05 -o " + Shell(out_->path()) + " 2>" +
            Shell(Out(".err")) + ")",
        out_->path());
    EXPECT_EQ(limited.exitCode, 1);
    EXPECT_EQ(ReadFileBytes(Out(".err")), "talvor-render: cannot write " + out_->path() +
                                              "/VOKLOG 2014-03-05.GIF: File too large\n");
    RemoveFile(Out(".err").c_str());
    EXPECT_TRUE(FilesIn(out_->path()).empty());
}

// A display server that never answers: the run goes on at the headless size after its deadline
// and says so. A broken Wayland setting adds nothing to standard error.
TEST_F(RenderCliRun, DisplayTroubleNeitherHoldsTheRunNorAddsForeignLines) {
    std::string args = " --config " + Shell(Config("plain")) + " --date 2014-03-05 -o " +
                       Shell(out_->path()) + " 2>" + Shell(Out(".err")) + ")";
    std::string report = Out(".report");
    int code = InPrivateFolders(
        {"/tmp/.X11-unix"},
        [&] {
            if (SilentDisplayServer(55) < 0) return 3;
            CommandResult hung = RunCommand(
                "(env -u WAYLAND_DISPLAY DISPLAY=:55 timeout 60 '" TALVOR_RENDER "'" + args);
            WriteFileBytes(report, std::to_string(hung.exitCode) + " " +
                                       std::to_string(hung.seconds) + "\n" +
                                       ReadFileBytes(Out(".err")));
            return 0;
        },
        90000);
    if (code == 125) GTEST_SKIP() << "no private mount namespace here";
    ASSERT_EQ(code, 0);
    std::string hung = ReadFileBytes(report);
    EXPECT_EQ(hung.substr(0, 2), "0 ") << hung;
    EXPECT_LT(std::stod(hung.substr(2)), 30.0) << hung;
    EXPECT_NE(hung.find("\ntalvor-render: the display server did not answer within 2 s; drawing "
                        "at "),
              std::string::npos)
        << hung;
    DecodedGif gif;
    ASSERT_TRUE(ReadGifFile(Out("VOKLOG 2014-03-05.GIF").c_str(), &gif));
    EXPECT_EQ(gif.width, 1920);

    CommandResult wayland = RunCommand(
        "(env -u DISPLAY -u XDG_RUNTIME_DIR WAYLAND_DISPLAY=garbage '" TALVOR_RENDER "'" + args);
    EXPECT_EQ(wayland.exitCode, 0);
    EXPECT_EQ(ReadFileBytes(Out(".err")), "");
}

// A picture and a summary are on the disk before their names are: each file is flushed before
// its rename, and the folder after it.
TEST_F(RenderCliRun, FilesAreFlushedBeforeAndAfterTheirRename) {
    std::string trace = Out(".trace");
    CommandResult traced =
        // The leak checker cannot work under ptrace; it is turned off for the traced run only.
        RunCommand(
            "env -u DISPLAY -u WAYLAND_DISPLAY "
            "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
            "strace -f -y -qq -e trace=fsync,rename -o " +
                Shell(trace) + " '" TALVOR_RENDER "' --config " + Shell(Config("plain")) +
                " --date 2014-03-05 -o day.gif --summary sum.txt",
            out_->path());
    if (traced.exitCode != 0 && ReadFileBytes(trace).empty()) GTEST_SKIP() << "no strace here";
    ASSERT_EQ(traced.exitCode, 0) << traced.output;
    std::string text = ReadFileBytes(trace);
    for (const char* name : {"day.gif", "sum.txt"}) {
        SCOPED_TRACE(name);
        std::string temporary = out_->path() + "/." + name + ".";
        size_t flushed = text.find("fsync(");
        while (flushed != std::string::npos &&
               text.compare(text.find('<', flushed) + 1, temporary.size(), temporary) != 0) {
            flushed = text.find("fsync(", flushed + 1);
        }
        size_t renamed = text.find(std::string("\", \"") + name + "\"");
        size_t folder =
            text.find("<" + out_->path() + ">)", renamed == std::string::npos ? 0 : renamed);
        ASSERT_NE(flushed, std::string::npos) << text;
        ASSERT_NE(renamed, std::string::npos) << text;
        EXPECT_LT(flushed, renamed) << text;
        EXPECT_NE(folder, std::string::npos) << text;
    }
}

}  // namespace
