// SPDX-License-Identifier: GPL-3.0-or-later
// The waterfall chart of one day and its horizon markers.
#pragma once

#include <vector>

#include "config/channel_plan.h"
#include "config/run_state.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "render/level_field.h"

namespace talvor {

struct RenderSurface;

// The frame's y of the level field's row 0 (record 0); record k lies k rows below it.
constexpr int kLevelFieldTop = 40;
// The kHz drawn at the chart x origin: f kHz lies at x = f + chart x origin - kChartOriginKhz.
constexpr int kChartOriginKhz = 500;

// The frame's column of a channel and row of a level-field row.
constexpr int ChannelX(int khz, int chartXOrigin) {
    return khz + chartXOrigin - kChartOriginKhz;
}
constexpr int RowY(int row) {
    return row + kLevelFieldTop;
}

// Rows drawn for a number of records on a chart of the given height.
int RowsToDraw(int records, int chartHeight);

struct UtcTime;

// Level-field rows given to the driver in one image.
constexpr int kLevelFieldRowsPerBatch = 64;

// What a chart is drawn with.
struct ChartInput {
    const Settings* settings = nullptr;
    const ScreenGeometry* geometry = nullptr;
    RecordSpan records;              // the loaded day log
    ChannelRange range;              // the channels drawn
    const UtcTime* clock = nullptr;  // the footer's time; nullptr reads the clock when drawn
    int rowsPerBatch = kLevelFieldRowsPerBatch;  // 0: one image for all rows
    // Draws the level field in place of its image (this input, rows drawn, channels, chart x
    // origin): the tests draw it line by line, as it used to be drawn, to show the image the same.
    void (*drawLevelFieldInstead)(const ChartInput& input, int rowsToDraw,
                                  const ChannelRange& range, int chartXOrigin) = nullptr;
};

// A chart of the records by the settings on the screen: the channels of the configured spacing,
// the footer at the time of drawing.
ChartInput ChartInputFor(const Settings& settings, const ScreenGeometry& geometry,
                         RecordSpan records);

// Draws the whole frame on the surface (its context current, projection set).
void DrawChartOf(const ChartInput& input, RenderSurface* surface);

// The channels whose spots the chart's level field is put together from.
std::vector<ChannelSpot> ChartFieldChannels(const ChartInput& input);

enum class HalfSun { Upper, Lower };
// The dotted marker line at row y across a frame screenWidth wide, and the half-sun at its right
// end.
void DrawHorizonMarker(int y, HalfSun half, int screenWidth);

}  // namespace talvor
