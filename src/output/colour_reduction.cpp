// SPDX-License-Identifier: GPL-3.0-or-later
// A frame reduced to a GIF's colours: its colours counted in a histogram, a palette chosen for them
// (median_cut.h), and every pixel mapped to the palette entry of its colour.
#include "output/colour_reduction.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

#include "frame/frame_bitmap.h"
#include "output/median_cut.h"

namespace talvor {

namespace {

// The chart has a few thousand distinct colours: black, a handful of text and scale colours, and
// the ramps of the level spots. Beyond this many the histogram merges neighbouring colours, one
// bit less per channel at a time, so that a photograph-like frame cannot make the palette search
// slow; at five bits a channel there are at most 32768 and the table always suffices.
constexpr size_t kMaxHistogramColours = size_t{1} << 16;
constexpr int kMaxMergeShift = 3;

// Rows go from the mapping thread to the caller's in chunks: a handover may cost a wake-up of the
// other thread, and eight rows are worth one. Sixteen chunks let the mapping run well ahead of
// the caller without holding the frame's indices.
constexpr int kChunkRows = 8;
constexpr int kChunks = 16;

// Starts work on a thread of its own; false when the system gives no thread, and the caller then
// does the work itself.
template <typename Work>
bool StartThread(std::thread* thread, Work& work) {
    try {
        *thread = std::thread(std::ref(work));
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

struct ColourEntry {
    uint32_t key = 0;
    uint64_t count = 0;
    uint64_t sum[3] = {0, 0, 0};  // red, green, blue of the pixels gathered under the key
    int paletteIndex = 0;
};

uint32_t PixelRgb(const unsigned char* bgra) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Blue, green, red in one load: the low three bytes of the word are the colour.
    uint32_t word;
    std::memcpy(&word, bgra, sizeof word);
    return word & 0xFFFFFFu;
#else
    return uint32_t(bgra[2]) << 16 | uint32_t(bgra[1]) << 8 | uint32_t(bgra[0]);
#endif
}

uint32_t MergedKey(uint32_t rgb, int shift) {
    if (shift == 0) return rgb;
    uint32_t r = (rgb >> 16) >> shift;
    uint32_t g = ((rgb >> 8) & 0xFF) >> shift;
    uint32_t b = (rgb & 0xFF) >> shift;
    return r << 16 | g << 8 | b;
}

// Open-addressing table from a (possibly merged) colour to its histogram entry.
class ColourTable {
  public:
    void Reset(int mergeShift) {
        shift = mergeShift;
        entries.clear();
        bits_ = 12;
        slots_.assign(size_t{1} << bits_, Slot{});
    }

    // The entry of the key, added when new; -1 when the table holds its maximum already.
    int FindOrAdd(uint32_t key) {
        size_t mask = slots_.size() - 1;
        for (size_t slot = Hash(key);; slot = (slot + 1) & mask) {
            Slot& s = slots_[slot];
            if (s.index < 0) {
                if (entries.size() >= kMaxHistogramColours) return -1;
                int32_t index = int32_t(entries.size());
                entries.push_back(ColourEntry{key});
                s = Slot{key, index};
                if (entries.size() * 2 > slots_.size()) Grow();
                return index;
            }
            if (s.key == key) return s.index;
        }
    }

    // The entry of a key, -1 when it has none; the pixel loop's way in, before FindOrAdd.
    int Find(uint32_t key) const {
        size_t mask = slots_.size() - 1;
        for (size_t slot = Hash(key);; slot = (slot + 1) & mask) {
            const Slot& s = slots_[slot];
            if (s.index < 0 || s.key == key) return s.index;
        }
    }

    // Once every entry has its palette index: each slot gets it beside its key, so that mapping
    // a pixel reads one place.
    void AttachPalette() {
        paletteOf_.assign(slots_.size(), 0);
        for (size_t slot = 0; slot < slots_.size(); ++slot) {
            if (slots_[slot].index < 0) continue;
            paletteOf_[slot] =
                static_cast<unsigned char>(entries[size_t(slots_[slot].index)].paletteIndex);
        }
    }

    // The palette index of a key that was added.
    unsigned char PaletteIndexOf(uint32_t key) const {
        size_t mask = slots_.size() - 1;
        size_t slot = Hash(key);
        while (slots_[slot].key != key) slot = (slot + 1) & mask;
        return paletteOf_[slot];
    }

    std::vector<ColourEntry> entries;
    int shift = 0;

  private:
    size_t Hash(uint32_t key) const { return (key * 0x9E3779B1u) >> (32 - bits_); }

    void Grow() {
        ++bits_;
        slots_.assign(size_t{1} << bits_, Slot{});
        size_t mask = slots_.size() - 1;
        for (size_t i = 0; i < entries.size(); ++i) {
            size_t slot = Hash(entries[i].key);
            while (slots_[slot].index >= 0) slot = (slot + 1) & mask;
            slots_[slot] = Slot{entries[i].key, int32_t(i)};
        }
    }

    // The key is kept beside its entry's index, so that a probe reads one place.
    struct Slot {
        uint32_t key = 0;
        int32_t index = -1;  // -1: empty
    };
    std::vector<Slot> slots_;
    std::vector<unsigned char> paletteOf_;  // by slot, after AttachPalette
    int bits_ = 12;
};

bool AddRun(ColourTable* table, uint32_t rgb, uint64_t run) {
    uint32_t key = MergedKey(rgb, table->shift);
    int index = table->Find(key);
    if (index < 0) index = table->FindOrAdd(key);
    if (index < 0) return false;
    ColourEntry& entry = table->entries[size_t(index)];
    entry.count += run;
    // Unmerged, an entry's pixels all have its colour: the sums follow from the count at the end.
    if (table->shift != 0) {
        entry.sum[0] += run * (rgb >> 16);
        entry.sum[1] += run * ((rgb >> 8) & 0xFF);
        entry.sum[2] += run * (rgb & 0xFF);
    }
    return true;
}

// Counts the colours of the frame's pixels [begin, end), in the order they are stored, at the
// table's merge level; false when there are too many.
bool CountColours(const FrameBitmap& frame, size_t begin, size_t end, ColourTable* table) {
    if (begin >= end) return true;
    const unsigned char* p = frame.bits + begin * 4;
    uint32_t runRgb = PixelRgb(p);
    uint64_t run = 0;
    for (size_t i = begin; i < end; ++i, p += 4) {
        uint32_t rgb = PixelRgb(p);
        if (rgb == runRgb) {
            ++run;
            continue;
        }
        if (!AddRun(table, runRgb, run)) return false;
        runRgb = rgb;
        run = 1;
    }
    return AddRun(table, runRgb, run);
}

// Adds the entries of the table that counted the later pixels, in their order: each new key
// comes after every key of the earlier pixels, where one count of the whole frame puts it.
bool MergeCounts(const ColourTable& later, ColourTable* table) {
    for (const ColourEntry& from : later.entries) {
        int index = table->Find(from.key);
        if (index < 0) index = table->FindOrAdd(from.key);
        if (index < 0) return false;
        ColourEntry& entry = table->entries[size_t(index)];
        entry.count += from.count;
        for (int a = 0; a < 3; ++a) entry.sum[a] += from.sum[a];
    }
    return true;
}

// The frame's colours at the table's merge level, the later half of its pixels counted on a
// second thread when threads allow one; false when there are too many.
bool CountFrameColours(const FrameBitmap& frame, GifThreads threads, ColourTable* table) {
    size_t pixels = size_t(frame.width) * size_t(frame.height);
    size_t half = threads == GifThreads::Two ? pixels / 2 : pixels;
    if (half == pixels) return CountColours(frame, 0, pixels, table);
    ColourTable later;
    later.Reset(table->shift);
    bool laterCounted = false, laterShort = false;
    // Whoever comes to the later half first counts it: a helper that the system is slow to run
    // (a busy machine) does not hold up the caller, who has counted the earlier half.
    std::atomic<bool> laterClaimed{false};
    auto countLater = [&] {
        if (laterClaimed.exchange(true)) return;
        // An exception must not leave the thread: memory short there is memory short here.
        try {
            laterCounted = CountColours(frame, half, pixels, &later);
        } catch (const std::bad_alloc&) {
            laterShort = true;
        }
    };
    std::thread helper;
    if (!StartThread(&helper, countLater)) countLater();
    bool counted = false;
    try {
        counted = CountColours(frame, 0, half, table);
    } catch (const std::bad_alloc&) {
        laterClaimed.store(true);
        if (helper.joinable()) helper.join();
        throw;
    }
    countLater();
    if (helper.joinable()) helper.join();
    if (laterShort) throw std::bad_alloc();
    return counted && laterCounted && MergeCounts(later, table);
}

void BuildHistogram(const FrameBitmap& frame, GifThreads threads, ColourTable* table) {
    for (int shift = 0; shift <= kMaxMergeShift; ++shift) {
        table->Reset(shift);
        if (CountFrameColours(frame, threads, table)) break;
    }
    if (table->shift != 0) return;
    for (ColourEntry& entry : table->entries) {
        entry.sum[0] = entry.count * (entry.key >> 16);
        entry.sum[1] = entry.count * ((entry.key >> 8) & 0xFF);
        entry.sum[2] = entry.count * (entry.key & 0xFF);
    }
}

unsigned char ToByte(double v) {
    long rounded = std::lround(v);
    return static_cast<unsigned char>(std::clamp(rounded, 0L, 255L));
}

void ChoosePalette(ColourTable* table, IndexedImage* image) {
    std::vector<ColourEntry>& entries = table->entries;
    if (table->shift == 0 && entries.size() <= size_t(kMaxGifColours)) {
        for (size_t i = 0; i < entries.size(); ++i) {
            image->palette[i][0] = static_cast<unsigned char>(entries[i].key >> 16);
            image->palette[i][1] = static_cast<unsigned char>(entries[i].key >> 8);
            image->palette[i][2] = static_cast<unsigned char>(entries[i].key);
            entries[i].paletteIndex = int(i);
        }
        image->colourCount = int(entries.size());
        return;
    }
    std::vector<WeightedColour> colours(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        double n = double(entries[i].count);
        colours[i] = WeightedColour{
            Colour{{entries[i].sum[0] / n, entries[i].sum[1] / n, entries[i].sum[2] / n}}, n,
            int(i)};
    }
    std::vector<Colour> centres = ChooseCentres(colours, kMaxGifColours);
    // The pixels are mapped to the palette as it is stored, in whole bytes.
    std::vector<Colour> stored(centres.size());
    for (size_t c = 0; c < centres.size(); ++c) {
        for (int a = 0; a < 3; ++a) {
            image->palette[c][a] = ToByte(centres[c].c[a]);
            stored[c].c[a] = image->palette[c][a];
        }
    }
    image->colourCount = int(centres.size());
    NearestColour nearest(stored);
    for (const WeightedColour& wc : colours) {
        entries[size_t(wc.entry)].paletteIndex = nearest.Find(wc.colour);
    }
}

// Every pixel is looked up: half of a chart's pixels differ from the one before, and a test for
// a repeat that fails that often costs more than the lookup it saves.
void MapRow(const FrameBitmap& frame, const ColourTable& table, int y, unsigned char* target) {
    size_t width = size_t(frame.width);
    // The frame is stored bottom row first; the GIF starts at the top.
    const unsigned char* source = frame.bits + size_t(frame.height - 1 - y) * width * 4;
    if (table.shift == 0) {
        for (size_t x = 0; x < width; ++x, source += 4) {
            target[x] = table.PaletteIndexOf(PixelRgb(source));
        }
        return;
    }
    for (size_t x = 0; x < width; ++x, source += 4) {
        target[x] = table.PaletteIndexOf(MergedKey(PixelRgb(source), table.shift));
    }
}

using TakeRow = std::function<void(const unsigned char* row)>;

void MapAndTakeRows(const FrameBitmap& frame, const ColourTable& table, const TakeRow& takeRow) {
    std::vector<unsigned char> row(size_t(frame.width));
    for (int y = 0; y < frame.height; ++y) {
        MapRow(frame, table, y, row.data());
        takeRow(row.data());
    }
}

// The same, the rows mapped on a second thread while takeRow has the rows before them, through a
// ring of kChunks chunks. Each chunk is mapped by whichever thread claims it first: the mapper
// while the ring has room, or the caller when it needs a chunk that the mapper has not come to
// (a mapper that a busy machine does not run holds nothing up). false, with nothing taken, when
// no thread could be started.
bool MapAndTakeRowsBeside(const FrameBitmap& frame, const ColourTable& table,
                          const TakeRow& takeRow) {
    const size_t width = size_t(frame.width);
    const int height = frame.height;
    const int chunkCount = (height + kChunkRows - 1) / kChunkRows;
    std::vector<unsigned char> ring(width * kChunkRows * kChunks);
    auto rowOf = [&](int chunk, int k) {
        return ring.data() + (size_t(chunk % kChunks) * kChunkRows + size_t(k)) * width;
    };
    auto mapChunk = [&](int chunk) {
        int rows = std::min(kChunkRows, height - chunk * kChunkRows);
        for (int k = 0; k < rows; ++k)
            MapRow(frame, table, chunk * kChunkRows + k, rowOf(chunk, k));
    };
    std::atomic<int> claimed{0};  // chunks claimed for mapping, in order
    std::atomic<int> taken{0};    // chunks given back by takeRow
    // By slot of the ring: the number of the chunk mapped into it, plus one.
    std::vector<std::atomic<int>> ready(kChunks);
    for (std::atomic<int>& slot : ready) slot.store(0);
    std::atomic<int> wakeAt{0};  // the mapper sleeps until taken comes to this
    std::atomic<bool> stop{false};
    auto mapChunks = [&] {
        for (int chunk = claimed.load(); chunk < chunkCount && !stop.load();
             chunk = claimed.load()) {
            // Room first, the claim after: a chunk is never claimed by a thread that then sleeps.
            // A full ring is left until half of it is free, so that the mapper wakes a few times
            // a frame instead of once a chunk.
            if (taken.load() <= chunk - kChunks) {
                wakeAt.store(chunk - kChunks / 2 + 1);
                if (int t = taken.load(); t < chunk - kChunks / 2 + 1) taken.wait(t);
                continue;
            }
            if (!claimed.compare_exchange_strong(chunk, chunk + 1)) continue;
            mapChunk(chunk);
            ready[size_t(chunk % kChunks)].store(chunk + 1, std::memory_order_release);
            ready[size_t(chunk % kChunks)].notify_one();
        }
    };
    std::thread mapper;
    if (!StartThread(&mapper, mapChunks)) return false;
    try {
        for (int chunk = 0; chunk < chunkCount; ++chunk) {
            std::atomic<int>& slot = ready[size_t(chunk % kChunks)];
            int expected = chunk;
            if (claimed.compare_exchange_strong(expected, chunk + 1)) {
                mapChunk(chunk);
            } else {
                for (int r = slot.load(std::memory_order_acquire); r != chunk + 1;
                     r = slot.load(std::memory_order_acquire)) {
                    slot.wait(r, std::memory_order_acquire);
                }
            }
            int rows = std::min(kChunkRows, height - chunk * kChunkRows);
            for (int k = 0; k < rows; ++k) takeRow(rowOf(chunk, k));
            taken.store(chunk + 1);
            if (chunk + 1 >= wakeAt.load()) taken.notify_one();
        }
    } catch (...) {
        // takeRow gave up: the mapper, perhaps waiting for room, is let go and stops.
        stop.store(true);
        taken.store(chunkCount);
        taken.notify_one();
        mapper.join();
        throw;
    }
    mapper.join();
    return true;
}

}  // namespace

bool ReduceFrameColoursByRow(const FrameBitmap& frame, IndexedImage* image, const TakeRow& takeRow,
                             GifThreads threads) {
    if (frame.bits == nullptr || frame.width <= 0 || frame.height <= 0) return false;
    try {
        ColourTable table;
        BuildHistogram(frame, threads, &table);
        image->width = frame.width;
        image->height = frame.height;
        image->pixels.clear();
        ChoosePalette(&table, image);
        table.AttachPalette();
        if (threads == GifThreads::One || !MapAndTakeRowsBeside(frame, table, takeRow)) {
            MapAndTakeRows(frame, table, takeRow);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool ReduceFrameColours(const FrameBitmap& frame, IndexedImage* image, GifThreads threads) {
    size_t width = size_t(std::max(frame.width, 0));
    size_t y = 0;
    bool reduced = ReduceFrameColoursByRow(
        frame, image,
        [&](const unsigned char* row) {
            if (y == 0) image->pixels.resize(width * size_t(frame.height));
            std::memcpy(image->pixels.data() + width * y++, row, width);
        },
        threads);
    if (!reduced) image->pixels.clear();
    return reduced;
}

double FramePsnr(const FrameBitmap& frame, const unsigned char* rgbTopFirst) {
    uint64_t squaredError = 0;
    size_t width = size_t(frame.width);
    for (int y = 0; y < frame.height; ++y) {
        const unsigned char* f = frame.bits + size_t(frame.height - 1 - y) * width * 4;
        const unsigned char* g = rgbTopFirst + size_t(y) * width * 3;
        for (size_t x = 0; x < width; ++x, f += 4, g += 3) {
            for (int a = 0; a < 3; ++a) {
                int d = int(f[2 - a]) - int(g[a]);
                squaredError += uint64_t(d * d);
            }
        }
    }
    if (squaredError == 0) return std::numeric_limits<double>::infinity();
    double meanSquared = double(squaredError) / (3.0 * double(width) * double(frame.height));
    return 10.0 * std::log10(255.0 * 255.0 / meanSquared);
}

}  // namespace talvor
