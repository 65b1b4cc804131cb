// SPDX-License-Identifier: GPL-3.0-or-later
// Reduction of a 32-bit frame to the 256 colours a GIF can hold.
#pragma once

#include <functional>
#include <vector>

namespace talvor {

struct FrameBitmap;

constexpr int kMaxGifColours = 256;

// Whether the reduction of one frame, and the coding of its rows as they are mapped, may take a
// second thread: where a core is free (a run that makes one picture), not where the run's workers
// or threads fill the cores already. The result is the same either way; a thread that cannot be
// started leaves the work on the caller's.
enum class GifThreads { One, Two };

// A frame as palette indices, top row first, ready for the GIF writer.
struct IndexedImage {
    int width = 0;
    int height = 0;
    int colourCount = 0;                            // entries of palette in use, 1..256
    unsigned char palette[kMaxGifColours][3] = {};  // red, green, blue
    std::vector<unsigned char> pixels;              // width * height indices
};

// Chooses a palette for the frame and maps every pixel to its nearest entry. A frame of at
// most 256 distinct colours keeps them exactly. False when the frame has no pixels, or memory is
// short.
bool ReduceFrameColours(const FrameBitmap& frame, IndexedImage* image,
                        GifThreads threads = GifThreads::One);

// The same, a row at a time: image gets the size and the palette but no pixels, then takeRow
// each row's indices, top row first, in a buffer that the next row reuses; a writer that
// compresses them as they come needs no copy of the whole frame's indices. takeRow is always
// called on the caller's thread; with GifThreads::Two the next rows are mapped on another while it
// runs. takeRow may throw std::bad_alloc, which makes the answer false.
bool ReduceFrameColoursByRow(const FrameBitmap& frame, IndexedImage* image,
                             const std::function<void(const unsigned char* row)>& takeRow,
                             GifThreads threads = GifThreads::One);

// Peak signal-to-noise ratio in dB of an RGB image (top row first, 3 bytes a pixel, the frame's
// size) against the frame, over red, green and blue; infinity when they are identical.
double FramePsnr(const FrameBitmap& frame, const unsigned char* rgbTopFirst);

}  // namespace talvor
