// SPDX-License-Identifier: GPL-3.0-or-later
// The chart's level field on the processor. Each channel of each row drawn is a spot: two short
// lines that the OpenGL driver shades from black to the level's colour and back. Which pixels a
// spot writes, and the shade each gets, are the driver's, down to its rounding, and depend on
// where the spot lies: its rounding of exact halves follows the channel's column. So the spots
// are measured once on the surface (spot_measurement.h), kept in a SpotTable, and the field is
// then put together here from the day's levels by table look-up, the same pixels, byte for byte,
// that drawing the lines leaves.
//
// Measured on Mesa's software renderer, a spot at column x writes x - 6 .. x + 5 of its own row;
// the shades are the colour times 0.5/6 .. 5.5/6, rounded, but an exact half goes up or down by
// the column (and by the frame's width, which sets the projection).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "config/channel_plan.h"
#include "daylog/day_log.h"
#include "render/level_colour.h"

namespace talvor {

// A spot's lines run from black this far left of its channel to the colour at it, and back to
// black as far right.
constexpr int kSpotHalfWidth = 6;
// No spot writes further from its channel than one pixel past its lines' ends, or outside the
// rows next to its own: the window in which a spot is looked for.
constexpr int kSpotReachX = kSpotHalfWidth + 1;
constexpr int kSpotReachY = 1;

// A pixel that a spot writes, from its channel's column and its row's y in the frame.
struct SpotPixel {
    int dx, dy;
};

// One channel of the field: where its spot lies and what the driver leaves there.
struct ChannelSpot {
    int khz = 0;  // the level it shows
    int x = 0;    // its column in the frame
    // The pixels its spot writes inside the frame, and for each of them a shade for every value
    // of a colour component: a spot of colour (r, g, b) leaves (shades[p][r], shades[p][g],
    // shades[p][b]) at pixels[p]. The three components are shaded alike and apart.
    std::vector<SpotPixel> pixels;
    std::vector<std::array<uint8_t, 256>> shades;
};

// Every spot of a field on a width x height frame, channels in the order they are drawn: where
// two spots meet, the later one covers the earlier, and a later row an earlier one.
struct SpotTable {
    int width = 0, height = 0;
    std::vector<ChannelSpot> channels;
};

// The channels of the range that lie in the logged band, in plan order, at their columns.
std::vector<ChannelSpot> FieldChannels(const ChannelRange& range, int chartXOrigin);

// The colour pixel p of a channel's spot gets for a spot of the given colour (a level's
// LevelSpotColour): what a page that draws the field looks up for a palette index.
SpotColour SpotPixelColour(const ChannelSpot& spot, size_t p, SpotColour colour);

// ---- Measuring the spots --------------------------------------------------------------------
// Every other channel's spot is drawn in one probe row (so that no two spots' windows meet),
// all in one colour whose three components are three of the 256 values a component takes: 86
// rows of each parity give every value. The frame is cleared to kProbeBackground first, a
// colour no probe's spot can leave (its red is 0 wherever the first probe shades), and rows lie
// 2 * kSpotReachY + 1 apart. The probes fill the frame from its top in as many passes as its
// height needs; the first probe of each parity, which says which pixels a spot writes, comes
// in the first pass.

constexpr SpotColour kProbeBackground{128, 128, 128};

struct SpotProbe {
    int y;              // the chart y its lines are drawn at
    int parity;         // the channels drawn: those whose index in the table has this parity
    SpotColour colour;  // of every spot in the row
    bool findsPixels;   // the first of its parity: which pixels each spot writes
};

struct SpotProbePass {
    int top = 0, bottom = 0;  // the frame rows it reads back, inclusive
    std::vector<SpotProbe> probes;
};

// The passes that measure the spots of a frame of the given height; none when not even one
// probe's rows fit.
std::vector<SpotProbePass> PlanSpotProbes(int frameHeight);

// Records what the probes of a pass left, passes taken in order (a pass may be recorded in parts
// of its probes, each with the rows they lie in): bgra holds the frame rows pass.top ..
// pass.bottom of the whole width, bottom row first, in the frame bitmap's blue, green, red,
// alpha bytes, as OpenGL reads them back.
void RecordSpotProbes(const SpotProbePass& pass, const unsigned char* bgra, SpotTable* table);

// ---- The field from the levels --------------------------------------------------------------

// The pixels of the field's rows first .. last - 1 as an image: left, top (frame column and row
// of its top left pixel), width x height RGBA pixels, bottom row first as OpenGL takes them, the
// alpha 255 where a spot wrote the pixel and 0 where the frame shows what lies under the field.
struct LevelFieldImage {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<unsigned char> rgba;
};

// The field's colours at one sensitivity and colour mode, looked up once a frame instead of once
// a pixel: the RGBA bytes that each pixel of each channel's spot gets for each level 0..255.
struct FieldColours {
    float sensitivity = 1.0f;
    int colourMode = 0;
    std::vector<size_t> firstPixel;  // channel c's pixels are firstPixel[c], firstPixel[c] + 1, ..
    std::vector<std::array<uint8_t, 4>> rgba;  // pixel q, level v at q * 256 + v
};
FieldColours PrepareFieldColours(const SpotTable& table, float sensitivity, int colourMode);

// Builds the image of rows first .. last - 1 into image (its pixels reused from call to call),
// record k of records (contiguous, kDayLogRecordSize bytes apart) drawn as row k; width 0 when
// none of the rows shows in the frame.
void BuildLevelFieldImage(const SpotTable& table, const FieldColours& colours,
                          const DayLogRecord* records, int first, int last, LevelFieldImage* image);

// The pixels of the frame that a field of `rows` rows writes, top row first: 1 where a spot
// writes, 0 where the picture's other layers show. Every level writes the same pixels.
std::vector<uint8_t> LevelFieldCoverage(const SpotTable& table, int rows);

}  // namespace talvor
