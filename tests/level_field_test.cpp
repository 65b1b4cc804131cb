// SPDX-License-Identifier: GPL-3.0-or-later
// The level field as an image: the spots measured from a driver, and the frames drawn with the
// image against the frames the field's lines leave, byte for byte.
#include "render/level_field.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "config/run_state.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "render/chart.h"
#include "render/level_colour.h"
#include "render/render_surface.h"
#include "render/render_thread.h"
#include "render/spot_measurement.h"
#include "talvor/daily_run.h"

using namespace talvor;

namespace {

// ---- Spots measured from a made-up driver -------------------------------------------------------

// A driver whose spot at column x writes pixels dx = first .. last of row y + dy, shading a
// component of value v by a rule that depends on the column, as rounding does.
struct ModelDriver {
    int first, last, dy;
    int Shade(int x, int dx, int v) const { return (v * (dx - first + 1) + x) % 256; }
};

// What the driver leaves of the probe passes: the rows of each pass, bottom row first, BGRA.
void MeasureModel(const ModelDriver& driver, SpotTable* table) {
    for (const SpotProbePass& pass : PlanSpotProbes(table->height)) {
        std::vector<unsigned char> bgra;
        for (int i = 0; i < table->width * (pass.bottom - pass.top + 1); ++i) {
            bgra.insert(bgra.end(),
                        {kProbeBackground.blue, kProbeBackground.green, kProbeBackground.red, 255});
        }
        for (const SpotProbe& probe : pass.probes) {
            const int y = probe.y + driver.dy;
            for (size_t c = size_t(probe.parity); c < table->channels.size(); c += 2) {
                const int x = table->channels[c].x;
                for (int dx = driver.first; dx <= driver.last; ++dx) {
                    if (x + dx < 0 || x + dx >= table->width || y < pass.top || y > pass.bottom) {
                        continue;
                    }
                    unsigned char* p = &bgra[(size_t(pass.bottom - y) * table->width + x + dx) * 4];
                    p[0] = static_cast<unsigned char>(driver.Shade(x, dx, probe.colour.blue));
                    p[1] = static_cast<unsigned char>(driver.Shade(x, dx, probe.colour.green));
                    p[2] = static_cast<unsigned char>(driver.Shade(x, dx, probe.colour.red));
                }
            }
        }
        RecordSpotProbes(pass, bgra.data(), table);
    }
}

TEST(SpotTable, MeasuredFromAnyDriverAndFrame) {
    struct Case {
        const char* what;
        ModelDriver driver;
        int width, height;
    };
    const Case cases[] = {
        {"twelve pixels, own row", {-6, 5, 0}, 1368, 768},
        {"thirteen pixels, a row lower", {-6, 6, 1}, 1920, 1080},
        {"a frame of seven rows: many passes", {-6, 5, 0}, 1920, 7},
        {"channels over both edges", {-7, 7, -1}, 400, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const ChannelRange& range : {ChooseChannelRange(10), ChooseChannelRange(9)}) {
            SpotTable table;
            table.width = c.width;
            table.height = c.height;
            table.channels = FieldChannels(range, c.width / 2 - 600);
            MeasureModel(c.driver, &table);
            for (const ChannelSpot& spot : table.channels) {
                std::vector<std::string> want, got;  // "dx,dy: the 256 shades"
                for (int dx = c.driver.first; dx <= c.driver.last; ++dx) {
                    if (spot.x + dx < 0 || spot.x + dx >= c.width) continue;
                    std::string w = std::to_string(dx) + "," + std::to_string(c.driver.dy) + ":";
                    for (int v = 0; v < 256; ++v) w += char(c.driver.Shade(spot.x, dx, v));
                    want.push_back(w);
                }
                for (size_t p = 0; p < spot.pixels.size(); ++p) {
                    got.push_back(std::to_string(spot.pixels[p].dx) + "," +
                                  std::to_string(spot.pixels[p].dy) + ":" +
                                  std::string(spot.shades[p].begin(), spot.shades[p].end()));
                }
                EXPECT_TRUE(got == want) << spot.khz << " kHz";
            }
        }
    }
    EXPECT_TRUE(PlanSpotProbes(2).empty());  // not a row of probes fits: nothing to measure
}

// ---- Frames: the image against the lines ----------------------------------------------------

// The level field as it used to be drawn: per row, per channel in plan order, a line from black
// to the spot's colour and one back to black.
struct LineVertex {
    GLfloat x, y, red, green, blue;
};

void DrawFieldAsLines(const ChartInput& input, int rowsToDraw, const ChannelRange& range,
                      int chartXOrigin) {
    const Settings& settings = *input.settings;
    std::vector<LineVertex> vertices;
    for (int i = 0; i < rowsToDraw; ++i) {
        const GLfloat y = GLfloat(RowY(i));
        for (int j = range.first; j <= range.last; ++j) {
            const int f = range.plan[j];
            if (f < kBandFirstKhz || f > kBandLastKhz) continue;
            const GLfloat x = GLfloat(ChannelX(f, chartXOrigin));
            const SpotColour c =
                LevelSpotColour(ScaledLevel(LevelAt(input.records.At(i), f), settings.sensitivity),
                                settings.colourMode);
            const GLfloat r = c.red / 255.0f, g = c.green / 255.0f, b = c.blue / 255.0f;
            vertices.push_back({x - 6, y, 0, 0, 0});
            vertices.push_back({x, y, r, g, b});
            vertices.push_back({x, y, r, g, b});
            vertices.push_back({x + 6, y, 0, 0, 0});
        }
    }
    if (vertices.empty()) return;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, sizeof(LineVertex), &vertices.front().x);
    glColorPointer(3, GL_FLOAT, sizeof(LineVertex), &vertices.front().red);
    glDrawArrays(GL_LINES, 0, GLsizei(vertices.size()));
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

void DrawNoField(const ChartInput&, int, const ChannelRange&, int) {}

class LevelFieldFrame : public ::testing::Test {
  protected:
    void TearDown() override {
        DestroyRenderSurface(&run.renderThread.surface);
        ReleaseRecordBuffer(&run.RecordBuffer);
        FreeFrameBitmap(run.frameBitmap);
        run.frameBitmap = nullptr;
        run.recordCount = 0;
        run.settings = Settings{};
        run.screenGeometry = ScreenGeometry{};
    }

    // A reported screen size with a day of `records` records: levels of every kind (inside
    // 0..255, negative, up to 1000, above it, the int32 ends), hourly labels, marked rows and
    // horizon markers, a headline and a footer.
    void Screen(int width, int height, int records) {
        run.screenGeometry = ComputeScreenGeometry(width, height);
        ASSERT_TRUE(AllocateRecordBuffer(&run.RecordBuffer));
        std::memset(run.RecordBuffer, 0, kRecordBufferSize);
        run.recordCount = records;
        unsigned seed = 2024;
        auto next = [&seed] {
            seed = seed * 1103515245u + 12345u;
            return seed >> 8;
        };
        const int32_t kinds[] = {0, 255, -1, 256, 1000, 1001, INT32_MIN, INT32_MAX};
        for (int i = 0; i < records; ++i) {
            DayLogRecord* r = RecordSlot(run.RecordBuffer, i);
            for (int f = kBandFirstKhz; f <= kBandLastKhz; ++f) {
                unsigned pick = next();
                SetLevel(r, f, pick % 4 != 0 ? int32_t(pick % 256) : kinds[pick / 4 % 8]);
            }
            SetMinute(r, i % 60);
            SetTimeText(r, "2014-03-05 12:34");
            if (i % 97 == 5) SetRowMark(r, 'X');
        }
        if (records > 700) {
            SetMarkerKind(RecordSlot(run.RecordBuffer, 300), 1);
            SetMarkerKind(RecordSlot(run.RecordBuffer, 650), -1);
        }
        std::strcpy(run.settings.locationName, "LONDON");
        std::strcpy(run.settings.chartText, "Field test");
        Outcome made = CreateRenderSurfaceOfSize(run.screenGeometry.screenWidth,
                                                 run.screenGeometry.screenHeight, &run.fonts,
                                                 &run.renderThread.surface);
        ASSERT_TRUE(made) << made.reason;
        SetChartProjection(run.screenGeometry.screenWidthF, run.screenGeometry.screenHeightF);
    }

    std::vector<unsigned char> Frame(void (*drawField)(const ChartInput&, int, const ChannelRange&,
                                                       int)) {
        ChartInput input = ChartInputFor(run.settings, run.screenGeometry,
                                         LoadedRecords(run.RecordBuffer, run.recordCount));
        input.drawLevelFieldInstead = drawField;
        const UtcTime clock{2014, 3, 5, 23, 59, 0, 0};
        input.clock = &clock;
        DrawChartOf(input, &run.renderThread.surface);
        FreeFrameBitmap(run.frameBitmap);
        run.frameBitmap =
            ReadBackFrame(run.screenGeometry.screenWidth, run.screenGeometry.screenHeight);
        return std::vector<unsigned char>(
            run.frameBitmap->bits,
            run.frameBitmap->bits + size_t(run.frameBitmap->width) * run.frameBitmap->height * 4);
    }

    DailyRun run;
};

// Where the frames differ first, for the message.
std::string FirstDifference(const std::vector<unsigned char>& a,
                            const std::vector<unsigned char>& b, int width, int height) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] == b[i]) continue;
        size_t pixel = i / 4;
        return "first at x " + std::to_string(pixel % size_t(width)) + ", y " +
               std::to_string(height - 1 - int(pixel / size_t(width)));
    }
    return "sizes differ";
}

TEST_F(LevelFieldFrame, ImageLeavesTheLinesPixelsAtEverySize) {
    struct Size {
        int width, height;
    };
    // 1366 is stored as 1368 with the projection of 1366; 1902 and 1366 put the 10 kHz channels
    // at odd columns; 800 cuts the band at both edges.
    const Size sizes[] = {{1920, 1500}, {1920, 1080}, {1366, 768},
                          {3840, 2160}, {1902, 1000}, {800, 600}};
    struct Configuration {
        int colourMode;
        float sensitivity;
        int spacing;
        int records;
    };
    const Configuration configurations[] = {
        {0, 1.0f, 10, 1440}, {1, 1.0f, 10, 700}, {0, 0.37f, 10, 1}, {1, 0.37f, 10, 1440},
        {0, 1.0f, 9, 700},   {1, 1.0f, 9, 1440}, {0, 0.37f, 9, 0},  {1, 0.37f, 9, 1440},
    };
    for (const Size& size : sizes) {
        for (const Configuration& c : configurations) {
            SCOPED_TRACE(::testing::Message()
                         << size.width << "x" << size.height << ", colour mode " << c.colourMode
                         << ", sensitivity " << c.sensitivity << ", " << c.spacing << " kHz, "
                         << c.records << " records");
            Screen(size.width, size.height, c.records);
            run.settings.colourMode = c.colourMode;
            run.settings.sensitivity = c.sensitivity;
            run.settings.channelSpacing = c.spacing;
            std::vector<unsigned char> image = Frame(nullptr);
            std::vector<unsigned char> lines = Frame(DrawFieldAsLines);
            EXPECT_TRUE(image == lines)
                << FirstDifference(image, lines, run.frameBitmap->width, run.frameBitmap->height);
            TearDown();
        }
    }
}

TEST_F(LevelFieldFrame, CoverageIsWhatTheLinesWrite) {
    // On a grey frame, where nothing else is drawn over the field: the pixels that the lines
    // change are the field's coverage, and the image leaves every other one as the lines do.
    Screen(1366, 768, 1440);
    for (int i = 0; i < 1440; ++i) SetRowMark(RecordSlot(run.RecordBuffer, i), 0);
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    const std::vector<unsigned char> image = Frame(nullptr);
    const std::vector<unsigned char> lines = Frame(DrawFieldAsLines);
    const std::vector<unsigned char> none = Frame(DrawNoField);
    const int width = run.frameBitmap->width, height = run.frameBitmap->height;
    EXPECT_TRUE(image == lines) << FirstDifference(image, lines, width, height);

    const int rows = RowsToDraw(1440, run.screenGeometry.chartHeight);
    const std::vector<uint8_t> covered = LevelFieldCoverage(
        SurfaceSpotTable(&run.renderThread.surface.spots,
                         FieldChannels(ChooseChannelRange(10), run.screenGeometry.chartXOrigin),
                         width, height),
        rows);
    ASSERT_EQ(covered.size(), size_t(width) * size_t(height));
    std::vector<uint8_t> changed(covered.size()), said(covered.size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at = (size_t(height - 1 - y) * width + x) * 4;
            // Where a text or marker lies over the field, neither frame tells.
            if (std::memcmp(&none[at], &none[0], 4) != 0) continue;
            changed[size_t(y) * width + x] = std::memcmp(&lines[at], &none[at], 4) != 0;
            said[size_t(y) * width + x] = covered[size_t(y) * width + x];
        }
    }
    EXPECT_TRUE(changed == said);
    // Every row's 104 spots, but for what their neighbours cover.
    EXPECT_GT(std::count(said.begin(), said.end(), 1), rows * 104 * 9);
}

}  // namespace
