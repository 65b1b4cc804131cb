// SPDX-License-Identifier: GPL-3.0-or-later
// The level field's spots measured on the current surface: drawn once as the lines they have
// always been and read back, kept until the surface, its projection or the channels change.
#pragma once

#include <vector>

#include "render/level_field.h"

// The spots of these channels (FieldChannels) on the current width x height surface, with the
// projection in effect. Measuring draws over the frame: call it before the frame is cleared.
const SpotTable& SurfaceSpotTable(const std::vector<ChannelSpot>& channels, int width, int height);
// Forgets the table (when the surface goes).
void ForgetSurfaceSpotTable();
