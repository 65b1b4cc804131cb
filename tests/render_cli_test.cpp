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
#include "render_cli_run.h"
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
