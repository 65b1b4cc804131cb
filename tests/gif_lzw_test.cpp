// SPDX-License-Identifier: GPL-3.0-or-later
// The GIF's LZW code stream against giflib: the same bytes as giflib's own encoder for the same
// indices, and giflib's decoder gives the indices and the palette back.
#include "output/gif_lzw.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart_frame.h"
#include "output/colour_reduction.h"
#include "output/snapshot.h"

using namespace talvor;

namespace {

using Bytes = std::vector<unsigned char>;

int AppendBytes(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<Bytes*>(gif->UserData)
        ->insert(static_cast<Bytes*>(gif->UserData)->end(), data, data + length);
    return length;
}

// The file as giflib's own encoder writes it, row by row through EGifPutLine.
Bytes GiflibGif(const IndexedImage& image) {
    int bits = 1;
    while ((1 << bits) < image.colourCount) ++bits;
    GifColorType colours[256] = {};
    for (int i = 0; i < image.colourCount; ++i) {
        colours[i] = GifColorType{image.palette[i][0], image.palette[i][1], image.palette[i][2]};
    }
    Bytes bytes;
    int error = 0;
    ColorMapObject* map = GifMakeMapObject(1 << bits, colours);
    GifFileType* gif = EGifOpen(&bytes, AppendBytes, &error);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, image.width, image.height, bits, 0, map);
    EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr);
    Bytes row(size_t(image.width));  // giflib masks the row in place
    for (int y = 0; y < image.height; ++y) {
        std::memcpy(row.data(), image.pixels.data() + size_t(y) * row.size(), row.size());
        EGifPutLine(gif, row.data(), image.width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return bytes;
}

struct Reader {
    const Bytes* bytes;
    size_t at = 0;
};

int ReadBytes(GifFileType* gif, GifByteType* data, int length) {
    auto* reader = static_cast<Reader*>(gif->UserData);
    size_t n = std::min(size_t(length), reader->bytes->size() - reader->at);
    std::memcpy(data, reader->bytes->data() + reader->at, n);
    reader->at += n;
    return int(n);
}

// What giflib's decoder makes of a file: its one image's indices and its palette.
bool DecodeWithGiflib(const Bytes& bytes, Bytes* indices, Bytes* palette) {
    Reader reader{&bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadBytes, &error);
    if (gif == nullptr) return false;
    bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1 && gif->SColorMap != nullptr;
    if (ok) {
        const SavedImage& image = gif->SavedImages[0];
        indices->assign(image.RasterBits,
                        image.RasterBits + size_t(image.ImageDesc.Width) * image.ImageDesc.Height);
        palette->clear();
        for (int i = 0; i < gif->SColorMap->ColorCount; ++i) {
            const GifColorType& c = gif->SColorMap->Colors[i];
            palette->insert(palette->end(), {c.Red, c.Green, c.Blue});
        }
    }
    DGifCloseFile(gif, &error);
    return ok;
}

IndexedImage Indexed(int width, int height, int colours,
                     const std::function<unsigned char(size_t)>& pixel) {
    IndexedImage image;
    image.width = width;
    image.height = height;
    image.colourCount = colours;
    for (int i = 0; i < colours; ++i) {
        image.palette[i][0] = static_cast<unsigned char>(i * 7);
        image.palette[i][1] = static_cast<unsigned char>(255 - i);
        image.palette[i][2] = static_cast<unsigned char>(i * 3 + 1);
    }
    image.pixels.resize(size_t(width) * size_t(height));
    for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = pixel(i);
    return image;
}

std::function<unsigned char(size_t)> Noise(int colours, uint32_t seed = 7) {
    auto state = std::make_shared<uint32_t>(seed);
    return [state, colours](size_t) {
        *state = *state * 1664525u + 1013904223u;
        return static_cast<unsigned char>((*state >> 16) % uint32_t(colours));
    };
}

IndexedImage ChartIndices(bool paletteColours) {
    TestFrame t(1920, 1080);
    DrawChartLikeFrame(&t, paletteColours);
    IndexedImage image;
    EXPECT_TRUE(ReduceFrameColours(t.frame, &image));
    return image;
}

// Our file has giflib's bytes, and giflib reads our indices and palette back from it; the indices
// read back are the image's own, masked to the code size as both encoders mask them.
void ExpectAsGiflib(const IndexedImage& image, const std::string& name) {
    SCOPED_TRACE(name);
    Bytes ours;
    ASSERT_TRUE(EncodeIndexedGif(image, &ours));
    EXPECT_TRUE(ours == GiflibGif(image)) << "differs from giflib's bytes";
    Bytes indices, palette;
    ASSERT_TRUE(DecodeWithGiflib(ours, &indices, &palette));
    unsigned mask = 1;
    while (mask < unsigned(image.colourCount) || mask < 4) mask <<= 1;
    Bytes expected = image.pixels;
    for (unsigned char& p : expected) p = static_cast<unsigned char>(p & (mask - 1));
    EXPECT_TRUE(indices == expected) << "decoded indices differ";
    ASSERT_GE(palette.size(), size_t(image.colourCount) * 3);
    EXPECT_EQ(std::memcmp(palette.data(), image.palette, size_t(image.colourCount) * 3), 0);
}

TEST(GifLzw, SameBytesAsGiflibAndDecodedBack) {
    struct Case {
        std::string name;
        IndexedImage image;
    };
    const Case cases[] = {
        {"one pixel", Indexed(1, 1, 1, [](size_t) { return 0; })},
        {"one colour, long runs", Indexed(640, 480, 1, [](size_t) { return 0; })},
        {"two colours in stripes", Indexed(333, 77, 2, [](size_t i) { return (i / 5) % 2; })},
        {"noise of 4 colours (code size 2)", Indexed(300, 300, 4, Noise(4))},
        {"noise of 16 colours", Indexed(256, 200, 16, Noise(16))},
        // Every pixel a new string most of the time: thousands of codes, the table filled and
        // started afresh dozens of times.
        {"noise of 256 colours", Indexed(512, 512, 256, Noise(256))},
        {"indices beyond a 3-colour palette", Indexed(97, 31, 3, Noise(256))},
        {"chart-like frame", ChartIndices(false)},
        {"chart-like frame, palette colours", ChartIndices(true)},
    };
    for (const Case& c : cases) ExpectAsGiflib(c.image, c.name);
}

// A frame's GIF is made with its indices mapped and compressed a row at a time: the same file
// as giflib makes from the whole frame's indices.
TEST(GifLzw, FramesCompressedRowByRowAsGiflib) {
    struct Case {
        int width, height;
        int kind;  // 0 plain chart, 1 palette chart, 2 a colour a pixel
    };
    for (Case c : {Case{1920, 1080, 0}, Case{1920, 1080, 1}, Case{1, 1, 2}, Case{300, 200, 2}}) {
        TestFrame t(c.width, c.height);
        if (c.kind < 2) DrawChartLikeFrame(&t, c.kind == 1);
        for (int i = 0; c.kind == 2 && i < c.width * c.height; ++i) {
            t.Set(i % c.width, i / c.width, static_cast<unsigned char>(i),
                  static_cast<unsigned char>(i >> 8), 7);
        }
        IndexedImage whole;
        ASSERT_TRUE(ReduceFrameColours(t.frame, &whole));
        Bytes ours;
        ASSERT_TRUE(EncodeFrameGif(t.frame, &ours));
        EXPECT_TRUE(ours == GiflibGif(whole))
            << c.width << " x " << c.height << ", kind " << c.kind;
    }
}

// The stream ends at every code width and at every point around the first table reset: the last
// code, the end code and the padding come out as giflib writes them whatever state they meet.
TEST(GifLzw, EveryEndOfStreamAsGiflib) {
    struct Sweep {
        int colours;
        int fromPixels, toPixels;  // the 256-colour noise fills its first table near 4,000 pixels
    };
    for (Sweep s : {Sweep{2, 1, 700}, Sweep{256, 3700, 4300}}) {
        IndexedImage whole = Indexed(s.toPixels, 1, s.colours, Noise(s.colours, 99));
        for (int n = s.fromPixels; n <= s.toPixels; ++n) {
            IndexedImage image = whole;
            image.width = n;
            image.pixels.resize(size_t(n));
            Bytes ours;
            ASSERT_TRUE(EncodeIndexedGif(image, &ours));
            ASSERT_TRUE(ours == GiflibGif(image)) << s.colours << " colours, " << n << " pixels";
        }
    }
}

TEST(GifLzw, NoPixelsIsAClearAndAnEndCode) {
    Bytes stream{1, 2, 3};
    CompressLzw(nullptr, 0, 8, &stream);
    // 256 and 257 in 9 bits each, least significant bit first.
    EXPECT_EQ(stream, (Bytes{0x00, 0x03, 0x02}));
}

TEST(GifLzw, ImagesThatDoNotAgreeAreRefused) {
    IndexedImage image = Indexed(4, 4, 2, [](size_t) { return 1; });
    Bytes bytes;
    image.pixels.pop_back();
    EXPECT_FALSE(EncodeIndexedGif(image, &bytes));
    image.pixels.push_back(1);
    image.colourCount = 0;
    EXPECT_FALSE(EncodeIndexedGif(image, &bytes));
    image.colourCount = 2;
    EXPECT_TRUE(EncodeIndexedGif(image, &bytes));
}

}  // namespace
