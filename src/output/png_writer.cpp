// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "frame/frame_bitmap.h"
#include "platform/files.h"
#include "report/report.h"

namespace talvor {

namespace {

// A PNG of the chart compresses to about a tenth at the fastest level already; higher levels
// cost several times the time for a few per cent.
constexpr int kCompressionLevel = 2;
constexpr int kOverlayCompressionLevel = 6;

void AppendBytes(png_structp png, png_bytep data, size_t length) {
    auto* bytes = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    bool stored = true;
    try {
        bytes->insert(bytes->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        stored = false;
    }
    // An exception may not cross libpng's C frames; its own error path ends the write.
    if (!stored) png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

// libpng reports its errors by longjmp; the text is kept for the message, in the caller's
// buffer so that pictures can be written on several threads.
struct PngError {
    char text[200];
};

void KeepError(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngError*>(png_get_error_ptr(png));
    if (error != nullptr) std::snprintf(error->text, sizeof error->text, "%s", message);
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

// The whole file in memory first, so that the file is written in one piece or not at all.
// Everything that owns memory lives outside this function, as longjmp skips destructors.
// A frame's pixels are blue, green, red and an unused byte; other pictures are given as they
// are stored.
// A palette picture (colourType PNG_COLOR_TYPE_PALETTE) has its colours in palette, three bytes
// each, the first of them transparent.
struct PngPalette {
    const unsigned char* rgb = nullptr;
    int colours = 0;
};

bool EncodePng(int width, int height, int colourType, bool frameOrder, png_bytep* rows,
               std::vector<unsigned char>* bytes, PngError* error, PngPalette palette = {}) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, error, KeepError, IgnoreWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, bytes, AppendBytes, FlushNothing);
    const bool indexed = colourType == PNG_COLOR_TYPE_PALETTE;
    // Indices that are mostly the transparent 0 need no filter, and pack to a fraction at a
    // middle level for little more time than at the fastest.
    png_set_compression_level(png, indexed ? kOverlayCompressionLevel : kCompressionLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, indexed ? PNG_FILTER_NONE : PNG_FILTER_SUB);
    // A palette's indices take as few bits as its colours need (libpng packs the bytes given).
    int bitDepth = 8;
    if (indexed)
        bitDepth = palette.colours <= 2    ? 1
                   : palette.colours <= 4  ? 2
                   : palette.colours <= 16 ? 4
                                           : 8;
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bitDepth, colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    if (indexed) {
        std::vector<png_color> colours(size_t(palette.colours));
        for (size_t i = 0; i < colours.size(); ++i) {
            colours[i] = {palette.rgb[i * 3], palette.rgb[i * 3 + 1], palette.rgb[i * 3 + 2]};
        }
        png_set_PLTE(png, info, colours.data(), palette.colours);
        png_byte transparent = 0;
        png_set_tRNS(png, info, &transparent, 1, nullptr);
    }
    png_write_info(png, info);
    if (bitDepth < 8) png_set_packing(png);
    if (frameOrder) {
        png_set_bgr(png);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    }
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

Outcome EncodeFramePng(const FrameBitmap& frame, std::vector<unsigned char>* bytes) {
    if (frame.bits == nullptr || frame.width <= 0 || frame.height <= 0) {
        return Failed(FailureKind::EmptyFrame);
    }
    std::vector<png_bytep> rows;
    try {
        rows.resize(size_t(frame.height));
        bytes->reserve(size_t(frame.width) * size_t(frame.height) / 4);
    } catch (const std::bad_alloc&) {
        return Failed(FailureKind::OutOfMemory);
    }
    // The frame is stored bottom row first; a PNG starts with the top row.
    size_t stride = size_t(frame.width) * 4;
    for (int y = 0; y < frame.height; ++y) {
        rows[size_t(y)] = frame.bits + size_t(frame.height - 1 - y) * stride;
    }
    PngError pngError{};
    if (!EncodePng(frame.width, frame.height, PNG_COLOR_TYPE_RGB, true, rows.data(), bytes,
                   &pngError)) {
        return Failed(FailureKind::PngEncoder,
                      pngError.text[0] != '\0' ? pngError.text : "the encoder failed");
    }
    return Succeeded();
}

namespace {

Outcome EncodePixels(const unsigned char* pixels, int bytesPerPixel, int colourType, int width,
                     int height, std::vector<unsigned char>* bytes, PngPalette palette = {}) {
    if (pixels == nullptr || width <= 0 || height <= 0) return Failed(FailureKind::EmptyFrame);
    std::vector<png_bytep> rows;
    try {
        rows.resize(size_t(height));
    } catch (const std::bad_alloc&) {
        return Failed(FailureKind::OutOfMemory);
    }
    const size_t stride = size_t(width) * size_t(bytesPerPixel);
    for (int y = 0; y < height; ++y) {
        rows[size_t(y)] = const_cast<png_bytep>(pixels + size_t(y) * stride);
    }
    PngError pngError{};
    if (!EncodePng(width, height, colourType, false, rows.data(), bytes, &pngError, palette)) {
        return Failed(FailureKind::PngEncoder,
                      pngError.text[0] != '\0' ? pngError.text : "the encoder failed");
    }
    return Succeeded();
}

}  // namespace

Outcome EncodeRgbPng(const unsigned char* rgb, int width, int height,
                     std::vector<unsigned char>* bytes) {
    return EncodePixels(rgb, 3, PNG_COLOR_TYPE_RGB, width, height, bytes);
}

Outcome EncodeRgbaPng(const unsigned char* rgba, int width, int height,
                      std::vector<unsigned char>* bytes) {
    return EncodePixels(rgba, 4, PNG_COLOR_TYPE_RGB_ALPHA, width, height, bytes);
}

Outcome EncodeOverlayPng(const unsigned char* indices, int width, int height,
                         const std::vector<unsigned char>& paletteRgb,
                         std::vector<unsigned char>* bytes) {
    const int colours = int(paletteRgb.size() / 3);
    if (colours < 1 || colours > 256) return Failed(FailureKind::ImageMismatch);
    return EncodePixels(indices, 1, PNG_COLOR_TYPE_PALETTE, width, height, bytes,
                        {paletteRgb.data(), colours});
}

Outcome WritePngFile(const FrameBitmap& frame, const char* path) {
    std::vector<unsigned char> bytes;
    Outcome written = EncodeFramePng(frame, &bytes);
    if (written) written = WriteFileWhole(path, bytes.data(), bytes.size());
    if (!written) ReportCannotWrite(path, written.reason);
    return written;
}

}  // namespace talvor
