// The hidden OpenGL surface and its three bitmap-font display lists.
#pragma once

// Display-list bases of the fonts; 0 while a list is not built. Texts are drawn with
// glListBase(base - 32) and one list call per character code.
extern unsigned FooterFontList;  // 256 names reserved, glyphs for 32..127
extern unsigned LabelFontList;   // 96 names, glyphs for 32..127
extern unsigned TitleFontList;   // 96 names, glyphs for 32..127, the large bold face

// 0: ready and current on the calling thread, fonts built; 1: no EGL display; 2: no matching
// config; 3: no surface; 4: no context; 5: could not be made current.
int CreateRenderSurface();
// Removes whatever CreateRenderSurface made, on the thread that made it.
void DestroyRenderSurface();

// Finds and loads the large bold title face; called on the main thread at start-up.
// False when no face could be loaded (the title list then draws nothing).
bool LoadTitleFont();
