// SPDX-License-Identifier: GPL-3.0-or-later
// The lossless PNG picture of a finished frame, for archives that want every pixel as drawn.
#pragma once

#include <vector>

#include "platform/outcome.h"

namespace talvor {

struct FrameBitmap;

// Writes the frame as an 8-bit RGB PNG of its full size (the alpha byte is dropped); when it
// cannot be written, the reason, said on standard error too, and nothing left under the path.
Outcome WritePngFile(const FrameBitmap& frame, const char* path);

// The same PNG in memory.
Outcome EncodeFramePng(const FrameBitmap& frame, std::vector<unsigned char>* bytes);
// An 8-bit RGB PNG of width x height pixels given top row first, three bytes a pixel.
Outcome EncodeRgbPng(const unsigned char* rgb, int width, int height,
                     std::vector<unsigned char>* bytes);
// The same with an alpha byte after each pixel's three (8-bit RGBA).
Outcome EncodeRgbaPng(const unsigned char* rgba, int width, int height,
                      std::vector<unsigned char>* bytes);
// A picture of few colours over a see-through ground: width x height palette indices, one byte a
// pixel, top row first; paletteRgb holds up to 256 colours of three bytes, and index 0 is
// transparent whatever its colour.
Outcome EncodeOverlayPng(const unsigned char* indices, int width, int height,
                         const std::vector<unsigned char>& paletteRgb,
                         std::vector<unsigned char>* bytes);

}  // namespace talvor
