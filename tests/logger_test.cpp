// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-log's parts: scan lines as the receiver tools write them, the minute's levels, the
// logger over lines and the day log it appends to, and its command line.
#include "talvor-log/logger.h"

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
#include "talvor-log/minute_levels.h"
#include "talvor-log/power_scan.h"
#include "talvor/daily_run.h"
#include "test_support.h"

using namespace talvor;

using namespace std::chrono;

namespace {

constexpr SkipReason kScan = FailureKind::None;

// ---- The line reader ---------------------------------------------------------------------------

TEST(ScanLine, ReadsLinesAsTheToolsWriteThem) {
    struct Case {
        const char* text;
        SkipReason result;  // kScan: a scan
        size_t values;      // kept values, with a Scan
        int nanAt;          // index of a value that must be "no measurement", or -1
        int second;
    };
    const Case cases[] = {
        {"2026-12-07, 21:04:00, 400000, 402000, 976.56, 245, -41.27, -39.80", kScan, 2, -1, 0},
        // Fewer values than the range needs: cut off while it was written.
        {"2026-12-07, 21:04:00, 400000, 1800000, 976.56, 245, -41.27, -39.80", SkipReason::Torn, 0,
         -1, 0},
        {"2026-12-07, 21:04:00, 1000, 5000, 1000, 3, 1, 2, 3", SkipReason::Torn, 0, -1, 0},
        // A fraction of the second, CR LF line ends, a trailing comma.
        {"2026-12-07, 21:04:07.123456, 1000, 4000, 1000, 3, 1, 2, 3,\r", kScan, 3, -1, 7},
        // The extra value past (high - low) / step is not kept.
        {"2026-12-07, 21:04:00, 1000, 4000, 1000, 3, 1, 2, 3, 4", kScan, 3, -1, 0},
        {"2026-12-07, 21:04:00, 0, 2930, 976.56, 3, 1, 2, 3, 4", kScan, 3, -1, 0},
        {"2026-12-07, 21:04:00, 1000, 5000, 1000, 3, -inf, nan, -nan, inf", kScan, 4, 0, 0},
        {"2026-12-07, 21:04:00, 1000, 5000, 1000, 3, 1, 2, nan, 4", kScan, 4, 2, 0},
        {"2026-12-07,21:04:00,1000,3000,1000,3,+1,-2", kScan, 2, -1, 0},
        {"", SkipReason::BlankOrComment, 0, -1, 0},
        {"   \r", SkipReason::BlankOrComment, 0, -1, 0},
        {"# rtl_power 2026-12-07", SkipReason::BlankOrComment, 0, -1, 0},
        {"2026-12-07, 21:04:00, 1000, 3000, 1000, 3", SkipReason::TooFewFields, 0, -1, 0},
        {"2026-12-07, 21:04:00, 1000, 3000, 1000, 3,", SkipReason::TooFewFields, 0, -1, 0},
        {"2026-12-07, 21:04:00", SkipReason::TooFewFields, 0, -1, 0},
        {"2026-02-30, 21:04:00, 1000, 3000, 1000, 3, 1", SkipReason::BadDateTime, 0, -1, 0},
        {"07.12.2026, 21:04:00, 1000, 3000, 1000, 3, 1", SkipReason::BadDateTime, 0, -1, 0},
        {"0000-12-07, 21:04:00, 1000, 3000, 1000, 3, 1", SkipReason::BadDateTime, 0, -1, 0},
        {"2026-12-07, 24:00:00, 1000, 3000, 1000, 3, 1", SkipReason::BadDateTime, 0, -1, 0},
        {"2026-12-07, 21:04:00., 1000, 3000, 1000, 3, 1", SkipReason::BadDateTime, 0, -1, 0},
        {"2026-12-07, 21:04:00, 1000, 3000, 1000, 3, 1, x2", SkipReason::BadNumber, 0, -1, 0},
        {"2026-12-07, 21:04:00, 1k, 3000, 1000, 3, 1", SkipReason::BadNumber, 0, -1, 0},
        {"2026-12-07, 21:04:00, 1000, 3000, 1000, 3, 1, , 2", SkipReason::BadNumber, 0, -1, 0},
        {"2026-12-07, 21:04:00, 1000, 3000, 1000, 3, +-1", SkipReason::BadNumber, 0, -1, 0},
        {"2026-12-07, 21:04:00, 3000, 3000, 1000, 3, 1", SkipReason::BadRange, 0, -1, 0},
        {"2026-12-07, 21:04:00, 3000, 1000, 1000, 3, 1", SkipReason::BadRange, 0, -1, 0},
        {"2026-12-07, 21:04:00, 1000, 3000, 0, 3, 1", SkipReason::BadRange, 0, -1, 0},
        {"2026-12-07, 21:04:00, 1000, 3000, -1000, 3, 1", SkipReason::BadRange, 0, -1, 0},
        {"2026-12-07, 21:04:00, 1000, 3000, nan, 3, 1", SkipReason::BadRange, 0, -1, 0},
        {"2026-12-07, 21:04:00, 1000, 1100, 1000, 3, 1", SkipReason::BadRange, 0, -1, 0},
    };
    ScanLine line;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Outcome result = ParseScanLine(c.text, &line);
        EXPECT_EQ(result.kind, c.result);
        if (!result) continue;
        EXPECT_EQ(line.db.size(), c.values);
        EXPECT_EQ(line.year, 2026);
        EXPECT_EQ(line.month, 12);
        EXPECT_EQ(line.day, 7);
        EXPECT_EQ(line.hour, 21);
        EXPECT_EQ(line.minute, 4);
        EXPECT_EQ(line.second, c.second);
        for (size_t i = 0; i < line.db.size(); ++i) {
            if (int(i) == c.nanAt || (c.nanAt == 0 && i < 4)) {
                EXPECT_TRUE(std::isnan(line.db[i])) << i;
            } else {
                EXPECT_FALSE(std::isnan(line.db[i])) << i;
            }
        }
    }
    ASSERT_EQ(
        ParseScanLine("2026-12-07, 21:04:00, 400000, 402000, 976.56, 245, -41.27, -39.80", &line)
            .kind,
        kScan);
    EXPECT_DOUBLE_EQ(line.hzLow, 400000);
    EXPECT_DOUBLE_EQ(line.hzHigh, 402000);
    EXPECT_DOUBLE_EQ(line.hzStep, 976.56);
    EXPECT_FLOAT_EQ(line.db[0], -41.27f);
    EXPECT_FLOAT_EQ(line.db[1], -39.80f);
}

// ---- A minute's levels -------------------------------------------------------------------------

MinuteLevels* MinuteOf(const std::vector<std::string>& lines, double offsetHz = 0) {
    static MinuteLevels minute;
    ClearMinute(&minute);
    ScanLine line;
    for (const std::string& text : lines) {
        EXPECT_EQ(ParseScanLine(text, &line).kind, kScan) << text.substr(0, 60);
        AddScan(&minute, line, offsetHz);
    }
    return &minute;
}

TEST(MinuteLevels, BinsOfAnyWidthAndOffsetGiveOneAnswer) {
    Band band;
    band.carriers = {{1000.2, 30}, {1400.2, 15}, {600.2, 45}};
    struct Layout {
        const char* name;
        std::vector<std::string> lines;
        double offsetHz;
    };
    const std::string d = "2026-12-07", t = "21:04:00";
    std::vector<Layout> layouts = {
        {"1 kHz bins on whole kHz", {ScanLineText(d, t, 519500, 1710500, 1000, band)}, 0},
        {"976.56 Hz bins in two hops", RtlPowerScan(d, t, band), 0},
        {"2 kHz bins", {ScanLineText(d, t, 500000, 1720000, 2000, band, false)}, 0},
        {"2 kHz bins half a kHz off", {ScanLineText(d, t, 500500, 1720500, 2000, band, false)}, 0},
        {"500 Hz bins", {ScanLineText(d, t, 510000, 1710000, 500, band)}, 0},
        {"through a 125 MHz up-converter", RtlPowerScan(d, t, band, 125e6), 125e6},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const MinuteLevels* minute = MinuteOf(layout.lines, layout.offsetHz);
        int32_t levels[kBandKhzCount];
        MapLevels(*minute, LevelScale{}, levels);
        auto at = [&](int khz) { return levels[khz - kBandFirstKhz]; };
        // 30 dB over a 50 dB span is 153 (2 kHz bins hold twice the floor: 27 dB, 138): the
        // carrier in the top half, the floor near 0.
        // Bins wider than a kHz cannot place a carrier closer than a bin: take its peak.
        auto peak = [&](int khz) { return std::max({at(khz - 1), at(khz), at(khz + 1)}); };
        EXPECT_GE(peak(1000), 128);
        EXPECT_LE(peak(1000), 170);
        EXPECT_GT(peak(600), peak(1000));
        EXPECT_GT(peak(1000), peak(1400));
        EXPECT_GT(peak(1400), 40);
        for (int khz : {520, 700, 990, 1010, 1300, 1700}) EXPECT_LE(at(khz), 12) << khz;
        EXPECT_NEAR(MinuteFloorDb(*minute), -60, 3.5);
    }
}

TEST(MinuteLevels, MeanOfLinearPowerOverTheMinuteAndNothingWhereNothingWasMeasured) {
    // Two scans of 600..699 kHz at -60 and -50 dB: the mean power is -52.6 dB, not -55.
    const MinuteLevels* minute =
        MinuteOf({"2026-12-07, 21:04:00, 599500, 699500, 1000, 1, " +
                      [] {
                          std::string v;
                          for (int i = 0; i < 100; ++i) v += (i ? ", " : "") + std::string("-60");
                          return v;
                      }(),
                  "2026-12-07, 21:04:30, 599500, 699500, 1000, 1, " +
                      [] {
                          std::string v;
                          for (int i = 0; i < 100; ++i)
                              v += (i ? ", " : "") + std::string(i == 50 ? "nan" : "-50");
                          return v;
                      }(),
                  "2026-12-07, 21:04:40, 800000, 801000, 1000, 1, -inf"});
    LevelScale scale;
    scale.fixedFloor = true;
    scale.floorDb = -70;
    scale.spanDb = 50;
    int32_t levels[kBandKhzCount];
    MapLevels(*minute, scale, levels);
    auto at = [&](int khz) { return levels[khz - kBandFirstKhz]; };
    EXPECT_EQ(at(600), 89);  // (-52.6 + 70) / 50 * 255
    EXPECT_EQ(at(699), 89);
    EXPECT_EQ(at(650), 51);  // the second scan had no measurement there: -60 alone
    EXPECT_EQ(at(599), 0);   // outside the scans
    EXPECT_EQ(at(700), 0);
    EXPECT_EQ(at(800), 0);  // only -inf there: no measurement
    EXPECT_EQ(at(1700), 0);
}

TEST(MinuteLevels, MappingIsAStraightClampedLineThatNeverTurnsDown) {
    struct Case {
        double db;
        int32_t level;
    };
    const Case cases[] = {{-60, 0},   {-80, 0},   {-59.9, 1}, {-34, 133},
                          {-30, 153}, {-10, 255}, {20, 255}};
    ScanLine line;
    line.hzLow = 520000 - 500;
    line.hzStep = 1000;
    for (const Case& c : cases) line.db.push_back(float(c.db));
    line.hzHigh = line.hzLow + 1000.0 * line.db.size();
    MinuteLevels minute;
    ClearMinute(&minute);
    AddScan(&minute, line, 0);
    LevelScale scale{true, -60, 50};
    int32_t levels[kBandKhzCount];
    MapLevels(minute, scale, levels);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(levels[i], cases[i].level) << cases[i].db;

    // Any band, default scale: the order of the powers is the order of the levels.
    line.hzLow = 519500;
    line.db.clear();
    for (int k = 0; k < kBandKhzCount; ++k) line.db.push_back(float(-90 + std::fmod(k * 37.3, 80)));
    line.hzHigh = line.hzLow + 1000.0 * line.db.size();
    ClearMinute(&minute);
    AddScan(&minute, line, 0);
    MapLevels(minute, LevelScale{}, levels);
    for (int a = 0; a < kBandKhzCount; a += 7) {
        for (int b = 0; b < kBandKhzCount; b += 11) {
            if (line.db[a] > line.db[b]) {
                ASSERT_GE(levels[a], levels[b]) << a << " " << b;
            }
        }
    }
}

// ---- The logger over lines ---------------------------------------------------------------------

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::make_unique<TempDir>("logger");
        band_.carriers = {{1000.2, 30}};
        SetProgramName("talvor-log");
        reported_ = std::make_unique<ReportedLines>();
    }
    void TearDown() override {
        CloseDayLogAppender(&logger_.log);
        reported_.reset();
        SetProgramName(nullptr);
        UseTimeZone("UTC");
    }
    void Start(LogOptions options = {}) {
        StartLogger(&logger_, options, folder_->path() + "/BRANTOS", 51.5, 0.1);
        input_ = InputState{};
        input_.name = "test input";
        BeginInput(&logger_, &input_);
    }
    void Feed(const std::string& date, const std::string& time) {
        for (const std::string& line : RtlPowerScan(date, time, band_)) LogLine(&logger_, line);
    }
    LoggedDay Log(const std::string& date) {
        std::string path = folder_->path() + "/BRANTOS/" + date + "/VOK.LOG";
        return LoggedDay{FileExists(path) ? ReadFileBytes(path) : std::string()};
    }
    std::string Messages() { return reported_->text(); }
    std::unique_ptr<TempDir> folder_;
    Band band_;
    Logger logger_;
    InputState input_;
    std::unique_ptr<ReportedLines> reported_;
};

TEST_F(LoggerTest, LocalTimesAcrossTheAutumnChangeStayInOrder) {
    // Berlin, 25 October 2026: at 03:00 summer time the clocks go back to 02:00.
    ASSERT_TRUE(UseTimeZone("Europe/Berlin"));
    Start();
    LogLine(&logger_, "# scans through the change");
    const char* times[] = {"02:58:00", "02:58:30",   "02:59:00",
                           "02:00:00", "02:01:00.5", "03:00:00"};
    for (const char* time : times) Feed("2026-10-25", time);
    LogLine(&logger_, "2026-10-25, 02:00:10, 600000, 602000, 1000, 3, 1, 2");  // before 03:00
    LogLine(&logger_, "2026-10-25, 02:00:10, 1000, 3000, 0, 3, 1");
    FinishLogger(&logger_);

    LoggedDay day = Log("2026-10-25");
    ASSERT_EQ(day.records(), 121);  // up to 02:00 UTC, the last minute with a scan
    struct Expect {
        int record;
        const char* time;
        bool scanned;
    };
    const Expect expected[] = {{0, "2026-10-25 00:00", false},  {57, "2026-10-25 00:57", false},
                               {58, "2026-10-25 00:58", true},  {59, "2026-10-25 00:59", true},
                               {60, "2026-10-25 01:00", true},  {61, "2026-10-25 01:01", true},
                               {62, "2026-10-25 01:02", false}, {120, "2026-10-25 02:00", true}};
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.time);
        EXPECT_EQ(day.time(e.record), e.time);
        EXPECT_EQ(Minute(day.at(e.record)), e.record % 60);
        EXPECT_EQ(RowMark(day.at(e.record)) == 'X', e.record % 60 == 0);
        EXPECT_EQ(!day.empty(e.record), e.scanned);
        if (e.scanned) {
            EXPECT_GE(LevelAt(day.at(e.record), 1000), 128);
            EXPECT_LE(LevelAt(day.at(e.record), 1020), 12);
        }
    }
    // Bytes the readers do not use stay 0, and no level is written outside 520..1700 kHz.
    for (int offset : {0, 1, 2, 3, 5, 14, 27, 44, 47}) EXPECT_EQ(day.at(58)[offset], 0) << offset;
    EXPECT_EQ(LevelAt(day.at(58), 519), 0);
    EXPECT_EQ(LevelAt(day.at(58), 1701), 0);

    const DayTally& tally = logger_.tallies.begin()->second;
    EXPECT_EQ(tally.written, 121);
    EXPECT_EQ(tally.empty, 116);
    EXPECT_EQ(tally.skipped[SkipIndex(SkipReason::BlankOrComment)], 1);
    EXPECT_EQ(tally.skipped[SkipIndex(SkipReason::BeforeMinute)], 1);
    EXPECT_EQ(tally.skipped[SkipIndex(SkipReason::BadRange)], 1);
    EXPECT_NE(Messages().find("talvor-log: " + folder_->path() +
                              "/BRANTOS/2026-10-25/VOK.LOG: 121 minutes written (116 empty), 3 "
                              "lines skipped (1 blank or comment, 1 no frequency range, 1 out of "
                              "order)"),
              std::string::npos)
        << Messages();
}

TEST_F(LoggerTest, TheSpringGapHasNoTimesAndMidnightBeginsTheNextDay) {
    ASSERT_TRUE(UseTimeZone("Europe/Berlin"));
    Start();
    Feed("2026-03-29", "02:30:00");  // the clocks go from 02:00 to 03:00: no such time
    Feed("2026-03-30", "01:59:00");  // 23:59 UTC on the 29th
    Feed("2026-03-30", "02:00:00");  // 00:00 UTC on the 30th
    FinishLogger(&logger_);
    LoggedDay first = Log("2026-03-29"), second = Log("2026-03-30");
    ASSERT_EQ(first.records(), 1440);
    EXPECT_EQ(first.time(1439), "2026-03-29 23:59");
    EXPECT_FALSE(first.empty(1439));
    ASSERT_EQ(second.records(), 1);
    EXPECT_EQ(second.time(0), "2026-03-30 00:00");
    EXPECT_FALSE(second.empty(0));
    EXPECT_EQ(logger_.tallies[Day(2026, 3, 29)].skipped[SkipIndex(SkipReason::NoSuchLocalTime)], 2);
    // The sun markers are in every record, scanned or empty.
    int rise = -1;
    for (int k = 0; k < first.records(); ++k) {
        if (MarkerKind(first.at(k)) == 2) rise = k;
    }
    EXPECT_EQ(rise, SunEventsOn(Day(2026, 3, 29), 51.5, 0.1).rise);
}

TEST_F(LoggerTest, AMinuteIsWrittenOnceALaterMinuteArrives) {
    LogOptions options;
    options.utc = true;
    Start(options);
    Feed("2026-12-07", "00:10:00");
    Feed("2026-12-07", "00:10:30");
    EXPECT_EQ(Log("2026-12-07").records(), 0);
    Feed("2026-12-07", "00:11:00");
    EXPECT_EQ(Log("2026-12-07").records(), 11);
    Feed("2026-12-07", "00:10:45");  // a minute already written
    EXPECT_EQ(Messages(), "");
    // Live, a line comes when its time is due (every hour; here at once) after a minute is
    // written.
    logger_.live = true;
    Feed("2026-12-07", "00:59:00");
    EXPECT_EQ(Messages(), "");  // not yet due
    logger_.reportEveryMs = 0;
    Feed("2026-12-07", "01:00:00");
    // Live, 00:59 is far ahead of 00:11: taken once the lines after it agree, which is said.
    EXPECT_EQ(Messages().rfind("talvor-log: test input: the time jumped from 2026-12-07 00:11 UTC "
                               "to 2026-12-07 00:59 UTC; the lines after it agree and are kept\n"
                               "talvor-log: " +
                                   folder_->path() +
                                   "/BRANTOS/2026-12-07/VOK.LOG: 60 minutes written (57 empty), 2 "
                                   "lines skipped (2 out of order)\n",
                               0),
              0u)
        << Messages();
    FinishLogger(&logger_);
    EXPECT_EQ(Log("2026-12-07").records(), 61);
    EXPECT_EQ(logger_.tallies[Day(2026, 12, 7)].skipped[SkipIndex(SkipReason::BeforeMinute)], 2);
}

TEST_F(LoggerTest, APartialRecordIsCutAndLoggingGoesOnAfterIt) {
    LogOptions options;
    options.utc = true;
    Start(options);
    for (const char* time : {"00:00:00", "00:01:00", "00:02:00", "00:03:00", "00:04:00"}) {
        Feed("2026-12-07", time);
    }
    FinishLogger(&logger_);
    std::string path = folder_->path() + "/BRANTOS/2026-12-07/VOK.LOG";
    std::string before = ReadFileBytes(path);
    ASSERT_EQ(before.size(), 5u * kDayLogRecordSize);
    // A crash in the middle of writing minute 3's record.
    WriteFileBytes(path, before.substr(0, 3 * kDayLogRecordSize + 1000));

    Start(options);
    for (const char* time : {"00:02:00", "00:03:00", "00:07:00"}) Feed("2026-12-07", time);
    FinishLogger(&logger_);
    LoggedDay day = Log("2026-12-07");
    ASSERT_EQ(day.records(), 8);
    EXPECT_EQ(day.bytes.substr(0, 3 * kDayLogRecordSize), before.substr(0, 3 * kDayLogRecordSize));
    EXPECT_FALSE(day.empty(3));  // written again from the new lines
    EXPECT_TRUE(day.empty(4));
    EXPECT_TRUE(day.empty(6));
    EXPECT_FALSE(day.empty(7));
    for (int k = 0; k < 8; ++k) EXPECT_EQ(day.time(k), FormatDayMinute(Day(2026, 12, 7), k));
    const DayTally& tally = logger_.tallies[Day(2026, 12, 7)];
    EXPECT_EQ(tally.skipped[SkipIndex(SkipReason::AlreadyInLog)], 2);
    EXPECT_EQ(tally.written, 5);
    EXPECT_EQ(tally.empty, 3);
    EXPECT_NE(Messages().find("partial record: cut 1000 bytes, 3 whole records kept"),
              std::string::npos)
        << Messages();

    // A second logger on the same day is refused rather than interleaving its minutes.
    DayLogAppender other;
    Outcome opened =
        OpenDayLogAppender(&other, folder_->path() + "/BRANTOS", Day(2026, 12, 7), 51.5, 0.1);
    ASSERT_TRUE(opened) << opened.reason;
    Start(options);
    Feed("2026-12-07", "00:09:00");
    FinishLogger(&logger_);
    EXPECT_EQ(logger_.tallies[Day(2026, 12, 7)].skipped[SkipIndex(SkipReason::LogNotWritable)],
              2);  // both hops
    EXPECT_TRUE(logger_.failed);
    EXPECT_NE(Messages().find("another program is writing " + path), std::string::npos);
    CloseDayLogAppender(&other);
    EXPECT_EQ(Log("2026-12-07").records(), 8);

    // The daily run's reader sees every record.
    DailyRun run;
    ASSERT_TRUE(AllocateRecordBuffer(&run.RecordBuffer));
    run.paths.DayLogPath = path;
    LoadDayLog(&run);
    EXPECT_EQ(run.recordCount, 8);
    CloseDayLog(&run.dayLogFile);
    ReleaseRecordBuffer(&run.RecordBuffer);
}

// Lines whose time jumps: a single bad line is skipped, a run of lines that agree is followed
// either way, and live, lines far ahead of the system clock are skipped.
TEST_F(LoggerTest, TimeJumpsAreFollowedOnlyWhenTheLinesAfterThemAgree) {
    struct Written {
        const char* date;
        int records;  // 0: no log
        int scanned;  // a record that must hold levels, or -1
    };
    struct Case {
        const char* name;
        bool live;
        std::vector<const char*> scans;  // "date time"; a leading '!' feeds one hop only
        std::vector<Written> logs;
        SkipReason reason;
        int skipped;
        const char* message;
    };
    const Case cases[] = {
        {"a damaged date among recorded lines",
         false,
         {"2026-01-05 00:00:00", "2026-01-05 00:01:00", "!2999-01-05 00:02:00",
          "2026-01-05 00:02:00", "2026-01-05 00:03:00", "2026-01-05 00:04:00",
          "2026-01-05 00:05:00", "2026-01-05 00:06:00"},
         {{"2026-01-05", 7, 2}, {"2999-01-05", 0, -1}},
         SkipReason::TimeJump,
         1,
         "1 line from 2999-01-05 00:02 UTC skipped"},
        {"the same read live",
         true,
         {"2026-01-05 00:00:00", "2026-01-05 00:01:00", "!2999-01-05 00:02:00",
          "2026-01-05 00:02:00", "2026-01-05 00:03:00"},
         {{"2026-01-05", 4, 2}, {"2999-01-05", 0, -1}},
         SkipReason::AheadOfClock,
         1,
         "far ahead of the system clock"},
        {"a receiver off for days",
         false,
         {"2026-01-05 00:00:00", "2026-01-05 00:01:00", "2026-01-08 10:00:00",
          "2026-01-08 10:01:00", "2026-01-08 10:02:00"},
         {{"2026-01-05", 2, 1}, {"2026-01-08", 603, 600}},
         SkipReason::TimeJump,
         0,
         "the time jumped from 2026-01-05 00:01 UTC to 2026-01-08 10:00 UTC"},
        {"a clock put back a day, live",
         true,
         {"2026-01-06 00:00:00", "2026-01-06 00:01:00", "2026-01-05 12:00:00",
          "2026-01-05 12:01:00", "2026-01-05 12:02:00"},
         {{"2026-01-06", 2, 1}, {"2026-01-05", 723, 720}},
         SkipReason::BeforeMinute,
         0,
         "the time jumped"},
        {"a line an hour ahead among live lines",
         true,
         {"2026-01-05 00:00:00", "2026-01-05 00:01:00", "!2026-01-05 01:00:00",
          "2026-01-05 00:02:00", "2026-01-05 00:03:00", "2026-01-05 00:04:00"},
         {{"2026-01-05", 5, 2}},
         SkipReason::TimeJump,
         1,
         "1 line from 2026-01-05 01:00 UTC skipped, far from the time of the lines around it"},
        {"a receiver paused for ten minutes, live",
         true,
         {"2026-01-05 00:00:00", "2026-01-05 00:01:00", "2026-01-05 00:12:00",
          "2026-01-05 00:13:00", "2026-01-05 00:14:00"},
         {{"2026-01-05", 15, 12}},
         SkipReason::TimeJump,
         0,
         "the time jumped from 2026-01-05 00:01 UTC to 2026-01-05 00:12 UTC"},
        {"a clock a day fast, live",
         true,
         {"2026-01-11 00:00:00", "2026-01-11 00:01:00", "2026-01-11 00:02:00"},
         {{"2026-01-11", 0, -1}},
         SkipReason::AheadOfClock,
         6,
         "nothing written; 6 lines skipped (6 ahead of the system clock)"},
    };
    LogOptions options;
    options.utc = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder_ = std::make_unique<TempDir>("logger-jump");
        reported_.reset();
        reported_ = std::make_unique<ReportedLines>();
        Start(options);
        logger_.live = c.live;
        logger_.systemClock = [] { return int64_t{1768003200}; };  // 2026-01-10 00:00 UTC
        for (const char* scan : c.scans) {
            std::string text = scan[0] == '!' ? scan + 1 : scan;
            std::vector<std::string> lines =
                RtlPowerScan(text.substr(0, 10), text.substr(11), band_);
            if (scan[0] == '!') lines.resize(1);
            for (const std::string& line : lines) LogLine(&logger_, line);
        }
        EndInput(&logger_);
        FinishLogger(&logger_);
        int skipped = 0;
        for (const auto& [day, tally] : logger_.tallies)
            skipped += tally.skipped[SkipIndex(c.reason)];
        skipped += logger_.withoutScans.skipped[SkipIndex(c.reason)];
        EXPECT_EQ(skipped, c.skipped);
        for (const Written& w : c.logs) {
            SCOPED_TRACE(w.date);
            LoggedDay day = Log(w.date);
            EXPECT_EQ(day.records(), w.records);
            if (w.scanned >= 0 && day.records() > w.scanned) {
                EXPECT_FALSE(day.empty(w.scanned));
            }
        }
        EXPECT_NE(Messages().find(c.message), std::string::npos) << Messages();
    }
}

TEST_F(LoggerTest, ABusyDayLogIsTriedAgainOnLaterMinutes) {
    LogOptions options;
    options.utc = true;
    Start(options);
    DayLogAppender other;
    Outcome opened =
        OpenDayLogAppender(&other, folder_->path() + "/BRANTOS", Day(2026, 12, 7), 51.5, 0.1);
    ASSERT_TRUE(opened) << opened.reason;
    Feed("2026-12-07", "00:00:00");
    Feed("2026-12-07", "00:01:00");  // 00:00 cannot be written: the other program holds the log
    Feed("2026-12-07", "00:02:00");
    CloseDayLogAppender(&other);
    Feed("2026-12-07", "00:03:00");  // 00:02 is written
    FinishLogger(&logger_);
    LoggedDay day = Log("2026-12-07");
    ASSERT_EQ(day.records(), 4);
    EXPECT_TRUE(day.empty(0));
    EXPECT_TRUE(day.empty(1));
    EXPECT_FALSE(day.empty(2));
    EXPECT_FALSE(day.empty(3));
    EXPECT_EQ(logger_.tallies[Day(2026, 12, 7)].skipped[SkipIndex(SkipReason::LogNotWritable)], 4);
    std::string path = folder_->path() + "/BRANTOS/2026-12-07/VOK.LOG";
    std::string messages = Messages();
    size_t refused = messages.find("another program is writing " + path);
    EXPECT_NE(refused, std::string::npos) << messages;
    EXPECT_EQ(messages.find("another program", refused + 1), std::string::npos) << messages;
    EXPECT_NE(messages.find("writing " + path + " again"), std::string::npos) << messages;
}

TEST_F(LoggerTest, TimesOutsideTheFourDigitYearsAreBadDates) {
    struct Case {
        const char* zone;
        const char* date;
        const char* time;
        const char* folder;  // the day log that the line goes to, or nullptr
    };
    const Case cases[] = {
        {"America/New_York", "9999-12-31", "20:00:00", nullptr},  // 10000-01-01 01:00 UTC
        {"Europe/Berlin", "1900-01-01", "00:30:00", nullptr},     // 1899-12-31 23:30 UTC
        {"America/New_York", "9999-12-31", "18:00:00", "9999-12-31"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + c.date + " " + c.time);
        folder_ = std::make_unique<TempDir>("logger-years");
        ASSERT_TRUE(UseTimeZone(c.zone));
        Start();
        Feed(c.date, c.time);
        FinishLogger(&logger_);
        if (c.folder == nullptr) {
            EXPECT_EQ(logger_.tallies.size(), 0u);
            EXPECT_EQ(logger_.withoutScans.skipped[SkipIndex(SkipReason::BadDateTime)], 0);
            EXPECT_EQ(input_.beforeFirstScan.skipped[SkipIndex(SkipReason::BadDateTime)], 2);
            EXPECT_FALSE(FileExists(folder_->path() + "/BRANTOS/10000-01-01"));
        } else {
            EXPECT_GT(Log(c.folder).records(), 0);
        }
    }
}

TEST(LogSummary, NamesTheDayLogAndCountsInWords) {
    struct Case {
        int written, empty, blank;
        const char* text;
    };
    const Case cases[] = {
        {1, 0, 1, "/d/VOK.LOG: 1 minute written (0 empty), 1 line skipped (1 blank or comment)"},
        {2, 1, 0, "/d/VOK.LOG: 2 minutes written (1 empty), 0 lines skipped"},
        {0, 0, 3, "/d/VOK.LOG: 0 minutes written (0 empty), 3 lines skipped (3 blank or comment)"},
    };
    for (const Case& c : cases) {
        DayTally tally;
        tally.written = c.written;
        tally.empty = c.empty;
        tally.skipped[SkipIndex(SkipReason::BlankOrComment)] = c.blank;
        EXPECT_EQ(DaySummary("/d/VOK.LOG", tally), c.text);
    }
}

// ---- The command line --------------------------------------------------------------------------

TEST(LogCli, OptionsAndExitCodes) {
    SetProgramName("talvor-log");
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        {{}, kGoOn},
        {{"a.csv", "b.csv.gz", "-"}, kGoOn},
        {{"--utc", "--offset", "125e6", "--floor", "-70", "--span", "40"}, kGoOn},
        {{"--timezone", "Europe/Helsinki"}, kGoOn},
        {{"--help"}, kExitOk},
        {{"--version"}, kExitOk},
        {{"--utc", "--timezone", "Europe/Helsinki"}, kExitUsage},
        {{"--timezone", "Nowhere/Atlantis"}, kExitUsage},
        {{"--timezone", "../../etc/passwd"}, kExitUsage},
        {{"--span", "0"}, kExitUsage},
        {{"--span", "fifty"}, kExitUsage},
        {{"--floor", "nan"}, kExitUsage},
        {{"--offset", "125 MHz"}, kExitUsage},
        {{"--bogus"}, kExitUsage},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        std::vector<const char*> argv = {"talvor-log"};
        for (const std::string& a : c.args) argv.push_back(a.c_str());
        LogOptions options;
        std::ostringstream out;
        ReportedLines reported;
        EXPECT_EQ(ParseLogCommandLine(int(argv.size()), argv.data(), &options, out), c.code);
        const std::string err = reported.text();
        if (c.code == kExitUsage) {
            EXPECT_EQ(err.rfind("talvor-log: ", 0), 0u) << err;
        }
        if (c.code == kGoOn && c.args.size() > 2 && c.args[1] == "--offset") {
            EXPECT_DOUBLE_EQ(options.offsetHz, 125e6);
            EXPECT_TRUE(options.scale.fixedFloor);
            EXPECT_DOUBLE_EQ(options.scale.floorDb, -70);
            EXPECT_DOUBLE_EQ(options.scale.spanDb, 40);
        }
    }
    UseTimeZone("UTC");
    SetProgramName(nullptr);
}

TEST(LogCli, FrequenciesAsTheScanToolsWriteThem) {
    struct Case {
        const char* text;
        bool ok;
        double hz;
    };
    const Case cases[] = {{"125M", true, 125e6},   {"125000k", true, 125e6},
                          {"1.25e8", true, 125e6}, {"125000000", true, 125e6},
                          {"-2.5k", true, -2500},  {"1G", true, 1e9},
                          {"125 MHz", false, 0},   {"M", false, 0},
                          {"12x", false, 0},       {"1e400", false, 0},
                          {"", false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        double hz = 0;
        EXPECT_EQ(ParseFrequency(c.text, &hz), c.ok);
        if (c.ok) {
            EXPECT_DOUBLE_EQ(hz, c.hz);
        }
    }
    LogOptions options;
    std::ostringstream out;
    const char* argv[] = {"talvor-log", "--utc", "--offset", "125M"};
    EXPECT_EQ(ParseLogCommandLine(4, argv, &options, out), kGoOn);
    EXPECT_DOUBLE_EQ(options.offsetHz, 125e6);
}

}  // namespace
