// SPDX-License-Identifier: GPL-3.0-or-later
// The EGL side of the render surface, for render_surface.cpp: one pbuffer with its context at a
// time, in this process.
#pragma once

#include "platform/outcome.h"

// Makes a pbuffer of width x height with a desktop-OpenGL compatibility context, current on the
// calling thread; on failure the SurfaceStatus as the code and EGL's error in the reason, with
// whatever was made kept for DestroyEglSurface.
Outcome CreateEglSurface(int width, int height);
// True while a context made by CreateEglSurface exists.
bool EglContextMade();
// Lets go of the context and the pbuffer on the thread that made them.
void DestroyEglSurface();
