// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/snapshot.h"

#include <gif_lib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "frame/frame_bitmap.h"
#include "output/colour_reduction.h"
#include "output/gif_lzw.h"
#include "platform/files.h"
#include "report/report.h"

namespace talvor {

namespace {

// The largest side a GIF's 16-bit screen and image sizes can describe.
constexpr int kMaxGifSide = 65535;

// Where giflib's output goes: memory, so that the file is written in one piece or not at all.
struct GifSink {
    std::vector<unsigned char> bytes;
    bool outOfMemory = false;
};

int AppendToSink(GifFileType* gif, const GifByteType* data, int length) {
    auto* sink = static_cast<GifSink*>(gif->UserData);
    // An exception must not cross giflib's C frames; a short count makes it fail the write.
    // giflib ignores the result for the closing trailer byte, hence the flag.
    try {
        sink->bytes.insert(sink->bytes.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        sink->outOfMemory = true;
        return 0;
    }
    return length;
}

int PaletteBits(int colourCount) {
    int bits = 1;
    while ((1 << bits) < colourCount) ++bits;
    return bits;
}

// The image's code stream as the data sub-blocks after its descriptor: at most 255 bytes each
// after a length byte, then the empty block that ends them.
bool PutCodeBlocks(GifFileType* gif, int codeSize, const std::vector<unsigned char>& codes) {
    GifByteType block[256];
    for (size_t at = 0; at < codes.size(); at += 255) {
        size_t length = std::min<size_t>(codes.size() - at, 255);
        block[0] = static_cast<GifByteType>(length);
        std::memcpy(block + 1, codes.data() + at, length);
        int put = at == 0 ? EGifPutCode(gif, codeSize, block) : EGifPutCodeNext(gif, block);
        if (put != GIF_OK) return false;
    }
    return EGifPutCodeNext(gif, nullptr) == GIF_OK;
}

// The GIF's first code width less one for a palette: what giflib writes for it.
int CodeSize(int colourCount) {
    return std::max(PaletteBits(colourCount), kMinLzwCodeSize);
}

// giflib writes the blocks around the image; its codes were made here (gif_lzw.h), the stream
// that giflib's own encoder would make from the same indices, in less time.
Outcome EncodeGif(const IndexedImage& image, const std::vector<unsigned char>& codes,
                  GifSink* sink) {
    int bits = PaletteBits(image.colourCount);
    GifColorType colours[kMaxGifColours] = {};
    for (int i = 0; i < image.colourCount; ++i) {
        colours[i].Red = image.palette[i][0];
        colours[i].Green = image.palette[i][1];
        colours[i].Blue = image.palette[i][2];
    }
    ColorMapObject* map = GifMakeMapObject(1 << bits, colours);
    int error = 0;
    GifFileType* gif = map != nullptr ? EGifOpen(sink, AppendToSink, &error) : nullptr;
    if (gif == nullptr) {
        GifFreeMapObject(map);
        return map != nullptr ? Failed(FailureKind::GifLibrary, GifErrorString(error))
                              : Failed(FailureKind::OutOfMemory);
    }
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, image.width, image.height, bits, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr) == GIF_OK &&
              PutCodeBlocks(gif, CodeSize(image.colourCount), codes);
    if (!ok) error = gif->Error;
    int closeError = 0;
    if (EGifCloseFile(gif, &closeError) != GIF_OK && ok) {
        ok = false;
        error = closeError;
    }
    GifFreeMapObject(map);
    if (sink->outOfMemory) return Failed(FailureKind::OutOfMemory);
    if (!ok) return Failed(FailureKind::GifLibrary, GifErrorString(error));
    return Succeeded();
}

// The file of an image's size and palette around its codes.
Outcome WriteGifBytes(const IndexedImage& image, const std::vector<unsigned char>& codes,
                      std::vector<unsigned char>* bytes) {
    GifSink sink;
    Outcome encoded = Failed(FailureKind::OutOfMemory);
    try {
        // The header, screen and image descriptors, palette, code size, blocks and trailer.
        sink.bytes.reserve(codes.size() + codes.size() / 255 + 3 * kMaxGifColours + 64);
        encoded = EncodeGif(image, codes, &sink);
    } catch (const std::bad_alloc&) {
        // the reason stands as set
    }
    if (!encoded) return encoded;
    *bytes = std::move(sink.bytes);
    return Succeeded();
}

}  // namespace

std::string SnapshotPath(int mode, const std::string& exeFolder, const UtcTime& date) {
    if (mode == kZCapture) return exeFolder + "/z.gif";
    char name[64];
    std::snprintf(name, sizeof name, "/VOKLOG %4d-%02d-%02d.GIF", date.year, date.month, date.day);
    return exeFolder + name;
}

Outcome EncodeFrameGif(const FrameBitmap& frame, std::vector<unsigned char>* bytes,
                       GifThreads threads) {
    if (frame.bits == nullptr || frame.width <= 0 || frame.height <= 0) {
        return Failed(FailureKind::EmptyFrame);
    }
    if (frame.width > kMaxGifSide || frame.height > kMaxGifSide) {
        return Failed(FailureKind::TooLarge, "the frame is larger than a GIF can hold");
    }
    // The indices go to the encoder row by row as they are mapped (with two threads, while the
    // next rows are mapped): the frame's indices are never held whole.
    IndexedImage image;
    std::vector<unsigned char> codes;
    std::optional<LzwEncoder> encoder;
    size_t width = size_t(frame.width);
    bool reduced = ReduceFrameColoursByRow(
        frame, &image,
        [&](const unsigned char* row) {
            if (!encoder) {
                encoder.emplace(CodeSize(image.colourCount), &codes, width * size_t(frame.height));
            }
            encoder->Add(row, width);
        },
        threads);
    // The frame is not empty: the palette search and the codes fail only for want of memory.
    if (!reduced) return Failed(FailureKind::OutOfMemory);
    try {
        encoder->Finish();
    } catch (const std::bad_alloc&) {
        return Failed(FailureKind::OutOfMemory);
    }
    return WriteGifBytes(image, codes, bytes);
}

Outcome EncodeIndexedGif(const IndexedImage& image, std::vector<unsigned char>* bytes) {
    if (image.width <= 0 || image.height <= 0 || image.width > kMaxGifSide ||
        image.height > kMaxGifSide || image.colourCount < 1 || image.colourCount > kMaxGifColours ||
        image.pixels.size() != size_t(image.width) * size_t(image.height)) {
        return Failed(FailureKind::ImageMismatch);
    }
    std::vector<unsigned char> codes;
    try {
        CompressLzw(image.pixels.data(), image.pixels.size(), CodeSize(image.colourCount), &codes);
    } catch (const std::bad_alloc&) {
        return Failed(FailureKind::OutOfMemory);
    }
    return WriteGifBytes(image, codes, bytes);
}

Outcome WriteGifFile(const FrameBitmap& frame, const char* path, GifThreads threads) {
    std::vector<unsigned char> bytes;
    Outcome written = EncodeFrameGif(frame, &bytes, threads);
    if (written) written = WriteFileWhole(path, bytes.data(), bytes.size());
    if (!written) ReportCannotWrite(path, written.reason);
    return written;
}

Outcome ReadGifFile(const char* path, DecodedGif* image) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path, &error);
    if (gif == nullptr) return Failed(FailureKind::GifLibrary, GifErrorString(error));
    bool ok = DGifSlurp(gif) == GIF_OK;
    if (!ok) error = gif->Error;
    Outcome read = ok ? Succeeded() : Failed(FailureKind::GifLibrary, GifErrorString(error));
    ok = ok && gif->ImageCount >= 1;
    if (ok) {
        const SavedImage& frame = gif->SavedImages[0];
        const GifImageDesc& desc = frame.ImageDesc;
        const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
        ok = map != nullptr && !desc.Interlace && desc.Left == 0 && desc.Top == 0 &&
             desc.Width == gif->SWidth && desc.Height == gif->SHeight && desc.Width > 0 &&
             desc.Height > 0;
        if (ok) {
            image->width = desc.Width;
            image->height = desc.Height;
            image->colourCount = map->ColorCount;
            image->rgb.resize(size_t(desc.Width) * size_t(desc.Height) * 3);
            for (size_t i = 0; ok && i < size_t(desc.Width) * size_t(desc.Height); ++i) {
                int index = frame.RasterBits[i];
                if (index >= map->ColorCount) {
                    ok = false;
                    break;
                }
                image->rgb[3 * i] = map->Colors[index].Red;
                image->rgb[3 * i + 1] = map->Colors[index].Green;
                image->rgb[3 * i + 2] = map->Colors[index].Blue;
            }
        }
    }
    DGifCloseFile(gif, &error);
    if (read && !ok) read = Failed(FailureKind::ImageMismatch);
    return read;
}

Outcome SaveSnapshotTo(const FrameBitmap* frame, const std::string& path) {
    if (frame == nullptr || frame->bits == nullptr) {
        Outcome none = Failed(FailureKind::EmptyFrame, "no frame was drawn; no picture saved");
        Report(none.reason);
        return none;
    }
    return WriteGifFile(*frame, path.c_str(), GifThreads::Two);
}

}  // namespace talvor
