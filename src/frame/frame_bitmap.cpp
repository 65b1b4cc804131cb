// SPDX-License-Identifier: GPL-3.0-or-later
#include "frame/frame_bitmap.h"

#include <cstdlib>
#include <new>

namespace talvor {

FrameBitmap* NewFrameBitmap(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    size_t bytes = size_t(width) * size_t(height) * 4;
    auto* bitmap = new (std::nothrow) FrameBitmap;
    if (bitmap == nullptr) return nullptr;
    bitmap->bits = static_cast<unsigned char*>(std::calloc(bytes, 1));
    if (bitmap->bits == nullptr) {
        delete bitmap;
        return nullptr;
    }
    bitmap->width = width;
    bitmap->height = height;
    return bitmap;
}

void FreeFrameBitmap(FrameBitmap* bitmap) {
    if (bitmap == nullptr) return;
    std::free(bitmap->bits);
    delete bitmap;
}

}  // namespace talvor
