// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "config/run_state.h"
#include "daylog/day_log.h"
#include "daylog/sun_events.h"
#include "talvor/daily_run.h"
#include "test_support.h"

using namespace talvor;

namespace {

class DayLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(AllocateRecordBuffer(&run.RecordBuffer));
        run.paths.DayLogPath = dir / "VOK.LOG";
    }
    void TearDown() override {
        CloseDayLog(&run.dayLogFile);
        ReleaseRecordBuffer(&run.RecordBuffer);
    }

    // A log of whole records numbered 1.. in their minute field, plus extra trailing bytes.
    void WriteLog(int records, int extraBytes) {
        std::string bytes;
        for (int k = 0; k < records; ++k) {
            auto r = BlankRecord();
            SetMinute(r.data(), k + 1);
            bytes.append(r.begin(), r.end());
        }
        bytes.append(size_t(extraBytes), '\x7f');
        WriteFileBytes(run.paths.DayLogPath, bytes);
    }

    TempDir dir{"daylog"};
    DailyRun run;
};

TEST_F(DayLogTest, RecordCountFollowsWholeRecordsUpToADay) {
    struct Case {
        int records;
        int extraBytes;
        int expected;
        bool refused;  // records past the day's are said to be left out
    };
    const Case cases[] = {
        {0, 0, 0, false},         {0, 4889, 0, false},      {1, 0, 1, false},
        {2, 100, 2, false},       {1440, 0, 1440, false},   {1441, 0, 1440, true},
        {1440, 100, 1440, false}, {1500, 4000, 1440, true},
    };
    for (const Case& c : cases) {
        WriteLog(c.records, c.extraBytes);
        ReportedLines reported;
        LoadDayLog(&run);
        EXPECT_EQ(run.recordCount, c.expected) << c.records << " records + " << c.extraBytes;
        EXPECT_EQ(reported.text(), c.refused ? "TALVOR: the day log " + run.paths.DayLogPath +
                                                   " holds more than a day's 1440 records; those "
                                                   "after them are not read\n"
                                             : "");
        for (int k = 0; k < run.recordCount; k += 97) {
            EXPECT_EQ(Minute(RecordSlot(run.RecordBuffer, k)), k + 1);
        }
        if (run.recordCount > 0) {
            EXPECT_EQ(Minute(RecordSlot(run.RecordBuffer, run.recordCount - 1)), run.recordCount);
        }
    }
}

// talvor-render and the site load their logs by path into a buffer of their own: neither the
// daily run's path nor its record count is touched.
TEST_F(DayLogTest, LoadingFromAPathFillsTheGivenBufferOnly) {
    struct Case {
        int records;
        int extraBytes;
        int expected;
    };
    const Case cases[] = {{0, 0, 0}, {3, 10, 3}, {1441, 0, 1440}};
    std::vector<unsigned char> own(kRecordBufferSize);
    const std::string dailyPath = run.paths.DayLogPath;
    for (const Case& c : cases) {
        WriteLog(c.records, c.extraBytes);
        run.recordCount = 7;
        ReportedLines reported;
        int count = -1;
        EXPECT_TRUE(LoadDayLogFrom(dailyPath, own.data(), &count));
        EXPECT_EQ(count, c.expected);
        EXPECT_EQ(reported.text().find("no day log"), std::string::npos);
        EXPECT_EQ(run.recordCount, 7);
        EXPECT_EQ(run.paths.DayLogPath, dailyPath);
        if (c.expected > 0) {
            EXPECT_EQ(Minute(own.data() + size_t(c.expected) * kDayLogRecordSize), c.expected);
        }
    }
    ReportedLines reported;
    int count = -1;
    EXPECT_TRUE(LoadDayLogFrom(dir / "elsewhere/VOK.LOG", own.data(), &count));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(reported.text(), "TALVOR: no day log at " + (dir / "elsewhere/VOK.LOG") +
                                   "; the day is drawn empty\n");
    EXPECT_TRUE(LoadDayLogFrom(dailyPath, nullptr, &count));
    EXPECT_EQ(count, 0);
}

// A log that is not there is a day without reception; one that is there and cannot be read is
// no such day, and says why.
TEST_F(DayLogTest, MissingOrUnusableLogGivesNoRecords) {
    struct Case {
        const char* what;
        std::string path;
        std::string message;  // the one line on standard error
        bool unreadable;
    };
    MakeDirs(dir / "folder");
    WriteFileBytes(dir / "file", "");
    const Case cases[] = {
        {"missing file", dir / "none/VOK.LOG",
         "TALVOR: no day log at " + (dir / "none/VOK.LOG") + "; the day is drawn empty\n", false},
        {"a file in place of its folder", dir / "file/VOK.LOG",
         "TALVOR: no day log at " + (dir / "file/VOK.LOG") + "; the day is drawn empty\n", false},
        {"folder in its place", dir / "folder",
         "TALVOR: cannot read the day log " + (dir / "folder") + ": not a regular file\n", true},
        {"empty path", "", "TALVOR: no day log at ; the day is drawn empty\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteLog(3, 0);
        ReportedLines reported;
        LoadDayLog(&run);
        EXPECT_EQ(reported.text(), "");
        ASSERT_EQ(run.recordCount, 3);
        run.paths.DayLogPath = c.path;
        ReportedLines reportedAgain;
        LoadDayLog(&run);
        EXPECT_EQ(reportedAgain.text(), c.message);
        EXPECT_EQ(run.recordCount, 0);
        EXPECT_EQ(run.dayLogUnreadable, c.unreadable);
        run.paths.DayLogPath = dir / "VOK.LOG";
    }
}

TEST_F(DayLogTest, LogWithoutReadPermissionGivesNoRecordsAndSaysSo) {
    WriteLog(3, 0);
    chmod(dir.path().c_str(), 0755);
    chmod(run.paths.DayLogPath.c_str(), 0);
    // The child writes to the standard error captured here.
    testing::internal::CaptureStderr();
    int answer = InChildWithoutRootRights([&] {
        LoadDayLog(&run);
        return run.recordCount == 0 && run.dayLogUnreadable ? 0 : 2;
    });
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, 0);
    EXPECT_NE(errors.find("cannot read the day log " + run.paths.DayLogPath), std::string::npos)
        << errors;
}

TEST_F(DayLogTest, NoBufferMeansNothingIsRead) {
    WriteLog(5, 0);
    ReleaseRecordBuffer(&run.RecordBuffer);
    LoadDayLog(&run);
    EXPECT_EQ(run.recordCount, 0);
}

TEST_F(DayLogTest, RecordsLandInSlotsFromOneAndSlotZeroIsUntouched) {
    std::memset(run.RecordBuffer, 0xAB, kDayLogRecordSize);
    WriteLog(2, 0);
    LoadDayLog(&run);
    ASSERT_EQ(run.recordCount, 2);
    for (int i = 0; i < kDayLogRecordSize; ++i) ASSERT_EQ(run.RecordBuffer[i], 0xAB) << i;
    EXPECT_EQ(Minute(run.RecordBuffer + kDayLogRecordSize), 1);
    EXPECT_EQ(Minute(run.RecordBuffer + 2 * kDayLogRecordSize), 2);
}

TEST_F(DayLogTest, FieldsReadAtTheirOffsetsLittleEndian) {
    auto r = BlankRecord();
    r[4] = 'X';
    r[6] = 0x3B;  // minute 59
    r[10] = 0xFF;
    r[11] = 0xFF;
    r[12] = 0xFF;
    r[13] = 0xFF;  // markerKind -1
    std::memcpy(&r[28], "2014-03-05 12:15", 16);
    // 520 kHz at offset 128, 1100 kHz at 2448, 1700 kHz at 4848.
    r[128] = 0x10;
    r[2448] = 0xE8;
    r[2449] = 0x03;  // 1000
    r[4848] = 0x00;
    r[4849] = 0x00;
    r[4850] = 0x00;
    r[4851] = 0x80;  // INT32_MIN
    struct Case {
        int khz;
        int32_t level;
    };
    const Case levels[] = {{520, 16}, {1100, 1000}, {1700, INT32_MIN}, {1099, 0}};
    for (const Case& c : levels) EXPECT_EQ(LevelAt(r.data(), c.khz), c.level) << c.khz;
    EXPECT_EQ(RowMark(r.data()), 'X');
    EXPECT_EQ(Minute(r.data()), 59);
    EXPECT_EQ(MarkerKind(r.data()), -1);
    EXPECT_EQ(std::string(TimeText(r.data()), 16), "2014-03-05 12:15");
    EXPECT_EQ(std::string(TimeText(r.data()) + 11, 5), "12:15");

    // The writers put the same bytes back.
    auto w = BlankRecord();
    SetRowMark(w.data(), 'X');
    SetMinute(w.data(), 59);
    SetMarkerKind(w.data(), -1);
    SetTimeText(w.data(), "2014-03-05 12:15 and more");
    SetLevel(w.data(), 520, 16);
    SetLevel(w.data(), 1100, 1000);
    SetLevel(w.data(), 1700, INT32_MIN);
    EXPECT_EQ(w, r);
}

TEST_F(DayLogTest, AppendingWhileLoadingNeverCountsPartialRecords) {
    WriteLog(600, 0);
    std::atomic<bool> stop{false};
    std::thread logger([&] {
        auto r = BlankRecord();
        while (!stop) {
            std::FILE* f = std::fopen(run.paths.DayLogPath.c_str(), "ab");
            if (!f) break;
            std::fwrite(r.data(), 1, 1000, f);  // a record arriving in pieces
            std::fclose(f);
        }
    });
    for (int i = 0; i < 50; ++i) {
        LoadDayLog(&run);
        EXPECT_GE(run.recordCount, 600);
        EXPECT_LE(run.recordCount, kMaxDayLogRecords);
        EXPECT_EQ(Minute(RecordSlot(run.RecordBuffer, 599)), 600);
    }
    stop = true;
    logger.join();
}

// Published sunrise and sunset times, to the minute they are rounded to, in UTC: NOAA's own table
// for Sydney (2017, taken from local time), and the times published for the other places. An
// event of the local day before or after that falls in this UTC day counts for it; -1: none, as
// in a polar night or day.
TEST(SunEvents, LandInTheMinuteOfThePublishedTimes) {
    using namespace std::chrono;
    const struct {
        const char* place;
        double latitude, longitude;
        sys_days day;
        int rise, set;  // minute of the UTC day; -2: not published
    } cases[] = {
        {"Sydney, summer", -33.85, 151.2, year{2017} / 1 / 1, 18 * 60 + 49, 9 * 60 + 9},
        {"Sydney, autumn", -33.85, 151.2, year{2017} / 3 / 21, 20 * 60, 8 * 60 + 5},
        {"Sydney, winter", -33.85, 151.2, year{2017} / 6 / 21, 21 * 60, 6 * 60 + 54},
        {"Sydney, spring", -33.85, 151.2, year{2017} / 9 / 30, 19 * 60 + 33, 7 * 60 + 57},
        {"New York, winter", 40.71, -74.01, year{2026} / 12 / 21, 12 * 60 + 17, 21 * 60 + 32},
        // Sunset at 20:31 EDT on 20 June is 00:31 UTC on the 21st.
        {"New York, summer", 40.71, -74.01, year{2026} / 6 / 21, 9 * 60 + 25, 31},
        {"Helsinki, summer", 60.17, 24.94, year{2026} / 6 / 21, 54, 19 * 60 + 50},
        {"Buenos Aires, summer", -34.60, -58.38, year{2025} / 12 / 10, -2, 22 * 60 + 59},
        {"Tromso, polar night", 69.65, 18.96, year{2026} / 12 / 21, -1, -1},
        {"Tromso, midnight sun", 69.65, 18.96, year{2026} / 6 / 21, -1, -1},
        {"McMurdo, midnight sun", -77.85, 166.67, year{2026} / 12 / 21, -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.place);
        const SunEventTimes times = SunEventTimesOn(c.day, c.latitude, c.longitude);
        const SunEvents markers = SunEventsOn(c.day, c.latitude, c.longitude);
        const struct {
            const char* what;
            int published;
            double time;
            int marker;
        } events[] = {{"rise", c.rise, times.rise, markers.rise},
                      {"set", c.set, times.set, markers.set}};
        for (const auto& e : events) {
            SCOPED_TRACE(e.what);
            if (e.published == -2) continue;
            if (e.published == -1) {
                EXPECT_TRUE(std::isnan(e.time)) << e.time;
                EXPECT_EQ(e.marker, -1);
                continue;
            }
            // Rounded to the published minute (a second's leeway for the places' coordinates),
            // and marked in the minute that holds it: that one or the one before.
            EXPECT_LE(std::abs(e.time - e.published), 0.5 + 1.0 / 60) << e.time;
            EXPECT_LE(e.marker, e.time);
            EXPECT_GT(e.marker + 1, e.time);
            EXPECT_TRUE(e.marker == e.published || e.marker == e.published - 1) << e.marker;
        }
    }
}

// ---- The sun -----------------------------------------------------------------------------------

using namespace std::chrono;

sys_days Day(int y, int m, int d) {
    return sys_days{year{y} / month{unsigned(m)} / std::chrono::day{unsigned(d)}};
}

TEST(SunMarkers, MatchPublishedSunriseAndSunsetTimes) {
    // Published times, converted to UTC; an event of the local day before or after that falls
    // in this UTC day counts for it. -1: none in that UTC day.
    struct Case {
        const char* place;
        double latitude, longitude;
        sys_days day;
        int rise, set;  // minutes of the UTC day
    };
    const Case cases[] = {
        {"London midsummer", 51.51, -0.13, Day(2026, 6, 21), 3 * 60 + 43, 20 * 60 + 21},
        {"London midwinter", 51.51, -0.13, Day(2026, 12, 21), 8 * 60 + 4, 15 * 60 + 54},
        {"New York midwinter", 40.71, -74.01, Day(2026, 12, 21), 12 * 60 + 17, 21 * 60 + 32},
        // Sunset at 20:31 EDT on 20 June is 00:31 UTC on the 21st.
        {"New York midsummer", 40.71, -74.01, Day(2026, 6, 21), 9 * 60 + 25, 31},
        {"Helsinki midsummer", 60.17, 24.94, Day(2026, 6, 21), 54, 19 * 60 + 50},
        // Sydney's sunrise at 07:00 AEST on 22 June is 21:00 UTC on the 21st.
        {"Sydney midwinter", -33.87, 151.21, Day(2026, 6, 21), 21 * 60, 6 * 60 + 54},
        {"Tromso polar night", 69.65, 18.96, Day(2026, 12, 21), -1, -1},
        {"Tromso midnight sun", 69.65, 18.96, Day(2026, 6, 21), -1, -1},
    };
    // The published times are rounded to the minute and a marker sits in the minute that holds
    // its event: a minute either way, no more.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.place);
        SunEvents events = SunEventsOn(c.day, c.latitude, c.longitude);
        if (c.rise < 0) {
            EXPECT_EQ(events.rise, -1);
        } else {
            EXPECT_NEAR(events.rise, c.rise, 1);
        }
        if (c.set < 0) {
            EXPECT_EQ(events.set, -1);
        } else {
            EXPECT_NEAR(events.set, c.set, 1);
        }
    }

    int32_t kinds[kMinutesPerDay];
    DayMarkerKinds(Day(2026, 12, 21), 51.51, -0.13, kinds);
    int rises = 0, sets = 0, newYork = 0;
    for (int m = 0; m < kMinutesPerDay; ++m) {
        if (kinds[m] == int32_t(Marker::UpperHalfSun)) {
            EXPECT_NEAR(m, 8 * 60 + 4, 1);
            ++rises;
        }
        if (kinds[m] == int32_t(Marker::LowerHalfSun)) {
            EXPECT_NEAR(m, 15 * 60 + 54, 1);
            ++sets;
        }
        if (kinds[m] == int32_t(Marker::NewYork)) {
            EXPECT_NEAR(m, 21 * 60 + 32, 1);
            ++newYork;
        }
    }
    EXPECT_EQ(rises, 1);
    EXPECT_EQ(sets, 1);
    EXPECT_EQ(newYork, 1);
}

}  // namespace
