// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/site_images.h"

#include "frame/frame_bitmap.h"
#include "output/png_writer.h"
#include "render/level_colour.h"

namespace talvor {

namespace {

void PutPixel(std::vector<unsigned char>* rgb, size_t at, Rgb colour) {
    (*rgb)[at * 3] = colour.red;
    (*rgb)[at * 3 + 1] = colour.green;
    (*rgb)[at * 3 + 2] = colour.blue;
}

void PutQuarterHours(const DayDigest& digest, std::vector<unsigned char>* rgb, size_t row) {
    for (int q = 0; q < kQuarterHours; ++q) {
        PutPixel(rgb, row * kQuarterHours + size_t(q), ActivityColour(digest.activity[q]));
    }
}

}  // namespace

Rgb ActivityColour(int figure) {
    if (figure <= 0) return kNoRecordColour;
    int v = figure >= 100 ? 255 : figure * 255 / 100;
    return {LevelPaletteRed[v], LevelPaletteGreen[v], LevelPaletteBlue[v]};
}

Outcome ThumbnailPng(const FrameBitmap& frame, std::vector<unsigned char>* png) {
    int width = frame.width / kThumbnailScale, height = frame.height / kThumbnailScale;
    if (frame.bits == nullptr || width < 1 || height < 1) return Failed(FailureKind::EmptyFrame);
    std::vector<unsigned char> rgb(size_t(width) * size_t(height) * 3);
    std::vector<unsigned> sums(size_t(width) * 3);
    for (int ty = 0; ty < height; ++ty) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (int dy = 0; dy < kThumbnailScale; ++dy) {
            // The frame is stored bottom row first.
            int y = ty * kThumbnailScale + dy;
            const unsigned char* row =
                frame.bits + size_t(frame.height - 1 - y) * size_t(frame.width) * 4;
            // A block's pixels summed in registers, a block at a time.
            for (int tx = 0; tx < width; ++tx) {
                const unsigned char* pixel = row + size_t(tx) * kThumbnailScale * 4;
                unsigned red = 0, green = 0, blue = 0;
                for (int dx = 0; dx < kThumbnailScale; ++dx, pixel += 4) {
                    red += pixel[2];
                    green += pixel[1];
                    blue += pixel[0];
                }
                unsigned* sum = &sums[size_t(tx) * 3];
                sum[0] += red;
                sum[1] += green;
                sum[2] += blue;
            }
        }
        constexpr unsigned kBlock = kThumbnailScale * kThumbnailScale;
        for (size_t i = 0; i < sums.size(); ++i) {
            rgb[size_t(ty) * size_t(width) * 3 + i] =
                static_cast<unsigned char>((sums[i] + kBlock / 2) / kBlock);
        }
    }
    return EncodeRgbPng(rgb.data(), width, height, png);
}

Outcome ActivityStripPng(const DayDigest& digest, std::vector<unsigned char>* png) {
    std::vector<unsigned char> rgb(kQuarterHours * 3);
    PutQuarterHours(digest, &rgb, 0);
    return EncodeRgbPng(rgb.data(), kQuarterHours, 1, png);
}

Outcome PropagationCalendarPng(const std::vector<const DayDigest*>& days,
                               std::vector<unsigned char>* png) {
    if (days.empty()) return Failed(FailureKind::EmptyFrame);
    std::vector<unsigned char> rgb(days.size() * kQuarterHours * 3);
    for (size_t d = 0; d < days.size(); ++d) {
        if (days[d] != nullptr) {
            PutQuarterHours(*days[d], &rgb, d);
        } else {
            for (int q = 0; q < kQuarterHours; ++q) {
                PutPixel(&rgb, d * kQuarterHours + size_t(q), kNoLogColour);
            }
        }
    }
    return EncodeRgbPng(rgb.data(), kQuarterHours, int(days.size()), png);
}

}  // namespace talvor
