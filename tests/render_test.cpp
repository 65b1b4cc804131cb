// SPDX-License-Identifier: GPL-3.0-or-later
// Chart rendering: the tables, the level scaling and real frames drawn on the software renderer.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/run_state.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "output/colour_reduction.h"
#include "output/snapshot.h"
#include "platform/display.h"
#include "platform/outcome.h"
#include "render/chart.h"
#include "render/level_colour.h"
#include "render/render_surface.h"
#include "render/render_thread.h"
#include "talvor/daily_run.h"
#include "test_support.h"

using namespace talvor;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

const Rgb kBlack{0, 0, 0};
const Rgb kScaleBlue{0, 150, 255};
const Rgb kWhite{255, 255, 255};
const Rgb kYellow{255, 255, 0};
const Rgb kDarkGrey{20, 20, 20};

// ---- Tables and plain rules ---------------------------------------------------------------------

TEST(LevelPaletteTest, NamedEntries) {
    struct Case {
        int v;
        Rgb colour;
    };
    const Case cases[] = {{0, {0, 1, 2}},
                          {74, {2, 250, 253}},
                          {128, {3, 252, 10}},
                          {192, {249, 253, 4}},
                          {255, {252, 0, 0}}};
    for (const Case& c : cases) {
        Rgb got{LevelPaletteRed[c.v], LevelPaletteGreen[c.v], LevelPaletteBlue[c.v]};
        EXPECT_EQ(got, c.colour) << "entry " << c.v;
    }
}

// Position-weighted sums, computed from the published tables: a swapped, dropped or mistyped
// entry anywhere changes them.
TEST(LevelPaletteTest, WeightedSums) {
    struct Case {
        const char* name;
        const unsigned char* table;
        long weighted;
    };
    const Case cases[] = {{"red", LevelPaletteRed, 4882051},
                          {"green", LevelPaletteGreen, 6133320},
                          {"blue", LevelPaletteBlue, 1427475}};
    for (const Case& c : cases) {
        long sum = 0;
        for (int i = 0; i < 256; ++i) sum += long(c.table[i]) * (i + 1);
        EXPECT_EQ(sum, c.weighted) << c.name;
    }
}

TEST(LevelScalingTest, ScaledLevels) {
    struct Case {
        int32_t level;
        float sensitivity;
        int v;
    };
    const Case cases[] = {
        {0, 1.0f, 0},      {100, 1.0f, 100},     {255, 1.0f, 255},     {256, 1.0f, 255},
        {1000, 1.0f, 255}, {1001, 1.0f, 0},      {201, 0.5f, 100},     {255, 0.3f, 76},
        {-1, 1.0f, 0},     {INT32_MIN, 1.0f, 0}, {INT32_MAX, 1.0f, 0}, {1000, 0.11f, 28},
        {255, 5.0f, 255},  {200, -1.0f, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScaledLevel(c.level, c.sensitivity), c.v)
            << "level " << c.level << " sensitivity " << c.sensitivity;
    }
}

TEST(LevelScalingTest, SpotColours) {
    struct Case {
        int v;
        int colourMode;
        Rgb colour;
    };
    const Case cases[] = {
        {0, 0, {0, 0, 25}},     {100, 0, {100, 100, 15}}, {255, 0, {255, 255, 0}},
        {74, 1, {2, 250, 253}}, {192, 7, {249, 253, 4}},  {255, -3, {252, 0, 0}},
        {-5, 1, {0, 1, 2}},     {999, 1, {252, 0, 0}},    {-5, 0, {0, 0, 25}},
    };
    for (const Case& c : cases) {
        SpotColour s = LevelSpotColour(c.v, c.colourMode);
        EXPECT_EQ((Rgb{s.red, s.green, s.blue}), c.colour)
            << "v " << c.v << " mode " << c.colourMode;
    }
}

TEST(RowsToDrawTest, ChartHeightLimits) {
    struct Case {
        int records, chartHeight, rows;
    };
    const Case cases[] = {{0, 1044, 0},       {1, 1044, 1},       {1019, 1044, 1019},
                          {1020, 1044, 1020}, {1043, 1044, 1043}, {1044, 1044, 1019},
                          {1440, 1044, 1019}, {1440, 564, 539},   {563, 564, 563},
                          {10, 20, 10},       {30, 20, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(RowsToDraw(c.records, c.chartHeight), c.rows)
            << c.records << " records, chart height " << c.chartHeight;
    }
}

// ---- Frames -------------------------------------------------------------------------------------

class ChartFrameTest : public ::testing::Test {
  protected:
    void TearDown() override {
        DestroyRenderSurface(&run.renderThread.surface);
        CloseDayLog(&run.dayLogFile);
        ReleaseRecordBuffer(&run.RecordBuffer);
        FreeFrameBitmap(run.frameBitmap);
        run.frameBitmap = nullptr;
        run.recordCount = 0;
        run.settings = Settings{};
        run.screenGeometry = ScreenGeometry{};
    }

    // A screen of the given reported size with `records` zeroed records loaded.
    void Screen(int width, int height, int records) {
        run.screenGeometry = ComputeScreenGeometry(width, height);
        ASSERT_TRUE(AllocateRecordBuffer(&run.RecordBuffer));
        std::memset(run.RecordBuffer, 0, kRecordBufferSize);
        run.recordCount = records;
        // No hourly labels unless a test asks for them.
        for (int i = 0; i < records; ++i) SetMinute(RecordSlot(run.RecordBuffer, i), 1);
        Outcome made = CreateRenderSurfaceOfSize(run.screenGeometry.screenWidth,
                                                 run.screenGeometry.screenHeight, &run.fonts,
                                                 &run.renderThread.surface);
        ASSERT_TRUE(made) << made.reason;
        SetChartProjection(run.screenGeometry.screenWidthF, run.screenGeometry.screenHeightF);
    }

    void Draw(int rowsPerBatch = kLevelFieldRowsPerBatch) {
        ChartInput input = ChartInputFor(run.settings, run.screenGeometry,
                                         LoadedRecords(run.RecordBuffer, run.recordCount));
        input.rowsPerBatch = rowsPerBatch;
        DrawChartOf(input, &run.renderThread.surface);
        ReadBack();
        ASSERT_NE(run.frameBitmap, nullptr);
        ASSERT_EQ(run.frameBitmap->width, run.screenGeometry.screenWidth);
        ASSERT_EQ(run.frameBitmap->height, run.screenGeometry.screenHeight);
    }

    // The frame drawn, in place of the one before.
    void ReadBack() {
        FreeFrameBitmap(run.frameBitmap);
        run.frameBitmap =
            ReadBackFrame(run.screenGeometry.screenWidth, run.screenGeometry.screenHeight);
    }

    // (x, y) from the top-left corner as the picture is seen; the frame is stored bottom row first.
    Rgb Pixel(int x, int y) const {
        const FrameBitmap& f = *run.frameBitmap;
        const unsigned char* p = f.bits + (size_t(f.height - 1 - y) * size_t(f.width) + x) * 4;
        return {p[2], p[1], p[0]};
    }

    int Count(const Rgb& colour, int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) n += Pixel(x, y) == colour;
        }
        return n;
    }

    int CountAll(const Rgb& colour) const {
        return Count(colour, 0, 0, run.frameBitmap->width - 1, run.frameBitmap->height - 1);
    }

    // Leftmost/rightmost/top/bottom of the pixels of a colour within a box; -1 when there are none.
    struct Extent {
        int left = -1, right = -1, top = -1, bottom = -1;
    };
    Extent Bounds(const Rgb& colour, int x0, int y0, int x1, int y1) const {
        Extent e;
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                if (!(Pixel(x, y) == colour)) continue;
                if (e.left < 0 || x < e.left) e.left = x;
                if (x > e.right) e.right = x;
                if (e.top < 0) e.top = y;
                e.bottom = y;
            }
        }
        return e;
    }

    int ChannelX(int khz) const { return khz + run.screenGeometry.chartXOrigin - 500; }

    DailyRun run;
};

TEST_F(ChartFrameTest, EmptyDayShowsOnlyScale) {
    Screen(1920, 1080, 0);
    Draw();
    // Ticks: a triangle pointing down at each hundred kHz, labels starting 17 pixels to the left.
    for (int f = 600; f <= 1600; f += 100) {
        int x = ChannelX(f);
        EXPECT_EQ(Pixel(x, 57), kScaleBlue) << f;
        EXPECT_EQ(Pixel(x - 3, 56), kScaleBlue) << f;
        EXPECT_EQ(Pixel(x, 63), kScaleBlue) << f;
        EXPECT_EQ(Pixel(x, 67), kBlack) << f;
        EXPECT_EQ(Pixel(x - 7, 56), kBlack) << f;
        Extent label = Bounds(kScaleBlue, x - 30, 30, x + 30, 53);
        EXPECT_GE(label.left, x - 17) << f;
        EXPECT_LE(label.left, x - 17 + 12) << f;
        EXPECT_LE(label.bottom, 52) << f;
        EXPECT_GE(label.top, 30) << f;
    }
    EXPECT_EQ(ChannelX(600), 460);
    // Nothing else: no level field, no headline (empty name), no footer.
    EXPECT_EQ(Count(kBlack, 0, 70, 1919, 1079), 1920 * (1080 - 70));
    EXPECT_EQ(Count(kBlack, 0, 0, 1919, 29), 1920 * 30);
}

TEST_F(ChartFrameTest, LevelSpotRamp) {
    struct Case {
        int32_t level;
        float sensitivity;
        int colourMode;
        Rgb spot;
    };
    const Case cases[] = {
        {255, 1.0f, 0, {255, 255, 0}}, {201, 0.5f, 0, {100, 100, 15}},
        {128, 1.0f, 1, {3, 252, 10}},  {192, 1.0f, 7, {249, 253, 4}},
        {700, 1.0f, 1, {252, 0, 0}},   {5000, 1.0f, 0, {0, 0, 25}},
        {-7, 1.0f, 1, {0, 1, 2}},      {INT32_MIN, 1.0f, 0, {0, 0, 25}},
    };
    Screen(1920, 1080, 41);
    const int y = 40 + 40;  // row 40, clear of the scale
    const int x = ChannelX(1000);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "level " << c.level << " mode " << c.colourMode);
        run.settings.sensitivity = c.sensitivity;
        run.settings.colourMode = c.colourMode;
        SetLevel(RecordSlot(run.RecordBuffer, 40), 1000, c.level);
        Draw();
        // The colour peaks at x and falls linearly to black 6 pixels either side; pixels are
        // sampled at their centres, so pixel x - 1 - k and x + k carry (5.5 - k) / 6 of it.
        for (int k = 0; k < 4; ++k) {
            double share = (5.5 - k) / 6.0;
            for (int px : {x - 1 - k, x + k}) {
                Rgb got = Pixel(px, y);
                EXPECT_NEAR(got.r, c.spot.r * share, 1.5) << "x " << px;
                EXPECT_NEAR(got.g, c.spot.g * share, 1.5) << "x " << px;
                EXPECT_NEAR(got.b, c.spot.b * share, 1.5) << "x " << px;
            }
        }
        // 990 kHz is not in the plan: black from x - 7 back to the 980 kHz spot.
        for (int px = ChannelX(980) + 7; px <= x - 7; ++px) EXPECT_EQ(Pixel(px, y), kBlack) << px;
        // The 1010 kHz spot (level 0) starts at x + 4 and covers the last two pixels of this one.
        Rgb overlap = Pixel(x + 4, y);
        SpotColour zero = LevelSpotColour(0, c.colourMode);
        EXPECT_NEAR(overlap.r, zero.red * 0.5 / 6.0, 1.0);
        EXPECT_NEAR(overlap.g, zero.green * 0.5 / 6.0, 1.0);
        EXPECT_NEAR(overlap.b, zero.blue * 0.5 / 6.0, 1.0);
        // Neighbouring rows are untouched by this row's spot.
        EXPECT_EQ(Pixel(x, y - 1).r, 0);
        EXPECT_EQ(Pixel(x, y + 1), kBlack);
    }
}

TEST_F(ChartFrameTest, RowsAtChartHeightLimits) {
    struct Case {
        int records;
        int rows;
    };
    const Case cases[] = {{1043, 1043}, {1044, 1019}, {1440, 1019}, {500, 500}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.records);
        Screen(1920, 1080, c.records);
        for (int i = 0; i < c.records; ++i) SetLevel(RecordSlot(run.RecordBuffer, i), 1000, 255);
        Draw();
        int x = ChannelX(1000);
        int lastY = 40 + c.rows - 1;
        if (lastY < 1080) {
            EXPECT_GT(Pixel(x, lastY).r, 200);
        }
        if (lastY + 1 < 1080) {
            EXPECT_EQ(Pixel(x, lastY + 1), kBlack);
        }
        EXPECT_GT(Pixel(x, 100).r, 200);
        TearDown();
    }
}

TEST_F(ChartFrameTest, HeadlineOnlyBelowHalfHeight) {
    struct Case {
        int records;
        bool headline;
    };
    const Case cases[] = {{0, true}, {539, true}, {540, false}, {1000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.records);
        Screen(1920, 1080, c.records);
        std::strcpy(run.settings.locationName, "LONDON");
        Draw();
        // The lower part of the headline (baseline at half height + 55) lies below row 539.
        int grey = Count(kDarkGrey, 700, 580, 1300, 600);
        if (c.headline) {
            EXPECT_GT(grey, 50);
        } else {
            EXPECT_EQ(grey, 0);
        }
        TearDown();
    }
}

TEST_F(ChartFrameTest, HeadlineStartsTwentyTwoPixelsPerCharacterLeftOfCentre) {
    Screen(1920, 1080, 0);
    std::strcpy(run.settings.locationName, "ABCDEFGHIK");
    Draw();
    Extent e = Bounds(kDarkGrey, 0, 480, 1919, 620);
    EXPECT_GE(e.left, 960 - 220);
    EXPECT_LE(e.left, 960 - 220 + 12);
    EXPECT_LE(e.bottom, 540 + 55);
    EXPECT_GE(e.bottom, 540 + 50);
}

TEST_F(ChartFrameTest, TimeLabelsOnlyPastRowTwentyOnMinuteZero) {
    struct Case {
        int records;
        int labelRow;
        int minute;
        bool label;
    };
    const Case cases[] = {{25, 10, 0, false}, {25, 19, 0, false},    {25, 20, 0, true},
                          {25, 24, 0, true},  {20, 19, 0, false},    {21, 20, 0, true},
                          {25, 22, 5, false}, {1043, 1027, 0, true}, {1043, 1028, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.records << " records, row " << c.labelRow);
        Screen(1920, 1080, c.records);
        DayLogRecord* r = RecordSlot(run.RecordBuffer, c.labelRow);
        SetMinute(r, c.minute);
        SetTimeText(r, "12:00 UTC 07:41");
        Draw();
        int baseline = c.labelRow + 42;
        if (c.label) {
            Extent e = Bounds(kWhite, 0, 0, 1919, 1079);
            EXPECT_GE(e.left, run.screenGeometry.labelColumnX);
            EXPECT_LE(e.left, run.screenGeometry.labelColumnX + 10);
            EXPECT_LE(e.bottom, baseline + 4);
            EXPECT_GE(e.top, baseline - 16);
        } else {
            EXPECT_EQ(CountAll(kWhite), 0);
        }
        TearDown();
    }
}

TEST_F(ChartFrameTest, FooterOnlyWithChartText) {
    const std::string texts[] = {"", "MW DX LOG", std::string(127, 'W')};
    for (const std::string& chartText : texts) {
        SCOPED_TRACE(chartText);
        Screen(1920, 1080, 0);
        std::strncpy(run.settings.chartText, chartText.c_str(), sizeof run.settings.chartText - 1);
        Draw();
        int baseline = run.screenGeometry.chartHeight + 33;
        int white = Count(kWhite, 0, baseline - 16, 1919, 1079);
        if (chartText.empty()) {
            EXPECT_EQ(white, 0);
        } else {
            EXPECT_GT(white, 100);
            Extent e = Bounds(kWhite, 0, 0, 1919, 1079);
            EXPECT_GE(e.left, run.screenGeometry.labelColumnX);
            EXPECT_LE(e.left, run.screenGeometry.labelColumnX + 10);
            EXPECT_GE(e.top, baseline - 16);
        }
        TearDown();
    }
}

TEST_F(ChartFrameTest, HighCharacterCodesDrawNothingAndDoNotMove) {
    // The same visible time text with and without codes 128..255 (and controls) in front of it.
    const char plain[] = "AB";
    const char mixed[] =
        "\x80\xff\x01\xc4\xd6"
        "AB";
    std::vector<Rgb> frames[2];
    int index = 0;
    for (const char* text : {plain, mixed}) {
        Screen(1920, 1080, 30);
        DayLogRecord* r = RecordSlot(run.RecordBuffer, 25);
        SetMinute(r, 0);
        SetTimeText(r, text);
        Draw();
        for (int y = 0; y < 1080; ++y) {
            for (int x = 0; x < 700; ++x) frames[index].push_back(Pixel(x, y));
        }
        for (int y = 500; y < 640; ++y) {
            for (int x = 700; x < 1000; ++x) frames[index].push_back(Pixel(x, y));
        }
        TearDown();
        ++index;
    }
    EXPECT_GT(std::count(frames[0].begin(), frames[0].end(), kWhite), 20);
    EXPECT_TRUE(frames[0] == frames[1]);
}

TEST_F(ChartFrameTest, HighCharacterCodesInTitleAndFooterDrawNothing) {
    Screen(1920, 1080, 0);
    std::strcpy(run.settings.locationName, "\x80\x9f\xc4\xff\x01");
    Draw();
    EXPECT_EQ(CountAll(kDarkGrey), 0);
    std::strcpy(run.settings.chartText, "\xe4\xf6\xfc\xff");
    Draw();
    // Only the date and time of the footer are drawn.
    Extent e = Bounds(kWhite, 0, 0, 1919, 1079);
    EXPECT_GT(e.right, run.screenGeometry.labelColumnX);
    EXPECT_LT(e.right, run.screenGeometry.labelColumnX + 16 * 12);
}

TEST_F(ChartFrameTest, MarkedRowsShowBesideTheBand) {
    Screen(1920, 1080, 50);
    SetRowMark(RecordSlot(run.RecordBuffer, 30), 'X');
    Draw();
    EXPECT_EQ(Pixel(5, 70), kDarkGrey);
    EXPECT_EQ(Pixel(1900, 70), kDarkGrey);
    EXPECT_EQ(Pixel(5, 69), kBlack);
    EXPECT_EQ(Pixel(5, 71), kBlack);
    // The level field covers it inside the band.
    EXPECT_NE(Pixel(ChannelX(1000), 70), kDarkGrey);
}

TEST_F(ChartFrameTest, HorizonMarkerLineAndHalfSun) {
    struct Case {
        HalfSun half;
        int sign;  // -1: the sun lies above the line
    };
    const Case cases[] = {{HalfSun::Upper, -1}, {HalfSun::Lower, +1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sign);
        Screen(1920, 1080, 0);
        const int y = 300;
        DrawChart(&run);  // clears the frame; draws only the scale above row 70
        DrawHorizonMarker(y, c.half, run.screenGeometry.screenWidth);
        ReadBack();
        ASSERT_NE(run.frameBitmap, nullptr);
        // Dotted line: one pixel in four lit, four pixels thick around y.
        int lit = Count(kYellow, 0, y, 1799, y);
        EXPECT_EQ(lit, 1800 / 4);
        int column = -1;
        for (int x = 0; x < 8 && column < 0; ++x) {
            if (Pixel(x, y) == kYellow) column = x;
        }
        ASSERT_GE(column, 0);
        EXPECT_EQ(Count(kYellow, column, y - 10, column, y + 10), 4);
        EXPECT_EQ(Count(kYellow, column + 1, y - 10, column + 3, y + 10), 0);
        // Half-sun around x = W - 30, reaching 20 pixels to its side of the line.
        const int cx = 1890;
        EXPECT_EQ(Pixel(cx, y + 8 * c.sign), kYellow);
        Extent sun = c.sign < 0 ? Bounds(kYellow, 1840, y - 40, 1919, y - 3)
                                : Bounds(kYellow, 1840, y + 2, 1919, y + 40);
        EXPECT_GE(sun.left, 1919 - 49 - 2);
        EXPECT_LE(sun.left, 1919 - 49 + 3);
        int far = c.sign < 0 ? sun.top : sun.bottom;
        EXPECT_NEAR(far, y + 19 * c.sign, 1.5);
        // Nothing of the sun on the other side, beyond the line's thickness.
        if (c.sign < 0) {
            EXPECT_EQ(Count(kYellow, 1860, y + 3, 1919, y + 40), 0);
        } else {
            EXPECT_EQ(Count(kYellow, 1860, y - 40, 1919, y - 3), 0);
        }
        // Its right end stops short of the frame's edge (the rays end at radius 20).
        EXPECT_EQ(Count(kYellow, 1911, y + 3 * c.sign, 1919, y + 40 * c.sign), 0);
        TearDown();
    }
}

TEST_F(ChartFrameTest, MarkersFromTheLastMarkedRows) {
    Screen(1920, 1080, 400);
    struct Mark {
        int row, kind;
        const char* text;
    };
    // Row 0 is never a marker; later rows of a kind override earlier ones.
    const Mark marks[] = {{0, 1, "00:00 UTC 99:99"},
                          {100, 2, "01:40 UTC 11:11"},
                          {200, 2, "03:20 UTC 22:22"},
                          {300, 1, "05:00 UTC 33:33"},
                          {350, -1, "05:50 UTC      "}};
    for (const Mark& m : marks) {
        DayLogRecord* r = RecordSlot(run.RecordBuffer, m.row);
        SetMarkerKind(r, m.kind);
        SetTimeText(r, m.text);
    }
    Draw();
    auto lineAt = [&](int y) { return Count(kYellow, 0, y, 1199, y) >= 250; };
    EXPECT_TRUE(lineAt(200 + 37));   // upper half-sun, the later row
    EXPECT_FALSE(lineAt(100 + 37));  // overridden
    EXPECT_TRUE(lineAt(300 + 37));   // lower half-sun
    EXPECT_FALSE(lineAt(0 + 37));    // row 0 means none
    // Labels: above the line for the lower half-sun, below it for the upper one.
    Extent upper = Bounds(kYellow, 1873, 200 + 37 + 4, 1919, 200 + 60);
    EXPECT_GE(upper.top, 200 + 50 - 16);
    EXPECT_LE(upper.bottom, 200 + 50 + 3);
    Extent lower = Bounds(kYellow, 1873, 300 + 37 - 40, 1919, 300 + 37 - 3);
    EXPECT_GE(lower.top, 300 + 31 - 16);
    // "NEW YORK" in grey at W - 80 on its row, with no line.
    Extent grey = Bounds({120, 120, 120}, 0, 0, 1919, 1079);
    EXPECT_GE(grey.left, 1840);
    EXPECT_LE(grey.left, 1850);
    EXPECT_LE(grey.bottom, 350 + 41 + 3);
    EXPECT_FALSE(lineAt(350 + 37));
}

TEST_F(ChartFrameTest, HeadlessScreenHoldsTheWholeDay) {
    // Without a display the screen must hold all 1440 minutes: the evening and the night, with
    // their markers, drawn above a footer that stays clear of them.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    int width = 0, height = 0;
    GetScreenSize(&width, &height);
    Screen(width, height, 1440);
    for (int i = 0; i < kMaxDayLogRecords; ++i)
        SetLevel(RecordSlot(run.RecordBuffer, i), 1000, 255);
    SetMarkerKind(RecordSlot(run.RecordBuffer, 1100), 1);  // sunset, 18:20
    SetTimeText(RecordSlot(run.RecordBuffer, 1100), "2014-03-05 18:20");
    SetMarkerKind(RecordSlot(run.RecordBuffer, 1400), -1);  // dusk in New York, 23:20
    std::strcpy(run.settings.chartText, "Footer");
    Draw();
    const int lastRow = 40 + 1439;
    ASSERT_GT(height, lastRow) << "the screen cuts the day short";
    EXPECT_GT(Pixel(ChannelX(1000), lastRow).r, 200);
    EXPECT_GE(Count(kYellow, 0, 1100 + 37, 1199, 1100 + 37), 250);  // the evening marker's line
    Extent newYork = Bounds({120, 120, 120}, width - 100, 1380, width - 1, 1460);
    EXPECT_GE(newYork.top, 1400 + 41 - 20);
    EXPECT_LE(newYork.bottom, 1400 + 41 + 3);
    // The footer text lies wholly below the last minute's row.
    Extent footer = Bounds(kWhite, 0, lastRow - 30, width - 1, height - 1);
    ASSERT_GE(footer.top, 0) << "no footer drawn";
    EXPECT_GT(footer.top, lastRow);
    EXPECT_LT(footer.bottom, height);
}

TEST_F(ChartFrameTest, ChannelPlanByChosenSpacing) {
    struct Case {
        int spacing;
        int khz;
        bool drawn;
    };
    const Case cases[] = {{9, 558, true},   {9, 1674, true},   {9, 549, false}, {9, 1683, false},
                          {9, 1116, true},  {10, 558, false},  {10, 530, true}, {10, 1680, true},
                          {10, 520, false}, {10, 1690, false}, {10, 540, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.spacing << " kHz spacing, " << c.khz << " kHz");
        Screen(1920, 1080, 100);
        run.settings.channelSpacing = c.spacing;
        SetLevel(RecordSlot(run.RecordBuffer, 80), c.khz, 255);
        Draw();
        Rgb at = Pixel(ChannelX(c.khz), 120);
        if (c.drawn) {
            EXPECT_GT(at.r, 200);
        } else {
            EXPECT_EQ(at.r, 0);
        }
        TearDown();
    }
}

TEST_F(ChartFrameTest, RecordCountBeyondTheBufferDrawsOnlyWhatItHolds) {
    // A tall screen would otherwise ask for more rows than the 1440 records the buffer holds.
    Screen(3840, 2160, 0);
    for (int i = 0; i < kMaxDayLogRecords; ++i)
        SetLevel(RecordSlot(run.RecordBuffer, i), 1000, 255);
    run.recordCount = 5000;
    Draw();
    int x = ChannelX(1000);
    EXPECT_GT(Pixel(x, 40 + 1439).r, 200);
    EXPECT_EQ(Pixel(x, 40 + 1440), kBlack);
}

TEST_F(ChartFrameTest, ScreensWiderThanReported) {
    // 1366 is stored as 1368; the chart's origin still comes from the reported 1366.
    Screen(1366, 768, 0);
    Draw();
    EXPECT_EQ(run.frameBitmap->width, 1368);
    EXPECT_EQ(run.screenGeometry.chartXOrigin, 83);
    EXPECT_EQ(Pixel(600 + 83 - 500, 57), kScaleBlue);
}

TEST_F(ChartFrameTest, BatchingTheLevelFieldChangesNoPixel) {
    Screen(1920, 1080, 1440);
    unsigned seed = 777;
    for (int i = 0; i < kMaxDayLogRecords; ++i) {
        for (int f = 520; f <= 1700; f += 10) {
            seed = seed * 1103515245u + 12345u;
            SetLevel(RecordSlot(run.RecordBuffer, i), f, int32_t(seed >> 23));  // 0..511
        }
    }
    std::vector<unsigned char> frames[3];
    const int batchSizes[] = {0, 64, 7};
    for (int k = 0; k < 3; ++k) {
        Draw(batchSizes[k]);
        frames[k].assign(
            run.frameBitmap->bits,
            run.frameBitmap->bits + size_t(run.frameBitmap->width) * run.frameBitmap->height * 4);
    }
    EXPECT_GT(CountAll(kBlack), 0);
    EXPECT_TRUE(frames[0] == frames[1]) << "64-row batches differ from one batch";
    EXPECT_TRUE(frames[0] == frames[2]) << "7-row batches differ from one batch";
}

TEST_F(ChartFrameTest, DemoDayGifKeepsItsQuality) {
    // The demo day as the generator writes it, drawn in both colour modes, saved and read back.
    TempDir dir("talvor-demo-gif");
    CommandResult gen = RunCommand(std::string(TALVOR_GEN) + " '" + dir.path() + "' 2014-03-05");
    ASSERT_EQ(gen.exitCode, 0) << gen.output;
    for (int colourMode : {0, 1}) {
        SCOPED_TRACE(colourMode);
        Screen(1920, 1080, 0);
        run.paths.DayLogPath = dir / "2014-03-05/VOK.LOG";
        LoadDayLog(&run);
        ASSERT_EQ(run.recordCount, kMaxDayLogRecords);
        run.settings.colourMode = colourMode;
        std::strcpy(run.settings.chartText, "Demo day");
        Draw();
        std::string path = dir / "demo.gif";
        ASSERT_TRUE(WriteGifFile(*run.frameBitmap, path.c_str()));
        DecodedGif gif;
        ASSERT_TRUE(ReadGifFile(path.c_str(), &gif));
        ASSERT_EQ(gif.width, 1920);
        ASSERT_EQ(gif.height, 1080);
        double psnr = FramePsnr(*run.frameBitmap, gif.rgb.data());
        std::printf("demo day, colour mode %d: PSNR %.2f dB\n", colourMode, psnr);
        EXPECT_GE(psnr, 35.0);
        DestroyRenderSurface(&run.renderThread.surface);
        CloseDayLog(&run.dayLogFile);
    }
}

TEST_F(ChartFrameTest, HostileDayLogsDrawWithoutHarm) {
    struct Case {
        int width, height, records;
    };
    const Case cases[] = {{800, 600, 1440},   {800, 600, 0},      {1366, 768, 733},
                          {1920, 1080, 1440}, {3840, 2160, 1440}, {1024, 768, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " " << c.records);
        Screen(c.width, c.height, c.records);
        unsigned seed = 12345;
        auto next = [&seed] {
            seed = seed * 1103515245u + 12345u;
            return seed;
        };
        for (int i = 0; i < c.records; ++i) {
            DayLogRecord* r = RecordSlot(run.RecordBuffer, i);
            // Every byte of the record is garbage, the levels across the whole int32 range.
            for (int b = 0; b < kDayLogRecordSize; ++b) r[b] = static_cast<unsigned char>(next());
            SetMinute(r, int32_t(next()) % 3);
            SetMarkerKind(r, int32_t(next() % 5) - 2);
        }
        std::memset(run.settings.locationName, 'M', 79);
        std::memset(run.settings.chartText, '\xfe', 127);
        run.settings.colourMode = 3;
        Draw();
        // Only the scale is certain to be there.
        EXPECT_EQ(Pixel(ChannelX(1100), 57), kScaleBlue);
        TearDown();
    }
}

}  // namespace
