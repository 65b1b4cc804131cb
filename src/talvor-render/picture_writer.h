// SPDX-License-Identifier: GPL-3.0-or-later
// A picture encoded and written on a second thread while the next day is drawn: the encoder and
// the drawing each take about half of a day's time.
#pragma once

#include <string>
#include <thread>

#include "frame/frame_bitmap.h"
#include "output/colour_reduction.h"
#include "talvor-render/render_cli.h"

namespace talvor {

struct PendingPicture {
    std::thread writer;
    FrameBitmap* frame = nullptr;
    PictureFormat format = PictureFormat::Gif;
    GifThreads gifThreads = GifThreads::One;
    std::string path;
    size_t job = 0;  // its index among the days to draw
    bool written = false;
    bool active = false;
};

// Hands the drawn frame over to the writer thread (or writes it here when no thread can be had);
// the frame is freed once written. gifThreads: whether a GIF may take a further thread.
void StartWrite(PendingPicture* picture, FrameBitmap* frame, PictureFormat format,
                const std::string& path, size_t job, GifThreads gifThreads);
// Waits for the picture in hand, if any; false when it was not written.
bool FinishWrite(PendingPicture* picture);

}  // namespace talvor
