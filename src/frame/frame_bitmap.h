// SPDX-License-Identifier: GPL-3.0-or-later
// The finished frame that the drawing hands to the writers.
#pragma once

namespace talvor {

// Width x height pixels of blue, green, red, alpha, bottom row first.
struct FrameBitmap {
    int width = 0;
    int height = 0;
    unsigned char* bits = nullptr;  // width * height * 4 bytes
};

FrameBitmap* NewFrameBitmap(int width, int height);  // nullptr when memory is short
void FreeFrameBitmap(FrameBitmap* bitmap);

}  // namespace talvor
