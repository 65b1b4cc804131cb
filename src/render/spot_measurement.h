// SPDX-License-Identifier: GPL-3.0-or-later
// The level field's spots measured on the current surface: drawn once as the lines they have
// always been and read back, kept until the surface, its projection or the channels change.
#pragma once

#include <array>
#include <vector>

#include "render/level_field.h"

namespace talvor {

// What the spots were measured for: another surface size, projection or set of columns draws
// them differently.
struct SpotTableKey {
    int width = 0, height = 0;
    std::array<float, 16> projection{};
    std::array<int, 4> viewport{};
    std::vector<int> columns;

    bool operator==(const SpotTableKey& o) const {
        return width == o.width && height == o.height && projection == o.projection &&
               viewport == o.viewport && columns == o.columns;
    }
};

// Kept with the surface they were measured on, as its font lists are, and used on its thread
// only: the first chart measures, every later one on the same surface looks up.
struct MeasuredSpots {
    bool measured = false;
    SpotTableKey key;
    SpotTable table;
};

// The spots of these channels (FieldChannels) on the current width x height surface, with the
// projection in effect, measured into spots unless they were for the same. Measuring draws over
// the frame: call it before the frame is cleared.
const SpotTable& SurfaceSpotTable(MeasuredSpots* spots, const std::vector<ChannelSpot>& channels,
                                  int width, int height);

}  // namespace talvor
