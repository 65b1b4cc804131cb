// SPDX-License-Identifier: GPL-3.0-or-later
// Synthetic frames that look like the chart, for the output tests and benchmark.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "render/render_thread.h"

// Owns the pixels of a FrameBitmap built by a test.
struct TestFrame {
    talvor::FrameBitmap frame;
    std::vector<unsigned char> pixels;

    TestFrame(int width, int height) : pixels(size_t(width) * size_t(height) * 4, 0) {
        frame.width = width;
        frame.height = height;
        frame.bits = pixels.data();
    }
    TestFrame(const TestFrame&) = delete;
    TestFrame& operator=(const TestFrame&) = delete;

    // (x, y) counted from the top-left corner, as the picture is seen.
    void Set(int x, int y, unsigned char r, unsigned char g, unsigned char b) {
        if (x < 0 || y < 0 || x >= frame.width || y >= frame.height) return;
        unsigned char* p =
            pixels.data() + (size_t(frame.height - 1 - y) * size_t(frame.width) + size_t(x)) * 4;
        p[0] = b;
        p[1] = g;
        p[2] = r;
        p[3] = 255;
    }
};

// Rough blue, cyan, green, yellow, red ramp like the chart's level palette.
inline void ChartRampColour(int v, unsigned char rgb[3]) {
    static const int stops[5][3] = {
        {0, 0, 250}, {0, 250, 250}, {0, 250, 0}, {250, 250, 0}, {250, 0, 0}};
    int segment = std::min(v * 4 / 256, 3);
    int t = v * 4 - segment * 256;  // 0..255 within the segment
    for (int a = 0; a < 3; ++a) {
        rgb[a] = static_cast<unsigned char>(stops[segment][a] +
                                            (stops[segment + 1][a] - stops[segment][a]) * t / 256);
    }
}

// A chart-like frame: black, one row per minute of level spots that ramp from black to their
// colour and back over 12 pixels at the 10 kHz channels, white label text, blue scale
// triangles. paletteColours picks the palette ramp, else the plain (v, v, (255 - v) / 10) one.
inline void DrawChartLikeFrame(TestFrame* t, bool paletteColours, uint32_t seed = 12345) {
    talvor::FrameBitmap& f = t->frame;
    std::memset(t->pixels.data(), 0, t->pixels.size());
    int centreX = f.width / 2;
    int rows = std::min(1440, f.height - 36 - 25 - 40);
    uint32_t state = seed;
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int i = 0; i < rows; ++i) {
        int y = i + 40;
        for (int khz = 530; khz <= 1680; khz += 10) {
            if (khz % 90 == 0 && khz != 1620) continue;
            // Levels drift smoothly along the band and the day, with some noise.
            int base = ((khz / 10 + i / 8) * 37) % 256;
            int v = std::clamp(base + int(next() % 41) - 20, 0, 255);
            unsigned char colour[3];
            if (paletteColours) {
                ChartRampColour(v, colour);
            } else {
                colour[0] = colour[1] = static_cast<unsigned char>(v);
                colour[2] = static_cast<unsigned char>((255 - v) / 10);
            }
            int x = khz - 1100 + centreX;
            for (int d = -6; d <= 6; ++d) {
                int k = 6 - (d < 0 ? -d : d);  // 0 at the ends, 6 at the centre
                t->Set(x + d, y, static_cast<unsigned char>(colour[0] * k / 6),
                       static_cast<unsigned char>(colour[1] * k / 6),
                       static_cast<unsigned char>(colour[2] * k / 6));
            }
        }
        // Hourly labels: a little block of white text-like pixels.
        if (i % 60 == 0) {
            for (int c = 0; c < 16 * 8; ++c) {
                for (int r = 0; r < 10; ++r) {
                    if (next() % 3 == 0) t->Set(3 + c, y + 2 - r, 255, 255, 255);
                }
            }
        }
    }
    // Scale ticks: blue triangles pointing down.
    for (int khz = 600; khz <= 1600; khz += 100) {
        int x = khz - 1100 + centreX;
        for (int y = 55; y <= 65; ++y) {
            int half = (65 - y) / 2;
            for (int d = -half; d <= half; ++d) t->Set(x + d, y, 0, 150, 255);
        }
    }
}
