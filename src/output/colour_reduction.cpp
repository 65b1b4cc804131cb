// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/colour_reduction.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "station/frame_bitmap.h"

namespace {

// The chart has a few thousand distinct colours: black, a handful of text and scale colours, and
// the ramps of the level spots. Beyond this many the histogram merges neighbouring colours, one
// bit less per channel at a time, so that a photograph-like frame cannot make the palette search
// slow; at five bits a channel there are at most 32768 and the table always suffices.
constexpr size_t kMaxHistogramColours = size_t{1} << 16;
constexpr int kMaxMergeShift = 3;
// Palette refinement passes after the split; they stop early once no colour changes cluster.
constexpr int kRefinementPasses = 10;

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

    // The entry of a key that was added; -1 when it was not.
    int Find(uint32_t key) const {
        size_t mask = slots_.size() - 1;
        for (size_t slot = Hash(key);; slot = (slot + 1) & mask) {
            const Slot& s = slots_[slot];
            if (s.index < 0 || s.key == key) return s.index;
        }
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
    int bits_ = 12;
};

bool AddRun(ColourTable* table, uint32_t rgb, uint64_t run) {
    int index = table->FindOrAdd(MergedKey(rgb, table->shift));
    if (index < 0) return false;
    ColourEntry& entry = table->entries[size_t(index)];
    entry.count += run;
    entry.sum[0] += run * (rgb >> 16);
    entry.sum[1] += run * ((rgb >> 8) & 0xFF);
    entry.sum[2] += run * (rgb & 0xFF);
    return true;
}

// Counts the frame's colours at the table's merge level; false when there are too many.
bool CountColours(const FrameBitmap& frame, ColourTable* table) {
    size_t pixels = size_t(frame.width) * size_t(frame.height);
    const unsigned char* p = frame.bits;
    uint32_t runRgb = PixelRgb(p);
    uint64_t run = 0;
    for (size_t i = 0; i < pixels; ++i, p += 4) {
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

void BuildHistogram(const FrameBitmap& frame, ColourTable* table) {
    for (int shift = 0; shift <= kMaxMergeShift; ++shift) {
        table->Reset(shift);
        if (CountColours(frame, table)) return;
    }
}

struct Colour {
    double c[3];
};

double SquaredDistance(const Colour& a, const Colour& b) {
    double d0 = a.c[0] - b.c[0], d1 = a.c[1] - b.c[1], d2 = a.c[2] - b.c[2];
    return d0 * d0 + d1 * d1 + d2 * d2;
}

struct WeightedColour {
    Colour colour;
    double weight;
    int entry;
};

// A box of the median cut: a range of the weighted colours and their moments.
struct Box {
    size_t begin = 0;
    size_t end = 0;
    double weight = 0;
    double sum[3] = {0, 0, 0};
    double sumSquares[3] = {0, 0, 0};

    double AxisError(int axis) const {
        return std::max(0.0, sumSquares[axis] - sum[axis] * sum[axis] / weight);
    }
    double Error() const { return AxisError(0) + AxisError(1) + AxisError(2); }
    Colour Mean() const { return Colour{{sum[0] / weight, sum[1] / weight, sum[2] / weight}}; }
};

void AddToBox(Box* box, const WeightedColour& wc) {
    box->weight += wc.weight;
    for (int a = 0; a < 3; ++a) {
        box->sum[a] += wc.weight * wc.colour.c[a];
        box->sumSquares[a] += wc.weight * wc.colour.c[a] * wc.colour.c[a];
    }
}

Box RemoveFromBox(const Box& whole, const Box& part) {
    Box rest = whole;
    rest.weight -= part.weight;
    for (int a = 0; a < 3; ++a) {
        rest.sum[a] -= part.sum[a];
        rest.sumSquares[a] -= part.sumSquares[a];
    }
    return rest;
}

// Splits a box along its widest axis where the two halves' summed squared error is least.
void SplitBox(std::vector<WeightedColour>& colours, const Box& box, Box* left, Box* right) {
    int axis = 0;
    for (int a = 1; a < 3; ++a) {
        if (box.AxisError(a) > box.AxisError(axis)) axis = a;
    }
    std::sort(colours.begin() + std::ptrdiff_t(box.begin),
              colours.begin() + std::ptrdiff_t(box.end),
              [axis](const WeightedColour& x, const WeightedColour& y) {
                  return x.colour.c[axis] < y.colour.c[axis];
              });
    Box prefix;
    prefix.begin = box.begin;
    double bestError = std::numeric_limits<double>::infinity();
    size_t bestSplit = box.begin + 1;
    for (size_t k = box.begin; k + 1 < box.end; ++k) {
        AddToBox(&prefix, colours[k]);
        Box rest = RemoveFromBox(box, prefix);
        if (rest.weight <= 0) break;
        double error = prefix.Error() + rest.Error();
        if (error < bestError) {
            bestError = error;
            bestSplit = k + 1;
        }
    }
    *left = Box{};
    left->begin = box.begin;
    left->end = bestSplit;
    for (size_t k = left->begin; k < left->end; ++k) AddToBox(left, colours[k]);
    *right = RemoveFromBox(box, *left);
    right->begin = bestSplit;
    right->end = box.end;
}

std::vector<Colour> MedianCut(std::vector<WeightedColour>& colours, int maxColours) {
    std::vector<Box> boxes(1);
    boxes[0].begin = 0;
    boxes[0].end = colours.size();
    for (const WeightedColour& wc : colours) AddToBox(&boxes[0], wc);
    while (int(boxes.size()) < maxColours) {
        int widest = -1;
        double widestError = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            double error = boxes[i].Error();
            if (boxes[i].end - boxes[i].begin >= 2 && error > widestError) {
                widest = int(i);
                widestError = error;
            }
        }
        if (widest < 0) break;
        Box left, right;
        SplitBox(colours, boxes[size_t(widest)], &left, &right);
        boxes[size_t(widest)] = left;
        boxes.push_back(right);
    }
    std::vector<Colour> centres;
    for (const Box& box : boxes) centres.push_back(box.Mean());
    return centres;
}

// Nearest palette colour by squared distance, searching outwards from the green value of the
// colour in a list ordered by green, and stopping once green alone is farther than the best.
class NearestColour {
  public:
    explicit NearestColour(const std::vector<Colour>& palette) : palette_(palette) {
        order_.resize(palette.size());
        for (size_t i = 0; i < order_.size(); ++i) order_[i] = int(i);
        std::sort(order_.begin(), order_.end(),
                  [&](int a, int b) { return palette[size_t(a)].c[1] < palette[size_t(b)].c[1]; });
        greens_.resize(order_.size());
        for (size_t i = 0; i < order_.size(); ++i) greens_[i] = palette[size_t(order_[i])].c[1];
    }

    int Find(const Colour& colour) const {
        size_t start =
            size_t(std::lower_bound(greens_.begin(), greens_.end(), colour.c[1]) - greens_.begin());
        int best = -1;
        double bestDistance = std::numeric_limits<double>::infinity();
        size_t up = start, down = start;
        bool upOpen = up<order_.size(), downOpen = down> 0;
        while (upOpen || downOpen) {
            if (upOpen) {
                double dg = greens_[up] - colour.c[1];
                if (dg * dg >= bestDistance) {
                    upOpen = false;
                } else {
                    Consider(order_[up], colour, &best, &bestDistance);
                    upOpen = ++up < order_.size();
                }
            }
            if (downOpen) {
                double dg = colour.c[1] - greens_[down - 1];
                if (dg * dg >= bestDistance) {
                    downOpen = false;
                } else {
                    Consider(order_[down - 1], colour, &best, &bestDistance);
                    downOpen = --down > 0;
                }
            }
        }
        return best;
    }

  private:
    void Consider(int index, const Colour& colour, int* best, double* bestDistance) const {
        double d = SquaredDistance(palette_[size_t(index)], colour);
        if (d < *bestDistance || (d == *bestDistance && index < *best)) {
            *best = index;
            *bestDistance = d;
        }
    }

    const std::vector<Colour>& palette_;
    std::vector<int> order_;
    std::vector<double> greens_;
};

// Lloyd passes over the weighted colours: each centre moves to the mean of the colours nearest
// to it. A centre that loses all its colours stays where it is.
void RefineCentres(const std::vector<WeightedColour>& colours, std::vector<Colour>* centres) {
    std::vector<int> cluster(colours.size(), -1);
    for (int pass = 0; pass < kRefinementPasses; ++pass) {
        NearestColour nearest(*centres);
        bool changed = false;
        for (size_t i = 0; i < colours.size(); ++i) {
            int c = nearest.Find(colours[i].colour);
            if (c != cluster[i]) changed = true;
            cluster[i] = c;
        }
        if (!changed) break;
        std::vector<Box> moments(centres->size());
        for (size_t i = 0; i < colours.size(); ++i) {
            AddToBox(&moments[size_t(cluster[i])], colours[i]);
        }
        for (size_t c = 0; c < centres->size(); ++c) {
            if (moments[c].weight > 0) (*centres)[c] = moments[c].Mean();
        }
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
    std::vector<Colour> centres = MedianCut(colours, kMaxGifColours);
    RefineCentres(colours, &centres);
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

void MapPixels(const FrameBitmap& frame, const ColourTable& table, IndexedImage* image) {
    size_t width = size_t(frame.width);
    uint32_t lastRgb = 0xFFFFFFFFu;  // no pixel has this value: it sets no bits above 23
    unsigned char lastIndex = 0;
    for (int y = 0; y < frame.height; ++y) {
        // The frame is stored bottom row first; the GIF starts at the top.
        const unsigned char* source = frame.bits + size_t(frame.height - 1 - y) * width * 4;
        unsigned char* target = image->pixels.data() + size_t(y) * width;
        for (size_t x = 0; x < width; ++x, source += 4) {
            uint32_t rgb = PixelRgb(source);
            if (rgb != lastRgb) {
                int entry = table.Find(MergedKey(rgb, table.shift));
                lastIndex = static_cast<unsigned char>(table.entries[size_t(entry)].paletteIndex);
                lastRgb = rgb;
            }
            target[x] = lastIndex;
        }
    }
}

}  // namespace

bool ReduceFrameColours(const FrameBitmap& frame, IndexedImage* image) {
    if (frame.bits == nullptr || frame.width <= 0 || frame.height <= 0) return false;
    try {
        ColourTable table;
        BuildHistogram(frame, &table);
        image->width = frame.width;
        image->height = frame.height;
        ChoosePalette(&table, image);
        image->pixels.resize(size_t(frame.width) * size_t(frame.height));
        MapPixels(frame, table, image);
    } catch (const std::bad_alloc&) {
        image->pixels.clear();
        return false;
    }
    return true;
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
