// SPDX-License-Identifier: GPL-3.0-or-later
// The EGL side of the render surface, for render_surface.cpp: a pbuffer with its context, and
// the driver's display opened ahead of it.
#pragma once

#include "platform/outcome.h"

namespace talvor {

// The driver's calls, its display, the pbuffer and the context of one surface.
struct EglSurface;

// Makes a pbuffer of width x height with a desktop-OpenGL compatibility context, current on the
// calling thread, into *made (set also on failure, with whatever was made, for
// DestroyEglSurface); on failure the step as the kind and EGL's error in the reason.
Outcome CreateEglSurface(int width, int height, EglSurface** made);
// True while the surface's context exists.
bool EglContextMade(const EglSurface* surface);
// Lets go of the context and the pbuffer on the thread that made them, and frees the surface.
void DestroyEglSurface(EglSurface* surface);

// Loads the driver and opens its display, so that the next surface finds both ready: most of a
// surface's cost, which a caller may run on a thread of its own meanwhile.
void OpenEglDisplayAhead();

}  // namespace talvor
