// SPDX-License-Identifier: GPL-3.0-or-later
// The waterfall chart of one day and its horizon markers.
#pragma once

#include "config/channel_plan.h"
#include "platform/clock.h"

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

// What a chart is drawn with, besides the loaded day log, the settings and the screen.
struct ChartInput {
    ChannelRange range;              // the channels drawn
    const UtcTime* clock = nullptr;  // the footer's time; nullptr reads the clock when drawn
    int rowsPerBatch = kLevelFieldRowsPerBatch;  // 0: one image for all rows
    // Draws the level field in place of its image (rows drawn, channels, chart x origin): the
    // tests draw it line by line, as it used to be drawn, to show the image the same.
    void (*drawLevelFieldInstead)(int rowsToDraw, const ChannelRange& range,
                                  int chartXOrigin) = nullptr;
};

// The daily run's: the channels of the configured spacing, the footer at the time of drawing.
ChartInput DailyChartInput();

// Draws the whole frame from the loaded day log (GL context current, projection set).
void DrawChartOf(const ChartInput& input);
// DrawChartOf(DailyChartInput()).
void DrawChart();

enum class HalfSun { Upper, Lower };
// The dotted marker line at row y and the half-sun at the right edge.
// The half-sun stands at the right end of the screen's width.
void DrawHorizonMarker(int y, HalfSun half);
