// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-render/picture_writer.h"

#include <system_error>

#include "output/png_writer.h"
#include "output/snapshot.h"
#include "report/report.h"

namespace talvor {

namespace {

void WritePicture(PendingPicture* picture) {
    if (picture->frame == nullptr) {
        Report("cannot write " + picture->path + ": out of memory for the frame");
        picture->written = false;
    } else if (picture->format == PictureFormat::Png) {
        picture->written = bool(WritePngFile(*picture->frame, picture->path.c_str()));
    } else {
        picture->written =
            bool(WriteGifFile(*picture->frame, picture->path.c_str(), picture->gifThreads));
    }
    FreeFrameBitmap(picture->frame);
    picture->frame = nullptr;
}

}  // namespace

void StartWrite(PendingPicture* picture, FrameBitmap* frame, PictureFormat format,
                const std::string& path, size_t job, GifThreads gifThreads) {
    picture->frame = frame;
    picture->job = job;
    picture->format = format;
    picture->gifThreads = gifThreads;
    picture->path = path;
    picture->written = false;
    picture->active = true;
    try {
        picture->writer = std::thread(WritePicture, picture);
    } catch (const std::system_error&) {
        WritePicture(picture);
    }
}

bool FinishWrite(PendingPicture* picture) {
    if (picture->writer.joinable()) picture->writer.join();
    picture->active = false;
    return picture->written;
}

}  // namespace talvor
