// SPDX-License-Identifier: GPL-3.0-or-later
// How a logged level becomes the colour of its spot on the chart.
#pragma once

#include <cstdint>

namespace talvor {

extern const unsigned char LevelPaletteRed[256];
extern const unsigned char LevelPaletteGreen[256];
extern const unsigned char LevelPaletteBlue[256];

// A level above kLevelNoiseAbove is noise and counts as 0; one above kLevelTop counts as
// kLevelTop, one below 0 as 0.
constexpr int32_t kLevelNoiseAbove = 1000;
constexpr int32_t kLevelTop = 255;

// The scaled level v (0..255) of a record's level: above 1000 counts as 0, above 255 as 255,
// below 0 as 0; then sensitivity x level, truncated.
int ScaledLevel(int32_t level, float sensitivity);

struct SpotColour {
    unsigned char red, green, blue;
};
// Colour of a level spot of scaled level v: (v, v, (255 - v) / 10) in colour mode 0, else the
// LevelPalette entry.
SpotColour LevelSpotColour(int v, int colourMode);

}  // namespace talvor
