// The lossless PNG picture of a finished frame, for archives that want every pixel as drawn.
#pragma once

struct FrameBitmap;

// Writes the frame as an 8-bit RGB PNG of its full size (the alpha byte is dropped); false, with
// the reason on standard error and nothing left under the path, when it cannot be written.
bool WritePngFile(const FrameBitmap& frame, const char* path);
