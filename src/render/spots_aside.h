// SPDX-License-Identifier: GPL-3.0-or-later
// The level field's spots measured on a surface and a thread of their own while the chart's
// surface is being made, so that the first chart of a run finds them measured.
#pragma once

#include <thread>

#include "render/chart.h"
#include "render/spot_measurement.h"

namespace talvor {

struct RenderSurface;

class SpotsAside {
  public:
    SpotsAside() = default;
    SpotsAside(const SpotsAside&) = delete;
    SpotsAside& operator=(const SpotsAside&) = delete;
    ~SpotsAside();

    // Starts measuring the spots of the input's channels on a surface of its geometry, with the
    // chart's projection. The driver must be open (FinishOpeningRenderDisplay). When no thread
    // or surface can be had, nothing is measured here and the first chart measures as before.
    void Start(const ChartInput& input);
    // Waits for the measuring and hands the spots to the surface made for the chart. The chart
    // still compares what they were measured for with its own surface (SurfaceSpotTable).
    void HandTo(RenderSurface* surface);

  private:
    std::thread thread_;
    MeasuredSpots spots_;
};

}  // namespace talvor
