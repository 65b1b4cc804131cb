// SPDX-License-Identifier: GPL-3.0-or-later
// The level field put together from the day's levels and the spots measured on the driver.
#include "render/level_field.h"

#include <algorithm>
#include <cstring>

#include "render/chart.h"

namespace talvor {

namespace {

// Three component values a probe row: 86 rows give all 256.
constexpr int kProbeRowsPerParity = (256 + 2) / 3;
// A probe row's spots and the rows next to it, where a spot may reach.
constexpr int kProbeRowPitch = 2 * kSpotReachY + 1;

unsigned char ComponentOfProbe(int value) {
    return static_cast<unsigned char>(std::min(value, 255));
}

// Where a frame pixel of a read-back pass lies in its bottom-up rows.
const unsigned char* PassPixel(const SpotProbePass& pass, const unsigned char* bgra, int width,
                               int x, int y) {
    return bgra + (size_t(pass.bottom - y) * size_t(width) + size_t(x)) * 4;
}

bool IsBackground(const unsigned char* pixel) {
    return pixel[2] == kProbeBackground.red && pixel[1] == kProbeBackground.green &&
           pixel[0] == kProbeBackground.blue;
}

// The pixels that a probe's spot at channel c wrote, within the frame and the pass's rows.
void FindSpotPixels(const SpotProbePass& pass, const SpotProbe& probe, const unsigned char* bgra,
                    int width, ChannelSpot* spot) {
    spot->pixels.clear();
    spot->shades.clear();
    for (int dy = -kSpotReachY; dy <= kSpotReachY; ++dy) {
        const int y = probe.y + dy;
        if (y < pass.top || y > pass.bottom) continue;
        for (int dx = -kSpotReachX; dx <= kSpotReachX; ++dx) {
            const int x = spot->x + dx;
            if (x < 0 || x >= width) continue;
            if (IsBackground(PassPixel(pass, bgra, width, x, y))) continue;
            spot->pixels.push_back({dx, dy});
        }
    }
    spot->shades.assign(spot->pixels.size(), {});
}

}  // namespace

std::vector<ChannelSpot> FieldChannels(const ChannelRange& range, int chartXOrigin) {
    std::vector<ChannelSpot> channels;
    for (int j = range.first; j <= range.last; ++j) {
        const int khz = range.plan[j];
        if (khz < kBandFirstKhz || khz > kBandLastKhz) continue;
        ChannelSpot spot;
        spot.khz = khz;
        spot.x = ChannelX(khz, chartXOrigin);
        channels.push_back(std::move(spot));
    }
    return channels;
}

SpotColour SpotPixelColour(const ChannelSpot& spot, size_t p, SpotColour colour) {
    const std::array<uint8_t, 256>& shade = spot.shades[p];
    return {shade[colour.red], shade[colour.green], shade[colour.blue]};
}

std::vector<SpotProbePass> PlanSpotProbes(int frameHeight) {
    std::vector<SpotProbePass> passes;
    const int probesPerPass = frameHeight / kProbeRowPitch;
    if (probesPerPass <= 0) return passes;
    // Value-major, so that both parities' first probes open the first pass.
    for (int n = 0; n < 2 * kProbeRowsPerParity; ++n) {
        const int slot = n % probesPerPass;
        if (slot == 0) passes.push_back({});
        SpotProbePass& pass = passes.back();
        const int k = n / 2;
        const SpotColour colour{ComponentOfProbe(k), ComponentOfProbe(k + kProbeRowsPerParity),
                                ComponentOfProbe(k + 2 * kProbeRowsPerParity)};
        pass.probes.push_back({slot * kProbeRowPitch + kSpotReachY, n % 2, colour, k == 0});
        pass.bottom = slot * kProbeRowPitch + kProbeRowPitch - 1;
    }
    return passes;
}

void RecordSpotProbes(const SpotProbePass& pass, const unsigned char* bgra, SpotTable* table) {
    const int width = table->width;
    for (const SpotProbe& probe : pass.probes) {
        for (size_t c = size_t(probe.parity); c < table->channels.size(); c += 2) {
            ChannelSpot& spot = table->channels[c];
            if (probe.findsPixels) FindSpotPixels(pass, probe, bgra, width, &spot);
            for (size_t p = 0; p < spot.pixels.size(); ++p) {
                const unsigned char* at = PassPixel(pass, bgra, width, spot.x + spot.pixels[p].dx,
                                                    probe.y + spot.pixels[p].dy);
                spot.shades[p][probe.colour.red] = at[2];
                spot.shades[p][probe.colour.green] = at[1];
                spot.shades[p][probe.colour.blue] = at[0];
            }
        }
    }
}

FieldColours PrepareFieldColours(const SpotTable& table, float sensitivity, int colourMode) {
    FieldColours colours;
    colours.sensitivity = sensitivity;
    colours.colourMode = colourMode;
    std::array<SpotColour, 256> colourOfLevel;
    for (int level = 0; level < 256; ++level) {
        colourOfLevel[size_t(level)] = LevelSpotColour(ScaledLevel(level, sensitivity), colourMode);
    }
    size_t pixels = 0;
    for (const ChannelSpot& spot : table.channels) {
        colours.firstPixel.push_back(pixels);
        pixels += spot.pixels.size();
    }
    colours.rgba.resize(pixels * 256);
    auto out = colours.rgba.begin();
    for (const ChannelSpot& spot : table.channels) {
        for (size_t p = 0; p < spot.pixels.size(); ++p) {
            for (const SpotColour& colour : colourOfLevel) {
                const SpotColour shade = SpotPixelColour(spot, p, colour);
                *out++ = {shade.red, shade.green, shade.blue, 255};
            }
        }
    }
    return colours;
}

void BuildLevelFieldImage(const SpotTable& table, const FieldColours& colours,
                          const DayLogRecord* records, int first, int last,
                          LevelFieldImage* image) {
    image->width = image->height = 0;
    int left = table.width, right = -1, up = 0, down = 0;
    for (const ChannelSpot& spot : table.channels) {
        for (const SpotPixel& p : spot.pixels) {
            left = std::min(left, spot.x + p.dx);
            right = std::max(right, spot.x + p.dx);
            up = std::min(up, p.dy);
            down = std::max(down, p.dy);
        }
    }
    const int top = std::max(RowY(first) + up, 0);
    const int bottom = std::min(RowY(last - 1) + down, table.height - 1);
    if (first >= last || right < left || bottom < top) return;
    image->left = left;
    image->top = top;
    image->width = right - left + 1;
    image->height = bottom - top + 1;
    image->rgba.assign(size_t(image->width) * size_t(image->height) * 4, 0);

    // Rows and channels in the order the lines were always drawn: the later one covers. What
    // the loop reads is held in locals: the image's bytes may alias anything else.
    unsigned char* const pixels = image->rgba.data();
    const size_t width = size_t(image->width);
    for (int i = first; i < last; ++i) {
        const DayLogRecord* record = records + size_t(i) * kDayLogRecordSize;
        const int y = RowY(i);
        for (size_t c = 0; c < table.channels.size(); ++c) {
            const ChannelSpot& spot = table.channels[c];
            const SpotPixel* spotPixels = spot.pixels.data();
            const size_t count = spot.pixels.size();
            const std::array<uint8_t, 4>* byLevel =
                colours.rgba.data() + colours.firstPixel[c] * 256;
            const int column = spot.x - left;
            const int32_t level = LevelAt(record, spot.khz);
            // A level outside 0..255 counts as one inside, the scaling says which.
            const bool inside = level >= 0 && level <= 255;
            const SpotColour outside =
                inside
                    ? SpotColour{}
                    : LevelSpotColour(ScaledLevel(level, colours.sensitivity), colours.colourMode);
            for (size_t p = 0; p < count; ++p) {
                const int row = y + spotPixels[p].dy;
                if (row < top || row > bottom) continue;
                unsigned char* out =
                    pixels + (size_t(bottom - row) * width + size_t(column + spotPixels[p].dx)) * 4;
                if (inside) {
                    std::memcpy(out, byLevel[p * 256 + size_t(level)].data(), 4);
                } else {
                    const SpotColour shade = SpotPixelColour(spot, p, outside);
                    const unsigned char bytes[4] = {shade.red, shade.green, shade.blue, 255};
                    std::memcpy(out, bytes, 4);
                }
            }
        }
    }
}

std::vector<uint8_t> LevelFieldCoverage(const SpotTable& table, int rows) {
    std::vector<uint8_t> covered(size_t(table.width) * size_t(table.height), 0);
    for (int i = 0; i < rows; ++i) {
        for (const ChannelSpot& spot : table.channels) {
            for (const SpotPixel& p : spot.pixels) {
                const int y = RowY(i) + p.dy;
                if (y < 0 || y >= table.height) continue;
                covered[size_t(y) * size_t(table.width) + size_t(spot.x + p.dx)] = 1;
            }
        }
    }
    return covered;
}

}  // namespace talvor
