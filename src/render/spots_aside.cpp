// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/spots_aside.h"

#include <GL/gl.h>

#include <system_error>

#include "render/egl_context.h"
#include "render/render_surface.h"
#include "render/render_thread.h"

namespace talvor {

namespace {

// The chart's surface as CreateRenderSurfaceOfSize and the chart's projection leave it, without
// the fonts: the spots depend on the size, the viewport and the projection only.
void MeasureOnOwnSurface(std::vector<ChannelSpot> channels, ScreenGeometry g,
                         MeasuredSpots* spots) {
    const int width = g.screenWidth, height = g.screenHeight;
    EglSurface* egl = nullptr;
    if (CreateEglSurface(width, height, &egl)) {
        glViewport(0, 0, width, height);
        glShadeModel(GL_SMOOTH);
        glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
        SetChartProjection(g.screenWidthF, g.screenHeightF);
        SurfaceSpotTable(spots, channels, width, height);
    }
    DestroyEglSurface(egl);
}

}  // namespace

SpotsAside::~SpotsAside() {
    if (thread_.joinable()) thread_.join();
}

void SpotsAside::Start(const ChartInput& input) {
    const ScreenGeometry& g = *input.geometry;
    try {
        thread_ = std::thread(MeasureOnOwnSurface, ChartFieldChannels(input), g, &spots_);
    } catch (const std::system_error&) {
        // The first chart measures on its own surface.
    }
}

void SpotsAside::HandTo(RenderSurface* surface) {
    if (thread_.joinable()) thread_.join();
    if (spots_.measured) surface->spots = std::move(spots_);
    spots_ = MeasuredSpots{};
}

}  // namespace talvor
