// SPDX-License-Identifier: GPL-3.0-or-later
// The lossless PNG picture of a finished frame, for archives that want every pixel as drawn.
#pragma once

#include <vector>

#include "platform/outcome.h"

struct FrameBitmap;

// Writes the frame as an 8-bit RGB PNG of its full size (the alpha byte is dropped); when it
// cannot be written, the reason, said on standard error too, and nothing left under the path.
Outcome WritePngFile(const FrameBitmap& frame, const char* path);

// The same PNG in memory.
Outcome EncodeFramePng(const FrameBitmap& frame, std::vector<unsigned char>* bytes);
// An 8-bit RGB PNG of width x height pixels given top row first, three bytes a pixel.
Outcome EncodeRgbPng(const unsigned char* rgb, int width, int height,
                     std::vector<unsigned char>* bytes);
