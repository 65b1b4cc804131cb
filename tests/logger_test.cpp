// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-log: scan lines as the receiver tools write them, the minute's levels, the sun markers,
// the day log it appends to, and the built program fed from a pipe and drawn by talvor-render.
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

// ---- Scans as the tools write them -------------------------------------------------------------

// A made-up band as a receiver measures it: a noise floor of floorDb in every kHz, with a slight
// ripple, and carriers, each a single frequency whose power stands the given dB above the floor
// of a kHz. A bin's value is the power that falls into it, so a carrier lands whole in one bin
// whatever the bins' width.
struct Band {
    double floorDb = -60;
    std::vector<std::pair<double, double>> carriers;  // kHz, dB above a kHz of floor
    double BinDb(double fromKhz, double toKhz) const {
        double ripple = 0.5 * std::sin((fromKhz + toKhz) * 0.185);
        double power = std::pow(10.0, (floorDb + ripple) / 10) * (toKhz - fromKhz);
        for (const auto& [khz, above] : carriers) {
            if (khz >= fromKhz && khz < toKhz) power += std::pow(10.0, (floorDb + above) / 10);
        }
        return 10 * std::log10(power);
    }
};

// One line: values for lowHz..highHz in bins of stepHz (printed to two decimals, like the
// tools), with rtl_power's one value too many when extra is set.
std::string ScanLineText(const std::string& date, const std::string& time, double lowHz,
                         double highHz, double stepHz, const Band& band, bool extra = true,
                         double offsetHz = 0) {
    char head[160];
    std::snprintf(head, sizeof head, "%s, %s, %.0f, %.0f, %.2f, 245", date.c_str(), time.c_str(),
                  lowHz, highHz, stepHz);
    std::string line = head;
    int count = int(std::lround((highHz - lowHz) / stepHz)) + (extra ? 1 : 0);
    for (int i = 0; i < count; ++i) {
        double from = (lowHz - offsetHz + i * stepHz) / 1000, to = from + stepHz / 1000;
        char value[32];
        std::snprintf(value, sizeof value, ", %.2f", band.BinDb(from, to));
        line += value;
    }
    return line;
}

// One scan of the medium-wave band as rtl_power hops over it: 976.56 Hz bins from 400 kHz, in
// hops of 700 kHz, so that no bin edge falls on a whole kHz.
std::vector<std::string> RtlPowerScan(const std::string& date, const std::string& time,
                                      const Band& band, double offsetHz = 0) {
    std::vector<std::string> lines;
    for (double low = 400000; low < 1800000; low += 700000) {
        lines.push_back(ScanLineText(date, time, low + offsetHz, low + 700000 + offsetHz,
                                     700000.0 / 717, band, true, offsetHz));
    }
    return lines;
}

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

// ---- Days ------------------------------------------------------------------------------------

sys_days Day(int y, int m, int d) {
    return sys_days{year{y} / month{unsigned(m)} / std::chrono::day{unsigned(d)}};
}

// ---- The logger over lines ---------------------------------------------------------------------

struct LoggedDay {
    std::string bytes;
    int records() const { return int(bytes.size() / kDayLogRecordSize); }
    const DayLogRecord* at(int k) const {
        return reinterpret_cast<const DayLogRecord*>(bytes.data()) + size_t(k) * kDayLogRecordSize;
    }
    std::string time(int k) const { return std::string(TimeText(at(k)), kTimeTextLength); }
    bool empty(int k) const {
        for (int f = kFirstLevelKhz; f <= kLastLevelKhz; ++f) {
            if (LevelAt(at(k), f) != 0) return false;
        }
        return true;
    }
};

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
