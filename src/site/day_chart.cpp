// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/day_chart.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "frame/frame_bitmap.h"
#include "output/png_writer.h"
#include "render/chart.h"
#include "site/site_text.h"

namespace talvor {

namespace {

void PutUint16(std::vector<unsigned char>* out, int value) {
    out->push_back(static_cast<unsigned char>(value & 0xFF));
    out->push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}

// Whether the table was measured for this frame: another size places its spots elsewhere.
bool SpotsFit(const DayChartInput& input) {
    return input.spots != nullptr && input.spots->width == input.frame->width &&
           input.spots->height == input.frame->height;
}

// An RGB colour as the word that a frame's pixel holds in memory (blue, green, red, then the
// byte that is not a colour, left 0), so that the pixels compare a word at a time on any byte
// order.
uint32_t FrameWord(const unsigned char* rgb) {
    const unsigned char bytes[4] = {rgb[2], rgb[1], rgb[0], 0};
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

}  // namespace

Outcome EncodeSpots(const SpotTable& table, std::vector<unsigned char>* deflated) {
    std::vector<unsigned char> bytes;
    PutUint16(&bytes, int(table.channels.size()));
    for (const ChannelSpot& spot : table.channels) {
        PutUint16(&bytes, spot.khz);
        PutUint16(&bytes, spot.x);
        bytes.push_back(static_cast<unsigned char>(spot.pixels.size()));
        for (const SpotPixel& p : spot.pixels) {
            bytes.push_back(static_cast<unsigned char>(p.dx));
            bytes.push_back(static_cast<unsigned char>(p.dy));
        }
        for (const std::array<uint8_t, 256>& shades : spot.shades) {
            unsigned char before = 0;
            for (uint8_t shade : shades) {
                bytes.push_back(static_cast<unsigned char>(shade - before));
                before = shade;
            }
        }
    }
    // Its middle level: the highest ones halve the 12 KB at a hundred times the time.
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(6), libdeflate_free_compressor);
    if (compressor == nullptr) return Failed(FailureKind::OutOfMemory, "libdeflate: out of memory");
    deflated->resize(libdeflate_zlib_compress_bound(compressor.get(), bytes.size()));
    const size_t size = libdeflate_zlib_compress(compressor.get(), bytes.data(), bytes.size(),
                                                 deflated->data(), deflated->size());
    deflated->resize(size);
    if (size == 0) {
        return Failed(FailureKind::Compressor, "libdeflate: the spots did not fit their bound");
    }
    return Succeeded();
}

SpotColour ChartBackground(const FrameBitmap& frame) {
    const unsigned char* topLeft = frame.bits + size_t(frame.height - 1) * size_t(frame.width) * 4;
    return {topLeft[2], topLeft[1], topLeft[0]};
}

std::vector<unsigned char> ChartOverlayMask(const DayChartInput& input) {
    const FrameBitmap& frame = *input.frame;
    const size_t width = size_t(frame.width), height = size_t(frame.height);
    // What the page has under the overlay: the background, and over it the field.
    const SpotColour background = ChartBackground(frame);
    const unsigned char ground[4] = {background.red, background.green, background.blue, 255};
    const int rows = std::min(input.rows, input.records.count);
    const bool hasField = SpotsFit(input) && rows > 0;
    FieldColours colours;
    int up = 0, down = 0;  // how far from its row a spot reaches
    if (hasField) {
        colours = PrepareFieldColours(*input.spots, input.sensitivity, input.colourMode);
        for (const ChannelSpot& spot : input.spots->channels) {
            for (const SpotPixel& p : spot.pixels) {
                up = std::min(up, p.dy);
                down = std::max(down, p.dy);
            }
        }
    }
    std::vector<unsigned char> mask(width * height, 0);
    const uint32_t groundWord = FrameWord(ground);
    const unsigned char white[3] = {255, 255, 255};
    const uint32_t colourBytes = FrameWord(white);
    std::vector<uint32_t> under(width);
    // The field's pixels of a band of frame rows at a time: built for each row on its own, the
    // records that reach several rows were put together again for each, three times the work.
    // The band's image holds every record whose spots reach its rows, drawn in their order as
    // the field is: the later covers the earlier.
    constexpr size_t kBandRows = 64;
    LevelFieldImage window;
    for (size_t y0 = 0; y0 < height; y0 += kBandRows) {
        const size_t y1 = std::min(height, y0 + kBandRows);
        const int first = std::max(0, int(y0) - down - RowY(0));
        const int last = std::min(rows, int(y1) - 1 - up - RowY(0) + 1);
        window.width = 0;
        if (hasField && first < last) {
            BuildLevelFieldImage(*input.spots, colours, input.records.first, first, last, &window);
        }
        for (size_t y = y0; y < y1; ++y) {
            const unsigned char* field = nullptr;
            const int row = window.top + window.height - 1 - int(y);  // bottom row first
            if (window.width > 0 && row >= 0 && row < window.height) {
                field = window.rgba.data() + size_t(row) * size_t(window.width) * 4;
            }
            // What the page has under the row, in the frame's byte order, then compared with
            // the frame's pixels a word at a time: a branch a pixel took twice as long.
            std::fill(under.begin(), under.end(), groundWord);
            for (int column = 0; field != nullptr && column < window.width; ++column) {
                const unsigned char* has = field + size_t(column) * 4;
                if (has[3] != 0) under[size_t(window.left + column)] = FrameWord(has);
            }
            // The frame is stored bottom row first, blue first.
            const unsigned char* in = frame.bits + (height - 1 - y) * width * 4;
            unsigned char* out = mask.data() + y * width;
            for (size_t x = 0; x < width; ++x) {
                uint32_t pixel;
                std::memcpy(&pixel, in + x * 4, sizeof pixel);
                out[x] = (pixel & colourBytes) != under[x];
            }
        }
    }
    return mask;
}

namespace {

// The overlay as a PNG of palette indices where its colours fit one, else of RGBA. The mask's
// bytes become the indices.
Outcome OverlayPng(const FrameBitmap& frame, std::vector<unsigned char> mask,
                   std::vector<unsigned char>* png) {
    const size_t width = size_t(frame.width), height = size_t(frame.height);
    auto pixelAt = [&](size_t i) {
        return frame.bits + ((height - 1 - i / width) * width + i % width) * 4;
    };
    std::vector<unsigned char> palette(3, 0);  // index 0: transparent
    std::map<uint32_t, unsigned char> indexOf;
    // A text's pixels come in runs of one colour: the last one's index is kept at hand, which
    // spares the map most of its look-ups.
    uint32_t lastColour = 0;
    unsigned char lastIndex = 0;
    bool fits = true;
    for (size_t i = 0; i < mask.size() && fits; ++i) {
        if (mask[i] == 0) continue;
        const unsigned char* pixel = pixelAt(i);
        const uint32_t colour = uint32_t(pixel[2]) << 16 | uint32_t(pixel[1]) << 8 | pixel[0];
        if (lastIndex == 0 || colour != lastColour) {
            auto [at, added] =
                indexOf.emplace(colour, static_cast<unsigned char>(indexOf.size() + 1));
            if (added) {
                fits = indexOf.size() < 256;
                palette.insert(palette.end(), {pixel[2], pixel[1], pixel[0]});
            }
            lastColour = colour;
            lastIndex = at->second;
        }
        mask[i] = lastIndex;
    }
    Outcome made;
    if (fits) {
        made = EncodeOverlayPng(mask.data(), frame.width, frame.height, palette, png);
    } else {
        std::vector<unsigned char> rgba(mask.size() * 4, 0);
        for (size_t i = 0; i < mask.size(); ++i) {
            if (mask[i] == 0) continue;
            const unsigned char* pixel = pixelAt(i);
            rgba[i * 4] = pixel[2];
            rgba[i * 4 + 1] = pixel[1];
            rgba[i * 4 + 2] = pixel[0];
            rgba[i * 4 + 3] = 255;
        }
        made = EncodeRgbaPng(rgba.data(), frame.width, frame.height, png);
    }
    return made;
}

}  // namespace

Outcome DayChartScript(const DayChartInput& input, std::string* script) {
    std::vector<unsigned char> spots;
    if (SpotsFit(input)) {
        if (Outcome encoded = EncodeSpots(*input.spots, &spots); !encoded) return encoded;
    }
    std::vector<unsigned char> png;
    if (Outcome made = OverlayPng(*input.frame, ChartOverlayMask(input), &png); !made) return made;
    const SpotColour background = ChartBackground(*input.frame);
    *script =
        "// Written by talvor-render: the day's chart as its page draws it (assets/field.js): the\n"
        "// background, the spots of the level field, which the page draws from the levels, and\n"
        "// the overlay of every other pixel.\n"
        "(window.Talvor = window.Talvor || {}).dayChart = {\"background\":[" +
        std::to_string(background.red) + "," + std::to_string(background.green) + "," +
        std::to_string(background.blue) + "],\n\"spots\":\"" + Base85(spots.data(), spots.size()) +
        "\",\n\"overlay\":\"" + Base85(png.data(), png.size()) + "\"};\n";
    return Succeeded();
}

}  // namespace talvor
