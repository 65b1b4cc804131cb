// SPDX-License-Identifier: GPL-3.0-or-later
// A frame's GIF made on two threads (the histogram counted in halves, the rows mapped beside their
// coding) is the one made on one thread, byte for byte; it is still made when the coder gives up
// or no second thread can be had.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "chart_frame.h"
#include "output/colour_reduction.h"
#include "output/snapshot.h"

using namespace talvor;

namespace {

using Bytes = std::vector<unsigned char>;

enum class Kind { PlainChart, PaletteChart, Gradient, Noise, OneColour, ColourAPixel };

void Fill(TestFrame* t, Kind kind) {
    const int width = t->frame.width, height = t->frame.height;
    uint32_t state = 5;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t i = uint32_t(y * width + x);
            state = state * 1664525u + 1013904223u;
            uint32_t rgb = kind == Kind::Gradient ? uint32_t(x / 4) << 16 | uint32_t(y / 2) << 8 |
                                                        uint32_t(x + y) % 256
                           : kind == Kind::Noise        ? state >> 8
                           : kind == Kind::ColourAPixel ? i
                                                        : 0x20A040u;
            t->Set(x, y, static_cast<unsigned char>(rgb >> 16),
                   static_cast<unsigned char>(rgb >> 8), static_cast<unsigned char>(rgb));
        }
    }
    if (kind == Kind::PlainChart || kind == Kind::PaletteChart) {
        DrawChartLikeFrame(t, kind == Kind::PaletteChart);
    }
}

struct FrameCase {
    const char* name;
    int width, height;
    Kind kind;
};

// The output tests' frames, and the shapes where the two threads' work meets: rows fewer than one
// handover, rows past the last whole handover, far more rows than the queue holds, and halves
// whose colours each fit the histogram while the whole frame's do not.
const FrameCase kFrames[] = {
    {"chart", 1920, 1080, Kind::PlainChart},
    {"chart, palette colours", 1920, 1080, Kind::PaletteChart},
    {"gradient, merged colours", 1024, 512, Kind::Gradient},
    {"noise", 400, 300, Kind::Noise},
    {"one colour", 333, 77, Kind::OneColour},
    {"one pixel", 1, 1, Kind::OneColour},
    {"one row", 700, 1, Kind::ColourAPixel},
    {"fewer rows than a handover", 50, 3, Kind::ColourAPixel},
    {"rows past the last whole handover", 300, 203, Kind::ColourAPixel},
    {"halves of 50,000 colours, 100,000 in all", 500, 200, Kind::ColourAPixel},
};

TEST(GifThreads, TwoThreadsGiveTheBytesOfOne) {
    for (const FrameCase& c : kFrames) {
        SCOPED_TRACE(c.name);
        TestFrame t(c.width, c.height);
        Fill(&t, c.kind);
        Bytes one, two;
        ASSERT_TRUE(EncodeFrameGif(t.frame, &one));
        ASSERT_TRUE(EncodeFrameGif(t.frame, &two, GifThreads::Two));
        EXPECT_TRUE(one == two) << one.size() << " bytes against " << two.size();
    }
}

// A coder that runs out of memory at any row ends the reduction with false, and the mapping
// thread, perhaps waiting for room in the queue, stops with it instead of hanging.
TEST(GifThreads, CoderGivingUpStopsTheMapping) {
    TestFrame t(1920, 1080);
    Fill(&t, Kind::PlainChart);
    for (int failingRow : {0, 1, 7, 8, 40, 1079}) {
        int rows = 0;
        IndexedImage image;
        bool reduced = ReduceFrameColoursByRow(
            t.frame, &image,
            [&](const unsigned char*) {
                if (rows++ == failingRow) throw std::bad_alloc();
            },
            GifThreads::Two);
        EXPECT_FALSE(reduced) << failingRow;
        EXPECT_EQ(rows, failingRow + 1);
    }
}

// Where no thread can be started (here a process limit of none), the two-thread encoding makes
// the same picture on the caller's thread. The child drops root, whom the limit would not bind.
TEST(GifThreads, NoSecondThreadStillMakesThePicture) {
    TestFrame t(1920, 1080);
    Fill(&t, Kind::PlainChart);
    Bytes one;
    ASSERT_TRUE(EncodeFrameGif(t.frame, &one));
    constexpr int kMade = 0, kDiffers = 1, kNoLimit = 2, kThreadStarted = 3;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit none{0, 0};
        if ((geteuid() == 0 && setuid(65534) != 0) || setrlimit(RLIMIT_NPROC, &none) != 0) {
            _exit(kNoLimit);
        }
        try {
            std::thread([] {}).join();
            _exit(kThreadStarted);
        } catch (const std::system_error&) {
        }
        Bytes two;
        _exit(EncodeFrameGif(t.frame, &two, GifThreads::Two) && two == one ? kMade : kDiffers);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoLimit || WEXITSTATUS(status) == kThreadStarted) {
        GTEST_SKIP() << "threads cannot be refused here (" << WEXITSTATUS(status) << ")";
    }
    EXPECT_EQ(WEXITSTATUS(status), kMade);
}

}  // namespace
