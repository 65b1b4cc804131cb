// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-log as built: scans fed from a pipe or from recorded files, its exit status, the
// stop signal, the files it flushes, and its day logs drawn by talvor-render.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "calendar/calendar.h"
#include "config/run_state.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "daylog/sun_events.h"
#include "logger_support.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "report/report.h"
#include "talvor-log/day_log_writer.h"
#include "talvor-log/logger.h"
#include "talvor-log/minute_levels.h"
#include "talvor-log/power_scan.h"
#include "talvor/daily_run.h"
#include "test_support.h"

using namespace talvor;

using namespace std::chrono;

namespace {

// ---- The built program -------------------------------------------------------------------------

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;  // top row first
    int Brightness(int x, int y) const {
        const unsigned char* p = &rgb[(size_t(y) * width + x) * 3];
        return p[0] + p[1] + p[2];
    }
};

bool ReadPng(const std::string& path, Picture* picture) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    picture->width = int(image.width);
    picture->height = int(image.height);
    picture->rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr) != 0;
}

// A day in the past of any clock that runs the tests: live lines ahead of the clock are skipped.
const std::string kDate = "2025-12-07", kNextDate = "2025-12-08";

class LogProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::make_unique<TempDir>("log-program");
        WriteFileBytes(*dir_ / "TALVOR.INI", "[CUSTOM]\r\nQTH=London,51.5,-0.1\r\n");
    }
    // A day of scans in Berlin's local time, covering the UTC day 2025-12-07, with a carrier on
    // 1000 kHz all day and a few lines the tools might leave behind.
    std::string DayOfScans() {
        Band band;
        band.carriers = {{1000.2, 30}};
        // The band is the same all day: its lines are made once, under each minute's time.
        std::vector<std::string> scan = RtlPowerScan("yyyy-mm-dd", "hh:mm:ss", band);
        std::string text = "# recorded with rtl_power\n";
        for (int m = 0; m < kMinutesPerDay; ++m) {
            // Berlin is an hour ahead of UTC in December.
            sys_seconds local = sys_days{Day(2025, 12, 7)} + minutes{m} + hours{1};
            sys_days day = floor<days>(local);
            hh_mm_ss clock{local - day};
            char time[16];
            std::snprintf(time, sizeof time, "%02d:%02d:%02d", int(clock.hours().count()),
                          int(clock.minutes().count()), int(clock.seconds().count()));
            std::string date = FormatDate(StartOfDay(day));
            for (const std::string& line : scan) {
                text +=
                    date + ", " + time + line.substr(std::strlen("yyyy-mm-dd, hh:mm:ss")) + "\n";
            }
            if (m == 700) text += "garbage\n\n";
        }
        return text;
    }
    std::string LogPath() const { return *dir_ / "BRANTOS/2025-12-07/VOK.LOG"; }
    std::string Logger(const std::string& arguments, const std::string& input = "") {
        return "TZ=Europe/Berlin '" TALVOR_LOG "' --config '" + (*dir_ / "TALVOR.INI") + "' " +
               arguments + (input.empty() ? "" : " < '" + input + "'");
    }
    std::unique_ptr<TempDir> dir_;
};

TEST_F(LogProgramTest, ADayPipedThroughIsDrawnWithTheCarrierBrightAndItsNeighboursNot) {
    WriteFileBytes(*dir_ / "day.csv", DayOfScans());
    CommandResult logged = RunCommand("cat '" + (*dir_ / "day.csv") + "' | " + Logger(""));
    ASSERT_EQ(logged.exitCode, 0) << logged.output;
    EXPECT_NE(logged.output.find("talvor-log: " + LogPath() +
                                 ": 1440 minutes written (0 empty), 3 lines skipped (2 blank or "
                                 "comment, 1 too few fields)"),
              std::string::npos)
        << logged.output;
    LoggedDay day{ReadFileBytes(LogPath())};
    ASSERT_EQ(day.records(), 1440);
    EXPECT_EQ(day.time(0), "2025-12-07 00:00");
    EXPECT_EQ(day.time(1439), "2025-12-07 23:59");
    // The QTH of the configuration, not the default.
    SunEvents london = SunEventsOn(Day(2025, 12, 7), 51.5, -0.1);
    SunEvents newYork = SunEventsOn(Day(2025, 12, 7), kNewYorkLatitude, kNewYorkLongitude);
    int markers[3] = {};
    for (int k = 0; k < 1440; ++k) {
        int kind = MarkerKind(day.at(k));
        if (kind == 2) {
            ++markers[0];
            EXPECT_EQ(k, london.rise);
        }
        if (kind == 1) {
            ++markers[1];
            EXPECT_EQ(k, london.set);
        }
        if (kind == -1) {
            ++markers[2];
            EXPECT_EQ(k, newYork.set);
        }
    }
    EXPECT_EQ(markers[0], 1);
    EXPECT_EQ(markers[1], 1);
    EXPECT_EQ(markers[2], 1);

    std::string picture = *dir_ / "day.png";
    CommandResult drawn =
        RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY '" TALVOR_RENDER "' --config '" +
                   (*dir_ / "TALVOR.INI") +
                   "' --date 2025-12-07 --size 1920x1500 --format png -o '" + picture + "'");
    ASSERT_EQ(drawn.exitCode, 0) << drawn.output;
    Picture png;
    ASSERT_TRUE(ReadPng(picture, &png));
    ASSERT_EQ(png.width, 1920);
    // The column of f kHz is x = f + 360 - 500 on a 1920-pixel frame; row k of the log is 40
    // pixels down. 990 and 1010 kHz are the carrier's neighbours on the 10 kHz plan.
    auto meanBrightness = [&](int khz) {
        long sum = 0;
        int rows = 0;
        for (int k = 100; k < 1400; k += 10, ++rows) sum += png.Brightness(khz + 360 - 500, 40 + k);
        return double(sum) / rows;
    };
    double carrier = meanBrightness(1000);
    EXPECT_GT(carrier, 250);
    for (int neighbour : {990, 1010, 700, 1500}) {
        EXPECT_LT(meanBrightness(neighbour), carrier / 4) << neighbour;
    }
}

TEST_F(LogProgramTest, CompressedRecordingsGiveTheSameLogAsPlainOnesWhateverTheirNames) {
    WriteFileBytes(*dir_ / "day.csv", DayOfScans());
    CommandResult plain = RunCommand(Logger("'" + (*dir_ / "day.csv") + "'"));
    ASSERT_EQ(plain.exitCode, 0) << plain.output;
    std::string fromPlain = ReadFileBytes(LogPath());
    EXPECT_EQ(fromPlain.size(), 1440u * kDayLogRecordSize);
    struct Case {
        const char* name;
        bool compressed;
    };
    // The contents decide, not the name.
    const Case cases[] = {{"day.csv.gz", true}, {"packed.csv", true}, {"plain.csv.gz", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = *dir_ / c.name;
        ASSERT_EQ(RunCommand((c.compressed ? "gzip -c '" : "cat '") + (*dir_ / "day.csv") +
                             "' > '" + path + "'")
                      .exitCode,
                  0);
        RunCommand("rm -r '" + (*dir_ / "BRANTOS") + "'");
        CommandResult result = RunCommand(Logger("'" + path + "'"));
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(ReadFileBytes(LogPath()), fromPlain);
    }
}

TEST_F(LogProgramTest, ExitStatusSaysWhatFailedAndTheOtherFilesAreStillRead) {
    Band band;
    band.carriers = {{1000.2, 30}};
    std::string lines;
    for (const std::string& line : RtlPowerScan("2025-12-07", "10:30:00", band))
        lines += line + "\n";
    WriteFileBytes(*dir_ / "good.csv", lines);
    WriteFileBytes(*dir_ / "broken.csv.gz", "not gzip at all, and not a scan either");

    CommandResult missing =
        RunCommand(Logger("'" + (*dir_ / "missing.csv") + "' '" + (*dir_ / "good.csv") + "'"));
    EXPECT_EQ(missing.exitCode, 1) << missing.output;
    EXPECT_NE(missing.output.find("talvor-log: cannot read " + (*dir_ / "missing.csv")),
              std::string::npos)
        << missing.output;
    EXPECT_EQ(LoggedDay{ReadFileBytes(LogPath())}.records(), 9 * 60 + 31);

    // A day folder that is a file: the log cannot be written.
    WriteFileBytes(*dir_ / "BRANTOS/2025-12-08", "");
    std::string tomorrow;
    for (const std::string& line : RtlPowerScan("2025-12-08", "10:30:00", band))
        tomorrow += line + "\n";
    WriteFileBytes(*dir_ / "tomorrow.csv", tomorrow);
    CommandResult unwritable = RunCommand(Logger("'" + (*dir_ / "tomorrow.csv") + "'"));
    EXPECT_EQ(unwritable.exitCode, 1) << unwritable.output;
    EXPECT_NE(unwritable.output.find("day log not writable"), std::string::npos)
        << unwritable.output;

    CommandResult usage = RunCommand(Logger("--span -3"));
    EXPECT_EQ(usage.exitCode, 2) << usage.output;
    CommandResult badConfig =
        RunCommand("'" TALVOR_LOG "' --config '" + (*dir_ / "none.ini") + "' < /dev/null");
    EXPECT_EQ(badConfig.exitCode, 2) << badConfig.output;
}

TEST_F(LogProgramTest, StopSignalWritesTheMinuteInHandAndEndsWell) {
    Band band;
    band.carriers = {{1000.2, 30}};
    std::string lines;
    for (const char* time : {"12:00:00", "12:01:00", "12:02:00"}) {
        for (const std::string& line : RtlPowerScan("2025-12-07", time, band)) lines += line + "\n";
    }
    WriteFileBytes(*dir_ / "live.csv", lines);
    // A terminal that closes sends SIGHUP: taken as the others.
    for (int stopSignal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(stopSignal));
        RunCommand("rm -rf '" + (*dir_ / "BRANTOS") + "'");
        // The writer keeps the pipe open, as a receiver tool does between its scans.
        int input[2];
        ASSERT_EQ(pipe(input), 0);
        std::string config = *dir_ / "TALVOR.INI", errors = *dir_ / "errors.txt";
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(input[0], 0);
            close(input[0]);
            close(input[1]);
            int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err >= 0) dup2(err, 2);
            setenv("TZ", "Europe/Berlin", 1);
            execl(TALVOR_LOG, TALVOR_LOG, "--config", config.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(input[0]);
        ASSERT_EQ(write(input[1], lines.data(), lines.size()), ssize_t(lines.size()));
        // 12:00 and 12:01 are written once 12:02 arrives; 12:02 is the minute in hand.
        int records = 0;
        for (int waited = 0; waited < 10000 && records < 11 * 60 + 2; waited += 20) {
            SleepMs(20);
            if (FileExists(LogPath()))
                records = int(ReadFileBytes(LogPath()).size() / kDayLogRecordSize);
        }
        EXPECT_EQ(records, 11 * 60 + 2);
        kill(child, stopSignal);
        int status = -1;
        for (int waited = 0; waited < 10000; waited += 20) {
            if (waitpid(child, &status, WNOHANG) == child) break;
            SleepMs(20);
        }
        close(input[1]);
        if (kill(child, 0) == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "talvor-log did not end on " << strsignal(stopSignal);
        }
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFileBytes(errors);
        LoggedDay day{ReadFileBytes(LogPath())};
        ASSERT_EQ(day.records(), 11 * 60 + 3);
        EXPECT_FALSE(day.empty(11 * 60 + 2));
        EXPECT_NE(ReadFileBytes(errors).find(LogPath() + ": 663 minutes written (660 empty)"),
                  std::string::npos)
            << ReadFileBytes(errors);
    }
}

std::string ScansText(const std::vector<std::string>& times, const std::string& date = kDate,
                      double offsetHz = 0) {
    Band band;
    band.carriers = {{1000.2, 30}};
    std::string text;
    for (const std::string& time : times) {
        for (const std::string& line : RtlPowerScan(date, time, band, offsetHz))
            text += line + "\n";
    }
    return text;
}

TEST_F(LogProgramTest, RecordedFilesInAnyOrderGiveTheDayLogsOfDateOrder) {
    WriteFileBytes(*dir_ / "a.csv", ScansText({"10:00:00", "10:01:00", "10:02:30.25"}));
    WriteFileBytes(*dir_ / "b.csv", ScansText({"12:00:00", "12:01:00"}));
    WriteFileBytes(*dir_ / "c.csv", ScansText({"02:00:00", "02:01:00"}, kNextDate));
    const char* orders[] = {"a.csv b.csv c.csv", "c.csv b.csv a.csv", "b.csv c.csv a.csv"};
    std::string first, second;
    for (const char* order : orders) {
        SCOPED_TRACE(order);
        RunCommand("rm -rf '" + (*dir_ / "BRANTOS") + "'");
        CommandResult result = RunCommand("cd '" + dir_->path() + "' && " + Logger(order));
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_NE(result.output.find(LogPath() + ": 662 minutes written (657 empty)"),
                  std::string::npos)
            << result.output;
        EXPECT_NE(result.output.find("2 days, 724 minutes written, 0 lines skipped"),
                  std::string::npos)
            << result.output;
        std::string day = ReadFileBytes(LogPath()),
                    next = ReadFileBytes(*dir_ / ("BRANTOS/" + kNextDate + "/VOK.LOG"));
        EXPECT_EQ(LoggedDay{day}.records(), 11 * 60 + 2);  // Berlin is an hour ahead
        if (first.empty()) {
            first = day;
            second = next;
        }
        EXPECT_EQ(day, first);
        EXPECT_EQ(next, second);
    }
}

TEST_F(LogProgramTest, InputsThatCannotMakeALogSayWhy) {
    Band band;
    std::string coarse;
    for (const char* time : {"10:00:00", "10:01:00"}) {
        coarse += ScanLineText(kDate, time, 500000, 1720000, 20000, band, false) + "\n";
    }
    struct Case {
        const char* name;
        std::string text;
        const char* options;
        int exitCode;
        std::vector<std::string> said;
        bool logged;
    };
    const Case cases[] = {
        {"up-converted scans without --offset",
         ScansText({"10:00:00"}, kDate, 125e6),
         "",
         1,
         {"up.csv: the scans cover 125.400..126.800 MHz, none of the 520..1700 kHz", "--offset",
          "2 lines skipped (2 outside 520..1700 kHz)"},
         false},
        {"up-converted scans with --offset",
         ScansText({"10:00:00"}, kDate, 125e6),
         "--offset 125M",
         0,
         {LogPath() + ": 541 minutes written (540 empty)"},
         true},
        {"bins of 20 kHz", coarse, "", 0, {"bins of 20.0 kHz cannot tell channels"}, true},
        {"a letter",
         "Dear station,\n\nit rained all day.\n",
         "",
         0,
         {"up.csv: no scans; 3 lines skipped (1 blank or comment, 2 too few fields)"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunCommand("rm -rf '" + (*dir_ / "BRANTOS") + "'");
        WriteFileBytes(*dir_ / "up.csv", c.text);
        // Through a pipe, as a receiver gives them.
        CommandResult result =
            RunCommand("cd '" + dir_->path() + "' && cat up.csv | " + Logger(c.options));
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        std::string output = result.output;
        for (const std::string& text : c.said) {
            std::string named = text;
            if (named.rfind("up.csv", 0) == 0) named.replace(0, 6, "standard input");
            EXPECT_NE(output.find(named), std::string::npos) << output;
        }
        // Said once for the input, not once a line.
        EXPECT_EQ(output.find("bins of", output.find("bins of") + 1), std::string::npos);
        EXPECT_EQ(FileExists(LogPath()), c.logged) << output;
    }
}

TEST_F(LogProgramTest, CutRecordingsKeepTheirWholeLinesAndTheWholeFileFillsTheRest) {
    WriteFileBytes(*dir_ / "day.csv", DayOfScans());
    ASSERT_EQ(RunCommand(Logger("'" + (*dir_ / "day.csv") + "'")).exitCode, 0);
    const std::string whole = ReadFileBytes(LogPath());
    struct Case {
        const char* name;
        const char* cut;  // makes cut.csv from day.csv
        int exitCode;
        const char* said;
    };
    const Case cases[] = {
        {"a plain file cut in a line", "head -c 1500000 day.csv > cut.csv", 0, "torn"},
        {"a compressed file cut short",
         "gzip -c day.csv > whole.gz && head -c $(($(stat -c %s whole.gz) / 2)) whole.gz > cut.csv",
         1, "cut.csv: unexpected end of file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunCommand("rm -rf '" + (*dir_ / "BRANTOS") + "'");
        ASSERT_EQ(RunCommand("cd '" + dir_->path() + "' && " + c.cut).exitCode, 0);
        CommandResult cut = RunCommand("cd '" + dir_->path() + "' && " + Logger("cut.csv"));
        EXPECT_EQ(cut.exitCode, c.exitCode) << cut.output;
        EXPECT_NE(cut.output.find(c.said), std::string::npos) << cut.output;
        int records = LoggedDay{ReadFileBytes(LogPath())}.records();
        EXPECT_GT(records, 60);
        EXPECT_LT(records, 1440);
        CommandResult rest = RunCommand(Logger("'" + (*dir_ / "day.csv") + "'"));
        EXPECT_EQ(rest.exitCode, 0) << rest.output;
        EXPECT_TRUE(ReadFileBytes(LogPath()) == whole);
    }
}

// Made folders are flushed into their parents, and a live log every few minutes, not only at
// the day's end.
TEST_F(LogProgramTest, FoldersAndTheLiveLogAreFlushedToTheDisk) {
    WriteFileBytes(*dir_ / "live.csv",
                   ScansText({"10:30:00", "10:31:00", "10:32:00", "10:33:00", "10:34:00"}));
    std::string trace = *dir_ / "trace.txt";
    CommandResult traced =
        RunCommand("cat '" + (*dir_ / "live.csv") + "' | TZ=Europe/Berlin " +
                   "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" " +
                   "strace -f -y -qq -e trace=fsync,fdatasync -o '" + trace +
                   "' '" TALVOR_LOG "' --config '" + (*dir_ / "TALVOR.INI") + "'");
    if (traced.exitCode != 0 && ReadFileBytes(trace).empty()) GTEST_SKIP() << "no strace here";
    ASSERT_EQ(traced.exitCode, 0) << traced.output;
    std::string text = ReadFileBytes(trace);
    std::string folder = *dir_ / "BRANTOS";
    // BRANTOS made in the station folder, the day's folder in it, the log in that.
    for (const std::string& flushed : {std::string("fsync("), "<" + dir_->path() + ">)",
                                       "<" + folder + ">)", "<" + folder + "/" + kDate + ">)"}) {
        EXPECT_NE(text.find(flushed), std::string::npos) << flushed << "\n" << text;
    }
    size_t synced = text.find("fdatasync(");
    ASSERT_NE(synced, std::string::npos) << text;
    EXPECT_EQ(text.compare(text.find('<', synced) + 1, LogPath().size(), LogPath()), 0) << text;
}

TEST_F(LogProgramTest, TheReceiverCommandIsTheSameEverywhereItIsGiven) {
    const std::string receiver = "rtl_power -D -f 520k:1710k:1k -i 60 - | ";
    const std::string converted = "rtl_power -f 125.52M:126.71M:1k -i 60 - | ";
    CommandResult help = RunCommand("'" TALVOR_LOG "' --help");
    ASSERT_EQ(help.exitCode, 0);
    struct Case {
        const char* source;
        std::string text;
        bool converter;  // gives the up-converter's command too
    };
    const Case cases[] = {
        {"--help", help.output, true},
        {"README", ReadFileBytes(TALVOR_SOURCE_DIR "/README.md"), true},
        {"man page", ReadFileBytes(TALVOR_SOURCE_DIR "/docs/man/talvor-log.1.scd"), true},
        {"unit", ReadFileBytes(TALVOR_SOURCE_DIR "/packaging/systemd/talvor-log.service.in"),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_NE(c.text.find(receiver), std::string::npos);
        if (c.converter) {
            EXPECT_NE(c.text.find(converted + "talvor-log --offset 125M"), std::string::npos);
        }
        EXPECT_EQ(c.text.find("rtl_power -D 2"), std::string::npos);
    }
}

}  // namespace
