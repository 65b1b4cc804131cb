// SPDX-License-Identifier: GPL-3.0-or-later
// The GIF snapshot and the quarter-hour summary file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "chart_frame.h"
#include "config/run_state.h"
#include "daylog/day_log.h"
#include "output/colour_reduction.h"
#include "output/snapshot.h"
#include "output/summary.h"
#include "platform/clock.h"
#include "render/chart.h"
#include "render/render_thread.h"
#include "talvor/daily_run.h"
#include "test_support.h"

using namespace talvor;

namespace {

// ---- Summary ----------------------------------------------------------------------------------

// The figure as the logging tools have always computed it: the level in single precision,
// capped at 255, divided by 2.55, the quotient rounded to single precision and truncated.
int SinglePrecisionPercent(int32_t level) {
    float v = float(level);
    if (v > 255.0f) v = 255.0f;
    volatile float quotient = float(double(v) / 2.55);
    return int(quotient);
}

struct PercentCase {
    int32_t level;
    int percent;
};

TEST(LevelPercent, KnownLevels) {
    const PercentCase cases[] = {
        {255, 100},
        {256, 100},
        {1000, 100},
        {1001, 100},
        {INT32_MAX, 100},
        {254, 99},
        {204, 80},
        {51, 20},
        {50, 19},
        {3, 1},
        {2, 0},
        {0, 0},
        {-2, 0},
        {-3, -1},
        {-255, -100},
        {-1000000, -392156},
        {INT32_MIN, -842150450},
    };
    for (const PercentCase& c : cases) {
        EXPECT_EQ(LevelPercent(c.level), c.percent) << "level " << c.level;
    }
}

TEST(LevelPercent, EqualsSinglePrecisionRuleFromMinusOneMillionUp) {
    int mismatches = 0;
    for (int32_t level = -1000000; level <= 1000000; ++level) {
        if (LevelPercent(level) != SinglePrecisionPercent(level)) {
            if (++mismatches < 5) ADD_FAILURE() << "level " << level;
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(LevelPercent(INT32_MAX), SinglePrecisionPercent(INT32_MAX));
    // Below -1,000,000 the single-precision quotient drifts from the exact one; the exact
    // value is kept, without overflow.
    EXPECT_EQ(LevelPercent(INT32_MIN), int(int64_t{INT32_MIN} * 100 / 255));
}

// Every entry of the 10 kHz plan, 520..1700 kHz, at one level.
void AllPlanAt(DayLogRecord* r, int32_t level) {
    for (int j = 1; j < 108; ++j) SetLevel(r, ChannelPlan10[j], level);
}

class SummaryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(AllocateRecordBuffer(&run.RecordBuffer));
        std::fill(run.RecordBuffer, run.RecordBuffer + kRecordBufferSize, 0);
        ASSERT_NE(getcwd(savedDir_, sizeof savedDir_), nullptr);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(savedDir_), 0);
        ReleaseRecordBuffer(&run.RecordBuffer);
    }

    // Record k with a minute, a time text and every summed channel at one level.
    void FillRecord(int k, int32_t minute, const char* timeText, int32_t level) {
        DayLogRecord* r = RecordSlot(run.RecordBuffer, k);
        SetMinute(r, minute);
        SetTimeText(r, timeText);
        for (int j = 1; j <= 104; ++j) SetLevel(r, ChannelPlan10[j], level);
    }

    TempDir dir_{"talvor-summary"};
    char savedDir_[4096] = {};
    DailyRun run;
};

TEST_F(SummaryTest, ActivityFigures) {
    struct Case {
        const char* name;
        void (*fill)(DayLogRecord*);
        int figure;
    };
    const Case cases[] = {
        {"silent", [](DayLogRecord*) {}, 1},
        {"all 255",
         [](DayLogRecord* r) {
             for (int j = 1; j <= 104; ++j) SetLevel(r, ChannelPlan10[j], 255);
         },
         100},
        {"all 1000",
         [](DayLogRecord* r) {
             for (int j = 1; j <= 104; ++j) SetLevel(r, ChannelPlan10[j], 1000);
         },
         100},
        {"half at 255",
         [](DayLogRecord* r) {
             for (int j = 1; j <= 52; ++j) SetLevel(r, ChannelPlan10[j], 255);
         },
         50},
        {"all 95",
         [](DayLogRecord* r) {
             for (int j = 1; j <= 104; ++j) SetLevel(r, ChannelPlan10[j], 95);
         },
         37},
        // 1680..1700 kHz and the left-out 540 kHz are not part of the average.
        {"outside the summed channels",
         [](DayLogRecord* r) {
             for (int khz : {540, 1680, 1690, 1700, 500, 1709}) SetLevel(r, khz, 255);
         },
         1},
        // 520 and 1670 kHz are the first and last summed channels, 1680 kHz is not.
        {"520 silent",
         [](DayLogRecord* r) {
             AllPlanAt(r, 255);
             SetLevel(r, 520, 0);
         },
         99},
        {"1670 silent",
         [](DayLogRecord* r) {
             AllPlanAt(r, 255);
             SetLevel(r, 1670, 0);
         },
         99},
        {"1680 to 1700 silent",
         [](DayLogRecord* r) {
             AllPlanAt(r, 255);
             for (int khz : {1680, 1690, 1700}) SetLevel(r, khz, 0);
         },
         100},
        {"all 6",
         [](DayLogRecord* r) {
             for (int j = 1; j <= 104; ++j) SetLevel(r, ChannelPlan10[j], 6);
         },
         2},
        {"negative",
         [](DayLogRecord* r) {
             for (int j = 1; j <= 104; ++j) SetLevel(r, ChannelPlan10[j], -300);
         },
         -117},
        {"lowest possible",
         [](DayLogRecord* r) {
             for (int j = 1; j <= 104; ++j) SetLevel(r, ChannelPlan10[j], INT32_MIN);
         },
         -842150450},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> record = BlankRecord();
        c.fill(record.data());
        EXPECT_EQ(ActivityFigure(record.data()), c.figure) << c.name;
    }
}

TEST_F(SummaryTest, LineAndUntouchedRecord) {
    FillRecord(0, 15, "2014-03-05 12:15", 95);
    char line[100];
    int length = FormatSummaryLine(RecordSlot(run.RecordBuffer, 0), line, sizeof line);
    EXPECT_EQ(std::string(line, size_t(std::max(length, 0))), "2014-03-05 12:15 UTC J=37\r\n");

    // A time text without a NUL stops after its 16 characters; the bytes after it stay as they
    // were.
    DayLogRecord* r = RecordSlot(run.RecordBuffer, 1);
    SetMinute(r, 0);
    SetTimeText(r, "ABCDEFGHIJKLMNOP");
    for (int i = 44; i < 48; ++i) r[i] = 'Z';
    std::vector<unsigned char> before(r, r + kDayLogRecordSize);
    length = FormatSummaryLine(r, line, sizeof line);
    EXPECT_EQ(std::string(line, size_t(std::max(length, 0))), "ABCDEFGHIJKLMNOP UTC J=1\r\n");
    EXPECT_EQ(std::vector<unsigned char>(r, r + kDayLogRecordSize), before);

    // The longest line there can be: 16 characters and the lowest figure, -842150450.
    FillRecord(2, 30, "ABCDEFGHIJKLMNOP", INT32_MIN);
    EXPECT_EQ(FormatSummaryLine(RecordSlot(run.RecordBuffer, 2), line, sizeof line), 35);
    EXPECT_STREQ(line, "ABCDEFGHIJKLMNOP UTC J=-842150450\r\n");
    // A buffer too small for the line and its NUL gives no line at all.
    EXPECT_EQ(FormatSummaryLine(RecordSlot(run.RecordBuffer, 2), line, 35), -1);
}

TEST_F(SummaryTest, OneLinePerQuarterHourRecord) {
    struct Case {
        int records;
        int lines;
    };
    for (Case c : {Case{0, 0}, Case{1, 1}, Case{15, 1}, Case{16, 2}, Case{60, 4}, Case{1440, 96}}) {
        std::fill(run.RecordBuffer, run.RecordBuffer + kRecordBufferSize, 0);
        for (int k = 0; k < c.records; ++k) {
            char text[17];
            std::snprintf(text, sizeof text, "2014-03-05 %02d:%02d", k / 60 % 100, k % 60);
            FillRecord(k, k % 60, text, 255);
        }
        run.recordCount = c.records;
        WriteSummaryFile(&run);
        ASSERT_TRUE(FileExists(dir_ / "Z.TXT")) << c.records;
        std::string text = ReadFileBytes(dir_ / "Z.TXT");
        std::string expected;
        for (int k = 0; k < c.records; ++k) {
            if (k % 15 != 0) continue;
            char line[64];
            std::snprintf(line, sizeof line, "2014-03-05 %02d:%02d UTC J=100\r\n", k / 60, k % 60);
            expected += line;
        }
        EXPECT_EQ(text, expected) << c.records << " records";
        size_t count = 0;
        for (size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 1))
            ++count;
        EXPECT_EQ(int(count), c.lines);
    }
}

TEST_F(SummaryTest, OnlyTheFourMinuteValuesCount) {
    const int32_t minutes[] = {-15, 0, 1, 14, 15, 29, 30, 45, 46, 60, 75, INT32_MIN, INT32_MAX};
    int k = 0;
    for (int32_t m : minutes) FillRecord(k++, m, "T", 0);
    run.recordCount = k;
    WriteSummaryFile(&run);
    EXPECT_EQ(ReadFileBytes(dir_ / "Z.TXT"),
              "T UTC J=1\r\nT UTC J=1\r\nT UTC J=1\r\nT UTC J=1\r\n");
}

TEST_F(SummaryTest, SecondRunReplacesTheFile) {
    WriteFileBytes(dir_ / "Z.TXT", std::string(5000, 'q'));
    FillRecord(0, 45, "second", 51);
    run.recordCount = 1;
    WriteSummaryFile(&run);
    EXPECT_EQ(ReadFileBytes(dir_ / "Z.TXT"), "second UTC J=20\r\n");
}

TEST_F(SummaryTest, RecordCountBeyondTheBufferIsBounded) {
    for (int k = 0; k < kMaxDayLogRecords; ++k) FillRecord(k, 0, "t", 0);
    run.recordCount = 5000;
    WriteSummaryFile(&run);
    std::string text = ReadFileBytes(dir_ / "Z.TXT");
    EXPECT_EQ(text.size(), size_t(kMaxDayLogRecords) * std::string("t UTC J=1\r\n").size());
}

TEST_F(SummaryTest, UncreatableFileIsReportedAndTheRunGoesOn) {
    std::filesystem::create_directory(dir_ / "Z.TXT");  // a folder where the file should go
    FillRecord(0, 0, "x", 0);
    run.recordCount = 1;
    ReportedLines reported;
    WriteSummaryFile(&run);
    std::string err = reported.text();
    EXPECT_EQ(err.rfind("TALVOR: cannot write Z.TXT: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "Z.TXT"));
}

TEST_F(SummaryTest, WritesUnderAnotherNameAndSaysWhetherItWorked) {
    FillRecord(0, 30, "elsewhere", 255);
    run.recordCount = 1;
    std::string path = dir_ / "other.txt";
    EXPECT_TRUE(WriteSummaryFileTo(path.c_str(), LoadedRecords(run.RecordBuffer, run.recordCount)));
    EXPECT_EQ(ReadFileBytes(path), "elsewhere UTC J=100\r\n");
    EXPECT_FALSE(FileExists(dir_ / "Z.TXT"));

    std::string missing = dir_ / "no/such/folder/day.txt";
    ReportedLines reported;
    EXPECT_FALSE(
        WriteSummaryFileTo(missing.c_str(), LoadedRecords(run.RecordBuffer, run.recordCount)));
    std::string err = reported.text();
    EXPECT_EQ(err.rfind("TALVOR: cannot write " + missing + ": ", 0), 0u) << err;
}

// ---- Snapshot ---------------------------------------------------------------------------------

TEST(SnapshotPath, NamesByMode) {
    struct Case {
        int mode;
        UtcTime date;
        const char* path;
    };
    UtcTime march5;
    march5.year = 2014;
    march5.month = 3;
    march5.day = 5;
    UtcTime early = march5;
    early.year = 987;
    UtcTime december = march5;
    december.month = 12;
    december.day = 31;
    const Case cases[] = {
        {1, march5, "/opt/talvor/VOKLOG 2014-03-05.GIF"},
        {1, december, "/opt/talvor/VOKLOG 2014-12-31.GIF"},
        {1, early, "/opt/talvor/VOKLOG  987-03-05.GIF"},
        {2, march5, "/opt/talvor/z.gif"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SnapshotPath(c.mode, "/opt/talvor", c.date), c.path);
    }
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WriteGif, FewColoursAreKeptExactlyAndTheTopRowComesFirst) {
    TempDir dir("talvor-gif");
    struct Case {
        int width;
        int height;
    };
    for (Case c : {Case{1, 1}, Case{37, 23}, Case{640, 480}}) {
        TestFrame t(c.width, c.height);
        // Distinctive corners: red top left, green bottom left, plus a patch of grey shades.
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                unsigned char v = static_cast<unsigned char>((x * 7 + y * 3) % 200);
                t.Set(x, y, v, v, static_cast<unsigned char>(v / 2));
            }
        }
        t.Set(0, 0, 255, 0, 0);
        if (c.height > 1) t.Set(0, c.height - 1, 0, 255, 0);
        std::string path = dir / "exact.gif";
        ASSERT_TRUE(WriteGifFile(t.frame, path.c_str()));
        std::string bytes = ReadFileBytes(path);
        EXPECT_EQ(bytes.substr(0, 6), "GIF89a");
        DecodedGif gif;
        ASSERT_TRUE(ReadGifFile(path.c_str(), &gif));
        EXPECT_EQ(gif.width, c.width);
        EXPECT_EQ(gif.height, c.height);
        EXPECT_EQ(gif.rgb[0], 255);
        EXPECT_EQ(gif.rgb[1], 0);
        if (c.height > 1) {
            size_t bottomLeft = size_t(c.height - 1) * size_t(c.width) * 3;
            EXPECT_EQ(gif.rgb[bottomLeft], 0);
            EXPECT_EQ(gif.rgb[bottomLeft + 1], 255);
        }
        EXPECT_TRUE(std::isinf(FramePsnr(t.frame, gif.rgb.data())));
        EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"exact.gif"});
    }
}

TEST(ReduceFrameColours, ExactUpTo256Colours) {
    struct Case {
        int colours;
        bool exact;
    };
    for (Case c : {Case{1, true}, Case{2, true}, Case{255, true}, Case{256, true}, Case{257, false},
                   Case{300, false}}) {
        TestFrame t(64, 64);
        for (int i = 0; i < 64 * 64; ++i) {
            int k = i % c.colours;  // colours spread over the cube, each used many times
            t.Set(i % 64, i / 64, static_cast<unsigned char>(k * 37 % 256),
                  static_cast<unsigned char>(k * 11 % 256), static_cast<unsigned char>(k / 2));
        }
        IndexedImage image;
        ASSERT_TRUE(ReduceFrameColours(t.frame, &image));
        EXPECT_EQ(image.colourCount, std::min(c.colours, 256)) << c.colours;
        std::vector<unsigned char> rgb;
        for (unsigned char index : image.pixels) {
            ASSERT_LT(int(index), image.colourCount);
            rgb.insert(rgb.end(), image.palette[index], image.palette[index] + 3);
        }
        double psnr = FramePsnr(t.frame, rgb.data());
        EXPECT_EQ(std::isinf(psnr), c.exact) << c.colours << " colours, " << psnr << " dB";
        EXPECT_GT(psnr, 35.0) << c.colours;
    }
    FrameBitmap empty;
    IndexedImage image;
    EXPECT_FALSE(ReduceFrameColours(empty, &image));
}

uint64_t Fnv1a(const IndexedImage& image) {
    uint64_t hash = 1469598103934665603ull;
    auto add = [&](unsigned char byte) { hash = (hash ^ byte) * 1099511628211ull; };
    for (int i = 0; i < image.colourCount; ++i) {
        for (unsigned char c : image.palette[i]) add(c);
    }
    for (unsigned char index : image.pixels) add(index);
    return hash;
}

// Pictures already published must not change when the reduction is made faster: the palette and
// every index of these frames are pinned to what the reduction gave before (both histogram paths:
// the charts' exact colours, and the gradient's merged ones).
TEST(ReduceFrameColours, PaletteAndIndicesAsTheyWere) {
    enum class Frame { PlainChart, PaletteChart, Gradient };
    struct Case {
        Frame frame;
        uint64_t digest;
    };
    const Case cases[] = {{Frame::PlainChart, 0x3e60253b05103b9bull},
                          {Frame::PaletteChart, 0x7ed23018e31af2fdull},
                          {Frame::Gradient, 0x86b4ed680865dedfull}};
    for (const Case& c : cases) {
        bool chart = c.frame != Frame::Gradient;
        TestFrame t(chart ? 1920 : 1024, chart ? 1080 : 512);
        if (chart) DrawChartLikeFrame(&t, c.frame == Frame::PaletteChart);
        for (int y = 0; !chart && y < 512; ++y) {
            for (int x = 0; x < 1024; ++x) {
                t.Set(x, y, static_cast<unsigned char>(x / 4), static_cast<unsigned char>(y / 2),
                      static_cast<unsigned char>((x + y) % 256));
            }
        }
        IndexedImage image;
        ASSERT_TRUE(ReduceFrameColours(t.frame, &image));
        EXPECT_EQ(Fnv1a(image), c.digest) << int(c.frame);
    }
}

TEST(WriteGif, ChartLikeFramesKeepTheirQuality) {
    TempDir dir("talvor-gif");
    for (bool palette : {false, true}) {
        TestFrame t(1920, 1080);
        DrawChartLikeFrame(&t, palette);
        std::string path = dir / "chart.gif";
        ASSERT_TRUE(WriteGifFile(t.frame, path.c_str()));
        DecodedGif gif;
        ASSERT_TRUE(ReadGifFile(path.c_str(), &gif));
        ASSERT_EQ(gif.width, 1920);
        ASSERT_EQ(gif.height, 1080);
        EXPECT_EQ(gif.colourCount, 256);
        double psnr = FramePsnr(t.frame, gif.rgb.data());
        std::printf("chart-like frame, %s colours: PSNR %.2f dB, %zu bytes\n",
                    palette ? "palette" : "plain", psnr, ReadFileBytes(path).size());
        EXPECT_GE(psnr, 35.0);
        // Flat areas are not dithered: every pixel of a scale tick gets the same colour, close
        // to its blue.
        size_t tick = (size_t(56) * 1920 + 960 + 100) * 3;
        EXPECT_NEAR(gif.rgb[tick], 0, 6);
        EXPECT_NEAR(gif.rgb[tick + 1], 150, 6);
        EXPECT_NEAR(gif.rgb[tick + 2], 255, 6);
        for (int d = -4; d <= 4; ++d) {
            for (int a = 0; a < 3; ++a)
                EXPECT_EQ(gif.rgb[tick + size_t(3 * d + a)], gif.rgb[tick + size_t(a)]);
        }
    }
}

TEST(WriteGif, FramesWithVeryManyColoursStillEncodeWell) {
    // Smooth gradients with over 100,000 distinct colours take the merged-histogram path.
    TempDir dir("talvor-gif");
    TestFrame t(1024, 512);
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 1024; ++x) {
            t.Set(x, y, static_cast<unsigned char>(x / 4), static_cast<unsigned char>(y / 2),
                  static_cast<unsigned char>((x + y) % 256));
        }
    }
    std::string path = dir / "many.gif";
    ASSERT_TRUE(WriteGifFile(t.frame, path.c_str()));
    DecodedGif gif;
    ASSERT_TRUE(ReadGifFile(path.c_str(), &gif));
    double psnr = FramePsnr(t.frame, gif.rgb.data());
    std::printf("gradient frame: PSNR %.2f dB\n", psnr);
    // 256 colours for a full colour cube: about 6 levels a channel, so at least ~25 dB.
    EXPECT_GE(psnr, 25.0);
}

TEST(WriteGif, FailuresLeaveNothingBehind) {
    TempDir dir("talvor-gif");
    TestFrame t(16, 16);
    t.Set(3, 3, 1, 2, 3);

    ReportedLines reported;
    std::string missingFolder = dir / "no/such/folder/z.gif";
    EXPECT_FALSE(WriteGifFile(t.frame, missingFolder.c_str()));
    std::string err = reported.text();
    EXPECT_EQ(err.rfind("TALVOR: cannot write " + missingFolder + ": ", 0), 0u) << err;

    // A folder standing where the picture should go: the rename fails and the temporary goes.
    std::filesystem::create_directory(dir / "z.gif");
    std::filesystem::create_directory(dir / "z.gif/inside");
    ReportedLines reportedAgain;
    EXPECT_FALSE(WriteGifFile(t.frame, (dir / "z.gif").c_str()));
    err = reportedAgain.text();
    EXPECT_NE(err.find("cannot write"), std::string::npos);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"z.gif"});

    if (geteuid() != 0) {
        std::filesystem::create_directory(dir / "locked");
        std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_exec);
        ReportedLines quiet;
        EXPECT_FALSE(WriteGifFile(t.frame, (dir / "locked/z.gif").c_str()));
        EXPECT_TRUE(FolderEntries(dir / "locked").empty());
    }

    FrameBitmap empty;
    ReportedLines quiet;
    EXPECT_FALSE(WriteGifFile(empty, (dir / "empty.gif").c_str()));
    EXPECT_FALSE(FileExists(dir / "empty.gif"));
}

class SaveSnapshotTest : public ::testing::Test {
  protected:
    void SetUp() override { run.paths.ExeFolder = dir_.path(); }
    void TearDown() override {
        FreeFrameBitmap(run.frameBitmap);
        run.frameBitmap = nullptr;
    }
    void MakeFrame(int width, int height) {
        run.frameBitmap = NewFrameBitmap(width, height);
        ASSERT_NE(run.frameBitmap, nullptr);
        std::fill(run.frameBitmap->bits, run.frameBitmap->bits + size_t(width) * size_t(height) * 4,
                  0);
    }
    TempDir dir_{"talvor-snapshot"};
    DailyRun run;
};

TEST_F(SaveSnapshotTest, FixedNameTakesTheFrame) {
    WriteFileBytes(dir_ / "z.gif", "an older picture");
    MakeFrame(64, 48);
    run.CaptureMode = kZCapture;
    SaveSnapshotGif(&run);
    EXPECT_EQ(run.frameBitmap, nullptr);
    DecodedGif gif;
    ASSERT_TRUE(ReadGifFile((dir_ / "z.gif").c_str(), &gif));
    EXPECT_EQ(gif.width, 64);
    EXPECT_EQ(gif.height, 48);
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"z.gif"});
}

// The picture carries the name of the day drawn, the day the run started on: a run that starts
// two seconds before midnight saves after it, and must not take the next day's name.
TEST_F(SaveSnapshotTest, DatedNameIsTheDayTheRunStarted) {
    MakeFrame(32, 32);
    run.CaptureMode = kDatedCapture;
    run.paths.StartTime = UtcTime{2014, 3, 3, 5, 23, 59, 58, 0};
    EXPECT_TRUE(SaveSnapshotGif(&run));
    EXPECT_EQ(run.frameBitmap, nullptr);
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"VOKLOG 2014-03-05.GIF"});
}

TEST_F(SaveSnapshotTest, MissingFrameSavesNothing) {
    run.CaptureMode = kZCapture;
    ReportedLines reported;
    SaveSnapshotGif(&run);
    std::string err = reported.text();
    EXPECT_EQ(err, "TALVOR: no frame was drawn; no picture saved\n");
    EXPECT_TRUE(FolderEntries(dir_.path()).empty());
}

TEST_F(SaveSnapshotTest, UnwritableFolderStillFreesTheFrame) {
    run.paths.ExeFolder = dir_ / "gone";
    MakeFrame(8, 8);
    run.CaptureMode = kZCapture;
    ReportedLines reported;
    SaveSnapshotGif(&run);
    std::string err = reported.text();
    EXPECT_NE(err.find("TALVOR: cannot write " + (dir_ / "gone/z.gif")), std::string::npos);
    EXPECT_EQ(run.frameBitmap, nullptr);
    EXPECT_TRUE(FolderEntries(dir_.path()).empty());
}

}  // namespace
