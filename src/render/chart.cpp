// SPDX-License-Identifier: GPL-3.0-or-later
// The waterfall chart: one pixel per kHz across, one row per minute down, the level as colour,
// with its texts, scale and horizon markers.
#include "render/chart.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config/channel_plan.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "render/render_surface.h"
#include "station/run_state.h"

// Almost black through blue, cyan, green and yellow to red.
const unsigned char LevelPaletteRed[256] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x01, 0x01,
    0x02, 0x01, 0x01, 0x03, 0x01, 0x01, 0x01, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x02,
    0x03, 0x01, 0x02, 0x03, 0x04, 0x05, 0x04, 0x06, 0x05, 0x02, 0x06, 0x05, 0x06, 0x02, 0x03, 0x04,
    0x03, 0x04, 0x05, 0x02, 0x04, 0x03, 0x05, 0x02, 0x02, 0x04, 0x02, 0x02, 0x02, 0x03, 0x03, 0x03,
    0x03, 0x08, 0x08, 0x07, 0x08, 0x08, 0x07, 0x08, 0x08, 0x08, 0x08, 0x06, 0x06, 0x05, 0x05, 0x06,
    0x06, 0x06, 0x07, 0x06, 0x06, 0x07, 0x08, 0x07, 0x06, 0x06, 0x07, 0x07, 0x08, 0x07, 0x06, 0x06,
    0x06, 0x06, 0x05, 0x06, 0x06, 0x05, 0x04, 0x05, 0x05, 0x04, 0x02, 0x03, 0x03, 0x02, 0x02, 0x02,
    0x03, 0x03, 0x02, 0x02, 0x03, 0x05, 0x07, 0x08, 0x0B, 0x11, 0x14, 0x17, 0x18, 0x1B, 0x22, 0x25,
    0x28, 0x2A, 0x2E, 0x30, 0x31, 0x45, 0x3A, 0x3D, 0x53, 0x52, 0x57, 0x5A, 0x5F, 0x63, 0x64, 0x6B,
    0x6F, 0x73, 0x7D, 0x81, 0x85, 0x88, 0x8E, 0x90, 0x94, 0x98, 0x9B, 0x9F, 0xA7, 0xAA, 0xAE, 0xB2,
    0xB5, 0xBB, 0xBD, 0xC2, 0xC6, 0xC9, 0xD0, 0xD4, 0xD8, 0xDD, 0xE1, 0xE6, 0xE9, 0xEC, 0xF1, 0xF5,
    0xF9, 0xFD, 0xFD, 0xFD, 0xFE, 0xFC, 0xFD, 0xFD, 0xFC, 0xFD, 0xFC, 0xFD, 0xFE, 0xFD, 0xFE, 0xFE,
    0xFD, 0xFD, 0xFB, 0xFD, 0xFB, 0xFE, 0xFE, 0xFD, 0xFD, 0xFD, 0xFE, 0xFF, 0xFE, 0xFF, 0xFE, 0xFB,
    0xFC, 0xF9, 0xFA, 0xFA, 0xFB, 0xFD, 0xFB, 0xFD, 0xFC, 0xFC, 0xFE, 0xFA, 0xFA, 0xFB, 0xFC, 0xFD,
    0xFC, 0xFC, 0xFB, 0xF8, 0xF9, 0xF6, 0xF5, 0xF7, 0xF8, 0xFB, 0xF9, 0xF6, 0xF7, 0xF1, 0xEF, 0xFC,
};
const unsigned char LevelPaletteGreen[256] = {
    0x01, 0x03, 0x05, 0x08, 0x08, 0x0A, 0x0C, 0x0F, 0x13, 0x11, 0x13, 0x16, 0x1C, 0x18, 0x1A, 0x1D,
    0x26, 0x20, 0x22, 0x24, 0x26, 0x31, 0x29, 0x2B, 0x2D, 0x3A, 0x30, 0x33, 0x35, 0x37, 0x38, 0x3C,
    0x50, 0x54, 0x58, 0x5E, 0x5F, 0x64, 0x6C, 0x6E, 0x74, 0x77, 0x7C, 0x82, 0x84, 0x8A, 0x8D, 0x91,
    0x97, 0x99, 0x9D, 0x9B, 0x9E, 0xA4, 0xA8, 0xAD, 0xB2, 0xB7, 0xBD, 0xC0, 0xC5, 0xC5, 0xC7, 0xCE,
    0xD3, 0xD8, 0xDB, 0xE0, 0xE7, 0xEA, 0xEE, 0xF0, 0xF4, 0xF8, 0xFA, 0xFB, 0xFC, 0xFC, 0xFA, 0xFA,
    0xF9, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFA, 0xFA, 0xFA, 0xFA, 0xFB, 0xFB, 0xFB, 0xFB,
    0xFA, 0xFA, 0xFA, 0xFA, 0xFA, 0xFD, 0xFF, 0xFF, 0xFE, 0xFE, 0xFE, 0xFD, 0xFD, 0xFD, 0xFC, 0xFD,
    0xFE, 0xFE, 0xFE, 0xFC, 0xFB, 0xFB, 0xFB, 0xFA, 0xFA, 0xFB, 0xFD, 0xFC, 0xFC, 0xFD, 0xFD, 0xFD,
    0xFC, 0xFC, 0xFC, 0xFC, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFC, 0xFB, 0xFB, 0xFC, 0xFA,
    0xFC, 0xFB, 0xFC, 0xFC, 0xFB, 0xFD, 0xFC, 0xFD, 0xFD, 0xFC, 0xFE, 0xFD, 0xFD, 0xFD, 0xFB, 0xFD,
    0xFE, 0xFE, 0xFF, 0xFD, 0xFF, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFC, 0xFD, 0xFE,
    0xFC, 0xFD, 0xFB, 0xFC, 0xFC, 0xFC, 0xFD, 0xFB, 0xFC, 0xFD, 0xFD, 0xFD, 0xFD, 0xFD, 0xFD, 0xFD,
    0xFD, 0xFC, 0xF8, 0xF7, 0xF5, 0xED, 0xEB, 0xE6, 0xE0, 0xDE, 0xD9, 0xD6, 0xD2, 0xCD, 0xCA, 0xC4,
    0xC0, 0xBB, 0xB5, 0xB4, 0xAF, 0xAC, 0xAB, 0xA4, 0xA0, 0x99, 0x95, 0x91, 0x8B, 0x88, 0x85, 0x84,
    0x83, 0x7C, 0x78, 0x72, 0x6D, 0x6B, 0x65, 0x61, 0x5E, 0x59, 0x59, 0x52, 0x4F, 0x3B, 0x45, 0x36,
    0x3B, 0x2D, 0x29, 0x30, 0x30, 0x23, 0x1F, 0x1B, 0x1C, 0x16, 0x13, 0x0D, 0x0A, 0x08, 0x06, 0x00,
};
const unsigned char LevelPaletteBlue[256] = {
    0x02, 0x09, 0x12, 0x17, 0x1C, 0x23, 0x29, 0x30, 0x37, 0x3E, 0x54, 0x5C, 0x65, 0x6D, 0x75, 0x7D,
    0x86, 0x8E, 0x96, 0x9F, 0xA6, 0xAF, 0xB7, 0xBF, 0xC8, 0xCF, 0xD9, 0xE1, 0xE9, 0xF1, 0xF7, 0xF8,
    0xFB, 0xFA, 0xFB, 0xFB, 0xF6, 0xF6, 0xFA, 0xF9, 0xFB, 0xFA, 0xFA, 0xFC, 0xFB, 0xFB, 0xF9, 0xFA,
    0xFC, 0xFA, 0xFD, 0xFE, 0xFE, 0xFF, 0xFE, 0xFF, 0xFE, 0xFC, 0xFE, 0xFE, 0xFF, 0xFD, 0xFC, 0xFE,
    0xFE, 0xFE, 0xFF, 0xFD, 0xFF, 0xFE, 0xFE, 0xFD, 0xFE, 0xFF, 0xFD, 0xFA, 0xF3, 0xF0, 0xEA, 0xE6,
    0xE2, 0xD9, 0xD5, 0xD1, 0xCF, 0xC9, 0xC4, 0xC0, 0xBD, 0xB8, 0xB4, 0xAE, 0xAB, 0xA7, 0xA3, 0x9E,
    0x9A, 0x95, 0x92, 0x8E, 0x89, 0x81, 0x7B, 0x76, 0x72, 0x6D, 0x6A, 0x65, 0x61, 0x5C, 0x5A, 0x56,
    0x51, 0x4E, 0x3C, 0x38, 0x36, 0x31, 0x2E, 0x2A, 0x31, 0x24, 0x1E, 0x1C, 0x19, 0x17, 0x12, 0x12,
    0x0A, 0x09, 0x06, 0x05, 0x04, 0x03, 0x03, 0x03, 0x02, 0x03, 0x03, 0x03, 0x03, 0x04, 0x03, 0x02,
    0x05, 0x04, 0x06, 0x06, 0x04, 0x08, 0x08, 0x08, 0x08, 0x05, 0x08, 0x06, 0x06, 0x05, 0x04, 0x07,
    0x06, 0x05, 0x03, 0x02, 0x03, 0x03, 0x04, 0x03, 0x03, 0x04, 0x05, 0x04, 0x05, 0x04, 0x07, 0x08,
    0x06, 0x08, 0x06, 0x07, 0x08, 0x07, 0x06, 0x03, 0x05, 0x03, 0x03, 0x03, 0x02, 0x02, 0x02, 0x02,
    0x04, 0x07, 0x09, 0x08, 0x0A, 0x07, 0x09, 0x08, 0x07, 0x08, 0x05, 0x04, 0x04, 0x01, 0x02, 0x02,
    0x05, 0x07, 0x04, 0x05, 0x04, 0x08, 0x09, 0x07, 0x07, 0x07, 0x05, 0x06, 0x03, 0x03, 0x03, 0x05,
    0x07, 0x03, 0x04, 0x04, 0x06, 0x09, 0x07, 0x08, 0x07, 0x02, 0x03, 0x01, 0x01, 0x01, 0x03, 0x05,
    0x03, 0x03, 0x03, 0x01, 0x01, 0x00, 0x00, 0x01, 0x01, 0x02, 0x01, 0x01, 0x01, 0x07, 0x06, 0x00,
};

namespace {

constexpr int kSpotHalfWidth = 6;

// Eleven four-character texts, each followed by a NUL: label k starts at byte 5 * k.
constexpr char kScaleLabels[] =
    " 600\0 700\0 800\0 900\0"
    "1000\0"
    "1100\0"
    "1200\0"
    "1300\0"
    "1400\0"
    "1500\0"
    "1600";
static_assert(sizeof kScaleLabels == 55);

const char kNewYork[] = "NEW YORK";

// The range the render thread chose, or the 10 kHz range when it names entries outside its plan.
ChannelRange UsableRange(const ChannelRange& range) {
    int entries = range.plan == ChannelPlan10 ? 108 : range.plan == ChannelPlan9 ? 119 : 0;
    if (entries == 0 || range.first < 1 || range.last >= entries || range.first > range.last) {
        return ChooseChannelRange(10);
    }
    return range;
}

// One end of a level-field line: position, then colour, as the vertex arrays take them.
// The colour is given as glColor3ub gives it to the driver, in floats of byte / 255: bytes in the
// colour array are converted by the vertex fetch, which rounds some shades of the ramp by one.
struct FieldVertex {
    GLfloat x, y;
    GLfloat red, green, blue;
};

// The vertices of the rows first..last - 1: per channel a line from black to the spot's colour
// and one back to black, later channels after earlier ones, as the field has always been drawn.
void BuildFieldRows(int first, int last, const ChannelRange& range, int chartXOrigin,
                    std::vector<FieldVertex>* vertices) {
    const float sensitivity = settings.sensitivity;
    const int colourMode = settings.colourMode;
    vertices->clear();
    for (int i = first; i < last; ++i) {
        const DayLogRecord* record = RecordAt(i);
        const GLfloat y = GLfloat(i + kLevelFieldTop);
        for (int j = range.first; j <= range.last; ++j) {
            int f = range.plan[j];
            if (f < kBandFirstKhz || f > kBandLastKhz) continue;
            const GLfloat x = GLfloat(f + chartXOrigin - 500);
            SpotColour c =
                LevelSpotColour(ScaledLevel(LevelAt(record, f), sensitivity), colourMode);
            const GLfloat red = c.red / 255.0f, green = c.green / 255.0f, blue = c.blue / 255.0f;
            vertices->push_back({x - kSpotHalfWidth, y, 0, 0, 0});
            vertices->push_back({x, y, red, green, blue});
            vertices->push_back({x, y, red, green, blue});
            vertices->push_back({x + kSpotHalfWidth, y, 0, 0, 0});
        }
    }
}

// Level field: each channel a 13-pixel spot ramping from black to its colour and back; a later
// (higher) channel covers the overlap with the one before. The lines go to the driver as
// client-side arrays, a batch of rows at a time: a software renderer keeps every vertex of a
// batch until it is drawn, and a day's 600,000 in one batch cost more in fresh memory than in
// drawing. It also takes batches faster than it draws them, holding each one's binned lines
// meanwhile (20 MB for a day); every few batches the drawing waits for it to catch up.
// Lines do not interact, so the batches leave every pixel as one batch draws it.
void DrawLevelField(int rowsToDraw, const ChannelRange& range, int chartXOrigin,
                    int rowsPerBatchAsked) {
    constexpr int kBatchesPerWait = 4;
    thread_local std::vector<FieldVertex> vertices;  // kept between days, one per drawing thread
    int rowsPerBatch = rowsPerBatchAsked > 0 ? rowsPerBatchAsked : rowsToDraw;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    for (int first = 0; first < rowsToDraw; first += rowsPerBatch) {
        if (first > 0) {
            if ((first / rowsPerBatch) % kBatchesPerWait == 0) {
                glFinish();
            } else {
                glFlush();
            }
        }
        BuildFieldRows(first, std::min(first + rowsPerBatch, rowsToDraw), range, chartXOrigin,
                       &vertices);
        if (vertices.empty()) continue;  // no channel of the plan lies in the logged band
        glVertexPointer(2, GL_FLOAT, sizeof(FieldVertex), &vertices.front().x);
        glColorPointer(3, GL_FLOAT, sizeof(FieldVertex), &vertices.front().red);
        glDrawArrays(GL_LINES, 0, GLsizei(vertices.size()));
    }
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

}  // namespace

int RowsToDraw(int records, int chartHeight) {
    int rows = records >= chartHeight ? chartHeight - 25 : records;
    return rows < 0 ? 0 : rows;
}

int ScaledLevel(int32_t level, float sensitivity) {
    // The logger never writes levels above 1000 on purpose; larger values are noise.
    if (level > 1000) level = 0;
    if (level > 255) level = 255;
    if (level < 0) level = 0;
    double v = std::trunc(double(sensitivity) * level);
    // A sensitivity outside its configured range must still give a palette index.
    if (!(v >= 0.0)) return 0;
    if (v > 255.0) return 255;
    return int(v);
}

SpotColour LevelSpotColour(int v, int colourMode) {
    if (v < 0) v = 0;
    if (v > 255) v = 255;
    if (colourMode == 0) {
        return {static_cast<unsigned char>(v), static_cast<unsigned char>(v),
                static_cast<unsigned char>((255 - v) / 10)};
    }
    return {LevelPaletteRed[v], LevelPaletteGreen[v], LevelPaletteBlue[v]};
}

ChartInput DailyChartInput() {
    ChartInput input;
    input.range = ChooseChannelRange(settings.channelSpacing);
    return input;
}

void DrawChart() {
    DrawChartOf(DailyChartInput());
}

void DrawChartOf(const ChartInput& input) {
    const ScreenGeometry& g = screenGeometry;

    glClear(GL_COLOR_BUFFER_BIT);

    // Never more rows than the buffer holds records, whatever the count and the screen say.
    int records = recordCount < 0 ? 0 : std::min(recordCount, kMaxDayLogRecords);
    int rowsToDraw =
        RecordBuffer != nullptr ? std::min(RowsToDraw(records, g.chartHeight), records) : 0;
    const ChannelRange range = UsableRange(input.range);

    glLoadIdentity();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_LINE_STIPPLE);

    // Headline: the location name, large and dark, only when the rows leave room for it.
    if (rowsToDraw < g.halfHeight) {
        size_t length = strnlen(settings.locationName, sizeof settings.locationName - 1);
        if (length > 0) {
            int width = 22 * int(length);
            glPushAttrib(GL_LIST_BIT);
            glColor3ub(20, 20, 20);
            glListBase(TitleFontList - 32);
            glRasterPos2f(float(g.centreX - width), float(g.halfHeight + 55));
            glCallLists(GLsizei(length), GL_UNSIGNED_BYTE, settings.locationName);
            glPopAttrib();
        }
    }

    // Marked rows: visible only where the level field leaves the background free.
    glLineWidth(1.0f);
    glBegin(GL_LINES);
    glColor3ub(20, 20, 20);
    for (int i = 0; i < rowsToDraw; ++i) {
        if (RowMark(RecordAt(i)) == 'X') {
            glVertex2f(0.0f, float(i + kLevelFieldTop));
            glVertex2f(g.screenWidthF, float(i + kLevelFieldTop));
        }
    }
    glEnd();

    // The last row of each marker kind wins; row 0 cannot be marked, 0 meaning none.
    int newYorkRow = 0, lowerMarkerRow = 0, upperMarkerRow = 0;
    char lowerMarkerLabel[kMarkerLabelLength + 1] = {};
    char upperMarkerLabel[kMarkerLabelLength + 1] = {};
    for (int i = 1; i < rowsToDraw; ++i) {
        const DayLogRecord* record = RecordAt(i);
        switch (MarkerKind(record)) {
            case -1:
                newYorkRow = i;
                break;
            case 1:
                lowerMarkerRow = i;
                std::memcpy(lowerMarkerLabel, record + kMarkerLabelOffset, kMarkerLabelLength);
                break;
            case 2:
                upperMarkerRow = i;
                std::memcpy(upperMarkerLabel, record + kMarkerLabelOffset, kMarkerLabelLength);
                break;
            default:
                break;
        }
    }

    // Level field: each channel a 13-pixel spot ramping from black to its colour and back; a
    // later (higher) channel covers the overlap with the one before.
    DrawLevelField(rowsToDraw, range, g.chartXOrigin, input.rowsPerBatch);

    // Each marker's line lies 3 pixels above its row.
    if (upperMarkerRow != 0) DrawHorizonMarker(upperMarkerRow + 37, HalfSun::Upper);
    if (lowerMarkerRow != 0) DrawHorizonMarker(lowerMarkerRow + 37, HalfSun::Lower);

    // Hourly time labels, from row 20 on and not below the chart.
    glColor3ub(255, 255, 255);
    glPushAttrib(GL_LIST_BIT);
    glListBase(LabelFontList - 32);
    if (rowsToDraw > 20) {
        for (int j = 20; j < rowsToDraw; ++j) {
            if (j + 42 > g.chartHeight + 25) break;
            const DayLogRecord* record = RecordAt(j);
            if (Minute(record) == 0) {
                glRasterPos2f(float(g.labelColumnX), float(j + 42));
                glCallLists(kTimeTextLength, GL_UNSIGNED_BYTE, TimeText(record));
                // Each glyph holds a texture of the driver's (64 KB) until it is drawn: one
                // label at a time keeps that to a label's worth instead of a day's 24 MB.
                glFlush();
            }
        }
    }

    // Footer: the date and time of drawing and the configured text.
    if (settings.chartText[0] != '\0') {
        glListBase(FooterFontList - 32);
        glRasterPos2f(float(g.labelColumnX), float(g.chartHeight + 33));
        UtcTime now = input.clock != nullptr ? *input.clock : GetUtcTime();
        char footer[200];
        int length =
            std::snprintf(footer, sizeof footer, "%4d-%02d-%02d %02d'%02d   %.127s", now.year,
                          now.month, now.day, now.hour, now.minute, settings.chartText);
        if (length > int(sizeof footer) - 1) length = int(sizeof footer) - 1;
        if (length > 0) glCallLists(length, GL_UNSIGNED_BYTE, footer);
    }

    // Marker labels, on the side of the dotted line away from the half-sun.
    glColor3ub(255, 255, 0);
    if (lowerMarkerRow != 0) {
        glRasterPos2f(float(g.screenWidth - 47), float(lowerMarkerRow + 31));
        glCallLists(kMarkerLabelLength, GL_UNSIGNED_BYTE, lowerMarkerLabel);
    }
    if (upperMarkerRow != 0) {
        glRasterPos2f(float(g.screenWidth - 47), float(upperMarkerRow + 50));
        glCallLists(kMarkerLabelLength, GL_UNSIGNED_BYTE, upperMarkerLabel);
    }

    if (newYorkRow != 0) {
        glColor3ub(120, 120, 120);
        glPushAttrib(GL_LIST_BIT);
        glListBase(LabelFontList - 32);
        glRasterPos2f(float(g.screenWidth - 80), float(newYorkRow + 41));
        glCallLists(8, GL_UNSIGNED_BYTE, kNewYork);
        glPopAttrib();
    }

    // Frequency scale: labels 17 pixels left of their column, then the ticks below them.
    glColor3ub(0, 150, 255);
    for (int k = 0; k <= 10; ++k) {
        int f = 600 + 100 * k;
        glRasterPos2f(float(f + g.chartXOrigin - 517), 51.0f);
        glCallLists(4, GL_UNSIGNED_BYTE, kScaleLabels + 5 * k);
    }
    glPopAttrib();

    glBegin(GL_TRIANGLES);
    for (int f = 600; f <= 1600; f += 100) {
        float x = float(f + g.chartXOrigin - 500);
        glVertex2f(x - 5, 55.0f);
        glVertex2f(x + 5, 55.0f);
        glVertex2f(x, 65.0f);
    }
    glEnd();
}
