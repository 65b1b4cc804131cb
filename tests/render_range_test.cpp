// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-render over many days: ranges drawn by workers, the site of every day, the heard list.
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
#include "talvor-render/render_cli.h"
#include "talvor-render/render_tool.h"
#include "talvor-render/show_config.h"
#include "talvor-render/site_run.h"
#include "talvor/daily_run.h"
#include "test_support.h"

using namespace talvor;

namespace fs = std::filesystem;

namespace {

// The request run in a child without a display and with its day lines thrown away, as a timer
// runs it, each worker's share drawn by share; the child's exit status.
int RunHeadlessInChild(const RenderRequest& request, const WorkerShare& share) {
    return RunInChild(
        [&] {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            if (std::freopen("/dev/null", "w", stdout) == nullptr) return 120;
            return RunRenderRequestWith(request, share);
        },
        240000);
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
        int code = RunHeadlessInChild(parsed.request, share);
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
    int code = RunHeadlessInChild(parsed.request, share);
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

}  // namespace
