// SPDX-License-Identifier: GPL-3.0-or-later
// The hidden OpenGL surface: an EGL pbuffer as large as the screen with a desktop-OpenGL
// compatibility context, and the bitmap-font display lists the chart writes its texts with.
#include "render/render_surface.h"

#include <GL/gl.h>

#include <cstdlib>
#include <system_error>

#include "platform/outcome.h"
#include "render/egl_context.h"

namespace talvor {

Outcome CreateRenderSurfaceOfSize(int width, int height, FontFaces* faces, RenderSurface* surface) {
    DestroyRenderSurface(surface);
    if (width <= 0 || height <= 0) {
        return Failed(FailureKind::NoDrawingSurface, "no drawing surface of that size");
    }
    Outcome made = CreateEglSurface(width, height, &surface->egl);
    if (!made) return made;

    glViewport(0, 0, width, height);
    glShadeModel(GL_SMOOTH);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    BuildFontLists(faces, &surface->fonts);
    return Succeeded();
}

int SurfaceStatus(const Outcome& made) {
    switch (made.kind) {
        case FailureKind::None:
            return 0;
        case FailureKind::NoEglDisplay:
            return 1;
        case FailureKind::NoEglConfig:
            return 2;
        case FailureKind::NoDrawingSurface:
            return 3;
        case FailureKind::NoGlContext:
            return 4;
        case FailureKind::GlContextNotCurrent:
            return 5;
        default:
            return -1;  // not a surface's step: no other kind comes from making one
    }
}

Outcome CreateRenderSurface(ScreenGeometry* geometry, FontFaces* faces, RenderSurface* surface) {
    // The width again by the start-up rule, from the size start-up measured: asking the display
    // a second time, from this thread, could only give another answer if it had changed, and
    // the frame and the chart must agree on one.
    int width = StoredScreenWidth(int(geometry->screenWidthF));
    // Start-up stored the same value; writing it only when it differs keeps the main thread's
    // concurrent reads free of a data race.
    if (geometry->screenWidth != width) geometry->screenWidth = width;
    return CreateRenderSurfaceOfSize(width, geometry->screenHeight, faces, surface);
}

void DestroyRenderSurface(RenderSurface* surface) {
    // The lists live in the context; they go while it is still current on this thread.
    if (EglContextMade(surface->egl)) DeleteFontLists(&surface->fonts);
    surface->fonts = FontLists{};
    surface->spots = MeasuredSpots{};
    DestroyEglSurface(surface->egl);
    surface->egl = nullptr;
}

DisplayOpening::~DisplayOpening() {
    FinishOpeningRenderDisplay(this);
}

void BeginOpeningRenderDisplay(DisplayOpening* opening) {
    if (opening->opener.joinable()) return;
    try {
        opening->opener = std::thread(OpenEglDisplayAhead);
    } catch (const std::system_error&) {
        // No thread: the surface opens the display itself, as it always could.
    }
}

void FinishOpeningRenderDisplay(DisplayOpening* opening) {
    if (opening->opener.joinable()) opening->opener.join();
}

void ShareProcessorsWithOtherDrawers(int drawingProcesses, int processors) {
    // Mesa's software renderer reads its thread count once, when its screen is made.
    if (drawingProcesses >= processors) setenv("LP_NUM_THREADS", "0", 0);
}

}  // namespace talvor
