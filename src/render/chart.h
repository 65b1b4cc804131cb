// The waterfall chart of one day and its horizon markers.
#pragma once

#include <cstdint>

#include "config/channel_plan.h"

extern const unsigned char LevelPaletteRed[256];
extern const unsigned char LevelPaletteGreen[256];
extern const unsigned char LevelPaletteBlue[256];

// The range DrawChart draws; the render thread chooses it before the chart is drawn.
extern ChannelRange chartChannelRange;

// Level-field rows drawn in one batch before it is ended and flushed (0: one batch for all).
extern int levelFieldRowsPerBatch;

// The frame's y of the level field's row 0 (record 0); record k lies k rows below it.
constexpr int kLevelFieldTop = 40;

// Rows drawn for a number of records on a chart of the given height.
int RowsToDraw(int records, int chartHeight);

// The scaled level v (0..255) of a record's level: above 1000 counts as 0, above 255 as 255,
// below 0 as 0; then sensitivity x level, truncated.
int ScaledLevel(int32_t level, float sensitivity);

struct SpotColour {
    unsigned char red, green, blue;
};
// Colour of a level spot of scaled level v: (v, v, (255 - v) / 10) in colour mode 0, else the
// LevelPalette entry.
SpotColour LevelSpotColour(int v, int colourMode);

struct UtcTime;
// The time the footer shows; nullptr (the default) reads the clock when the footer is drawn.
// Drawing a past day sets it to that day's end.
extern const UtcTime* chartClockOverride;

// Draws the whole frame from the loaded day log (GL context current, projection set).
void DrawChart();

enum class HalfSun { Upper, Lower };
// The dotted marker line at row y and the half-sun at the right edge.
// The half-sun points are computed once, from the screen width at the first call.
void DrawHorizonMarker(int y, HalfSun half);
// Forgets the half-sun points, so that the next marker takes the screen width afresh (tests).
void ResetMarkerGeometry();
