// SPDX-License-Identifier: GPL-3.0-or-later
// The hidden OpenGL surface and its three bitmap-font display lists.
#pragma once

#include "platform/outcome.h"

// Display-list bases of the fonts; 0 while a list is not built. Texts are drawn with
// glListBase(base - 32) and one list call per character code.
// Every list reserves 256 names, so that codes 128..255 call empty names of the same list.
extern unsigned FooterFontList;  // glyphs for 32..127, the stock bold sans face
extern unsigned LabelFontList;   // glyphs for 32..127, the same face
extern unsigned TitleFontList;   // glyphs for 32..127, the large heavy face

// The failed step of a surface, as the outcome's code.
enum class SurfaceStatus {
    Ready = 0,       // current on the calling thread, fonts built
    NoDisplay = 1,   // no EGL display could be initialised
    NoConfig = 2,    // no matching config
    NoSurface = 3,   // the surface could not be made
    NoContext = 4,   // the context could not be made
    NotCurrent = 5,  // it could not be made current
};

// Makes the surface of screenWidth x screenHeight, the width taken afresh (stored in
// screenGeometry); on failure the SurfaceStatus as the code and the step and EGL's error as the
// reason.
Outcome CreateRenderSurface();
// The same for a given frame size, without asking the display.
Outcome CreateRenderSurfaceOfSize(int width, int height);
// Starts loading the driver and opening its display on a thread of its own, so that other
// start-up work overlaps it; the next surface waits for it. Not before a fork: a child would
// inherit a driver half loaded.
void BeginOpeningRenderDisplay();
// For a process that is one of drawingProcesses drawing at once: when they take every
// processor already, the software renderer draws on the calling thread instead of starting
// threads of its own that would only compete with the other processes. Before the first
// surface; a setting in the environment stands.
void ShareProcessorsWithOtherDrawers(int drawingProcesses, int processors);
// Waits for that thread, if one runs (before the process ends without a surface).
void FinishOpeningRenderDisplay();
// Removes whatever CreateRenderSurface made, on the thread that made it.
void DestroyRenderSurface();

// Finds and loads the large bold title face; called on the main thread at start-up.
// False when no face could be loaded (the title list then draws nothing).
bool LoadTitleFont();
