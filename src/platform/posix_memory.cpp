// SPDX-License-Identifier: GPL-3.0-or-later
#include <malloc.h>

#include <cstddef>

#include "platform/process.h"

namespace talvor {

// Freed memory kept for the next day, up to twice what a day at 1920 x 1500 and larger pictures
// take: the driver's colour buffer and working memory, the read-back frame, the day log and the
// indexed picture come to some 50 to 70 MB.
constexpr size_t kDrawingHeap = size_t(128) << 20;

void PrepareHeapForDrawing() {
    // One heap for every thread (the driver's rasterizer threads too), big blocks from it rather
    // than from mappings of their own, and nothing handed back between days: freed memory is
    // used again instead of being faulted in afresh. Asking for the heap in 2 MB pages gained
    // nothing once the driver's glyph textures no longer piled up in a range (the same time
    // within 2 %, in a day, a range and a site's update) and kept some 5 MB more resident.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest glibc takes
    mallopt(M_TRIM_THRESHOLD, int(2 * kDrawingHeap));
}

}  // namespace talvor
