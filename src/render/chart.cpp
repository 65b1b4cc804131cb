// SPDX-License-Identifier: GPL-3.0-or-later
// The waterfall chart: one pixel per kHz across, one row per minute down, the level as colour,
// with its texts, scale and horizon markers.
#include "render/chart.h"

#define GL_GLEXT_PROTOTYPES 1  // glWindowPos2i, of OpenGL 1.4
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "config/channel_plan.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "render/level_colour.h"
#include "render/level_field.h"
#include "render/render_surface.h"
#include "render/spot_measurement.h"

namespace talvor {

namespace {

// Where each part of the chart stands, in pixels of the frame, y growing downwards (the level
// field's place is in chart.h). A text's position is its first glyph's baseline.

// The headline's width is taken as this much a character; it starts that width left of the
// centre, its baseline this far below the half height.
constexpr int kHeadlineWidthPerCharacter = 22;
constexpr int kHeadlineBelowHalfHeight = 55;

// A full day on a short screen: the rows stop this many short of the chart height, above the
// footer.
constexpr int kFullChartRowsShortOfChartHeight = 25;

// Time labels: none on the first rows, under the scale; a label's baseline lies this far below
// its row, and no lower than this far below the chart height.
constexpr int kFirstLabelledRow = 20;
constexpr int kLabelBaselineBelowRow = 2;
constexpr int kLowestLabelBelowChartHeight = 25;

// The footer's baseline, below the chart height.
constexpr int kFooterBelowChartHeight = 33;

// A horizon marker's line lies this far above its row; its label, at this distance from the
// right edge, stands on the side of the line away from the half-sun: above it for the lower
// half-sun, below it for the upper one.
constexpr int kMarkerLineAboveRow = 3;
constexpr int kMarkerLabelFromRightEdge = 47;
constexpr int kLowerMarkerLabelAboveLine = 6;
constexpr int kUpperMarkerLabelBelowLine = 13;

// "NEW YORK": from this far left of the right edge, its baseline this far below its row.
constexpr int kNewYorkFromRightEdge = 80;
constexpr int kNewYorkBelowRow = 1;
const char kNewYork[] = "NEW YORK";

// The frequency scale: a label every kScaleStepKhz from kScaleFirstKhz to kScaleLastKhz, starting
// kScaleLabelLeftOfTick left of its channel on the baseline kScaleLabelBaseline, and under it a
// tick pointing down at the channel.
constexpr int kScaleFirstKhz = 600;
constexpr int kScaleLastKhz = 1600;
constexpr int kScaleStepKhz = 100;
constexpr int kScaleLabelLeftOfTick = 17;
constexpr float kScaleLabelBaseline = 51.0f;
constexpr float kTickTop = 55.0f;
constexpr float kTickTip = 65.0f;
constexpr float kTickHalfWidth = 5.0f;

// Eleven four-character texts, each followed by a NUL: label k starts at byte 5 * k.
constexpr int kScaleLabelLength = 4;
constexpr int kScaleLabelStride = kScaleLabelLength + 1;
constexpr char kScaleLabels[] =
    " 600\0 700\0 800\0 900\0"
    "1000\0"
    "1100\0"
    "1200\0"
    "1300\0"
    "1400\0"
    "1500\0"
    "1600";
static_assert(sizeof kScaleLabels ==
              kScaleLabelStride * ((kScaleLastKhz - kScaleFirstKhz) / kScaleStepKhz + 1));

// The font lists map a character to list base + code; their glyphs start at the blank.
constexpr unsigned kFirstGlyph = 32;

constexpr unsigned char kDarkGrey = 20;  // the headline and the marked rows
constexpr unsigned char kMidGrey = 120;  // "NEW YORK"

int MarkerLineY(int row) {
    return RowY(row) - kMarkerLineAboveRow;
}

// Writes length characters of text with the current list base and colour.
void WriteText(int x, int y, const char* text, int length) {
    glRasterPos2f(float(x), float(y));
    glCallLists(length, GL_UNSIGNED_BYTE, text);
}

// The range the render thread chose, or the 10 kHz range when it names entries outside its plan.
ChannelRange UsableRange(const ChannelRange& range) {
    int entries = range.plan == ChannelPlan10  ? int(std::size(ChannelPlan10))
                  : range.plan == ChannelPlan9 ? int(std::size(ChannelPlan9))
                                               : 0;
    if (entries == 0 || range.first < 1 || range.last >= entries || range.first > range.last) {
        return ChooseChannelRange(10);
    }
    return range;
}

// The rows of the loaded day log that the chart shows: never more than the buffer holds, whatever
// the count and the screen say.
int RowsOfLoadedLog(RecordSpan records, int chartHeight) {
    if (records.first == nullptr) return 0;
    int count = records.count < 0 ? 0 : std::min(records.count, kMaxDayLogRecords);
    return std::min(RowsToDraw(count, chartHeight), count);
}

// The location name, large and dark, only when the rows leave room for it.
void DrawHeadline(int rowsToDraw, const char* locationName, unsigned titleFontList,
                  const ScreenGeometry& g) {
    if (rowsToDraw >= g.halfHeight) return;
    size_t length = strnlen(locationName, sizeof Settings::locationName - 1);
    if (length == 0) return;
    int width = kHeadlineWidthPerCharacter * int(length);
    glPushAttrib(GL_LIST_BIT);
    glColor3ub(kDarkGrey, kDarkGrey, kDarkGrey);
    glListBase(titleFontList - kFirstGlyph);
    WriteText(g.centreX - width, g.halfHeight + kHeadlineBelowHalfHeight, locationName,
              int(length));
    glPopAttrib();
}

// A dark line across each marked row: visible only where the level field leaves the background
// free.
void DrawMarkedRows(RecordSpan records, int rowsToDraw, const ScreenGeometry& g) {
    glLineWidth(1.0f);
    glBegin(GL_LINES);
    glColor3ub(kDarkGrey, kDarkGrey, kDarkGrey);
    for (int i = 0; i < rowsToDraw; ++i) {
        if (RowMark(records.At(i)) == 'X') {
            glVertex2f(0.0f, float(RowY(i)));
            glVertex2f(g.screenWidthF, float(RowY(i)));
        }
    }
    glEnd();
}

// The rows that carry a marker, 0 for none, and the labels of the half-suns.
struct ChartMarkers {
    int newYorkRow = 0, lowerMarkerRow = 0, upperMarkerRow = 0;
    char lowerMarkerLabel[kMarkerLabelLength + 1] = {};
    char upperMarkerLabel[kMarkerLabelLength + 1] = {};
};

// The last row of each marker kind wins; row 0 cannot be marked, 0 meaning none.
ChartMarkers FindMarkers(RecordSpan records, int rowsToDraw) {
    ChartMarkers m;
    for (int i = 1; i < rowsToDraw; ++i) {
        const DayLogRecord* record = records.At(i);
        switch (MarkerOf(record)) {
            case Marker::NewYork:
                m.newYorkRow = i;
                break;
            case Marker::LowerHalfSun:
                m.lowerMarkerRow = i;
                std::memcpy(m.lowerMarkerLabel, record + kMarkerLabelOffset, kMarkerLabelLength);
                break;
            case Marker::UpperHalfSun:
                m.upperMarkerRow = i;
                std::memcpy(m.upperMarkerLabel, record + kMarkerLabelOffset, kMarkerLabelLength);
                break;
            default:
                break;
        }
    }
    return m;
}

// Level field: each channel a spot ramping from black to its colour and back; a later (higher)
// channel covers the overlap with the one before. Put together on the processor from the spots
// measured on this surface, it goes to the driver as images of a batch of rows each, drawn at
// their place, where only the pixels a spot writes pass (the alpha test): the gaps between the
// spots keep what lies under the field. Drawing it as 300,000 short lines left the same pixels
// at several times the cost. The driver copies each image and keeps the copy until it is
// drawn: handing each over at once keeps that to an image's worth instead of a day's.
void DrawLevelField(RecordSpan records, int rowsToDraw, const SpotTable& spots,
                    const Settings& settings, int rowsPerBatchAsked, LevelFieldImage* image) {
    const FieldColours colours =
        PrepareFieldColours(spots, settings.sensitivity, settings.colourMode);
    const int rowsPerBatch = rowsPerBatchAsked > 0 ? rowsPerBatchAsked : rowsToDraw;
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.5f);
    for (int first = 0; first < rowsToDraw; first += rowsPerBatch) {
        BuildLevelFieldImage(spots, colours, records.first, first,
                             std::min(first + rowsPerBatch, rowsToDraw), image);
        if (image->width == 0) continue;  // no spot of these rows lies in the frame
        // The image's bottom row, in the surface's rows counted from its bottom.
        glWindowPos2i(image->left, spots.height - image->top - image->height);
        glDrawPixels(image->width, image->height, GL_RGBA, GL_UNSIGNED_BYTE, image->rgba.data());
        glFlush();
    }
    glPopClientAttrib();
    glPopAttrib();
}

// The upper half-sun, then the lower one: where they meet, the lower covers the upper.
void DrawHorizonMarkers(const ChartMarkers& m, int screenWidth) {
    if (m.upperMarkerRow != 0) {
        DrawHorizonMarker(MarkerLineY(m.upperMarkerRow), HalfSun::Upper, screenWidth);
    }
    if (m.lowerMarkerRow != 0) {
        DrawHorizonMarker(MarkerLineY(m.lowerMarkerRow), HalfSun::Lower, screenWidth);
    }
}

// A label at each full hour, from kFirstLabelledRow on and not below the chart.
void DrawTimeLabels(RecordSpan records, int rowsToDraw, const ScreenGeometry& g) {
    for (int j = kFirstLabelledRow; j < rowsToDraw; ++j) {
        const int y = RowY(j) + kLabelBaselineBelowRow;
        if (y > g.chartHeight + kLowestLabelBelowChartHeight) break;
        const DayLogRecord* record = records.At(j);
        if (Minute(record) == 0) {
            WriteText(g.labelColumnX, y, TimeText(record), kTimeTextLength);
            // Each glyph holds a texture of the driver's (64 KB) until it is drawn: one
            // label at a time keeps that to a label's worth instead of a day's 24 MB. Waited
            // for, not only handed over: when the processors are busy (a range's workers, the
            // picture of the day before being coded) handed-over labels queue up, and a range's
            // heap grew by some 30 MB of such textures, each faulted in afresh.
            glFinish();
        }
    }
}

// The date and time of drawing and the configured text; with no text, no footer.
void DrawFooter(const UtcTime* clock, const char* chartText, unsigned footerFontList,
                const ScreenGeometry& g) {
    if (chartText[0] == '\0') return;
    UtcTime now = clock != nullptr ? *clock : GetUtcTime();
    char footer[200];
    int length = std::snprintf(footer, sizeof footer, "%4d-%02d-%02d %02d'%02d   %.127s", now.year,
                               now.month, now.day, now.hour, now.minute, chartText);
    if (length > int(sizeof footer) - 1) length = int(sizeof footer) - 1;
    glListBase(footerFontList - kFirstGlyph);
    if (length > 0) {
        WriteText(g.labelColumnX, g.chartHeight + kFooterBelowChartHeight, footer, length);
    }
}

void DrawMarkerLabel(int row, int belowLine, const char* label, const ScreenGeometry& g) {
    if (row == 0) return;
    WriteText(g.screenWidth - kMarkerLabelFromRightEdge, MarkerLineY(row) + belowLine, label,
              kMarkerLabelLength);
}

// In yellow, with whichever list base is current.
void DrawMarkerLabels(const ChartMarkers& m, const ScreenGeometry& g) {
    glColor3ub(255, 255, 0);
    DrawMarkerLabel(m.lowerMarkerRow, -kLowerMarkerLabelAboveLine, m.lowerMarkerLabel, g);
    DrawMarkerLabel(m.upperMarkerRow, kUpperMarkerLabelBelowLine, m.upperMarkerLabel, g);
}

void DrawNewYorkLabel(int newYorkRow, unsigned labelFontList, const ScreenGeometry& g) {
    if (newYorkRow == 0) return;
    glColor3ub(kMidGrey, kMidGrey, kMidGrey);
    glPushAttrib(GL_LIST_BIT);
    glListBase(labelFontList - kFirstGlyph);
    WriteText(g.screenWidth - kNewYorkFromRightEdge, RowY(newYorkRow) + kNewYorkBelowRow, kNewYork,
              int(sizeof kNewYork - 1));
    glPopAttrib();
}

// In light blue, with whichever list base is current; the colour stays for the ticks.
void DrawScaleLabels(const ScreenGeometry& g) {
    glColor3ub(0, 150, 255);
    for (int f = kScaleFirstKhz, k = 0; f <= kScaleLastKhz; f += kScaleStepKhz, ++k) {
        glRasterPos2f(float(ChannelX(f, g.chartXOrigin) - kScaleLabelLeftOfTick),
                      kScaleLabelBaseline);
        glCallLists(kScaleLabelLength, GL_UNSIGNED_BYTE, kScaleLabels + kScaleLabelStride * k);
    }
}

void DrawScaleTicks(const ScreenGeometry& g) {
    glBegin(GL_TRIANGLES);
    for (int f = kScaleFirstKhz; f <= kScaleLastKhz; f += kScaleStepKhz) {
        float x = float(ChannelX(f, g.chartXOrigin));
        glVertex2f(x - kTickHalfWidth, kTickTop);
        glVertex2f(x + kTickHalfWidth, kTickTop);
        glVertex2f(x, kTickTip);
    }
    glEnd();
}

}  // namespace

int RowsToDraw(int records, int chartHeight) {
    int rows = records >= chartHeight ? chartHeight - kFullChartRowsShortOfChartHeight : records;
    return rows < 0 ? 0 : rows;
}

ChartInput ChartInputFor(const Settings& settings, const ScreenGeometry& geometry,
                         RecordSpan records) {
    ChartInput input;
    input.settings = &settings;
    input.geometry = &geometry;
    input.records = records;
    input.range = ChooseChannelRange(settings.channelSpacing);
    return input;
}

std::vector<ChannelSpot> ChartFieldChannels(const ChartInput& input) {
    return FieldChannels(UsableRange(input.range), input.geometry->chartXOrigin);
}

void DrawChartOf(const ChartInput& input, RenderSurface* surface) {
    const ScreenGeometry& g = *input.geometry;
    const Settings& settings = *input.settings;
    const FontLists& fonts = surface->fonts;
    const RecordSpan records = input.records;
    const int rowsToDraw = RowsOfLoadedLog(records, g.chartHeight);
    const ChannelRange range = UsableRange(input.range);
    // Measuring the spots draws over the frame: before it is cleared, and only the first time.
    const SpotTable* spots = nullptr;
    if (rowsToDraw > 0 && input.drawLevelFieldInstead == nullptr) {
        spots = &SurfaceSpotTable(&surface->spots, ChartFieldChannels(input), g.screenWidth,
                                  g.screenHeight);
    }
    glClear(GL_COLOR_BUFFER_BIT);
    glLoadIdentity();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_LINE_STIPPLE);

    DrawHeadline(rowsToDraw, settings.locationName, fonts.TitleFontList, g);
    DrawMarkedRows(records, rowsToDraw, g);
    const ChartMarkers markers = FindMarkers(records, rowsToDraw);
    if (input.drawLevelFieldInstead != nullptr) {
        input.drawLevelFieldInstead(input, rowsToDraw, range, g.chartXOrigin);
    } else if (spots != nullptr) {
        DrawLevelField(records, rowsToDraw, *spots, settings, input.rowsPerBatch,
                       &surface->levelFieldImage);
    }
    DrawHorizonMarkers(markers, g.screenWidth);

    // The texts over the level field start white in the label font. The footer switches to its
    // own font, and the marker and scale labels keep whichever font is current; the list base of
    // before the chart comes back after the scale's labels.
    glColor3ub(255, 255, 255);
    glPushAttrib(GL_LIST_BIT);
    glListBase(fonts.LabelFontList - kFirstGlyph);
    DrawTimeLabels(records, rowsToDraw, g);
    DrawFooter(input.clock, settings.chartText, fonts.FooterFontList, g);
    DrawMarkerLabels(markers, g);
    DrawNewYorkLabel(markers.newYorkRow, fonts.LabelFontList, g);
    DrawScaleLabels(g);
    glPopAttrib();
    DrawScaleTicks(g);
}

}  // namespace talvor
