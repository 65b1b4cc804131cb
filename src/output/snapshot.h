// SPDX-License-Identifier: GPL-3.0-or-later
// The GIF snapshot of the finished frame.
#pragma once

#include <string>
#include <vector>

#include "output/colour_reduction.h"
#include "platform/clock.h"
#include "platform/outcome.h"

namespace talvor {

struct FrameBitmap;

// The CaptureMode: which name the snapshot is saved under.
constexpr int kDatedCapture = 1;  // "VOKLOG yyyy-mm-dd.GIF"
constexpr int kZCapture = 2;      // "z.gif"

// The snapshot's full path for a mode, the executable's folder and the day drawn:
// mode 2 gives "<folder>/z.gif", any other mode "<folder>/VOKLOG yyyy-mm-dd.GIF".
std::string SnapshotPath(int mode, const std::string& exeFolder, const UtcTime& date);

// Writes a frame as a GIF of its full size with a palette chosen from the frame; when it cannot
// be written, the reason, said on standard error too, and nothing left under the path. threads
// says whether a second thread may share the work (colour_reduction.h); the bytes are the same.
Outcome WriteGifFile(const FrameBitmap& frame, const char* path,
                     GifThreads threads = GifThreads::One);

// The same GIF in memory, for a writer that makes its files itself.
Outcome EncodeFrameGif(const FrameBitmap& frame, std::vector<unsigned char>* bytes,
                       GifThreads threads = GifThreads::One);
// The GIF of a frame already reduced to its palette (colour_reduction.h): the screen and image
// descriptors of its size, its palette as the global colour table, no extensions.
Outcome EncodeIndexedGif(const IndexedImage& image, std::vector<unsigned char>* bytes);

// The first image of a GIF as RGB pixels, top row first, for checking what was written.
struct DecodedGif {
    int width = 0;
    int height = 0;
    int colourCount = 0;  // entries of the colour table
    std::vector<unsigned char> rgb;
};
// Fails with giflib's reason, or ImageMismatch for a file that is not one whole first image of
// the screen's size in its palette.
Outcome ReadGifFile(const char* path, DecodedGif* image);

// Saves the frame as the snapshot at path, on two threads: the daily run has drawn its one
// picture, and nothing else runs beside the saving. When no frame was drawn (frame nullptr,
// EmptyFrame) or the picture was not saved, the reason, said on standard error too.
Outcome SaveSnapshotTo(const FrameBitmap* frame, const std::string& path);

}  // namespace talvor
