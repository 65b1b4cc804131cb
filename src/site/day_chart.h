// SPDX-License-Identifier: GPL-3.0-or-later
// The day's chart as its page draws it, so that the picture and the levels travel once: the page
// draws the level field itself from the levels it loads for the readout anyway, by the shades of
// the spots measured on the driver that drew the frame, and lays an overlay over it that holds
// every other pixel of the frame (texts, scale, markers, the background, and any pixel where the
// field so drawn would differ). Field and overlay together are the frame, byte for byte.
#pragma once

#include <string>
#include <vector>

#include "daylog/day_records.h"
#include "platform/outcome.h"
#include "render/level_field.h"

namespace talvor {

struct FrameBitmap;

// What the chart was drawn from, besides its frame.
struct DayChartInput {
    const FrameBitmap* frame = nullptr;
    const SpotTable* spots = nullptr;  // nullptr: the page draws no field, the overlay is all
    RecordSpan records;
    int rows = 0;  // records drawn as field rows, from the first
    float sensitivity = 1.0f;
    int colourMode = 0;
};

// The spots as the page reads them, a zlib stream of (integers little-endian):
//
//   offset    size   what
//        0       2   channels, in the order they are drawn; then for each channel:
//        0       2     its kHz
//        2       2     its column in the frame (signed)
//        4       1     n, the pixels its spot writes in the frame
//        5      2n     each pixel's dx and dy from the column and the row (signed bytes)
//     5+2n    256n     each pixel's shades of the component values 0..255, each as its
//                      difference from the shade before (modulo 256; the first from 0)
//
// The shades rise with the value by steps of the pixel's share of the colour, so their
// differences repeat: some 12 KB a chart.
Outcome EncodeSpots(const SpotTable& table, std::vector<unsigned char>* deflated);

// The colour the page lays under everything: the frame's top left pixel, above the scale, where
// nothing is drawn (any colour would do: the overlay holds whatever differs).
SpotColour ChartBackground(const FrameBitmap& frame);

// Which pixels of the frame the overlay holds, a byte each, top row first: 1 where the page has
// not the frame's colour already (from the field it draws, else the background), else 0.
std::vector<unsigned char> ChartOverlayMask(const DayChartInput& input);

// chart.js: the background, the spots, and the overlay as a PNG (of a palette where it has no
// more than 255 colours, as a chart's has), each in Base85.
Outcome DayChartScript(const DayChartInput& input, std::string* script);

}  // namespace talvor
