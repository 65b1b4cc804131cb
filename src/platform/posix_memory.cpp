// SPDX-License-Identifier: GPL-3.0-or-later
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "platform/process.h"

namespace talvor {

namespace {

constexpr size_t kLargePage = size_t(2) << 20;
// Enough for a day at 1920 x 1500, with room for larger pictures: the driver's colour buffer and
// binned lines, the read-back frame, the day log and the indexed picture come to about 70 MB.
constexpr size_t kDrawingHeap = size_t(128) << 20;

uintptr_t RoundUp(uintptr_t value, size_t step) {
    return (value + step - 1) / step * step;
}
uintptr_t RoundDown(uintptr_t value, size_t step) {
    return value / step * step;
}

}  // namespace

bool PrepareHeapForDrawing() {
    // One heap for every thread (the driver's rasterizer threads too), big blocks from it rather
    // than from mappings of their own, and nothing handed back between days: freed memory is
    // used again instead of being faulted in afresh.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest glibc takes
    mallopt(M_TRIM_THRESHOLD, int(2 * kDrawingHeap));
    // Grow the heap once by what a day needs, and ask for that span in large pages: a fresh
    // 4 KB page costs a fault, and a day touches some 70 to 90 MB of fresh memory.
    mallopt(M_TOP_PAD, int(kDrawingHeap));
    // A block just larger than the free top of the heap makes it grow, by the pad.
    void* probe = std::malloc(mallinfo2().keepcost + 64);
    auto end = reinterpret_cast<uintptr_t>(sbrk(0));
    auto begin = reinterpret_cast<uintptr_t>(probe);
    mallopt(M_TOP_PAD, 128 << 10);  // back to glibc's default for any later growth
    bool advised = false;
    // Only when the block came from the break-grown heap; glibc falls back to a mapping of its
    // own when the break cannot move, and then there is no span to advise.
    if (probe != nullptr && begin < end && end - begin <= 2 * kDrawingHeap) {
        uintptr_t first = RoundUp(begin, kLargePage);
        uintptr_t last = RoundDown(end, kLargePage);
        advised = last > first &&
                  madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) == 0;
    }
    std::free(probe);
    return advised;
}

}  // namespace talvor
