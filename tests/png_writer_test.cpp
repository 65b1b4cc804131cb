// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/png_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame_bitmap.h"
#include "test_support.h"

using namespace talvor;

namespace {

TEST(PngWriter, WritesTheFrameTopRowFirstAsRgb) {
    TempDir dir("png-writer");
    // 3 x 2, stored bottom row first as blue, green, red, unused.
    std::vector<unsigned char> bits = {
        1,  2,  3,  9, 4,  5,  6,  9, 7,  8,  9,  9,  // bottom row
        10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0   // top row
    };
    FrameBitmap frame;
    frame.width = 3;
    frame.height = 2;
    frame.bits = bits.data();
    ASSERT_TRUE(WritePngFile(frame, (dir / "f.png").c_str()));
    Picture picture;
    ASSERT_TRUE(ReadPng(dir / "f.png", &picture));
    EXPECT_EQ(picture.width, 3);
    EXPECT_EQ(picture.height, 2);
    std::vector<unsigned char> expected = {30, 20, 10, 60, 50, 40, 90, 80, 70,
                                           3,  2,  1,  6,  5,  4,  9,  8,  7};
    EXPECT_EQ(picture.rgb, expected);
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"f.png"});
}

TEST(PngWriter, LeavesNothingBehindWhenItCannotWrite) {
    TempDir dir("png-writer");
    std::vector<unsigned char> bits(4 * 4, 0);
    FrameBitmap empty;
    EXPECT_FALSE(WritePngFile(empty, (dir / "empty.png").c_str()));
    FrameBitmap frame;
    frame.width = 2;
    frame.height = 2;
    frame.bits = bits.data();
    EXPECT_FALSE(WritePngFile(frame, (dir / "missing/f.png").c_str()));
    EXPECT_TRUE(FilesIn(dir.path()).empty());
    // A folder under the name cannot be replaced; the temporary is removed again.
    MakeDirs(dir / "taken.png/inside");
    EXPECT_FALSE(WritePngFile(frame, (dir / "taken.png").c_str()));
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"taken.png"});
}
}  // namespace
