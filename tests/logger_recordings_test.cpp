// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-log's inputs read through: recorded files of many days, files that split the hour that
// repeats in autumn, a torn last line, and a disk that fills while minutes are written.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "calendar/calendar.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "report/report.h"
#include "talvor-log/day_log_writer.h"
#include "talvor-log/logger.h"
#include "talvor-log/recordings.h"
#include "test_support.h"

using namespace talvor;

using namespace std::chrono;

namespace {

// A scan of three 1 kHz bins, 520 to 522 kHz, the last 40 dB above the others.
std::string Scan(const std::string& date, const std::string& time) {
    return date + ", " + time + ", 519500, 522500, 1000, 1, -60, -60, -20";
}

std::string Minutes(const std::string& date, int fromHour, int minutes) {
    std::string text;
    for (int m = 0; m < minutes; ++m) {
        char time[16];
        std::snprintf(time, sizeof time, "%02d:%02d:00", fromHour + m / 60, m % 60);
        text += Scan(date, time) + "\n";
    }
    return text;
}

bool Scanned(const std::string& log, int record) {
    const auto* r =
        reinterpret_cast<const DayLogRecord*>(log.data()) + size_t(record) * kDayLogRecordSize;
    return LevelAt(r, 522) != 0;
}

class Recordings : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::make_unique<TempDir>("logger-recordings");
        SetProgramName("talvor-log");
        reported_ = std::make_unique<ReportedLines>();
    }
    void TearDown() override {
        reported_.reset();
        SetProgramName(nullptr);
        UseTimeZone("UTC");
    }
    std::string Folder() const { return *dir_ / "BRANTOS"; }
    // Reads the named files of the test's folder as recordings into a fresh data folder.
    bool Log(const std::vector<std::string>& names, bool utc = true) {
        RunCommand("rm -rf '" + Folder() + "'");
        LogOptions options;
        options.utc = utc;
        logger_ = std::make_unique<Logger>();
        StartLogger(logger_.get(), options, Folder(), 51.5, 0.1);
        std::vector<std::string> paths;
        for (const std::string& name : names) paths.push_back(*dir_ / name);
        bool stopped = false;
        bool read = LogRecordedFiles(logger_.get(), paths, &stopped);
        FinishLogger(logger_.get());
        return read && !stopped;
    }
    std::string DayLog(const std::string& date) const {
        std::string path = Folder() + "/" + date + "/VOK.LOG";
        return FileExists(path) ? ReadFileBytes(path) : std::string();
    }
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<ReportedLines> reported_;
    std::unique_ptr<Logger> logger_;
};

// One file of many days is read about twice, as the same lines in daily files are, and gives the
// same day logs.
TEST_F(Recordings, AFileOfManyDaysIsReadAboutTwiceAndGivesTheDailyFilesLogs) {
    constexpr int kDays = 16;
    std::string all;
    std::vector<std::string> daily, dates;
    for (int d = 0; d < kDays; ++d) {
        std::string date = FormatDate(StartOfDay(sys_days{year{2026} / 2 / 1} + days{d}));
        std::string lines = Minutes(date, 0, 10);
        all += lines;
        daily.push_back(date + ".csv");
        dates.push_back(date);
        WriteFileBytes(*dir_ / daily.back(), lines);
    }
    WriteFileBytes(*dir_ / "all.csv", all);

    ASSERT_TRUE(Log({"all.csv"}));
    EXPECT_LE(logger_->bytesRead, int64_t(2 * all.size()));
    std::vector<std::string> fromOne;
    for (const std::string& date : dates) fromOne.push_back(DayLog(date));
    ASSERT_TRUE(Log(daily));
    for (int d = 0; d < kDays; ++d) {
        SCOPED_TRACE(dates[size_t(d)]);
        ASSERT_EQ(fromOne[size_t(d)].size(), 10u * kDayLogRecordSize);
        EXPECT_TRUE(Scanned(fromOne[size_t(d)], 9));
        EXPECT_EQ(DayLog(dates[size_t(d)]), fromOne[size_t(d)]);
    }
}

// Berlin, 25 October 2026: 02:00..02:59 comes twice, first in summer time (00:xx UTC), then in
// winter time (01:xx UTC). Hourly files given in time order read as the one stream they were.
TEST_F(Recordings, FilesThatSplitTheRepeatedHourReadAsOneStream) {
    ASSERT_TRUE(UseTimeZone("Europe/Berlin"));
    const std::string date = "2026-10-25";
    const std::vector<std::string> hours = {Minutes(date, 1, 60), Minutes(date, 2, 60),
                                            Minutes(date, 2, 60), Minutes(date, 3, 10)};
    std::vector<std::string> names;
    std::string stream;
    for (size_t k = 0; k < hours.size(); ++k) {
        names.push_back("hour" + std::to_string(k) + ".csv");
        WriteFileBytes(*dir_ / names.back(), hours[k]);
        stream += hours[k];
    }
    WriteFileBytes(*dir_ / "stream.csv", stream);
    ASSERT_TRUE(Log({"stream.csv"}, false));
    const std::string fromStream = DayLog(date);
    ASSERT_EQ(fromStream.size(), 130u * kDayLogRecordSize);  // 00:00..02:09 UTC
    for (int k = 0; k < 130; ++k) EXPECT_TRUE(Scanned(fromStream, k)) << k;
    ASSERT_TRUE(Log(names, false));
    EXPECT_TRUE(DayLog(date) == fromStream);
}

// A last line cut off while it was written is skipped; the minute before it is kept when the cut
// line belongs to a later minute, and not when it may have held the rest of that minute's scans.
// Live and recorded alike.
TEST_F(Recordings, ATornLastLineDropsItsOwnMinuteOnly) {
    const std::string date = "2026-12-07", whole = Minutes(date, 10, 7);  // 10:00..10:06
    const std::string next = Scan(date, "10:07:00");
    struct Case {
        const char* name;
        std::string torn;
        bool keptLastMinute;
    };
    const Case cases[] = {
        {"cut in a line of the next minute", next.substr(0, next.size() - 5), true},
        {"cut in the time of a line", next.substr(0, 15), false},
        {"cut in a line of the same minute", Scan(date, "10:06:30").substr(0, 40), false},
    };
    for (const Case& c : cases) {
        for (bool live : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (live ? ", live" : ", recorded"));
            if (live) {
                RunCommand("rm -rf '" + Folder() + "'");
                Logger logger;
                LogOptions options;
                options.utc = true;
                StartLogger(&logger, options, Folder(), 51.5, 0.1);
                InputState input;
                input.name = "standard input";
                BeginInput(&logger, &input);
                for (size_t at = 0; at < whole.size();) {
                    size_t end = whole.find('\n', at);
                    LogLine(&logger, std::string_view(whole).substr(at, end - at));
                    at = end + 1;
                }
                SkipTornLine(&logger, c.torn);
                EndInput(&logger);
                FinishLogger(&logger);
            } else {
                WriteFileBytes(*dir_ / "cut.csv", whole + c.torn);
                ASSERT_TRUE(Log({"cut.csv"}));
            }
            std::string log = DayLog(date);
            ASSERT_EQ(log.size(), size_t(10 * 60 + (c.keptLastMinute ? 7 : 6)) * kDayLogRecordSize);
            EXPECT_TRUE(Scanned(log, 10 * 60 + 5));
        }
    }
}

// When the disk fills, the minutes that cannot be written are counted in the summary, as those
// of a log that cannot be opened are. The file size limit fails the writes as a full disk does.
TEST(LogDiskFull, MinutesNotWrittenAreCounted) {
    TempDir dir("logger-full");
    const std::string date = "2026-12-07";
    std::string messages = dir / "messages";
    int code = RunInChild(
        [&] {
            IgnoreWriteSignals();
            std::FILE* out = std::fopen(messages.c_str(), "w");
            if (out == nullptr) return 2;
            SetReportHandler(
                [out](const std::string& line) { std::fprintf(out, "%s\n", line.c_str()); });
            rlim_t cap = 3 * kDayLogRecordSize;
            struct rlimit limit = {cap, cap};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
            Logger logger;
            LogOptions options;
            options.utc = true;
            StartLogger(&logger, options, dir / "BRANTOS", 51.5, 0.1);
            InputState input;
            BeginInput(&logger, &input);
            std::string lines = Minutes(date, 0, 6);
            for (size_t at = 0; at < lines.size();) {
                size_t end = lines.find('\n', at);
                LogLine(&logger, std::string_view(lines).substr(at, end - at));
                at = end + 1;
            }
            EndInput(&logger);
            FinishLogger(&logger);
            std::fclose(out);
            return logger.failed ? 0 : 4;
        },
        30000);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(dir / ("BRANTOS/" + date + "/VOK.LOG")).size(), 3u * kDayLogRecordSize);
    // Minutes 3, 4 and 5, a line each.
    std::string text = ReadFileBytes(messages);
    EXPECT_NE(text.find("VOK.LOG: 3 minutes written (0 empty), 3 lines skipped (3 day log not "
                        "writable)"),
              std::string::npos)
        << text;
}

}  // namespace
