// SPDX-License-Identifier: GPL-3.0-or-later
// The lossless PNG picture of a finished frame, for archives that want every pixel as drawn.
#pragma once

#include <string>
#include <vector>

struct FrameBitmap;

// Writes the frame as an 8-bit RGB PNG of its full size (the alpha byte is dropped); false, with
// the reason on standard error and nothing left under the path, when it cannot be written.
bool WritePngFile(const FrameBitmap& frame, const char* path);

// The same PNG in memory; false with the reason when it cannot be made.
bool EncodeFramePng(const FrameBitmap& frame, std::vector<unsigned char>* bytes,
                    std::string* reason);
// An 8-bit RGB PNG of width x height pixels given top row first, three bytes a pixel.
bool EncodeRgbPng(const unsigned char* rgb, int width, int height,
                  std::vector<unsigned char>* bytes);
