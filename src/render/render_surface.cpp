// SPDX-License-Identifier: GPL-3.0-or-later
// The hidden OpenGL surface: an EGL pbuffer as large as the screen with a desktop-OpenGL
// compatibility context, and the bitmap-font display lists the chart writes its texts with.
#include "render/render_surface.h"

#include <GL/gl.h>

#include "platform/outcome.h"
#include "render/egl_context.h"
#include "render/font_lists.h"
#include "render/spot_measurement.h"
#include "station/run_state.h"

Outcome CreateRenderSurfaceOfSize(int width, int height) {
    FinishOpeningRenderDisplay();
    // A surface left from an earlier call goes first: there is one per process.
    DestroyRenderSurface();
    if (width <= 0 || height <= 0) {
        return FailedWith(int(SurfaceStatus::NoSurface), "no drawing surface of that size");
    }
    Outcome made = CreateEglSurface(width, height);
    if (!made) return made;

    glViewport(0, 0, width, height);
    glShadeModel(GL_SMOOTH);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    BuildFontLists();
    return Succeeded();
}

Outcome CreateRenderSurface() {
    // The width again by the start-up rule, from the size start-up measured: asking the display
    // a second time, from this thread, could only give another answer if it had changed, and
    // the frame and the chart must agree on one.
    int width = StoredScreenWidth(int(screenGeometry.screenWidthF));
    // Start-up stored the same value; writing it only when it differs keeps the main thread's
    // concurrent reads free of a data race.
    if (screenGeometry.screenWidth != width) screenGeometry.screenWidth = width;
    return CreateRenderSurfaceOfSize(width, screenGeometry.screenHeight);
}

void DestroyRenderSurface() {
    // The lists live in the context; they go while it is still current on this thread.
    if (EglContextMade()) DeleteFontLists();
    ForgetSurfaceSpotTable();
    FooterFontList = LabelFontList = TitleFontList = 0;
    DestroyEglSurface();
}
