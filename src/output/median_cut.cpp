// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/median_cut.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace talvor {

namespace {

// Palette refinement passes after the split; they stop early once no colour changes cluster.
constexpr int kRefinementPasses = 10;

double SquaredDistance(const Colour& a, const Colour& b) {
    double d0 = a.c[0] - b.c[0], d1 = a.c[1] - b.c[1], d2 = a.c[2] - b.c[2];
    return d0 * d0 + d1 * d1 + d2 * d2;
}

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

}  // namespace

// The search goes outwards from the colour's green value in the palette ordered by green, and
// stops once green alone is farther than the best.
NearestColour::NearestColour(const std::vector<Colour>& palette) : palette_(palette) {
    order_.resize(palette.size());
    for (size_t i = 0; i < order_.size(); ++i) order_[i] = int(i);
    std::sort(order_.begin(), order_.end(),
              [&](int a, int b) { return palette[size_t(a)].c[1] < palette[size_t(b)].c[1]; });
    greens_.resize(order_.size());
    for (size_t i = 0; i < order_.size(); ++i) greens_[i] = palette[size_t(order_[i])].c[1];
}

int NearestColour::Find(const Colour& colour) const {
    size_t start =
        size_t(std::lower_bound(greens_.begin(), greens_.end(), colour.c[1]) - greens_.begin());
    int best = -1;
    double bestDistance = std::numeric_limits<double>::infinity();
    size_t up = start, down = start;
    bool upOpen = up < order_.size();
    bool downOpen = down > 0;
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

void NearestColour::Consider(int index, const Colour& colour, int* best,
                             double* bestDistance) const {
    double d = SquaredDistance(palette_[size_t(index)], colour);
    if (d < *bestDistance || (d == *bestDistance && index < *best)) {
        *best = index;
        *bestDistance = d;
    }
}

std::vector<Colour> ChooseCentres(std::vector<WeightedColour>& colours, int maxColours) {
    std::vector<Colour> centres = MedianCut(colours, maxColours);
    RefineCentres(colours, &centres);
    return centres;
}

}  // namespace talvor
