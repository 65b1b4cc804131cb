// SPDX-License-Identifier: GPL-3.0-or-later
// The hidden OpenGL surface and its three bitmap-font display lists.
#pragma once

#include <thread>

#include "config/run_state.h"
#include "platform/outcome.h"
#include "render/font_lists.h"
#include "render/level_field.h"
#include "render/spot_measurement.h"

namespace talvor {

struct EglSurface;

// One surface with what is kept on it: made, drawn on and destroyed by one thread.
struct RenderSurface {
    EglSurface* egl = nullptr;  // the pbuffer and its context; nullptr when none was made
    FontLists fonts;
    MeasuredSpots spots;              // the level field's spots, measured on this surface
    LevelFieldImage levelFieldImage;  // the level field's rows, its pixels kept between days
};

// The SurfaceStatus of a surface's outcome, its failed step's number: 0 ready (current on the
// calling thread, fonts built), 1 no EGL display could be initialised, 2 no matching config,
// 3 the surface could not be made, 4 the context could not be made, 5 it could not be made
// current.
int SurfaceStatus(const Outcome& made);

// Makes the surface of screenWidth x screenHeight, the width taken afresh from the width the
// display reported (and stored in the geometry); on failure the step as the kind (NoEglDisplay ..
// GlContextNotCurrent) and the step and EGL's error as the reason.
Outcome CreateRenderSurface(ScreenGeometry* geometry, FontFaces* faces, RenderSurface* surface);
// The same for a given frame size, without asking the display. A surface made before in *surface
// goes first.
Outcome CreateRenderSurfaceOfSize(int width, int height, FontFaces* faces, RenderSurface* surface);
// Removes whatever the creation made, on the thread that made it.
void DestroyRenderSurface(RenderSurface* surface);

// Loading the driver and opening its display on a thread of its own, so that other start-up
// work overlaps it. Not before a fork: a child would inherit a driver half loaded.
struct DisplayOpening {
    std::thread opener;
    DisplayOpening() = default;
    ~DisplayOpening();
    DisplayOpening(const DisplayOpening&) = delete;
    DisplayOpening& operator=(const DisplayOpening&) = delete;
};
void BeginOpeningRenderDisplay(DisplayOpening* opening);
// Waits for that thread, if one runs: before the first surface, and before the process ends.
void FinishOpeningRenderDisplay(DisplayOpening* opening);

// For a process that is one of drawingProcesses drawing at once: when they take every
// processor already, the software renderer draws on the calling thread instead of starting
// threads of its own that would only compete with the other processes. Before the first
// surface; a setting in the environment stands.
void ShareProcessorsWithOtherDrawers(int drawingProcesses, int processors);

}  // namespace talvor
